#include "hosted_driver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/env.h"
#include "settings/text_lines.h"

namespace vornlink {
namespace testing {
namespace {

#ifdef _WIN32
constexpr char kListSeparator = ';';
#else
constexpr char kListSeparator = ':';
#endif

void SetVariable(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

}  // namespace

std::string CacheLine(const std::string& trans_no, const std::string& status,
                      const std::string& trid) {
  return trans_no + ",123456.A,240607,081503,17,F04,12,3,Oil,OIL-1,1.5,0," + status + "," + trid +
         ",0,";
}

HostedDriver::HostedDriver() {
  std::filesystem::copy_file(VORNLINK_MODULE_FILE, module_path());
  static const bool path_set = [] {
    std::string self = DefaultEnv()->ModulePath();
    std::string stub_folder = self.substr(0, self.find_last_of("/\\") + 1) + "stub";
    SetVariable("PATH", stub_folder + kListSeparator + std::getenv("PATH"));
    return true;
  }();
  (void)path_set;
  SetVariable("VORNLINK_KMRGUI_RECORD", dir_.File("kmrgui.txt"));
}

HostedDriver::~HostedDriver() { Unload(); }

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

std::string HostedDriver::File(const std::string& extension) const {
  return dir_.File("Vornlink." + extension);
}

std::vector<std::string> HostedDriver::CacheLines() const {
  // On Windows the file cannot be opened while the worker puts a new one in
  // its place: that is no empty cache. Try again a moment later.
  std::string contents;
  for (int attempt = 0; attempt < 200; ++attempt) {
    std::ifstream in(File("$$$"), std::ios::binary);
    if (in) {
      std::ostringstream read;
      read << in.rdbuf();
      contents = read.str();
      break;
    }
    if (!FileExists(File("$$$"))) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::vector<std::string> lines;
  for (std::string_view line : SplitLines(contents)) lines.emplace_back(line);
  return lines;
}

std::string HostedDriver::CacheState() const {
  std::string state;
  for (const std::string& line : CacheLines()) {
    size_t at = 0;
    for (int comma = 0; comma < 12 && at != std::string::npos; ++comma) {
      at = line.find(',', at);
      if (at != std::string::npos) ++at;
    }
    std::string status = at == std::string::npos ? "" : line.substr(at, line.find(',', at) - at);
    state += line.substr(0, line.find(',')) + ":" + status + " ";
  }
  return state;
}

std::string HostedDriver::Log() const { return ReadBytes(dir_.File("drv.log")); }

std::string HostedDriver::GuiStarts() const {
  const std::string record = ReadBytes(dir_.File("kmrgui.txt"));
  std::string text;
  for (std::string_view line : SplitLines(record)) {
    text.append(line);
    text.push_back('\n');
  }
  return text;
}

}  // namespace testing
}  // namespace vornlink
