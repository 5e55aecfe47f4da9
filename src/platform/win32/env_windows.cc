// Env for Windows.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <shellapi.h>
#include <time.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "base/module_singleton.h"
#include "platform/env.h"
#include "platform/win32/os_version_text.h"
#include "platform/win32/scoped_handle.h"

namespace vornlink {
namespace {

// The private-profile read's buffer: values are cut to 255 characters.
constexpr DWORD kProfileBufferSize = 256;
// Longest path the ANSI file calls can be asked about.
constexpr DWORD kLongestModulePath = 32768;
// A replace that meets the file open elsewhere (a reader, a virus scanner)
// tries again this far apart while its caller lets it.
constexpr DWORD kReplaceRetryMs = 25;

// The module (DLL or program) that holds this code.
HMODULE ThisModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&DefaultEnv), &module)) {
    return nullptr;
  }
  return module;
}

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
// failure, whose code GetLastError then gives.
bool WriteAll(HANDLE file, const std::string& data, uint64_t* written) {
  *written = 0;
  while (*written < data.size()) {
    uint64_t left = data.size() - *written;
    DWORD chunk = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
    DWORD done = 0;
    if (!WriteFile(file, data.data() + *written, chunk, &done, nullptr)) return false;
    if (done == 0) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    *written += done;
  }
  return true;
}

std::string SystemText(DWORD code) { return DefaultEnv()->ErrorText(static_cast<int>(code)); }

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

constexpr char kNotRegular[] = "not a regular file";

// Only files on a disk: a pipe, a console or a device in a file's place is
// refused before anybody waits on it.
bool IsDiskFile(HANDLE file) { return GetFileType(file) == FILE_TYPE_DISK; }

// Opens `path` for reading; others may read, append and replace the file
// meanwhile. Where it does not open, `*not_open` tells kMissing or kError,
// with the reason in `error` (the system's code stays the last error).
HANDLE OpenForReading(const std::string& path, ReadResult* not_open, std::string* error) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    SetError(error, SystemText(code));
    SetLastError(code);
    *not_open = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? ReadResult::kMissing
                                                                             : ReadResult::kError;
  }
  return file;
}

// Takes back the last `written` bytes of an append that failed part-way:
// the file is cut back to `size_before` unless it has grown by more than
// that meanwhile (another writer).
void CutBack(const std::string& path, uint64_t size_before, uint64_t written) {
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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

// Digits from `*at`, moving it past them; false when there are none.
bool ParseNumber(const std::string& text, size_t* at, unsigned long long* value) {
  size_t start = *at;
  *value = 0;
  while (*at < text.size() && text[*at] >= '0' && text[*at] <= '9' && *at - start < 12) {
    *value = *value * 10 + static_cast<unsigned>(text[*at] - '0');
    ++*at;
  }
  return *at > start;
}

// Removes what replacements of `path` by processes that ended in the middle
// left behind: "<name>.<pid>.<n>.tmp" (see CreateTemporary) of a process
// that no longer runs.
void RemoveStaleTemporaries(const std::string& path) {
  size_t folder_end = path.find_last_of("\\/");
  const std::string folder = folder_end == std::string::npos ? "" : path.substr(0, folder_end + 1);
  const std::string prefix = path.substr(folder.size()) + ".";
  WIN32_FIND_DATAA found;
  ScopedFind search(FindFirstFileA((path + ".*.tmp").c_str(), &found));
  if (!search.valid()) return;
  do {
    const std::string name = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        name.compare(0, prefix.size(), prefix) != 0) {
      continue;
    }
    size_t at = prefix.size();
    unsigned long long pid = 0;
    unsigned long long serial = 0;
    if (!ParseNumber(name, &at, &pid) || at >= name.size() || name[at++] != '.' ||
        !ParseNumber(name, &at, &serial) || name.compare(at, std::string::npos, ".tmp") != 0) {
      continue;
    }
    if (pid == 0 || pid > 0xFFFFFFFFull || pid == GetCurrentProcessId()) continue;
    if (ProcessHasEnded(static_cast<DWORD>(pid))) DeleteFileA((folder + name).c_str());
  } while (FindNextFileA(search.get(), &found));
}

