// `vornlink status` figures and exit codes against a known cache and log.
#include "vornlink/status_command.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cache/cache_record.h"
#include "cache/trid.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

class StatusTest : public ::testing::Test {
 protected:
  StatusTest() {
    now_ = 1700000000;
    env_.env().set_unix_time(now_);
    testing::WriteBytes(
        env_.ModuleFile("xml"),
        "<KMR>\n<Log>\n<FileName>" + env_.ModuleFile("log") + "</FileName>\n</Log>\n</KMR>\n");
  }

  // A cache line with `status`, made `age` seconds ago.
  std::string Line(const std::string& trans_no, const std::string& status, int64_t age,
                   const std::string& message = std::string()) {
    TransactionFields fields = {trans_no, "123456.A", "240607", "081503", "7",   "F04",
                                "12",     "3",        "Oil",    "OIL-1",  "1.5", "0"};
    return FormatCacheLine(fields, status, FormatTrid(TridSecond(now_ - age), 1), "0", message) +
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
  int64_t now_;
  std::string out_;
};

TEST_F(StatusTest, CountsTheOldestDueAndTheLastOutcomesInTheLog) {
  testing::WriteBytes(
      env_.ModuleFile("$$$"),
      testing::OnDisk(Line("1", "0", 125) + Line("2", "2", 3 * 3600) +
                      Line("3", "1", 60, "FWT: --> FAILED, really") + Line("4", "0", 5)));
  testing::WriteBytes(
      env_.ModuleFile("log"),
      testing::OnDisk(
          "2023-11-14 22:00:00-.-FWT: WorkOrder[1] LineCode[A] --> Reply: c[0] t[ok] --> "
          "SUCCESS\n"
          "2023-11-14 22:01:00-*-FWT: WorkOrder[2] LineCode[A] --> TcpTransport: "
          "c[SOCKET_ERROR]--> FAILED --> FWT_NEEDS_ATTENTION\n"
          "2023-11-14 22:02:00-.-FWT: WorkOrder[3] LineCode[A] --> Reply: c[0] t[fine] --> "
          "SUCCESS\n"
          "2023-11-14 22:03:00-.-FWT: WorkOrder[4] LineCode[A] --> Reply: c[2] t[locked] --> "
          "FWT_RETRY_LATER\n"
          "2023-11-14 22:04:00-r-             Reply from DMS[\n"
          "a continuation line --> SUCCESS\n"));
  EXPECT_EQ(Status(), kExitParked) << out_;
  EXPECT_TRUE(Says("due               2 new, 1 to retry")) << out_;
  EXPECT_TRUE(Says("oldest due        waits 3 h 00 min: Trid ")) << out_;
  EXPECT_TRUE(Says(", TransNo 2\n")) << out_;
  EXPECT_TRUE(Says("parked            1\n")) << out_;
  EXPECT_TRUE(Says("stuck             0")) << out_;
  EXPECT_TRUE(Says("last delivery     2023-11-14 22:02:00")) << out_;
  EXPECT_TRUE(Says("t[fine] --> SUCCESS")) << out_;
  EXPECT_TRUE(Says("last retry later  2023-11-14 22:03:00")) << out_;
  EXPECT_TRUE(Says("last failure      2023-11-14 22:01:00")) << out_;
  EXPECT_TRUE(Says("verdict           ATTENTION: 1 transaction(s) wait for a person")) << out_;
}

TEST_F(StatusTest, ExitCodesForMonitoring) {
  // Nothing at all: all well.
  EXPECT_EQ(Status(), 0) << out_;
  EXPECT_TRUE(Says("due               0 new, 0 to retry")) << out_;
  EXPECT_FALSE(Says("oldest due")) << out_;
  EXPECT_TRUE(Says("(not there yet: the driver has written nothing)")) << out_;
  // A due line older than the limit: the worker does not deliver.
  testing::WriteBytes(env_.ModuleFile("$$$"), testing::OnDisk(Line("1", "0", 20 * 60)));
  EXPECT_EQ(Status(), kExitStale) << out_;
  EXPECT_TRUE(Says("STALE: a due transaction has waited longer than 15 min")) << out_;
  EXPECT_EQ(Status({"--stale", "30"}), 0) << out_;
  // A line the worker never sends.
  testing::WriteBytes(env_.ModuleFile("$$$"), testing::OnDisk(Line("1", "7", 1)));
  EXPECT_EQ(Status(), kExitParked) << out_;
  EXPECT_TRUE(Says("stuck             1")) << out_;
  EXPECT_EQ(Status({"--stale"}), 2);
  EXPECT_EQ(Status({"--stale", "x"}), 2);
}

}  // namespace
}  // namespace vornlink
