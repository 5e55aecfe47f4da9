#include "vornlink/commands.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/test_env.h"

namespace vornlink {
namespace {

TEST(CommandsTest, WordsSplitAtBlanksQuotesGroupAndCsvSplitsAtEveryComma) {
  EXPECT_EQ(SplitWords("  forward 1  \"two words\" \"\" x\t"),
            (std::vector<std::string>{"forward", "1", "two words", "", "x"}));
  EXPECT_TRUE(SplitWords("   ").empty());
  EXPECT_EQ(SplitCsv("a,,b,"), (std::vector<std::string>{"a", "", "b", ""}));
}

TEST(CommandsTest, BadCommandsAndArgumentsFailBeforeReachingAnExport) {
  Driver driver;  // no module: none of these may reach an export
  std::ostringstream out, err;
  EXPECT_EQ(RunCommand(driver, {"frobnicate"}, out, err), kExitUsage);
  EXPECT_EQ(RunCommand(driver, {"forward", "1", "2"}, out, err), kExitUsage);
  EXPECT_EQ(RunCommand(driver, {"validate-async", "1.A", "5s"}, out, err), kExitUsage);
  EXPECT_EQ(RunCommand(driver, {"forward-csv", "."}, out, err), kExitFailed);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(testing::Missing(err.str(), {"unknown command frobnicate; see vornlink --help",
                                         "forward takes 12 argument(s), not 2",
                                         "cannot read .: not a readable file"}),
            "");
}

}  // namespace
}  // namespace vornlink
