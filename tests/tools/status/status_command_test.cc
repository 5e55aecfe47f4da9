#include "vornlink/status/status_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "base/text_lines.h"
#include "cache/cache_record.h"
#include "cache/trid.h"
#include "cache/unwritten_entries.h"
#include "command_test.h"
#include "testing/case_file.h"
#include "testing/test_env.h"
#include "vornlink/base/exit_codes.h"
#include "vornlink/base/text_output.h"
#include "vornlink/cache/cache_command.h"
#include "vornlink/check/check_command.h"
#include "vornlink/status/status_facts.h"

namespace vornlink {
namespace {

class StatusTest : public testing::CommandTest {
 protected:
  StatusTest() {
    env_.env().set_unix_time(now_);
    testing::WriteBytes(env_.env().ModulePath(), "");
    testing::WriteBytes(
        env_.ModuleFile("xml"),
        "<KMR>\n<Log>\n<FileName>" + env_.ModuleFile("log") + "</FileName>\n</Log>\n</KMR>\n");
  }

  // A cache line: `status`, a Trid of `age` s ago, dispensed then or at `dispense` (YYYYMMDDhhmmss)
  std::string Line(const std::string& trans_no, const std::string& status, int64_t age,
                   const std::string& message = "", std::string dispense = "") {
    if (dispense.empty()) dispense = TridSecond(now_ - age);
    TransactionFields fields = testing::SampleTransaction(trans_no);
    fields[kDate] = dispense.substr(2, 6);
    fields[kTime] = dispense.substr(8, 6);
    return FormatCacheLine(fields, status, FormatTrid(TridSecond(now_ - age), 1), "0", message) +
           "\n";
  }

  int Status(const std::vector<std::string>& args = {}) {
    return Run(RunStatusCommand, env_.env().ModulePath(), args);
  }
  int Cache(const std::vector<std::string>& args) {
    return Run(RunCacheCommand, env_.env().ModulePath(), args);
  }
  int Check() { return Run(RunCheckCommand, env_.env().ModulePath(), {}); }
  void WriteCache(const std::string& text) {
    testing::WriteBytes(env_.ModuleFile("$$$"), testing::OnDisk(text));
  }

  testing::ScopedFakeEnv env_;
  const int64_t now_ = 1700000000;
};

TEST_F(StatusTest, ExitCodesForMonitoring) {
  // A folder without the driver's files is no site: never all well.
  std::remove(env_.env().ModulePath().c_str());
  EXPECT_TRUE(Gave(Status(), kStatusUnknown, {" is missing", "PROBLEM"}));
  testing::WriteBytes(env_.env().ModulePath(), "");
  EXPECT_TRUE(
      Gave(Status(), 0, {"(not there yet: the driver has written nothing)", "!oldest due"}));
  WriteCache(Line("1", "0", 20 * 60));
  EXPECT_TRUE(
      Gave(Status(), kStatusWarning, {"STALE: a due transaction has waited longer than 15"}));
  EXPECT_TRUE(
      Gave(Status({"--nagios"}), kStatusWarning,
           {"VORNLINK WARNING - STALE: a due", " | due=1;;;0 ", " oldest_due_age=1200s;900;;0 "}));
  EXPECT_EQ(Status({"--stale", "30"}), 0) << out_;
  WriteCache(Line("1", "7", 1));
  EXPECT_TRUE(Gave(Status(), kStatusCritical, {"stuck             1"}));
  for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--stale"},
                                                {"--stale", "x"},
                                                {"--json", "--nagios"},
                                                {"--output", "x.prom"},
                                                {"--json", "--output", env_.ModuleFile("$$$")}}) {
    EXPECT_EQ(Status(wrong), kStatusUnknown) << wrong.back();
  }
  EXPECT_EQ(testing::DiskLines(env_.ModuleFile("$$$")).size(), 1u);
#ifndef _WIN32
  // A delivery lock that cannot be had stops all delivery: before all else.
  std::filesystem::create_directory(env_.ModuleFile("$$$.delivery.lock"));
  EXPECT_TRUE(Gave(Status(), kStatusCritical,
                   {"delivery lock     cannot be taken: " + env_.ModuleFile("$$$.delivery.lock") +
                        ": Is a directory",
                    "NOT DELIVERING"}));
  EXPECT_TRUE(Gave(Check(), 1, {"the delivery lock cannot be taken ("}));
#endif
}

