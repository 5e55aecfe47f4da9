// Owner of one POSIX file descriptor. For the POSIX code of src/platform
// and of the folders above it.
#ifndef VORNLINK_PLATFORM_POSIX_SCOPED_FD_H_
#define VORNLINK_PLATFORM_POSIX_SCOPED_FD_H_

#include <unistd.h>

#include <utility>

namespace vornlink {

class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ~ScopedFd() { reset(); }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes what it holds (errors ignored) and takes `fd`.
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }
  // Closes now; false, with errno set by close, when it reports an error.
  bool Close() {
    int fd = std::exchange(fd_, -1);
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_POSIX_SCOPED_FD_H_
