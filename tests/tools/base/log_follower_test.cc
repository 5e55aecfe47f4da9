// Following the driver's log across the cuts that keep it short.
#include "vornlink/base/log_follower.h"

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
  // A cut that wrote a dump's CR LF as LF; one that kept nothing known, nor older than counts.
  testing::WriteBytes(log, Entries(30, 31) + "2026-12-07 10:00:00-d-Reply[\r\n<a/>\r\n]\n");
  EXPECT_EQ(Messages(follower.TakeNew()), "Reply[;");
  testing::WriteBytes(
      log, Entries(31, 31) + "2026-12-07 10:00:00-d-Reply[\n<a/>\n]\n" + Entries(32, 32));
  EXPECT_EQ(Messages(follower.TakeNew()), "entry 32;");
  testing::WriteBytes(log, "2026-12-07 09:59:59-.-old\n" + Entries(33, 33));
  EXPECT_EQ(Messages(follower.TakeNew()), "entry 33;");
}

}  // namespace
}  // namespace vornlink
