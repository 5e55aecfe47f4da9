#include "vornlink/trace/trace_command.h"

#include <gtest/gtest.h>

#include "cache/cache_record.h"
#include "command_test.h"
#include "delivery/cache_worker.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

class TraceTest : public testing::CommandTest {
 protected:
  void WriteSettings(const std::string& flags) {
    testing::WriteBytes(env_.ModuleFile("xml"),
                        "<KMR>\n<Log>\n<FileName>" + env_.ModuleFile("log") +
                            "</FileName>\n<Flags>" + flags + "</Flags>\n</Log>\n</KMR>\n");
  }
  static std::string Sending(const std::string& trans_no, const std::string& trid) {
    return ".-" + SendingLogEntry({trans_no, "WO1234-02", trid, "k" + trans_no});
  }
  int Trace(const std::vector<std::string>& args) {
    return Run(RunTraceCommand, env_.env().ModulePath(), args);
  }

  testing::ScopedFakeEnv env_;
};

// Three stories in one log: 4711 delivered after a retry, its Trid changed by the move; 4712
// parked, then released by an operator; 4713 handed over before the log's start, its last
// exchange cut off without an outcome, before another transaction's. A TransNo may hold brackets.
TEST_F(TraceTest, FollowsEachTransactionThroughItsTrids) {
  testing::WriteBytes(env_.env().ModulePath(), "");
  WriteSettings("c");
  const std::string head = "2026-12-08 10:00:";
  testing::WriteBytes(
      env_.ModuleFile("log"),
      head + "00-" + Sending("4713", "202612080950000001") + "\n" + head +
          "01-c-KMRCacheTransaction: Add transaction[4711] to cache file with "
          "Trid[202612081000010001] -> SUCCESS\n" +
          head +
          "02-c-KMRCacheTransaction: Add transaction[4712] to cache file with "
          "Trid[202612081000020001] -> SUCCESS\n" +
          head + "10-" + Sending("4711", "202612081000010001") + "\n" + head +
          "11-.-FWT: WorkOrder[WO1] LineCode[1] --> Reply: c[9] t[busy] --> FWT_RETRY_LATER\n" +
          head + "12-" + Sending("4712", "202612081000020001") + "\n" + head +
          "13-*-FWT: WorkOrder[WO1] LineCode[2] --> Reply: c[5] t[no job] --> FAILED --> "
          "FWT_NEEDS_ATTENTION\n" +
          head + "20-" + Sending("9999", "202612081000200001") + "\n" + head +
          "21-*-FWT: WorkOrder[WO9] LineCode[1] --> TcpTransport: c[111] t[refused] --> DMS "
          "UNREACHABLE --> FWT_RETRY_LATER\n" +
          head + "30-" + Sending("4711", "202612081000110001") + "\n" + head +
          "31-.-FWT: WorkOrder[WO1] LineCode[1] --> Reply: c[0] t[OK] --> SUCCESS\n" + head +
          "31-c-KMRCacheTransaction: Delete Trid[202612081000110001] from cache file -> "
          "SUCCESS\n" +
          head +
          "40-.-vornlink cache: Trid[202612081000130001] TransNo[4712] released by an "
          "operator -> due again as Trid[202612081000400001]\n" +
          head + "50-" + Sending("4711] JobNo[WO1234-02", "202612081000500001") + "\n");
  testing::WriteBytes(
      env_.ModuleFile("$$$"),
      testing::OnDisk(
          FormatCacheLine(testing::SampleTransaction("4712"), "0", "202612081000400001", "0", "") +
          "\n" +
          FormatCacheLine(testing::SampleTransaction("4713"), "2", "202612081000000001", "0", "") +
          "\n"));

  EXPECT_TRUE(Trace({"4711"}) == 0 && Says("now       delivered: the DMS booked it (Reply: c[0]") &&
              Says("attempt 1: Trid[202612081000010001] BookingKey[k4711] sent -> retry later at "
                   "2026-12-08 10:00:11: Reply: c[9] t[busy]") &&
              Says("attempt 2: Trid[202612081000110001]") && Says("removed from the cache") &&
              !Says("attempt 3") && !Says("note"))
      << out_;
  EXPECT_TRUE(Trace({"4711", "--json"}) == 0 && Says("\"outcome\": \"retry_later\"") &&
              Says("\"delivered\": true"))
      << out_;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"4712"}, std::vector<std::string>{"4712", "WO1234-02"}}) {
    EXPECT_TRUE(Trace(args) == 0 && Says("now       cache line 1, Trid 202612081000400001, due") &&
                Says("handed over: cache line added as Trid[202612081000020001]") &&
                Says("-> failed, parked for a person") &&
                Says("10:00:40 released by an operator (vornlink cache retry): "
                     "Trid[202612081000130001] due again as Trid[202612081000400001]"))
        << out_;
  }
  EXPECT_TRUE(Trace({"4713"}) == 0 && Says("line 2, Trid 202612081000000001, retry later") &&
              Says("BookingKey[k4713] sent\n") && !Says("refused") &&
              Says("begins at 2026-12-08 10:00:00, so it was cut past this transaction's start"))
      << out_;
  EXPECT_TRUE(Trace({"4712", "WO9"}) == 1 && Says("is neither in the cache nor in the log"))
      << out_;
  EXPECT_EQ(Trace({}), 2);
  WriteSettings("");
  EXPECT_TRUE(Trace({"4711"}) == 0 && Says("leave out the cache's entries (flag c)") &&
              !Says("cut past"))
      << out_;
}

}  // namespace
}  // namespace vornlink
