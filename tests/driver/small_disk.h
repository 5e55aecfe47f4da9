// A small file system of its own (a tmpfs, Linux, as root) that a test can
// fill up to the last byte and free again: a real full disk under a host.
#ifndef VORNLINK_TESTS_DRIVER_SMALL_DISK_H_
#define VORNLINK_TESTS_DRIVER_SMALL_DISK_H_

#include <cstddef>
#include <string>

#include "testing/test_env.h"

namespace vornlink {
namespace testing {

class SmallDisk {
 public:
  // Mounts `bytes` of memory at a fresh folder; where that is not possible
  // (not root, not Linux), mounted() is false and error() says why.
  explicit SmallDisk(size_t bytes);
  ~SmallDisk();  // unmounts
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }
  const std::string& path() const { return folder_.path(); }

  // Takes every free byte with a ballast file, or gives them back.
  void Fill();
  void Free();

 private:
  TempDir folder_;
  bool mounted_ = false;
  std::string error_;
};

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_DRIVER_SMALL_DISK_H_
