// The cross-process mutex of the Windows Env: a named system mutex. The
// in-process mutex in front of it keeps the behaviour the same as on the
// other platforms (not recursive).
#include <windows.h>

#include <mutex>
#include <string>

#include "platform/env_parts.h"
#include "platform/win32/scoped_handle.h"

namespace vornlink {
namespace {

class WindowsNamedMutex : public CrossProcessMutex {
 public:
  explicit WindowsNamedMutex(const std::string& name)
      : name_(name), handle_(CreateMutexA(nullptr, FALSE, name.c_str())) {
    if (!handle_.valid()) create_error_ = GetLastError();
  }

  bool Lock(std::string* error) override {
    threads_.lock();
    if (handle_.valid() && Wait(INFINITE)) return true;
    const DWORD code = handle_.valid() ? GetLastError() : create_error_;
    if (error != nullptr) *error = name_ + ": " + env_parts::ErrorText(static_cast<int>(code));
    threads_.unlock();
    return false;
  }

  TryLockResult TryLock(std::string* error) override {
    if (!threads_.try_lock()) return TryLockResult::kHeld;
    DWORD code = create_error_;
    if (handle_.valid()) {
      const DWORD result = WaitForSingleObject(handle_.get(), 0);
      if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return TryLockResult::kTaken;
      code = result == WAIT_TIMEOUT ? 0 : GetLastError();
    }
    threads_.unlock();
    if (code == 0) return TryLockResult::kHeld;
    if (error != nullptr) *error = name_ + ": " + env_parts::ErrorText(static_cast<int>(code));
    return TryLockResult::kUnavailable;
  }

  void Unlock() override {
    ReleaseMutex(handle_.get());
    threads_.unlock();
  }

 private:
  // True once the mutex is ours. WAIT_ABANDONED: the last holder ended
  // without releasing it; the mutex is ours now all the same.
  bool Wait(DWORD milliseconds) {
    const DWORD result = WaitForSingleObject(handle_.get(), milliseconds);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  }

  const std::string name_;
  ScopedHandle handle_;
  DWORD create_error_ = 0;
  std::mutex threads_;
};

}  // namespace

namespace env_parts {

std::unique_ptr<CrossProcessMutex> NewNamedMutex(const std::string& name,
                                                 const std::string& /*lock_file*/) {
  return std::make_unique<WindowsNamedMutex>(name);
}

}  // namespace env_parts
}  // namespace vornlink
