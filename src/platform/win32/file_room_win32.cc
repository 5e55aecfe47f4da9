// Room on the disk for the Windows Env: how much is free, and a file given
// the room of its size for good (the cache's reserve for a full disk).
#include <windows.h>
// After windows.h, which it needs.
#include <winioctl.h>

#include <string>

#include "platform/env_parts.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/trusted_path.h"

namespace vornlink {
namespace {

using env_parts::kNotRegularFile;
using env_parts::SetError;

// Cuts or extends `file` to `size` bytes (an extension holds no data yet).
DWORD SetEnd(HANDLE file, uint64_t size) {
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) ? 0 : GetLastError();
}

// Makes `file` take room for what is written into it as it stands: a
// compressed or sparse file would keep zeros without their room. Best
// effort: a file system without either (FAT) has nothing to turn off.
void KeepUncompressed(HANDLE file) {
  DWORD returned = 0;
  USHORT none = COMPRESSION_FORMAT_NONE;
  DeviceIoControl(file, FSCTL_SET_COMPRESSION, &none, sizeof none, nullptr, 0, &returned, nullptr);
  FILE_SET_SPARSE_BUFFER dense{FALSE};
  DeviceIoControl(file, FSCTL_SET_SPARSE, &dense, sizeof dense, nullptr, 0, &returned, nullptr);
}

// Writes zeros into `file` from `from` up to `to`: real data, since an end
// of file moved on alone may leave the room still to be found at a later
// write.
DWORD WriteZeros(HANDLE file, uint64_t from, uint64_t to) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(from);
  if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return GetLastError();
  const std::string zeros(65536, '\0');
  while (from < to) {
    const DWORD chunk = static_cast<DWORD>(to - from < zeros.size() ? to - from : zeros.size());
    DWORD done = 0;
    if (!WriteFile(file, zeros.data(), chunk, &done, nullptr)) return GetLastError();
    if (done == 0) return ERROR_DISK_FULL;
    from += done;
  }
  return 0;
}

// 0 when the file system holds at least `size` bytes of `file`, or cannot
// tell; else ERROR_DISK_FULL.
DWORD CheckAllocated(HANDLE file, uint64_t size) {
  FILE_STANDARD_INFO info;
  if (!GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info)) return 0;
  return static_cast<uint64_t>(info.AllocationSize.QuadPart) >= size ? 0 : ERROR_DISK_FULL;
}

}  // namespace

namespace env_parts {

bool FreeDiskSpace(const std::string& path, uint64_t* bytes, std::string* error) {
  const size_t slash = path.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? ".\\" : path.substr(0, slash + 1);
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) {
    SetError(error, FileErrorText(GetLastError()));
    return false;
  }
  *bytes = available.QuadPart;
  return true;
}

bool SetAllocatedFileSize(const std::string& path, uint64_t size, std::string* error) {
  const DWORD access = GENERIC_READ | GENERIC_WRITE;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  DWORD code = 0;
  HANDLE opened = OpenTrusted(path, access, share, OPEN_EXISTING, &code);
  // A missing file is made anew, never one that came meanwhile.
  if (opened == INVALID_HANDLE_VALUE && code == ERROR_FILE_NOT_FOUND) {
    opened = OpenTrusted(path, access, share, CREATE_NEW, &code);
  }
  ScopedHandle file(opened);
  if (!file.valid()) {
    SetError(error, FileErrorText(code));
    return false;
  }
  LARGE_INTEGER before;
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &before)) {
    SetError(error, kNotRegularFile);
    return false;
  }
  const uint64_t old_size = static_cast<uint64_t>(before.QuadPart);
  if (size > old_size) {
    KeepUncompressed(file.get());
    code = WriteZeros(file.get(), old_size, size);
  } else if (size < old_size) {
    code = SetEnd(file.get(), size);
  }
  if (code == 0 && !FlushFileBuffers(file.get())) code = GetLastError();
  if (code == 0 && size > old_size) code = CheckAllocated(file.get(), size);
  if (code != 0) {
    // What a growth that ran out of room took, it gives back.
    if (size > old_size && SetEnd(file.get(), old_size) == 0) FlushFileBuffers(file.get());
    SetError(error, FileErrorText(code));
    return false;
  }
  return true;
}

}  // namespace env_parts
}  // namespace vornlink
