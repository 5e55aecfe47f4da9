#include "exchange/job_number.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/case_file.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

// "work order|line code", or the failure text.
std::string Split(const std::string& job_no, const std::string& wo_split) {
  return testing::TextOrFailure([&] {
    JobParts parts = WorkOrderAndLineCode(job_no, wo_split);
    return parts.work_order + "|" + parts.line_code;
  });
}

TEST(JobNumberTest, SplitsAtTheOneDotAndChecksTheWorkOrderWidth) {
  const auto cases = testing::ReadCases(VORNLINK_TEST_DATA_DIR, "job_number_cases.txt");
  EXPECT_GT(cases.size(), 10u);
  for (const testing::TextCase& c : cases)
    EXPECT_EQ(Split(c.fields.at(0), c.fields.at(1)), c.fields.at(2)) << c.where;
  // The pattern is cut, so an absurd width cannot exhaust memory.
  EXPECT_EQ(Split("1", "2000000000"), "WoJn[1] t[WorkOrder/LineCode should have '" +
                                          std::string(kMaxPatternWidth, 'X') + ".YY' format]");
}

}  // namespace
}  // namespace vornlink
