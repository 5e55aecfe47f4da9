// The driver as a host sees it: the built module is copied into a fresh
// folder beside its own settings files, loaded by path, and driven through
// the exports it finds by name.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "settings/text_lines.h"
#include "testing/test_env.h"
#include "vornlink/driver_api.h"

namespace vornlink {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr const char* kModuleName = "Vornlink.dll";
#else
constexpr const char* kModuleName = "Vornlink.so";
#endif

// What the callback received.
struct Answers {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::pair<int32_t, std::string>> received;
};
Answers* g_answers = nullptr;

void VORNLINK_CDECL RecordAnswer(int32_t result, const char* job_no) {
  std::lock_guard<std::mutex> lock(g_answers->mutex);
  g_answers->received.emplace_back(result, job_no);
  g_answers->arrived.notify_all();
}

class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_path_ = dir_.File(kModuleName);
    fs::copy_file(VORNLINK_MODULE_FILE, module_path_);
    WriteSettings("");
    std::string error;
    module_ = LoadDriver(module_path_, &api_, &error);
    ASSERT_NE(module_, nullptr) << error;
  }

  void TearDown() override { module_.reset(); }

  std::string File(const std::string& extension) const {
    return dir_.File("Vornlink." + extension);
  }

  // Settings document with a log of every flag, plus `extra` lines.
  void WriteSettings(const std::string& extra) {
    testing::WriteBytes(File("xml"), "<KMR>\n  <Log>\n    <FileName>" + dir_.File("drv.log") +
                                         "</FileName>\n    <MaxLines>1000</MaxLines>\n"
                                         "    <Flags>+cdhinprst</Flags>\n  </Log>\n" +
                                         extra + "</KMR>\n");
  }

  void WriteIni(const std::string& text) { testing::WriteBytes(File("ini"), text); }

  // Forwards a transaction with this quantity and fluid key.
  void Forward(const char* trans_no, const char* quantity, const char* fluid_key = "4") {
    api_.forward_transaction2(trans_no, "123456.A", "140604", "111030", "7", "F04", "12", fluid_key,
                              "Default Oil", "DEF-1", quantity, "0");
  }

  // The cache lines, line ends removed.
  std::vector<std::string> CacheLines() const {
    std::string contents = testing::ReadBytes(File("$$$"));
    std::vector<std::string> lines;
    for (std::string_view line : SplitLines(contents)) lines.emplace_back(line);
    return lines;
  }

  std::string CachedTransNos() const {
    std::string numbers;
    for (const std::string& line : CacheLines()) {
      numbers += line.substr(0, line.find(',')) + " ";
    }
    return numbers;
  }

  std::string Log() const { return testing::ReadBytes(dir_.File("drv.log")); }

  testing::TempDir dir_;
  std::string module_path_;
  DriverApi api_;
  std::unique_ptr<LoadedModule> module_;
};

TEST_F(ExportsTest, FixedAnswersBeforeAndAfterStart) {
  EXPECT_EQ(api_.get_api_version(), 102);
  EXPECT_STREQ(api_.get_service_name(), "Plexa KMR v[1.00]");
  EXPECT_EQ(api_.execute_service(), 1);
  EXPECT_EQ(api_.get_api_version(), 102);
  EXPECT_EQ(api_.properties(), 0);
  EXPECT_EQ(api_.stop_service(), 0);
}

TEST_F(ExportsTest, StartAndStopWriteTheDriverLines) {
  ASSERT_EQ(api_.execute_service(), 1);
  ASSERT_EQ(api_.stop_service(), 0);
  std::string log = Log();
  EXPECT_NE(log.find("-.-" + module_path_ + " is loaded at [0x"), std::string::npos) << log;
  EXPECT_NE(log.find("] v[1.00] logflags[+cdhinprst] maxlines[1000]"), std::string::npos) << log;
  EXPECT_NE(log.find("-.-OS: "), std::string::npos) << log;
  EXPECT_NE(log.find("-.-" + module_path_ + " is unloaded"), std::string::npos) << log;
}

TEST_F(ExportsTest, EnableGateHoldsTransactionsBack) {
  ASSERT_EQ(api_.execute_service(), 1);
  WriteIni("[ForwardTransaction]\nEnable=0\n");
  Forward("1", "1.5");
  WriteIni("[ForwardTransaction]\nEnable=yes\n");
  Forward("2", "1.5");
  WriteIni("[ForwardTransaction]\nEnable=2\n");
  Forward("3", "1.5");
  EXPECT_EQ(CachedTransNos(), "3 ");
  EXPECT_NE(Log().find("-*-ForwardTransaction TransNo[1] JobNo[123456.A] t[Forward Transaction "
                       "Not Enabled]"),
            std::string::npos);
}

TEST_F(ExportsTest, ZeroQuantityGate) {
  ASSERT_EQ(api_.execute_service(), 1);
  Forward("1", "0");
  Forward("2", "0.000");
  Forward("3", "abc");
  Forward("4", "");
  Forward("5", "-0.5");
  Forward("6", "0.001");
  EXPECT_EQ(CachedTransNos(), "5 6 ");
  EXPECT_NE(Log().find("-i-ForwardTransaction TransNo[3] JobNo[123456.A] t[Removing NULL "
                       "Transaction]"),
            std::string::npos);
  WriteIni("[ForwardTransaction]\nAllowZeroTransaction=1\n");
  Forward("7", "0");
  Forward("8", "abc");
  EXPECT_EQ(CachedTransNos(), "5 6 7 8 ");
}

