#include "hosted_driver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "base/text_lines.h"
#include "cache/cache_record.h"
#include "platform/env.h"

namespace vornlink {
namespace testing {

std::string CacheLine(const std::string& trans_no, const std::string& status,
                      const std::string& trid) {
  return trans_no + ",123456.A,240607,081503,17,F04,12,3,Oil,OIL-1,1.5,0," + status + "," + trid +
         ",0,";
}

HostedDriver::HostedDriver(const std::string& base_folder) : dir_(base_folder) {
  std::filesystem::copy_file(VORNLINK_MODULE_FILE, module_path());
  static const bool path_set = [] {  // the stand-in first on the PATH
    const std::string self = DefaultEnv()->ModulePath();
    const std::string path = self.substr(0, self.find_last_of("/\\") + 1) + "stub" +
                             (kPathSeparator == '/' ? ":" : ";") + std::getenv("PATH");
#ifdef _WIN32
    return _putenv_s("PATH", path.c_str()) == 0;
#else
    return setenv("PATH", path.c_str(), 1) == 0;
#endif
  }();
  (void)path_set;
}

bool HostedDriver::Load() {
  std::string error;
  module_ = LoadDriver(module_path(), &api_, &error);
  EXPECT_NE(module_, nullptr) << error;
  return module_ != nullptr;
}

void HostedDriver::Unload() {
  if (module_ == nullptr) return;
  api_.stop_service();
  module_.reset();
}

void HostedDriver::WriteSettings(DmsSetup setup, const std::string& retry_time,
                                 const std::string& more_ini) {
  setup.log_file = dir_.File("drv.log");
  WriteBytes(File("xml"), SettingsDocument(setup));
  WriteBytes(File("ini"), "[CacheThread]\nRetryTime=" + retry_time + "\n" + more_ini);
}

void HostedDriver::Forward(const std::string& trans_no, const char* job_no) {
  api_.forward_transaction2(trans_no.c_str(), job_no, "240607", "081503", "17", "F04", "12", "3",
                            "Oil", "OIL-1", "1.5", "0");
}

std::vector<std::string> HostedDriver::CacheLines() const {
  // On Windows the file cannot be opened while the worker puts a new one in
  // its place: that is no empty cache. Try again a moment later.
  std::string contents;
  for (int attempt = 0; attempt < 200 && FileExists(File("$$$")); ++attempt) {
    std::ifstream in(File("$$$"), std::ios::binary);
    if (in) {
      contents.assign(std::istreambuf_iterator<char>(in), {});
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::vector<std::string_view> lines = SplitLines(contents);
  return std::vector<std::string>(lines.begin(), lines.end());
}

std::string HostedDriver::CacheState() const {
  std::string state;
  for (const std::string& line : CacheLines()) {
    CacheRecord record;
    ParseCacheLine(line, &record);
    state += record.trans_no() + ":" + record.status() + " ";
  }
  return state;
}

}  // namespace testing
}  // namespace vornlink
