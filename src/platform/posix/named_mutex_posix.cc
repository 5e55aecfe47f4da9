// The cross-process mutex of the POSIX Env: a write lock on a lock file.
//
// flock does not keep threads of one process apart and any user who can
// read a file can flock it; a write lock through fcntl needs a descriptor
// open for writing, so only those who may write the lock file can hold it.
// Open-file-description locks belong to this descriptor alone, so closing
// another descriptor of the file does not drop them.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>

#include "platform/env_parts.h"
#include "platform/posix/regular_file.h"
#include "platform/posix/scoped_fd.h"

namespace vornlink {
namespace {

// How many forks made this process, counted in the child. Every cache
// operation asks whether its process is still the one that opened the lock
// file; the count answers without a system call.
std::atomic<uint32_t> g_forks{0};

void CountFork() { g_forks.fetch_add(1, std::memory_order_relaxed); }

// The count of forks so far, or nothing where it cannot be kept (then the
// process number answers).
bool ForksCounted() {
  static const bool counted = pthread_atfork(nullptr, nullptr, &CountFork) == 0;
  return counted;
}

class FileLockMutex : public CrossProcessMutex {
 public:
  explicit FileLockMutex(std::string path) : path_(std::move(path)) {}

  bool Lock(std::string* error) override {
    threads_.lock();
    std::string reason;
    for (;;) {
      int code = OpenOwnLockFile();
      if (code != 0) {
        reason = OpenErrorText(code);
        break;
      }
      code = LockWhole(F_OFD_SETLKW);
      if (code != 0) {
        reason = env_parts::ErrorText(code);
        break;
      }
      if (StillTheLockFile()) return true;
    }
    if (error != nullptr) *error = path_ + ": " + reason;
    threads_.unlock();
    return false;
  }

  TryLockResult TryLock(std::string* error) override {
    if (!threads_.try_lock()) return TryLockResult::kHeld;
    int code = OpenOwnLockFile();
    refused_to_user_ = code == EACCES;
    std::string reason = code == 0 ? std::string() : OpenErrorText(code);
    if (code == 0) {
      code = LockWhole(F_OFD_SETLK);
      if (code == 0 && StillTheLockFile()) return TryLockResult::kTaken;
      // Held elsewhere; a lock file replaced meanwhile is left for the next try.
      if (code != EAGAIN && code != EACCES && code != 0) reason = env_parts::ErrorText(code);
    }
    threads_.unlock();
    if (reason.empty()) return TryLockResult::kHeld;
    if (error != nullptr) *error = path_ + ": " + reason;
    return TryLockResult::kUnavailable;
  }

  bool RefusedToThisUser() const override { return refused_to_user_; }

  void Unlock() override {
    struct flock whole {};
    whole.l_type = F_UNLCK;
    whole.l_whence = SEEK_SET;
    fcntl(fd_.get(), F_OFD_SETLK, &whole);
    threads_.unlock();
  }

 private:
  // Opens the lock file unless this process has it open already. A child
  // made by fork shares the parent's open lock file, and with it the
  // parent's lock: it needs one of its own. Closing the inherited
  // descriptor leaves the parent's lock alone.
  int OpenOwnLockFile() {
    if (fd_.valid() && OpenedByThisProcess()) return 0;
    struct stat info {};
    owner_ = getpid();
    // Counted from before this open on, so that a fork after it is counted.
    forks_counted_ = ForksCounted();
    owner_forks_ = g_forks.load(std::memory_order_relaxed);
    const int code = OpenRegular(path_, O_RDWR | O_CREAT | O_NOFOLLOW, 0666, &fd_, &info);
    held_device_ = info.st_dev;
    held_inode_ = info.st_ino;
    return code;
  }

  bool OpenedByThisProcess() const {
    if (forks_counted_) return owner_forks_ == g_forks.load(std::memory_order_relaxed);
    return owner_ == getpid();
  }

  // 0 once the whole file is locked; `command` says whether to wait.
  int LockWhole(int command) {
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    while (fcntl(fd_.get(), command, &whole) != 0) {
      if (errno != EINTR) return errno;
    }
    return 0;
  }

  // A lock file removed or replaced while it was open is no longer the one
  // the other processes lock: false then, and the file is closed (its lock
  // goes with it), so that the next try opens the one that is there now.
  bool StillTheLockFile() {
    struct stat there;
    if (lstat(path_.c_str(), &there) == 0 && held_device_ == there.st_dev &&
        held_inode_ == there.st_ino) {
      return true;
    }
    fd_.reset();
    return false;
  }

  const std::string path_;
  std::mutex threads_;
  ScopedFd fd_;               // guarded by threads_
  pid_t owner_ = 0;           // the process that opened fd_
  uint32_t owner_forks_ = 0;  // the count of forks when it did
  bool forks_counted_ = false;
  dev_t held_device_ = 0;  // the file fd_ has open (guarded by threads_)
  ino_t held_inode_ = 0;
  bool refused_to_user_ = false;  // the last TryLock's open was refused (EACCES)
};

}  // namespace

namespace env_parts {

std::unique_ptr<CrossProcessMutex> NewNamedMutex(const std::string& /*name*/,
                                                 const std::string& lock_file) {
  return std::make_unique<FileLockMutex>(lock_file);
}

}  // namespace env_parts
}  // namespace vornlink
