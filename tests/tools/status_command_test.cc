#include "vornlink/status_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cache/cache_record.h"
#include "cache/trid.h"
#include "settings/text_lines.h"
#include "testing/test_env.h"
#include "vornlink/cache_command.h"
#include "vornlink/check_command.h"
#include "vornlink/text_output.h"

namespace vornlink {
namespace {

class StatusTest : public ::testing::Test {
 protected:
  StatusTest() {
    env_.env().set_unix_time(now_);
    testing::WriteBytes(
        env_.ModuleFile("xml"),
        "<KMR>\n<Log>\n<FileName>" + env_.ModuleFile("log") + "</FileName>\n</Log>\n</KMR>\n");
  }

  // A cache line with `status`, made `age` seconds ago.
  std::string Line(const std::string& trans_no, const std::string& status, int64_t age,
                   const std::string& message = std::string()) {
    return FormatCacheLine(testing::SampleTransaction(trans_no), status,
                           FormatTrid(TridSecond(now_ - age), 1), "0", message) +
           "\n";
  }

  int Status(const std::vector<std::string>& args = {}) {
    std::ostringstream out, err;
    int status = RunStatusCommand(env_.env().ModulePath(), args, out, err);
    out_ = out.str() + err.str();
    return status;
  }

  bool Says(const std::string& text) const { return out_.find(text) != std::string::npos; }

  testing::ScopedFakeEnv env_;
  const int64_t now_ = 1700000000;
  std::string out_;
};

TEST_F(StatusTest, CountsTheOldestDueAndTheLastOutcomesInTheLog) {
  testing::WriteBytes(
      env_.ModuleFile("$$$"),
      testing::OnDisk(Line("1", "0", 125) + Line("2", "2", 3 * 3600) +
                      Line("3", "1", 60, "FWT: --> FAILED, really") + Line("4", "0", 5)));
  testing::WriteBytes(
      env_.ModuleFile("log"),
      testing::OnDisk("2023-11-14 22:00:00-.-FWT: WorkOrder[1] --> Reply: c[0] t[ok] --> SUCCESS\n"
                      "2023-11-14 22:01:00-*-FWT: WorkOrder[2] --> FAILED --> FWT_NEEDS_ATTENTION\n"
                      "2023-11-14 22:02:00-.-FWT: WorkOrder[3] --> Reply: t[fine] --> SUCCESS\n"
                      "2023-11-14 22:03:00-.-FWT: WorkOrder[4] --> FWT_RETRY_LATER\n"
                      "2023-11-14 22:04:00-r-             Reply from DMS[\n"
                      "a continuation line --> SUCCESS\n"));
  EXPECT_EQ(Status(), kExitParked) << out_;
  EXPECT_EQ(
      testing::Missing(
          out_, {"due               2 new, 1 to retry", "oldest due        waits 3 h 00 min: Trid ",
                 ", TransNo 2\n", "parked            1\n", "stuck             0",
                 "last delivery     2023-11-14 22:02:00", "t[fine] --> SUCCESS",
                 "last retry later  2023-11-14 22:03:00", "last failure      2023-11-14 22:01:00",
                 "verdict           ATTENTION: 1 transaction(s) wait"}),
      "")
      << out_;
}

TEST_F(StatusTest, ExitCodesForMonitoring) {
  EXPECT_TRUE(Status() == 0 && Says("(not there yet: the driver has written nothing)")) << out_;
  EXPECT_FALSE(Says("oldest due")) << out_;
  testing::WriteBytes(env_.ModuleFile("$$$"), testing::OnDisk(Line("1", "0", 20 * 60)));
  EXPECT_TRUE(Status() == kExitStale && Says("STALE: a due transaction has waited longer than 15"))
      << out_;
  EXPECT_EQ(Status({"--stale", "30"}), 0) << out_;
  testing::WriteBytes(env_.ModuleFile("$$$"), testing::OnDisk(Line("1", "7", 1)));
  EXPECT_TRUE(Status() == kExitParked && Says("stuck             1")) << out_;
  EXPECT_EQ(Status({"--stale"}), 2);
  EXPECT_EQ(Status({"--stale", "x"}), 2);
#ifndef _WIN32
  // A delivery lock that cannot be had stops all delivery: before all else.
  std::filesystem::create_directory(env_.ModuleFile("$$$.delivery.lock"));
  EXPECT_TRUE(Status() == kExitNoDelivery &&
              Says("delivery lock     cannot be taken: " + env_.ModuleFile("$$$.delivery.lock") +
                   ": Is a directory") &&
              Says("NOT DELIVERING"))
      << out_;
  std::ostringstream check, err;
  EXPECT_EQ(RunCheckCommand(env_.env().ModulePath(), {}, check, err), 1);
  EXPECT_NE(check.str().find("the delivery lock cannot be taken ("), std::string::npos)
      << check.str();
#endif
}

}  // namespace
// A line the worker takes up but never sends (a malformed Trid) and a Status it never
// takes up are stuck; an empty Status is new; Status 3 was delivered. The three
// commands agree line by line.
TEST_F(StatusTest, CheckCacheListAndStatusJudgeEachLineAlike) {
  testing::WriteBytes(
      env_.ModuleFile("$$$"),
      testing::OnDisk(FormatCacheLine(testing::SampleTransaction("1"), "0", "2023111422", "0", "") +
                      "\n" + Line("2", "7", 6) + Line("3", "1", 5) + Line("4", "0", 4) +
                      Line("5", "2", 3) + Line("6", "", 2) + Line("7", "3", 1)));
  const std::string counts =
      "2 due, 1 retry later, 1 parked, 2 stuck, 1 delivered, removal pending";
  std::ostringstream check, list, err;
  RunCheckCommand(env_.env().ModulePath(), {}, check, err);
  EXPECT_NE(check.str().find("(7 lines: " + counts + ")"), std::string::npos) << check.str();

  ASSERT_EQ(RunCacheCommand(env_.env().ModulePath(), {"list"}, list, err), 0) << err.str();
  EXPECT_NE(list.str().find(": " + counts + "\n"), std::string::npos) << list.str();
  const std::vector<std::string_view> rows = SplitLines(list.str());
  const char* const kStates[] = {"stuck",       "stuck", "parked",   "due",
                                 "retry later", "due",   "delivered"};
  ASSERT_EQ(rows.size(), 9u) << list.str();
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(rows[i + 1].substr(25, 11), Padded(kStates[i], 11));

  EXPECT_EQ(Status(), kExitParked) << out_;
  EXPECT_EQ(testing::Missing(out_, {"due               2 new, 1 to retry", "parked            1\n",
                                    "stuck             2 ", "delivered         1 (booked"}),
            "")
      << out_;
}

}  // namespace vornlink
