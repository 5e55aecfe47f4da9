// Owners of Windows handles: each closes what it holds when it goes.
// Include only from src/platform/win32.
#ifndef VORNLINK_PLATFORM_WIN32_SCOPED_HANDLE_H_
#define VORNLINK_PLATFORM_WIN32_SCOPED_HANDLE_H_

#include <windows.h>

namespace vornlink {

// A kernel object handle (file, mutex, ...). Both null and
// INVALID_HANDLE_VALUE mean "none", as the APIs disagree on which they give.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
  ~ScopedHandle() { Close(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  // Gives the handle up without closing it.
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  // Closes now; false when CloseHandle reports an error (for files, data that
  // could not be written).
  bool Close() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return true;
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

// A search opened by FindFirstFile.
class ScopedFind {
 public:
  explicit ScopedFind(HANDLE search) : search_(search) {}
  ~ScopedFind() {
    if (valid()) FindClose(search_);
  }
  ScopedFind(const ScopedFind&) = delete;
  ScopedFind& operator=(const ScopedFind&) = delete;

  HANDLE get() const { return search_; }
  bool valid() const { return search_ != INVALID_HANDLE_VALUE && search_ != nullptr; }

 private:
  HANDLE search_;
};

// An open registry key.
class ScopedRegKey {
 public:
  ScopedRegKey() = default;
  ~ScopedRegKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;

  HKEY get() const { return key_; }
  // For the open call to fill in; the key must not hold one yet.
  HKEY* receive() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

// A buffer that the system allocated with LocalAlloc (FormatMessage).
class ScopedLocalMemory {
 public:
  ScopedLocalMemory() = default;
  ~ScopedLocalMemory() {
    if (memory_ != nullptr) LocalFree(memory_);
  }
  ScopedLocalMemory(const ScopedLocalMemory&) = delete;
  ScopedLocalMemory& operator=(const ScopedLocalMemory&) = delete;

  char* get() const { return memory_; }
  char** receive() { return &memory_; }

 private:
  char* memory_ = nullptr;
};

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_WIN32_SCOPED_HANDLE_H_
