#include "vornlink/commands.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vornlink {
namespace {

TEST(CommandsTest, WordsSplitAtBlanksAndQuotesGroup) {
  EXPECT_EQ(SplitWords("  forward 1  \"two words\" \"\" x\t"),
            (std::vector<std::string>{"forward", "1", "two words", "", "x"}));
  EXPECT_TRUE(SplitWords("   ").empty());
}

TEST(CommandsTest, CsvSplitsAtEveryComma) {
  EXPECT_EQ(SplitCsv("a,,b,"), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(SplitCsv(""), (std::vector<std::string>{""}));
}

TEST(CommandsTest, BadCommandsAndArgumentsFailBeforeReachingAnExport) {
  Driver driver;  // no module: none of these may reach an export
  std::ostringstream out, err;
  EXPECT_EQ(RunCommand(driver, {"frobnicate"}, out, err), kExitUsage);
  EXPECT_EQ(RunCommand(driver, {"forward", "1", "2"}, out, err), kExitUsage);
  EXPECT_EQ(RunCommand(driver, {"validate"}, out, err), kExitUsage);
  EXPECT_EQ(RunCommand(driver, {"validate-async", "1.A", "5s"}, out, err), kExitUsage);
  EXPECT_EQ(RunCommand(driver, {"forward-csv", "/nonexistent/file.csv"}, out, err), kExitFailed);
  EXPECT_EQ(RunCommand(driver, {"forward-csv", "."}, out, err), kExitFailed);
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(err.str().find("unknown command frobnicate; see vornlink --help"), std::string::npos);
  EXPECT_NE(err.str().find("forward takes 12 argument(s), not 2"), std::string::npos);
  EXPECT_NE(err.str().find("cannot read .: not a readable file"), std::string::npos);
}

}  // namespace
}  // namespace vornlink