// A transaction the log names as unwritten but a cache line holds (its process ended before the
// closing entry) is not counted, and `cache add` does not add it a second time; a second failure
// of the same booking needs a line of its own.
TEST_F(StatusTest, ATransactionTheCacheHoldsIsNotUnwritten) {
  const std::string line = Line("1", "0", 5);
  WriteCache(line);
  CacheRecord record;
  ParseCacheLine(line.substr(0, line.size() - 1), &record);
  const std::string text = TransactionText(record.transaction());
  const std::string failed = UnwrittenEntry(UnwrittenEvent::kKept, text, "") + "\n";
  testing::WriteBytes(env_.ModuleFile("log"), testing::OnDisk("2023-11-14 22:00:00-*-" + failed));
  EXPECT_TRUE(Gave(Status(), kExitOk, {"unwritten         0"}));
  EXPECT_TRUE(Gave(Cache({"add", text, "--yes"}), kExitOk,
                   {"is in the cache already as Trid " + record.trid()}));
  EXPECT_EQ(testing::DiskLines(env_.ModuleFile("$$$")).size(), 1u);
  testing::WriteBytes(env_.ModuleFile("log"), testing::OnDisk("2023-11-14 22:00:00-*-" + failed +
                                                              "2023-11-14 22:01:00-*-" + failed));
  EXPECT_TRUE(
      Gave(Status(), kStatusCritical, {"unwritten         1", "  2023-11-14 22:01:00 " + text}));
}

// The module's version comes only from the driver's own entries that it was loaded, never from a
// DMS's reply that quotes one; JSON tells null where nothing tells it, a metric's label escapes its
// quote, and --output puts the metrics in the file's place whole.
TEST_F(StatusTest, TheVersionComesOnlyFromTheDriversOwnLoadedEntry) {
  EXPECT_TRUE(Gave(Status({"--json"}), kStatusOk,
                   {"\"module_version\": null", "\"error\": null", "!\"\""}));
  const std::string name = std::filesystem::path(env_.env().ModulePath()).filename().string();
  const std::string forged =
      "/x/" + name + " is loaded at [0x00000000] v[forged] logflags[] maxlines[1]";
  testing::WriteBytes(
      env_.ModuleFile("log"),
      testing::OnDisk("2023-11-14 22:00:00-.-" + env_.env().ModulePath() +
                      " is loaded at [0x00400000] v[2.0\"1] logflags[] maxlines[100]\n"
                      "2023-11-14 22:01:00-.-FWT: WorkOrder[1] --> Reply: c[0] t[" +
                      forged + "] --> SUCCESS\n2023-11-14 22:02:00-r-" + forged + "\n"));
  ASSERT_TRUE(Gave(Status({"--prometheus"}), kStatusOk, {",version=\"2.0\\\"1\"} 1\n"}));
  const std::string printed = out_, file = env_.dir().File("metrics.prom");
  testing::WriteBytes(file, "old");
  EXPECT_TRUE(Gave(Status({"--prometheus", "--output", file}), kStatusOk) && out_.empty()) << out_;
  EXPECT_EQ(testing::ReadBytes(file), testing::OnDisk(printed));
  std::filesystem::create_directory(env_.dir().File("folder"));
  EXPECT_TRUE(Gave(Status({"--json", "--output", env_.dir().File("folder")}), kStatusUnknown,
                   {"vornlink status: cannot write "}));
}

#ifndef _WIN32
// A delivery lock only this user may not open (the host's user's 0644 file) is a warning.
TEST_F(StatusTest, ADeliveryLockThisUserMayNotOpenIsOnlyAWarning) {
  struct Denied : CrossProcessMutex {
    bool Lock(std::string*) override { return false; }
    TryLockResult TryLock(std::string* error) override {
      *error = "lock: " + GetEnv()->ErrorText(static_cast<int>(std::errc::permission_denied));
      return TryLockResult::kUnavailable;
    }
    void Unlock() override {}
    bool RefusedToThisUser() const override { return true; }
  };
  struct DeniedEnv : EnvWrapper {
    using EnvWrapper::EnvWrapper;
    std::unique_ptr<CrossProcessMutex> NewNamedMutex(const std::string& name,
                                                     const std::string& file) override {
      const bool delivery = file.find(".delivery.lock") != std::string::npos;
      return delivery ? std::make_unique<Denied>() : EnvWrapper::NewNamedMutex(name, file);
    }
  } denied(&env_.env());
  testing::ScopedEnvOverride use_denied(&denied);
  testing::WriteBytes(env_.ModuleFile("$$$.delivery.lock"), "");
  EXPECT_TRUE(Gave(Status(), 0,
                   {"delivery lock     cannot be judged by this user (run as the host's user)"}));
}
#endif

