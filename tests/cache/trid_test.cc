#include "cache/trid.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "testing/test_env.h"

namespace vornlink {
namespace {

// 2014-03-07 09:05:02 in the machine's own zone, whatever that is.
int64_t LocalMoment() {
  std::tm local{};
  local.tm_year = 2014 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 7;
  local.tm_hour = 9;
  local.tm_min = 5;
  local.tm_sec = 2;
  local.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&local));
}

// A cache line that carries `trid` as its Trid.
std::string LineWithTrid(const std::string& trid) {
  return "1,2,3,4,5,6,7,8,9,10,11,12,0," + trid + ",0,\n";
}

class TridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.env().set_unix_time(LocalMoment());
    env_.env().set_tick_count(123456789);
  }

  testing::ScopedFakeEnv env_;
};

TEST_F(TridTest, LocalDateTimeZeroAndTheTickCountsMilliseconds) {
  EXPECT_EQ(MakeTrid(), "201403070905020789");
  EXPECT_EQ(MakeUniqueTrid(""), "201403070905020789");
  env_.env().set_tick_count(4000000007u);
  EXPECT_EQ(MakeTrid(), "201403070905020007");
}

TEST_F(TridTest, TakenValueGivesTheNextFreeOneOfThatSecond) {
  std::string cache = LineWithTrid("201403070905020789") + LineWithTrid("201403070905020790");
  EXPECT_EQ(MakeUniqueTrid(cache), "201403070905020791");

  // The search wraps round within the second.
  env_.env().set_tick_count(999);
  EXPECT_EQ(MakeUniqueTrid(LineWithTrid("201403070905020999")), "201403070905020000");

  // Only the Trid field counts, and only values of this second.
  env_.env().set_tick_count(789);
  std::string elsewhere =
      "201403070905020789,2,3,4,5,6,7,8,9,10,11,12,0,201403070905010789,0,"
      "201403070905020789\n";
  EXPECT_EQ(MakeUniqueTrid(elsewhere), "201403070905020789");
  // A line of fourteen fields with a CR LF line end still holds its Trid.
  EXPECT_EQ(MakeUniqueTrid("1,2,3,4,5,6,7,8,9,10,11,12,0,201403070905020789\r\n"),
            "201403070905020790");
}

TEST_F(TridTest, FullSecondGivesATridOfALaterSecond) {
  std::string cache;
  for (int sub = 0; sub < 1000; ++sub) cache += LineWithTrid(FormatTrid("20140307090502", sub));
  std::string trid = MakeUniqueTrid(cache);
  EXPECT_TRUE(trid == "201403070905030789") << trid;
  EXPECT_GT(env_.env().sleeps(), 0u);
}

}  // namespace
}  // namespace vornlink
