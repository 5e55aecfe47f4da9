#include "small_disk.h"

#include <cerrno>
#include <cstring>
#include <string>

#ifdef __linux__
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace vornlink {
namespace testing {

#ifdef __linux__

SmallDisk::SmallDisk(size_t bytes) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  mounted_ = mount("tmpfs", path().c_str(), "tmpfs", 0, options.c_str()) == 0;
  if (!mounted_) error_ = "no tmpfs could be mounted: " + std::string(std::strerror(errno));
}

SmallDisk::~SmallDisk() {
  if (mounted_) umount2(path().c_str(), MNT_DETACH);
}

void SmallDisk::Fill() {
  const int fd = open((path() + "/ballast").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (fd < 0) return;
  // Large pieces first, then single bytes for what is left of a page.
  static const char kZeros[65536] = {};
  for (size_t piece = sizeof kZeros; piece > 0; piece /= 16) {
    while (write(fd, kZeros, piece) == static_cast<ssize_t>(piece)) {
    }
  }
  close(fd);
}

void SmallDisk::Free() { unlink((path() + "/ballast").c_str()); }

#else

SmallDisk::SmallDisk(size_t) : error_("no tmpfs here") {}
SmallDisk::~SmallDisk() = default;
void SmallDisk::Fill() {}
void SmallDisk::Free() {}

#endif

}  // namespace testing
}  // namespace vornlink
