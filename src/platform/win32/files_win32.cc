// Text files of the Windows Env.
//
// On disk a line ends with "\r\n" (text mode); only files on a disk are
// read or written, so that a pipe, a console or a device in a file's place
// never holds the caller; links and second names are used only where nobody
// else could have planted them (trusted_path_win32.cc); a replaced file
// keeps its access rules.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>

#include <memory>
#include <string>

#include "platform/env_parts.h"
#include "platform/temporary_files.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/trusted_path.h"

namespace vornlink {
namespace {

// A replace that meets the file open elsewhere (a reader, a virus scanner)
// tries again this far apart while its caller lets it.
constexpr DWORD kReplaceRetryMs = 25;
using env_parts::kNotRegularFile;
using env_parts::SetError;

std::string SystemText(DWORD code) { return FileErrorText(code); }

// Text mode on disk: every "\n" is written as "\r\n".
std::string ToDiskText(const std::string& text) {
  std::string disk;
  disk.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') disk.push_back('\r');
    disk.push_back(c);
  }
  return disk;
}

// Text mode in memory: every "\r\n" read becomes "\n"; a lone "\r" stays.
// Unlike the C runtime's text mode, a Ctrl-Z does not end the file: a file
// is read whole, so nothing after such a byte can be lost by a rewrite.
void FromDiskText(std::string* text) {
  size_t out = 0;
  for (size_t in = 0; in < text->size(); ++in) {
    if ((*text)[in] == '\r' && in + 1 < text->size() && (*text)[in + 1] == '\n') continue;
    (*text)[out++] = (*text)[in];
  }
  text->resize(out);
}

// Writes everything; `*written` counts what reached the file before a
// failure. 0, or the system's code for the failure.
DWORD WriteAll(HANDLE file, const std::string& data, uint64_t* written) {
  *written = 0;
  while (*written < data.size()) {
    uint64_t left = data.size() - *written;
    DWORD chunk = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
    DWORD done = 0;
    if (!WriteFile(file, data.data() + *written, chunk, &done, nullptr)) return GetLastError();
    if (done == 0) return ERROR_DISK_FULL;
    *written += done;
  }
  return 0;
}

bool IsDiskFile(HANDLE file) { return GetFileType(file) == FILE_TYPE_DISK; }

// Opens `path` for reading; others may read, append and replace the file
// meanwhile. Where it does not open, `*not_open` tells kMissing or kError,
// with the reason in `error`.
HANDLE OpenForReading(const std::string& path, ReadResult* not_open, std::string* error) {
  DWORD code = 0;
  HANDLE file =
      OpenTrusted(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  OPEN_EXISTING, &code);
  if (file == INVALID_HANDLE_VALUE) {
    SetError(error, SystemText(code));
    *not_open = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? ReadResult::kMissing
                                                                             : ReadResult::kError;
  }
  return file;
}

// Takes back the last `written` bytes of an append that failed part-way:
// the file is cut back to `size_before` unless it has grown by more than
// that meanwhile (another writer).
void CutBack(const std::string& path, uint64_t size_before, uint64_t written) {
  DWORD code = 0;
  ScopedHandle file(OpenTrusted(path, GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                OPEN_EXISTING, &code));
  LARGE_INTEGER size;
  if (!file.valid() || !GetFileSizeEx(file.get(), &size) ||
      static_cast<uint64_t>(size.QuadPart) != size_before + written) {
    return;
  }
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size_before);
  SetFileInformationByHandle(file.get(), FileEndOfFileInfo, &end, sizeof end);
  FlushFileBuffers(file.get());
}

// True when no process `pid` runs any more. Processes that cannot be
// looked at (another user's) count as running.
bool ProcessHasEnded(DWORD pid) {
  ScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!process.valid()) return GetLastError() == ERROR_INVALID_PARAMETER;
  return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

// Removes the temporaries of `path` (see platform/temporary_files.h) that
// processes which no longer run left behind.
void RemoveStaleTemporaries(const std::string& path) {
  size_t folder_end = path.find_last_of("\\/");
  const std::string folder = folder_end == std::string::npos ? "" : path.substr(0, folder_end + 1);
  const std::string file_name = path.substr(folder.size());
  WIN32_FIND_DATAA found;
  ScopedFind search(FindFirstFileA((path + ".*.tmp").c_str(), &found));
  if (!search.valid()) return;
  do {
    uint32_t pid = 0;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        IsTemporaryOf(found.cFileName, file_name, &pid) && pid != GetCurrentProcessId() &&
        ProcessHasEnded(pid)) {
      DeleteFileA((folder + found.cFileName).c_str());
    }
  } while (FindNextFileA(search.get(), &found));
}

