#include "exchange/job_number.h"

#include <gtest/gtest.h>

#include <string>

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
  const struct {
    const char* job_no;
    const char* wo_split;
    std::string expected;
  } kCases[] = {
      {"123456.A", "6", "123456|A"},
      // Only exactly "0" keeps the whole job number.
      {"a.b.c", "0", "a.b.c|NA"},
      {".A", "00", "|A"},
      // The work order must have the width; an empty setting is width 0.
      {"12345.A", "6", "Internal: WorkOrder[12345] c[WrongLength] t[Should be 6 char wide]"},
      {".A", "", "|A"},
      {".A", "-1", "Internal: WorkOrder[] c[WrongLength] t[Should be -1 char wide]"},
      // Anything but one '.'.
      {"123456", "6", "WoJn[123456] t[WorkOrder/LineCode should have 'XXXXXX.YY' format]"},
      {"123.456.A", "6", "WoJn[123.456.A] t[WorkOrder/LineCode should have 'XXXXXX.YY' format]"},
      {"", "3", "WoJn[] t[WorkOrder/LineCode should have 'XXX.YY' format]"},
      {"100%s", "", "WoJn[100%s] t[WorkOrder/LineCode should have '.YY' format]"},
      {"1", "-4", "WoJn[1] t[WorkOrder/LineCode should have '.YY' format]"},
      // The pattern is cut, so an absurd width cannot exhaust memory.
      {"1", "2000000000",
       "WoJn[1] t[WorkOrder/LineCode should have '" + std::string(kMaxPatternWidth, 'X') +
           ".YY' format]"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.job_no) + " / " + c.wo_split);
    EXPECT_EQ(Split(c.job_no, c.wo_split), c.expected);
  }
}

}  // namespace
}  // namespace vornlink