// Makes a new temporary file for `path` beside it, exclusively (it never
// opens a file that is there already). Its name is "<name>.<pid>.<n>.tmp".
HANDLE CreateTemporary(const std::string& path, std::string* temp) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp = path + "." + std::to_string(GetCurrentProcessId()) + "." +
            std::to_string(serial.fetch_add(1)) + std::to_string(GetTickCount() % 100000) + ".tmp";
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
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  uint64_t written = 0;
  bool ok = file.valid() && IsDiskFile(file.get()) && WriteAll(file.get(), disk_text, &written) &&
            SetEndOfFile(file.get()) && FlushFileBuffers(file.get());
  DWORD code = GetLastError();
  ok = file.Close() && ok;
  if (!ok) {
    SetError(error, SystemText(code));
    return ReplaceResult::kFailed;
  }
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

// A named Windows mutex. The in-process mutex in front of it keeps the
// behaviour the same as on the other platforms (not recursive).
class WindowsNamedMutex : public CrossProcessMutex {
 public:
  explicit WindowsNamedMutex(const std::string& name)
      : name_(name), handle_(CreateMutexA(nullptr, FALSE, name.c_str())) {
    if (!handle_.valid()) create_error_ = GetLastError();
  }

  bool Lock(std::string* error) override {
    threads_.lock();
    if (!handle_.valid()) {
      SetError(error, name_ + ": " + SystemText(create_error_));
      threads_.unlock();
      return false;
    }
    // WAIT_ABANDONED: the last holder ended without releasing it; the mutex
    // is ours now all the same.
    DWORD result = WaitForSingleObject(handle_.get(), INFINITE);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
      SetError(error, name_ + ": " + SystemText(GetLastError()));
      threads_.unlock();
      return false;
    }
    return true;
  }

  bool TryLock() override {
    if (!threads_.try_lock()) return false;
    DWORD result = handle_.valid() ? WaitForSingleObject(handle_.get(), 0) : WAIT_FAILED;
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return true;
    threads_.unlock();
    return false;
  }

  void Unlock() override {
    ReleaseMutex(handle_.get());
    threads_.unlock();
  }

 private:
  const std::string name_;
  ScopedHandle handle_;
  DWORD create_error_ = 0;
  std::mutex threads_;
};

std::string ReadRegistryText(HKEY key, const char* name, bool* found) {
  char value[256];
  DWORD type = 0;
  DWORD size = sizeof value - 1;
  *found = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
               ERROR_SUCCESS &&
           (type == REG_SZ || type == REG_EXPAND_SZ);
  if (!*found) return std::string();
  value[size < sizeof value ? size : sizeof value - 1] = '\0';
  return value;  // up to the first terminator
}

RegistryVersion ReadRegistryVersion() {
  RegistryVersion registry;
  ScopedRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\", 0,
                    KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS) {
    return registry;
  }
  bool found = false;
  registry.current_version = ReadRegistryText(key.get(), "CurrentVersion", &found);
  registry.read = found;
  registry.current_build = ReadRegistryText(key.get(), "CurrentBuild", &found);
  return registry;
}

class WindowsEnv : public Env {
 public:
  std::string ModulePath() override {
    HMODULE module = ThisModule();
    if (module == nullptr) return std::string();
    // The whole path, however long: a cut path would name the wrong files.
    for (DWORD size = MAX_PATH + 1; size <= kLongestModulePath; size *= 2) {
      std::string path(size, '\0');
      DWORD length = GetModuleFileNameA(module, &path[0], size);
      if (length == 0) return std::string();
      if (length < size) {
        path.resize(length);
        return path;
      }
    }
    return std::string();
  }

  uintptr_t ModuleLoadAddress() override { return reinterpret_cast<uintptr_t>(ThisModule()); }

