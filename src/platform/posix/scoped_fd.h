// Owner of one POSIX file descriptor. Include only from src/platform/posix.
#ifndef VORNLINK_PLATFORM_POSIX_SCOPED_FD_H_
#define VORNLINK_PLATFORM_POSIX_SCOPED_FD_H_

#include <unistd.h>

namespace vornlink {

class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now; false when close reports an error.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_POSIX_SCOPED_FD_H_
