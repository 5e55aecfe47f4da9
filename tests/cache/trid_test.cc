#include "cache/trid.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cache/cache_record.h"
#include "testing/case_file.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

std::string LineWithTrid(const std::string& trid) {
  return "1,2,3,4,5,6,7,8,9,10,11,12,0," + trid + ",0,\n";
}

TEST(TridTest, TheClocksGiveTheTridOrTheNextFreeValue) {
  testing::ScopedFakeEnv env;
  std::vector<testing::TextCase> cases =
      testing::ReadCases(VORNLINK_TEST_DATA_DIR, "trid_cases.txt");
  ASSERT_EQ(cases.size(), 6u);
  // Every value of the second taken: one of the next, after waiting.
  cases.push_back({{"789", "201403070905030789"}, "", "every value of the second taken"});
  for (int sub = 0; sub < 1000; ++sub)
    cases.back().body += LineWithTrid(FormatTrid("20140307090502", sub));
  for (const testing::TextCase& test : cases) {
    SCOPED_TRACE(test.where);
    env.env().set_unix_time(testing::LocalUnixTime(2014, 3, 7, 9, 5, 2));
    env.env().set_tick_count(static_cast<uint32_t>(std::stoul(test.fields[0])));
    EXPECT_EQ(
        MakeUniqueTrid([&](std::string_view second) { return TakenTridsIn(test.body, second); }),
        test.fields[1]);
    if (test.body.empty()) {
      EXPECT_EQ(MakeTrid(), test.fields[1]);
    }
  }
  EXPECT_FALSE(env.env().slept().empty());
  // The search cuts lines as the reader does: each once, without CR LF.
  EXPECT_EQ(LinesContaining("x1,a,x1\r\nb\nx1", "x1"),
            (std::vector<std::string_view>{"x1,a,x1", "x1"}));
}

}  // namespace
}  // namespace vornlink