// Ages count from the dispense, or from the Trid when older or the dispense names no moment; a line
// dated ahead (the clock set back) is stale at once. Cache list shows the same ages.
TEST_F(StatusTest, AgesCountFromTheDispenseOrTheOlderTrid) {
  const struct {
    std::string dispense;
    int64_t trid_age;
    const char* shown;  // by status
    const char* age;    // in cache list
  } kCases[] = {
      {TridSecond(now_ - 3 * 3600), 60, "waits 3 h 00 min since its dispense", "3 h 00 min"},
      {TridSecond(now_ - 300), 1200, "waits 20 min", "20 min"},
      {"20231399999999", 1200, "waits 20 min", "20 min"},
      {TridSecond(now_ + 7200), -3600, "is dated 1 h 00 min in the future", "ahead 1 h 00 min"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.dispense);
    WriteCache(Line("1", "2", c.trid_age, "", c.dispense));
    EXPECT_TRUE(Gave(Status(), kStatusWarning, {c.shown}));
    EXPECT_TRUE(Gave(Cache({"list"}), 0, {" " + Padded(c.age, 11) + " "}));
  }
}

// A line the worker takes up but never sends (a malformed Trid) and a Status it never takes up
// are stuck; an empty Status is new; Status 3 was delivered, Status 4 of unknown outcome. The
// three commands agree line by line; status names the oldest due line, the last outcome of each
// kind in the log (data/status_log.txt; data/status_report.txt), and since when the outcomes in a
// row up to the last found the DMS unreachable.
TEST_F(StatusTest, CheckCacheListAndStatusJudgeEachLineAlike) {
  WriteCache(FormatCacheLine(testing::SampleTransaction("1"), "0", "2023111422", "0", "") + "\n" +
             Line("2", "7", 6) + Line("3", "1", 5, "FWT: --> FAILED, really") +
             Line("4", "0", 125) + Line("5", "2", 3 * 3600) + Line("6", "", 2) + Line("7", "3", 1) +
             Line("8", "4", 1));
  testing::WriteBytes(
      env_.ModuleFile("log"),
      testing::OnDisk(testing::ReadBytes(VORNLINK_TOOLS_TEST_DATA "/status_log.txt")));
  const std::string counts =
      "2 due, 1 retry later, 1 parked, 2 stuck, 1 delivered, removal pending, 1 outcome unknown";
  Check();
  EXPECT_TRUE(Says("(8 lines: " + counts + ")")) << out_;
  ASSERT_TRUE(Gave(Cache({"list"}), 0, {": " + counts + "\n"}));
  const std::string listed = out_;  // the rows below are views into it
  const std::vector<std::string_view> rows = SplitLines(listed);
  const char* const kStates[] = {"stuck",       "stuck", "parked",    "due",
                                 "retry later", "due",   "delivered", "unknown"};
  ASSERT_EQ(rows.size(), 11u) << listed;
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(rows[i + 1].substr(25, 11), Padded(kStates[i], 11));
  EXPECT_EQ(rows[10],
            "the due lines wait: the DMS is unreachable since 2023-11-14 22:05:00 (TcpTransport: "
            "c[111] t[Connection refused]), as the log tells");

  EXPECT_TRUE(Gave(Status(), kStatusCritical,
                   testing::ReadTexts(VORNLINK_TOOLS_TEST_DATA, "status_report.txt")));
}

#ifndef _WIN32
// A log that another user could have redirected is a problem for both.
TEST_F(StatusTest, CheckAndStatusNameALogThatAPlantedLinkTookOver) {
  const std::string log = env_.ModuleFile("log");
  if (!testing::PlantForeignLink(env_.dir().File("elsewhere"), log)) GTEST_SKIP() << "needs root";
  const std::string refused = log + " is not written: " + kPlantedLinkRefused;
  EXPECT_TRUE(Gave(Check(), 1, {"PROBLEM: the log " + refused}));
  EXPECT_TRUE(Gave(Status(), kStatusCritical,
                   {"log               " + refused,
                    "verdict           PROBLEM: the driver writes no log entries"}));
}
#endif

}  // namespace
}  // namespace vornlink
