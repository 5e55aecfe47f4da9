// The module as a host has it: beside its settings, loaded by path, "kmrgui" (bin/stub) on PATH.
#ifndef VORNLINK_TESTS_DRIVER_HOSTED_DRIVER_H_
#define VORNLINK_TESTS_DRIVER_HOSTED_DRIVER_H_

#include <memory>
#include <string>
#include <vector>

#include "dms_fixture.h"
#include "testing/test_env.h"
#include "vornlink/base/driver_api.h"

namespace vornlink {
namespace testing {

// A cache line as a host's call would have written it.
std::string CacheLine(const std::string& trans_no, const std::string& status,
                      const std::string& trid);

class HostedDriver {
 public:
  // In a fresh folder inside `base_folder` (the system's temporary folder when empty).
  explicit HostedDriver(const std::string& base_folder = std::string());
  ~HostedDriver() { Unload(); }  // stops the service

  bool Load();  // false, with a test failure, when the module does not load
  void Unload();
  // The settings for `setup` (log: drv.log here); the INI: RetryTime, `more_ini`.
  void WriteSettings(DmsSetup setup, const std::string& retry_time,
                     const std::string& more_ini = "");
  void Forward(const std::string& trans_no, const char* job_no = "123456.A");

  std::string File(const std::string& extension) const {
    return dir_.File("Vornlink." + extension);
  }
  std::string module_path() const { return File(kPathSeparator == '/' ? "so" : "dll"); }
  const TempDir& dir() const { return dir_; }
  const DriverApi& api() const { return api_; }
  std::vector<std::string> CacheLines() const;
  // "TransNo:Status " of each cache line.
  std::string CacheState() const;
  std::string Log() const { return ReadBytes(dir_.File("drv.log")); }
  bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }

 private:
  TempDir dir_;
  DriverApi api_;
  std::unique_ptr<LoadedModule> module_;
};

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_DRIVER_HOSTED_DRIVER_H_