// Makes a new temporary file for `path` beside it, exclusively (it never
// opens a file that is there already).
HANDLE CreateTemporary(const std::string& path, std::string* temp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp = NewTemporaryName(path, GetCurrentProcessId());
    HANDLE file = CreateFileA(temp->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

// Overwrites `path` with `disk_text` and flushes it: the way out when no
// new file may be made in its folder.
ReplaceResult RewriteInPlace(const std::string& path, const std::string& disk_text,
                             std::string* error) {
  DWORD code = 0;
  ScopedHandle file(OpenTrusted(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, &code));
  if (code == 0 && !IsDiskFile(file.get())) {
    SetError(error, kNotRegularFile);
    return ReplaceResult::kFailed;
  }
  uint64_t written = 0;
  if (code == 0) code = WriteAll(file.get(), disk_text, &written);
  if (code == 0 && !SetEndOfFile(file.get())) code = GetLastError();
  if (code != 0) {
    SetError(error, SystemText(code));
    return ReplaceResult::kFailed;
  }
  // Readers see the new content from here on, whatever the flush says.
  code = FlushFileBuffers(file.get()) ? 0 : GetLastError();
  if (!file.Close() && code == 0) code = GetLastError();
  env_parts::SetReplacedNote(error, static_cast<int>(code));
  return ReplaceResult::kRewrittenInPlace;
}

// Gives `temp` the access rules and attributes of the file at `path`, so
// that a replacement keeps what the site set on it. Best effort: where
// `path` is missing or its rules cannot be read, `temp` keeps the folder's.
void CopyProtection(const std::string& path, const std::string& temp) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  PACL dacl = nullptr;
  ScopedLocalMemory descriptor;
  if (GetNamedSecurityInfoA(
          path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
          reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive())) == ERROR_SUCCESS &&
      dacl != nullptr) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor.get(), &control, &revision);
    // A protected list stays as it is; otherwise the folder's inherited
    // rules are applied anew and the file's own are kept.
    const SECURITY_INFORMATION which =
        DACL_SECURITY_INFORMATION |
        ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                            : UNPROTECTED_DACL_SECURITY_INFORMATION);
    SetNamedSecurityInfoA(const_cast<char*>(temp.c_str()), SE_FILE_OBJECT, which, nullptr, nullptr,
                          dacl, nullptr);
  }
  // Read-only would stop the move; the rest is kept.
  SetFileAttributesA(temp.c_str(),
                     attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
}

// Puts `temp` in the place of `path` in one rename, trying again while the
// file is open elsewhere without delete sharing, up to `busy_wait_ms`.
// 0, or the system's code for the failure.
DWORD MoveIntoPlace(const std::string& temp, const std::string& path, uint32_t busy_wait_ms) {
  for (DWORD waited = 0;; waited += kReplaceRetryMs) {
    if (MoveFileExA(temp.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return 0;
    }
    const DWORD code = GetLastError();
    const bool busy = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
    if (!busy || waited >= busy_wait_ms) return code;
    Sleep(kReplaceRetryMs);
  }
}

}  // namespace

namespace env_parts {

namespace {

// Reads the open disk file `file` (`size` bytes when opened) whole, as text.
ReadResult ReadOpenFile(HANDLE file, uint64_t size, std::string* contents, size_t max_size,
                        std::string* error) {
  if (size > max_size) {
    SetError(error, "larger than " + std::to_string(max_size) + " bytes");
    return ReadResult::kError;
  }
  contents->reserve(static_cast<size_t>(size));
  char buffer[16384];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      SetError(error, SystemText(GetLastError()));
      contents->clear();
      return ReadResult::kError;
    }
    if (got == 0) break;
    if (contents->size() + got > max_size) {
      SetError(error, "larger than " + std::to_string(max_size) + " bytes");
      contents->clear();
      return ReadResult::kError;
    }
    contents->append(buffer, got);
  }
  FromDiskText(contents);
  return ReadResult::kOk;
}

}  // namespace