TEST_F(ExportsTest, ValidationGateAsksForTheJobFirst) {
  ASSERT_EQ(api_.execute_service(), 1);
  WriteIni("[ForwardTransaction]\nValidation=0\n");
  Forward("1", "1");
  // No DMS answers here, so the double check rejects the job.
  WriteIni("[ForwardTransaction]\nValidation=1\n");
  Forward("2", "1");
  EXPECT_EQ(CachedTransNos(), "1 ");
  EXPECT_NE(Log().find("-i-ForwardTransaction TransNo[2] JobNo[123456.A] t[Error while double "
                       "checking jobno]"),
            std::string::npos);
}

TEST_F(ExportsTest, FluidNameAndPartNumberComeFromTheIni) {
  WriteIni("[FluidName]\n3=ATF\n[FluidPartNo]\n3=ATF-99\n");
  Forward("1", "1", "3");
  Forward("2", "1", "4");
  api_.forward_transaction("3", "123456.A", "140604", "111030", "7", "F04", "12", "9", "Motor Oil",
                           "2.5", "1");
  std::vector<std::string> lines = CacheLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("1,123456.A,140604,111030,7,F04,12,3,ATF,ATF-99,1,0,0,", 0), 0u);
  EXPECT_EQ(lines[1].rfind("2,123456.A,140604,111030,7,F04,12,4,Default Oil,DEF-1,1,0,0,", 0), 0u);
  EXPECT_EQ(lines[2].rfind("3,123456.A,140604,111030,7,F04,12,9,Motor Oil,Motor Oil,2.5,1,0,", 0),
            0u);
  // A fresh line: Status 0, an 18-digit Trid, reserved 0, empty message.
  EXPECT_EQ(lines[0].size(),
            std::string("1,123456.A,140604,111030,7,F04,12,3,ATF,ATF-99,1,0,0,").size() + 18 + 3);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 3), ",0,");
}

TEST_F(ExportsTest, NullTextsAreEmptyTexts) {
  WriteIni("[ForwardTransaction]\nAllowZeroTransaction=1\n");
  api_.forward_transaction2(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr);
  api_.forward_transaction(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr);
  EXPECT_EQ(api_.is_jobno_valid(nullptr), 0);
  std::vector<std::string> lines = CacheLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind(",,,,,,,,,,,,0,", 0), 0u);
}

TEST_F(ExportsTest, CallbackAnswersFromAnotherThread) {
  Answers answers;
  g_answers = &answers;
  api_.set_callback(&RecordAnswer);  // forgotten by the start
  ASSERT_EQ(api_.execute_service(), 1);
  EXPECT_EQ(api_.is_jobno_valid("123456.A"), 0);
  api_.set_callback(&RecordAnswer);
  std::string job = "654321.B";
  EXPECT_EQ(api_.is_jobno_valid(job.c_str()), 0);
  job = "changed by the host";
  {
    std::unique_lock<std::mutex> lock(answers.mutex);
    ASSERT_TRUE(answers.arrived.wait_for(lock, std::chrono::seconds(30),
                                         [&] { return !answers.received.empty(); }));
    ASSERT_EQ(answers.received.size(), 1u);
    EXPECT_EQ(answers.received[0].first, 0);
    EXPECT_EQ(answers.received[0].second, "654321.B");
  }
  api_.set_callback(nullptr);
  EXPECT_EQ(api_.is_jobno_valid("123456.A"), 0);
  EXPECT_EQ(api_.stop_service(), 0);
  g_answers = nullptr;
}

TEST_F(ExportsTest, HostThreadsForwardAtOnce) {
  constexpr int kThreads = 8;
  constexpr int kEach = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kEach; ++i) {
        std::string trans_no = std::to_string(t * 1000 + i);
        Forward(trans_no.c_str(), "1");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::vector<std::string> lines = CacheLines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kEach));
  std::vector<std::string> trids;
  for (const std::string& line : lines) {
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 15) << line;
    size_t at = 0;
    for (int comma = 0; comma < 13; ++comma) at = line.find(',', at) + 1;
    trids.push_back(line.substr(at, line.find(',', at) - at));
    EXPECT_EQ(trids.back().size(), 18u) << line;
  }
  std::sort(trids.begin(), trids.end());
  EXPECT_EQ(std::unique(trids.begin(), trids.end()), trids.end());
}

#ifndef _WIN32
TEST_F(ExportsTest, StartLaunchesTheGuiProgramWithTheBaseName) {
  // A stand-in "kmrgui" on PATH writes down the argument it got.
  const std::string bin = dir_.File("bin");
  fs::create_directory(bin);
  const std::string seen = dir_.File("kmrgui.seen");
  testing::WriteBytes(bin + "/kmrgui", "#!/bin/sh\necho \"$1\" > " + seen + ".part\nmv " + seen +
                                           ".part " + seen + "\n");
  fs::permissions(bin + "/kmrgui", fs::perms::owner_all);
  const std::string old_path = getenv("PATH");
  setenv("PATH", (bin + ":" + old_path).c_str(), 1);
  EXPECT_EQ(api_.execute_service(), 1);
  setenv("PATH", old_path.c_str(), 1);
  for (int i = 0; i < 500 && !testing::FileExists(seen); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(testing::ReadBytes(seen), "Vornlink\n");
  EXPECT_EQ(api_.stop_service(), 0);
}
#endif

}  // namespace
}  // namespace vornlink
