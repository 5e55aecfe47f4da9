#include "base/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>

namespace vornlink {
namespace {

TEST(NumbersTest, LeadingNumbersReadLikeTheCRuntime) {
  for (auto [text, number] : {std::pair{"42", 42}, std::pair{"  -17abc", -17}, std::pair{"+5", 5},
                              std::pair{"99999999999999999999", 2147483647},
                              std::pair{"-99999999999999999999", -2147483647 - 1}}) {
    EXPECT_EQ(LeadingInt(text), number) << text;
  }
  // Beyond a double's range as the C runtime reads it: infinity, not zero
  // (which the zero-quantity gate would drop), and zero below it.
  using Case = std::pair<std::string, double>;
  for (auto [text, number] :
       {Case{" -0.5kg", -0.5}, Case{".25", 0.25}, Case{"3.", 3.0}, Case{"1e3x", 1000.0},
        Case{"2e", 2.0}, Case{"1,5", 1.0}, Case{"0.00001e310", 1e305}, Case{"1e400", HUGE_VAL},
        Case{"-1" + std::string(400, '0'), -HUGE_VAL},
        Case{"0.000" + std::string(400, '0') + "7e90", 7e-314}, Case{"1e-400", 0.0}}) {
    EXPECT_EQ(LeadingDouble(text), number) << text;
  }
  // No digits give 0; only plain decimal numbers count.
  for (const char* text : {"yes", "", "- 5", ".", "0x10", "inf"}) {
    EXPECT_EQ(LeadingInt(text), 0) << text;
    EXPECT_EQ(LeadingDouble(text), 0.0) << text;
  }
}

}  // namespace
}  // namespace vornlink
