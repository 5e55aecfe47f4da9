// Following the driver's log across the cuts that keep it short.
#include "vornlink/log_follower.h"

#include <gtest/gtest.h>

#include "testing/test_env.h"

namespace vornlink {
namespace {

// Entries `from` to `to`, all in one second, as a busy log has them.
std::string Entries(int from, int to) {
  std::string text;
  for (int n = from; n <= to; ++n)
    text += "2026-12-07 10:00:00-.-entry " + std::to_string(n) + "\n";
  return text;
}

std::string Messages(const std::vector<CapturedEntry>& entries) {
  std::string text;
  for (const CapturedEntry& entry : entries) text += entry.message + ";";
  return text;
}

TEST(LogFollowerTest, EachEntryOnceAcrossAppendsAndCuts) {
  testing::ScopedFakeEnv env;
  env.env().set_unix_time(testing::LocalUnixTime(2026, 12, 7, 10, 0, 0));
  const std::string log = env.dir().File("Vornlink.log");
  testing::WriteBytes(log, Entries(1, 20));
  LogFollower follower(log);
  EXPECT_EQ(Messages(follower.TakeNew()), "");
  // An entry still being written waits for its line end.
  testing::WriteBytes(log, Entries(1, 22) + "2026-12-07 10:00:00-.-entry 2");
  EXPECT_EQ(Messages(follower.TakeNew()), "entry 21;entry 22;");
  // Cuts keep the newest lines: more, then fewer than were read last.
  testing::WriteBytes(log, Entries(18, 25));
  EXPECT_EQ(Messages(follower.TakeNew()), "entry 23;entry 24;entry 25;");
  testing::WriteBytes(log, Entries(24, 27));
  EXPECT_EQ(Messages(follower.TakeNew()), "entry 26;entry 27;");
  EXPECT_FALSE(follower.missed_lines());
  // A cut that took lines before they were read.
  testing::WriteBytes(log, Entries(30, 31));
  EXPECT_EQ(Messages(follower.TakeNew()), "entry 30;entry 31;");
  EXPECT_TRUE(follower.missed_lines());
}

// A cut that rewrote the line ends of a dump (CR LF as LF) still finds where reading stopped;
// one that kept nothing recognisable gives only entries stamped since the follower began.
TEST(LogFollowerTest, ACutNeverBringsBackEntriesWrittenBeforeTheStart) {
  testing::ScopedFakeEnv env;
  env.env().set_unix_time(testing::LocalUnixTime(2026, 12, 7, 10, 0, 0));
  const std::string log = env.dir().File("Vornlink.log");
  const std::string old = "2026-12-07 09:59:59-.-old\n";
  const std::string dump = "2026-12-07 10:00:00-d-Reply[\r\n<a/>\r\n]\n";
  testing::WriteBytes(log, old + Entries(1, 2));
  LogFollower follower(log);
  testing::WriteBytes(log, old + Entries(1, 2) + dump);
  EXPECT_EQ(Messages(follower.TakeNew()), "Reply[;");
  testing::WriteBytes(log,
                      Entries(2, 2) + "2026-12-07 10:00:00-d-Reply[\n<a/>\n]\n" + Entries(3, 3));
  EXPECT_EQ(Messages(follower.TakeNew()), "entry 3;");
  EXPECT_FALSE(follower.missed_lines());
  testing::WriteBytes(log, old + "changed\n" + Entries(4, 4));
  EXPECT_EQ(Messages(follower.TakeNew()), "entry 4;");
  EXPECT_TRUE(follower.missed_lines());
}

}  // namespace
}  // namespace vornlink
