#include "exchange/job_number.h"

#include <gtest/gtest.h>

#include <string>

#include "exchange/failure_text.h"

namespace vornlink {
namespace {

// "work order|line code", or the failure text.
std::string Split(const std::string& job_no, const std::string& wo_split) {
  try {
    JobParts parts = WorkOrderAndLineCode(job_no, wo_split);
    return parts.work_order + "|" + parts.line_code;
  } catch (const FailureText& failure) {
    return failure.text();
  }
}

TEST(JobNumberTest, SplitsAtTheDotWhenTheWorkOrderHasItsWidth) {
  EXPECT_EQ(Split("123456.A", "6"), "123456|A");
  EXPECT_EQ(Split("123456.AB", "6"), "123456|AB");
  EXPECT_EQ(Split("123456.", "6"), "123456|");
  EXPECT_EQ(Split("123456.A long line code", "6"), "123456|A long line code");
  EXPECT_EQ(Split("12.3", " 2 digits"), "12|3");
  EXPECT_EQ(Split("ABCDEFGHIJ.1", "10"), "ABCDEFGHIJ|1");
}

TEST(JobNumberTest, WorkOrderOfAnotherWidthFails) {
  EXPECT_EQ(Split("12345.A", "6"),
            "Internal: WorkOrder[12345] c[WrongLength] t[Should be 6 char wide]");
  EXPECT_EQ(Split("1234567.A", "6"),
            "Internal: WorkOrder[1234567] c[WrongLength] t[Should be 6 char wide]");
  // An empty setting is width 0: only an empty work order passes.
  EXPECT_EQ(Split("123456.A", ""),
            "Internal: WorkOrder[123456] c[WrongLength] t[Should be 0 char wide]");
  EXPECT_EQ(Split(".A", ""), "|A");
  EXPECT_EQ(Split("1.A", "-1"), "Internal: WorkOrder[1] c[WrongLength] t[Should be -1 char wide]");
  EXPECT_EQ(Split(".A", "-1"), "Internal: WorkOrder[] c[WrongLength] t[Should be -1 char wide]");
}

TEST(JobNumberTest, AnythingButOneDotFails) {
  EXPECT_EQ(Split("123456", "6"),
            "WoJn[123456] t[WorkOrder/LineCode should have 'XXXXXX.YY' format]");
  EXPECT_EQ(Split("123.456.A", "6"),
            "WoJn[123.456.A] t[WorkOrder/LineCode should have 'XXXXXX.YY' format]");
  EXPECT_EQ(Split("", "3"), "WoJn[] t[WorkOrder/LineCode should have 'XXX.YY' format]");
  EXPECT_EQ(Split("100%s", ""), "WoJn[100%s] t[WorkOrder/LineCode should have '.YY' format]");
  EXPECT_EQ(Split("1", "-4"), "WoJn[1] t[WorkOrder/LineCode should have '.YY' format]");
}

TEST(JobNumberTest, AbsurdWidthDoesNotBlowUpTheFailureText) {
  std::string text = Split("1", "2000000000");
  EXPECT_EQ(text.size(),
            std::string("WoJn[1] t[WorkOrder/LineCode should have '.YY' format]").size() +
                kMaxPatternWidth);
  EXPECT_EQ(Split("1.2", "99999999999"),
            "Internal: WorkOrder[1] c[WrongLength] t[Should be 2147483647 char wide]");
}

TEST(JobNumberTest, SwitchZeroKeepsTheWholeJobNumber) {
  EXPECT_EQ(Split("123456.01", "0"), "123456.01|NA");
  EXPECT_EQ(Split("", "0"), "|NA");
  EXPECT_EQ(Split("a.b.c", "0"), "a.b.c|NA");
  // Only exactly "0" switches the split off.
  EXPECT_EQ(Split(".A", "00"), "|A");
  EXPECT_EQ(Split("1.A", "0 "), "Internal: WorkOrder[1] c[WrongLength] t[Should be 0 char wide]");
}

}  // namespace
}  // namespace vornlink