  void* HoldModule() override {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&DefaultEnv), &module)) {
      return nullptr;
    }
    return module;
  }

  void ReleaseModule(void* hold) override {
    if (hold != nullptr) FreeLibrary(static_cast<HMODULE>(hold));
  }

  void KeepModuleLoaded() override {
    // Pinned, the module stays mapped until the process ends; FreeLibrary
    // then only drops the reference.
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&DefaultEnv), &module);
  }

  FileVersionResult ReadFileVersion(const std::string& path, FileVersion* version) override {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return FileVersionResult::kUnreadable;
    std::unique_ptr<char[]> block(new (std::nothrow) char[size]);
    if (block == nullptr) return FileVersionResult::kNoMemory;
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.get())) {
      return FileVersionResult::kUnreadable;
    }
    void* fixed_part = nullptr;
    UINT fixed_size = 0;
    if (!VerQueryValueA(block.get(), "\\", &fixed_part, &fixed_size) || fixed_part == nullptr ||
        fixed_size < sizeof(VS_FIXEDFILEINFO)) {
      return FileVersionResult::kUnreadable;
    }
    const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(fixed_part);
    version->major = HIWORD(fixed->dwFileVersionMS);
    version->minor = LOWORD(fixed->dwFileVersionMS);
    version->third = HIWORD(fixed->dwFileVersionLS);
    version->fourth = LOWORD(fixed->dwFileVersionLS);
    return FileVersionResult::kOk;
  }

  std::string ReadProfileString(const std::string& section, const std::string& key,
                                const std::string& default_value,
                                const std::string& path) override {
    char value[kProfileBufferSize + 1] = {};
    GetPrivateProfileStringA(section.c_str(), key.c_str(), default_value.c_str(), value,
                             kProfileBufferSize, path.c_str());
    // The text up to its terminator: the count the call returns is not
    // always its length (a quoted value that was cut).
    return std::string(value);
  }

  int64_t UnixTime() override { return static_cast<int64_t>(_time64(nullptr)); }

  uint32_t TickCount() override { return GetTickCount(); }

  void SleepMs(uint32_t milliseconds) override { Sleep(milliseconds); }

  ReadResult ReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                          std::string* error) override {
    contents->clear();
    ReadResult not_open = ReadResult::kError;
    ScopedHandle file(OpenForReading(path, &not_open, error));
    if (!file.valid()) return not_open;
    LARGE_INTEGER size;
    if (!IsDiskFile(file.get()) || !GetFileSizeEx(file.get(), &size)) {
      SetError(error, kNotRegular);
      return ReadResult::kError;
    }
    if (static_cast<uint64_t>(size.QuadPart) > max_size) {
      SetError(error, "larger than " + std::to_string(max_size) + " bytes");
      return ReadResult::kError;
    }
    contents->reserve(static_cast<size_t>(size.QuadPart));
    char buffer[16384];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
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

  ReadResult ReadFileBytes(const std::string& path, uint64_t offset, size_t max_bytes,
                           std::string* bytes, FileStamp* stamp, std::string* error) override {
    bytes->clear();
    ReadResult not_open = ReadResult::kError;
    ScopedHandle file(OpenForReading(path, &not_open, error));
    if (!file.valid()) return not_open;
    BY_HANDLE_FILE_INFORMATION info;
    if (!IsDiskFile(file.get()) || !GetFileInformationByHandle(file.get(), &info)) {
      SetError(error, kNotRegular);
      return ReadResult::kError;
    }
    stamp->volume = info.dwVolumeSerialNumber;
    stamp->file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    stamp->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp->modified =
        static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                             info.ftLastWriteTime.dwLowDateTime);
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
                    wanted > 0x10000000u ? 0x10000000u : static_cast<DWORD>(wanted), &got,
                    nullptr)) {
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
                      std::string* error) override {
    // FILE_APPEND_DATA alone: every write goes to the end of the file, also
    // when other processes append at the same time.
    ScopedHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER before;
    if (!file.valid()) {
      SetError(error, SystemText(GetLastError()));
      return false;
    }
    if (!IsDiskFile(file.get()) || !GetFileSizeEx(file.get(), &before)) {
      SetError(error, kNotRegular);
      return false;
    }
    uint64_t written = 0;
    bool ok = WriteAll(file.get(), ToDiskText(text), &written) &&
              (!durable || FlushFileBuffers(file.get()));
    DWORD code = GetLastError();
    ok = file.Close() && ok;
    if (!ok) {
      if (written > 0) CutBack(path, static_cast<uint64_t>(before.QuadPart), written);
      SetError(error, SystemText(code));
      return false;
    }
    return true;
  }

  ReplaceResult ReplaceTextFile(const std::string& path, const std::string& text,
                                const ReplaceOptions& options, std::string* error) override {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
      SetError(error, kNotRegular);
      return ReplaceResult::kFailed;
    }
    const std::string disk_text = ToDiskText(text);
    std::string temp;
    // In the same folder, so that the move is a rename on one volume.
    ScopedHandle file(CreateTemporary(path, &temp));
    if (!file.valid()) {
      DWORD code = GetLastError();
      if (code == ERROR_ACCESS_DENIED &&
          GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return RewriteInPlace(path, disk_text, error);
      }
      SetError(error, SystemText(code));
      return ReplaceResult::kFailed;
    }
    uint64_t written = 0;
    bool ok = WriteAll(file.get(), disk_text, &written) && FlushFileBuffers(file.get());
    DWORD code = GetLastError();
    ok = file.Close() && ok;
    if (ok) {
      // The old file's security and attributes go onto the new one first;
      // then one rename puts it in place. ReplaceFile would carry them over
      // itself, but where it is done as two renames, a process killed
      // between them leaves no cache file at all.
      CopyProtection(path, temp);
      for (DWORD waited = 0;; waited += kReplaceRetryMs) {
        bool replaced = MoveFileExA(temp.c_str(), path.c_str(),
                                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (replaced) {
          RemoveStaleTemporaries(path);
          return ReplaceResult::kReplaced;
        }
        code = GetLastError();
        // Open elsewhere without delete sharing: that passes.
        bool busy = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
        if (!busy || waited >= options.busy_wait_ms) break;
        Sleep(kReplaceRetryMs);
      }
    }
    DeleteFileA(temp.c_str());
    SetError(error, SystemText(code));
    return ReplaceResult::kFailed;
  }

  void StartProgram(const std::string& program, const std::string& argument) override {
    // The shell finds the program (program folder, PATH, App Paths) and does
    // not wait for it.
    ShellExecuteA(nullptr, nullptr, program.c_str(), argument.c_str(), nullptr, SW_SHOWNORMAL);
  }

  int LastError() override { return static_cast<int>(GetLastError()); }

  std::string ErrorText(int code) override {
    ScopedLocalMemory text;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(text.receive()), 0, nullptr);
    if (length == 0 || text.get() == nullptr) return std::string();
    std::string result(text.get(), length);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
    return result;
  }

  std::string OsText() override {
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    BOOL have_record = GetVersionExA(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (!have_record) return "OS Unknown";
    OsVersionRecord record;
    switch (info.dwPlatformId) {
      case VER_PLATFORM_WIN32_NT:
        record.platform = OsVersionRecord::Platform::kNt;
        break;
      case VER_PLATFORM_WIN32_WINDOWS:
        record.platform = OsVersionRecord::Platform::kWin9x;
        break;
      default:
        record.platform = OsVersionRecord::Platform::kOther;
        break;
    }
    record.major = info.dwMajorVersion;
    record.minor = info.dwMinorVersion;
    record.build = info.dwBuildNumber;
    info.szCSDVersion[sizeof info.szCSDVersion - 1] = '\0';
    record.service_pack = info.szCSDVersion;
    RegistryVersion registry;
    if (record.platform == OsVersionRecord::Platform::kNt) registry = ReadRegistryVersion();
    return OsVersionText(record, registry);
  }

  std::unique_ptr<CrossProcessMutex> NewNamedMutex(const std::string& name,
                                                   const std::string& /*lock_file*/) override {
    return std::make_unique<WindowsNamedMutex>(name);
  }
};

}  // namespace

namespace {
ModuleSingleton<WindowsEnv> g_default_env;
}  // namespace

Env* DefaultEnv() { return &g_default_env.Get(); }

void ReleaseDefaultEnv() { g_default_env.Release(); }

// The 64-bit forms explicitly: the 32-bit C runtime's plain ones end in
// January 2038.
bool ToLocalTime(int64_t unix_time, std::tm* local) {
  __time64_t time = static_cast<__time64_t>(unix_time);
  return _localtime64_s(local, &time) == 0;
}

bool FromLocalTime(std::tm* local, int64_t* unix_time) {
  __time64_t time = _mktime64(local);
  if (time == static_cast<__time64_t>(-1)) return false;
  *unix_time = static_cast<int64_t>(time);
  return true;
}

}  // namespace vornlink
