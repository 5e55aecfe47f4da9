// The driver as a host has it, for the tests that drive it end to end: the
// built module copied into a fresh folder beside its settings, loaded by
// path, with the stand-in "kmrgui" (bin/stub) on the PATH recording what it
// is started with.
#ifndef VORNLINK_TESTS_DRIVER_HOSTED_DRIVER_H_
#define VORNLINK_TESTS_DRIVER_HOSTED_DRIVER_H_

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dms_fixture.h"
#include "testing/test_env.h"
#include "vornlink/driver_api.h"

namespace vornlink {
namespace testing {

#ifdef _WIN32
inline constexpr const char* kModuleName = "Vornlink.dll";
#else
inline constexpr const char* kModuleName = "Vornlink.so";
#endif

// A cache line as a host's call would have written it.
std::string CacheLine(const std::string& trans_no, const std::string& status,
                      const std::string& trid);

class HostedDriver {
 public:
  HostedDriver();
  ~HostedDriver();  // stops the service

  // Loads the module from its folder; false (with a test failure) when it
  // does not load.
  bool Load();
  void Unload();
  // The settings for `setup` (its log file set to drv.log here) and an INI
  // file with RetryTime and `more_ini`.
  void WriteSettings(DmsSetup setup, const std::string& retry_time,
                     const std::string& more_ini = "");

  void Forward(const std::string& trans_no, const char* job_no = "123456.A");

  std::string File(const std::string& extension) const;
  std::string module_path() const { return dir_.File(kModuleName); }
  const TempDir& dir() const { return dir_; }
  const DriverApi& api() const { return api_; }
  std::vector<std::string> CacheLines() const;
  // "TransNo:Status " of each cache line.
  std::string CacheState() const;
  std::string Log() const;
  bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }
  // What "kmrgui" was started with, one line each.
  std::string GuiStarts() const;

 private:
  TempDir dir_;
  DriverApi api_;
  std::unique_ptr<LoadedModule> module_;
};

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_DRIVER_HOSTED_DRIVER_H_
