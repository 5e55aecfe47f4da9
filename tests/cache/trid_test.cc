#include "cache/trid.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cache/cache_record.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

std::string LineWithTrid(const std::string& trid) {
  return "1,2,3,4,5,6,7,8,9,10,11,12,0," + trid + ",0,\n";
}

TEST(TridTest, TheClocksGiveTheTridOrTheNextFreeValue) {
  testing::ScopedFakeEnv env;
  std::string full_second;
  for (int sub = 0; sub < 1000; ++sub) {
    full_second += LineWithTrid(FormatTrid("20140307090502", sub));
  }
  const struct {
    uint32_t ticks;
    std::string cache, trid;
  } cases[] = {
      // The local date and time, "0", the tick count's milliseconds.
      {123456789, "", "201403070905020789"},
      {4000000007u, "", "201403070905020007"},
      // A taken value gives the next free one of that second, round the end.
      {789, LineWithTrid("201403070905020789") + LineWithTrid("201403070905020790"),
       "201403070905020791"},
      {999, LineWithTrid("201403070905020999"), "201403070905020000"},
      // Only the Trid field counts, and only values of this second.
      {789,
       "201403070905020789,2,3,4,5,6,7,8,9,10,11,12,0,201403070905010789,0,201403070905020789\n",
       "201403070905020789"},
      // A line of fourteen fields with a CR LF line end still holds its Trid.
      {789, "1,2,3,4,5,6,7,8,9,10,11,12,0,201403070905020789\r\n", "201403070905020790"},
      // Every value of the second taken: one of the next, after waiting.
      {789, full_second, "201403070905030789"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.trid);
    env.env().set_unix_time(testing::LocalUnixTime(2014, 3, 7, 9, 5, 2));
    env.env().set_tick_count(test.ticks);
    EXPECT_EQ(
        MakeUniqueTrid([&](std::string_view second) { return TakenTridsIn(test.cache, second); }),
        test.trid);
    if (test.cache.empty()) EXPECT_EQ(MakeTrid(), test.trid);
  }
  EXPECT_FALSE(env.env().slept().empty());
  // The search cuts lines as the reader does: each once, without CR LF.
  EXPECT_EQ(LinesContaining("x1,a,x1\r\nb\nx1", "x1"),
            (std::vector<std::string_view>{"x1,a,x1", "x1"}));
}

}  // namespace
}  // namespace vornlink
