// The operating-system line of the log, from the system's version record and
// the version values in the registry. Pure code, so that every branch of the
// name table can be tested on any Windows version.
#ifndef VORNLINK_PLATFORM_WIN32_OS_VERSION_TEXT_H_
#define VORNLINK_PLATFORM_WIN32_OS_VERSION_TEXT_H_

#include <cstdint>
#include <string>

namespace vornlink {

// What the system's version record says.
struct OsVersionRecord {
  enum class Platform { kNt, kWin9x, kOther };
  Platform platform = Platform::kOther;
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  std::string service_pack;
};

// The values "CurrentVersion" and "CurrentBuild" under the local machine's
// key SOFTWARE\Microsoft\Windows NT\CurrentVersion. `read` is false when the
// key or "CurrentVersion" could not be read.
struct RegistryVersion {
  bool read = false;
  std::string current_version;  // e.g. "6.3"
  std::string current_build;    // e.g. "9600"
};

// "NT Platform os[WIN8.1] ver[6.03.9600] sp[]", "WIN9x Platform os[...] ..."
// or "OS Unknown". Systems from Windows 8.1 on report 6.2 in the version
// record of a program that does not declare them, so 8.1 and later are
// recognised by the registry (which still says 6.3 there) and carry its
// numbers.
std::string OsVersionText(const OsVersionRecord& record, const RegistryVersion& registry);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_WIN32_OS_VERSION_TEXT_H_
