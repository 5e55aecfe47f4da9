#include "vornlink/command_list.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/test_env.h"
#include "vornlink/base/command_line.h"
#include "vornlink/base/exit_codes.h"
#include "vornlink/base/filtered_stream.h"
#include "vornlink/base/json_writer.h"

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

// Nothing a terminal would act on gets out raw; text passes, and a sequence cut off by a flush
// waits for its end. Windows consoles take code page bytes, not UTF-8.
TEST(OutputFilterTest, ControlBytesShowAsEscapes) {
  // "\x31" is the digit 1.
  const std::pair<std::string, std::string> kCases[] = {
    {"plain\ttext\r\n\xc3\x96l \xe2\x82\xac", "plain\ttext\r\n\xc3\x96l \xe2\x82\xac"},
    {std::string("\x1b]0;owned\x07\x7f a\rb\0", 16), "\\x1B]0;owned\\x07\\x7F a\\x0Db\\x00"},
    {"\xc2\x9b\x31m", "\\xC2\\x9B1m"},  // a C1 control written as UTF-8
#if !defined(_WIN32)
    {"\x9b\x31m M\xf6tor \xed\xa0\x80", "\\x9B1m M\\xF6tor \\xED\\xA0\\x80"},
#endif
  };
  for (const auto& [text, shown] : kCases) {
    std::string filtered;
    EXPECT_EQ(AppendFiltered(text, /*complete=*/true, &filtered), text.size());
    EXPECT_EQ(filtered, shown);
  }
  std::ostringstream target;
  {
    FilteredStream filtered(target);
    target << "a\xc3" << std::flush << "\x96\x1b\r" << std::flush;
    EXPECT_EQ(target.str(), "a\xc3\x96\\x1B");
  }
  EXPECT_EQ(target.str(), "a\xc3\x96\\x1B\\x0D");
}

// JSON for scripts stays plain ASCII: characters above U+FFFF as their UTF-16 pair, stray bytes
// as the Latin-1 character of their number.
TEST(JsonOutputTest, EveryCharacterEscapedAsJsonReadsItBack) {
  const std::pair<std::string, std::string> kCases[] = {
      {"a\"\\\n\x01", R"("a\"\\\n\u0001")"},
      {"\xef\xbf\xbf \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf", R"("\uffff \ud83d\ude00 \udbff\udfff")"},
      {"M\xf6tor \xed\xa0\x80", R"("M\u00f6tor \u00ed\u00a0\u0080")"},
  };
  for (const auto& [text, json] : kCases) EXPECT_EQ(JsonString(text), json);
}

}  // namespace
}  // namespace vornlink