ReadResult ReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                        std::string* error) {
  contents->clear();
  ReadResult not_open = ReadResult::kError;
  ScopedHandle file(OpenForReading(path, &not_open, error));
  if (!file.valid()) return not_open;
  LARGE_INTEGER size;
  if (!IsDiskFile(file.get()) || !GetFileSizeEx(file.get(), &size)) {
    SetError(error, kNotRegularFile);
    return ReadResult::kError;
  }
  return ReadOpenFile(file.get(), static_cast<uint64_t>(size.QuadPart), contents, max_size, error);
}

namespace {

// The change time (the last write where the file system keeps none) and
// whether both times lie kStampSettleSeconds back (100 ns units).
void SetChangeStamp(HANDLE file, FileStamp* stamp) {
  FILE_BASIC_INFO basic;
  stamp->changed = GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
                           basic.ChangeTime.QuadPart != 0
                       ? static_cast<int64_t>(basic.ChangeTime.QuadPart)
                       : stamp->modified;
  FILETIME now_time;
  GetSystemTimeAsFileTime(&now_time);
  const int64_t now = static_cast<int64_t>((static_cast<uint64_t>(now_time.dwHighDateTime) << 32) |
                                           now_time.dwLowDateTime);
  const int64_t latest = stamp->modified > stamp->changed ? stamp->modified : stamp->changed;
  stamp->settled = latest <= now - (kStampSettleSeconds + 1) * 10000000;
}

// The stamp of the open disk file `file`; false when it is none.
bool TakeStamp(HANDLE file, FileStamp* stamp) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!IsDiskFile(file) || !GetFileInformationByHandle(file, &info)) return false;
  stamp->volume = info.dwVolumeSerialNumber;
  stamp->file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp->modified =
      static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                           info.ftLastWriteTime.dwLowDateTime);
  SetChangeStamp(file, stamp);
  return true;
}

// Opens `path` for reading and takes its stamp; null with the reason in
// `failed` when it cannot (a file that is no disk file is an error).
HANDLE OpenStamped(const std::string& path, FileStamp* stamp, ReadResult* failed,
                   std::string* error) {
  *failed = ReadResult::kError;
  ScopedHandle file(OpenForReading(path, failed, error));
  if (!file.valid()) return nullptr;
  if (!TakeStamp(file.get(), stamp)) {
    *failed = ReadResult::kError;
    SetError(error, kNotRegularFile);
    return nullptr;
  }
  return file.release();
}

}  // namespace

ReadResult ReadChangedTextFile(const std::string& path, const FileStamp* known,
                               std::string* contents, size_t max_size, FileStamp* stamp,
                               bool* unchanged, std::string* error) {
  contents->clear();
  *unchanged = false;
  ReadResult failed = ReadResult::kError;
  ScopedHandle file(OpenStamped(path, stamp, &failed, error));
  if (!file.valid()) return failed;
  if (known != nullptr && known->settled && known->SameState(*stamp)) {
    *unchanged = true;
    return ReadResult::kOk;
  }
  return ReadOpenFile(file.get(), stamp->size, contents, max_size, error);
}

ReadResult ReadFileBytes(const std::string& path, uint64_t offset, size_t max_bytes,
                         std::string* bytes, FileStamp* stamp, std::string* error) {
  bytes->clear();
  ReadResult failed = ReadResult::kError;
  ScopedHandle file(OpenStamped(path, stamp, &failed, error));
  if (!file.valid()) return failed;
  if (offset >= stamp->size || max_bytes == 0) return ReadResult::kOk;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN)) {
    SetError(error, SystemText(GetLastError()));
    return ReadResult::kError;
  }
  const uint64_t left = stamp->size - offset;
  bytes->resize(static_cast<size_t>(left < max_bytes ? left : max_bytes));
  size_t done = 0;
  while (done < bytes->size()) {
    const size_t wanted = bytes->size() - done;
    DWORD got = 0;
    if (!ReadFile(file.get(), &(*bytes)[done],
                  wanted > 0x10000000u ? 0x10000000u : static_cast<DWORD>(wanted), &got, nullptr)) {
      SetError(error, SystemText(GetLastError()));
      bytes->clear();
      return ReadResult::kError;
    }
    if (got == 0) break;  // cut shorter meanwhile
    done += got;
  }
  bytes->resize(done);
  return ReadResult::kOk;
}

