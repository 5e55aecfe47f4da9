#include "vornlink/trace/trace_command.h"

#include <gtest/gtest.h>

#include "cache/cache_record.h"
#include "command_test.h"
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
  int Trace(const std::vector<std::string>& args) {
    return Run(RunTraceCommand, env_.env().ModulePath(), args);
  }

  testing::ScopedFakeEnv env_;
};

// Three stories in one log (data/trace_log.txt): 4711 delivered after a retry, its Trid changed by
// the move; 4712 parked, then released by an operator; 4713 handed over before the log's start,
// its last exchange cut off without an outcome, before another's. A TransNo may hold brackets.
TEST_F(TraceTest, FollowsEachTransactionThroughItsTrids) {
  testing::WriteBytes(env_.env().ModulePath(), "");
  WriteSettings("c");
  testing::WriteBytes(env_.ModuleFile("log"),
                      testing::ReadBytes(VORNLINK_TOOLS_TEST_DATA "/trace_log.txt"));
  testing::WriteBytes(
      env_.ModuleFile("$$$"),
      testing::OnDisk(
          FormatCacheLine(testing::SampleTransaction("4712"), "0", "202612081000400001", "0", "") +
          "\n" +
          FormatCacheLine(testing::SampleTransaction("4713"), "2", "202612081000000001", "0", "") +
          "\n"));

  EXPECT_TRUE(Gave(
      Trace({"4711"}), 0,
      {"now       delivered: the DMS booked it (Reply: c[0]",
       "attempt 1: Trid[202612081000010001] BookingKey[k4711] sent -> retry later at "
       "2026-12-08 10:00:11: Reply: c[9] t[busy]",
       "attempt 2: Trid[202612081000110001]", "removed from the cache", "!attempt 3", "!note"}));
  EXPECT_TRUE(
      Gave(Trace({"4711", "--json"}), 0, {"\"outcome\": \"retry_later\"", "\"delivered\": true"}));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"4712"}, std::vector<std::string>{"4712", "WO1234-02"}}) {
    EXPECT_TRUE(Gave(Trace(args), 0,
                     {"now       cache line 1, Trid 202612081000400001, due",
                      "handed over: cache line added as Trid[202612081000020001]",
                      "-> failed, parked for a person",
                      "10:00:40 released by an operator (vornlink cache retry): "
                      "Trid[202612081000130001] due again as Trid[202612081000400001]"}));
  }
  EXPECT_TRUE(
      Gave(Trace({"4713"}), 0,
           {"line 2, Trid 202612081000000001, retry later", "BookingKey[k4713] sent\n", "!refused",
            "begins at 2026-12-08 10:00:00, so it was cut past this transaction's start"}));
  EXPECT_TRUE(Gave(Trace({"4712", "WO9"}), 1, {"is neither in the cache nor in the log"}));
  EXPECT_EQ(Trace({}), 2);
  WriteSettings("");
  EXPECT_TRUE(Gave(Trace({"4711"}), 0, {"leave out the cache's entries (flag c)", "!cut past"}));
}

}  // namespace
}  // namespace vornlink
