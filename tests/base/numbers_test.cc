#include "base/numbers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "testing/case_file.h"

namespace vornlink {
namespace {

// Each case of data/numbers_cases.txt: "@ int|double | text | number".
TEST(NumbersTest, LeadingNumbersReadLikeTheCRuntime) {
  const auto cases = testing::ReadCases(VORNLINK_TEST_DATA_DIR, "numbers_cases.txt");
  EXPECT_GT(cases.size(), 25u);
  for (const testing::TextCase& c : cases) {
    const std::string& text = c.fields.at(1);
    if (c.fields.at(0) == "int") {
      EXPECT_EQ(LeadingInt(text), std::stoll(c.fields.at(2))) << c.where;
    } else {
      EXPECT_EQ(LeadingDouble(text), std::strtod(c.fields.at(2).c_str(), nullptr)) << c.where;
    }
  }
}

}  // namespace
}  // namespace vornlink