bool AppendTextFile(const std::string& path, const std::string& text, bool durable,
                    std::string* error) {
  // FILE_APPEND_DATA alone: every write goes to the end of the file, also
  // when other processes append at the same time.
  DWORD code = 0;
  std::string target;
  ScopedHandle file(OpenTrusted(path, FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_ALWAYS,
                                &code, &target));
  if (!file.valid()) {
    SetError(error, SystemText(code));
    return false;
  }
  LARGE_INTEGER before;
  if (!IsDiskFile(file.get()) || !GetFileSizeEx(file.get(), &before)) {
    SetError(error, kNotRegularFile);
    return false;
  }
  uint64_t written = 0;
  code = WriteAll(file.get(), ToDiskText(text), &written);
  if (code == 0 && durable && !FlushFileBuffers(file.get())) code = GetLastError();
  // Flushed bytes stay whatever the close says: calling that a failure would
  // have the caller write them a second time.
  if (!file.Close() && code == 0 && !durable) code = GetLastError();
  if (code != 0) {
    if (written > 0) CutBack(target, static_cast<uint64_t>(before.QuadPart), written);
    SetError(error, SystemText(code));
    return false;
  }
  return true;
}

// Windows opens the file by its path for each call: there the cache's
// add is ruled by the durable write.
std::unique_ptr<AppendingFile> OpenForAppend(const std::string& /*path*/) { return nullptr; }

ReplaceResult ReplaceTextFile(const std::string& path, const std::string& text,
                              const ReplaceOptions& options, std::string* error) {
  // A link that may be followed is kept: what it points to is replaced. The
  // move puts the new file in the place of whatever stands there then, a
  // link that came meanwhile included, and never writes through it.
  std::string file_path;
  DWORD code = FollowTrustedLinks(path, &file_path);
  if (code == 0) code = JudgeSecondNames(file_path);
  if (code != 0) {
    SetError(error, SystemText(code));
    return ReplaceResult::kFailed;
  }
  const DWORD attributes = GetFileAttributesA(file_path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    SetError(error, kNotRegularFile);
    return ReplaceResult::kFailed;
  }
  const std::string disk_text = ToDiskText(text);
  std::string temp;
  // In the same folder, so that the move is a rename on one volume.
  ScopedHandle file(CreateTemporary(file_path, &temp));
  if (!file.valid()) {
    code = GetLastError();
    if (code == ERROR_ACCESS_DENIED && options.may_rewrite_in_place &&
        GetFileAttributesA(file_path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      return RewriteInPlace(file_path, disk_text, error);
    }
    SetError(error, SystemText(code));
    return ReplaceResult::kFailed;
  }
  uint64_t written = 0;
  code = WriteAll(file.get(), disk_text, &written);
  if (code == 0 && !FlushFileBuffers(file.get())) code = GetLastError();
  if (!file.Close() && code == 0) code = GetLastError();
  if (code == 0) {
    // The old file's security and attributes go onto the new one first;
    // then one rename puts it in place. ReplaceFile would carry them over
    // itself, but where it is done as two renames, a process killed
    // between them leaves no cache file at all.
    CopyProtection(file_path, temp);
    code = MoveIntoPlace(temp, file_path, options.busy_wait_ms);
  }
  if (code != 0) {
    DeleteFileA(temp.c_str());
    SetError(error, SystemText(code));
    return ReplaceResult::kFailed;
  }
  env_parts::SetReplacedNote(error, 0);
  RemoveStaleTemporaries(file_path);
  return ReplaceResult::kReplaced;
}

bool OverwriteFileBytes(const std::string& path, uint64_t offset, const std::string& bytes,
                        std::string* error) {
  DWORD code = 0;
  ScopedHandle file(OpenTrusted(path, GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                OPEN_EXISTING, &code));
  if (!file.valid()) {
    SetError(error, SystemText(code));
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!IsDiskFile(file.get()) || !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    SetError(error, kNotRegularFile);
    return false;
  }
  const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (offset > size || bytes.size() > size - offset) {
    SetError(error, "the bytes to overwrite lie past the end of the file");
    return false;
  }
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  code = SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ? 0 : GetLastError();
  uint64_t written = 0;
  if (code == 0) code = WriteAll(file.get(), bytes, &written);
  if (code == 0 && !FlushFileBuffers(file.get())) code = GetLastError();
  // Flushed: a failing close (the handle's destructor) takes nothing back.
  if (code != 0) {
    SetError(error, SystemText(code));
    return false;
  }
  return true;
}

}  // namespace env_parts
}  // namespace vornlink
