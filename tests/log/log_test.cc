#include "log/log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/text_lines.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

// 2014-06-04 11:10:30 in the machine's zone is not fixed, so lines are
// checked from the first "-" after the time stamp on.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLogForTesting();
    log_file_ = env_.dir().File("drv.log");
  }
  void TearDown() override { ResetLogForTesting(); }

  // The entries of the log file without their time stamps.
  std::vector<std::string> Entries() {
    std::vector<std::string> entries;
    std::string contents = testing::ReadBytes(log_file_);
    for (std::string_view line : SplitLines(contents)) {
      // "YYYY-MM-DD HH:MM:SS" is 19 characters.
      entries.emplace_back(line.size() >= 19 ? line.substr(19) : line);
    }
    return entries;
  }

  testing::ScopedFakeEnv env_;
  std::string log_file_;
};

TEST_F(LogTest, EntryShowsStampFlagAndMessage) {
  LogInit(log_file_, 100, "");
  LogPrint('.', "loaded at [0x%8.8X] n[%d]", 0xABCu, 7);
  LogWriteLine('*', "100% unchanged %s");
  LogWriteLine('\0', "zero flag");
  std::string contents = testing::ReadBytes(log_file_);
  EXPECT_EQ(contents.find('\r') != std::string::npos, std::string(testing::kDiskLineEnd) == "\r\n");
  ASSERT_GE(contents.size(), 20u);
  EXPECT_EQ(contents[4], '-');
  EXPECT_EQ(contents[10], ' ');
  EXPECT_EQ(contents[13], ':');
  EXPECT_EQ(Entries(), (std::vector<std::string>{"-.-loaded at [0x00000ABC] n[7]",
                                                 "-*-100% unchanged %s", "-.-zero flag"}));
}

TEST_F(LogTest, FlagMaskSelectsLowercaseAreas) {
  LogInit(log_file_, 1000, "+ch i");
  EXPECT_EQ(LogFlagsText(), "+chi");
  for (char flag : std::string("cdhinprst")) LogWriteLine(flag, std::string(1, flag));
  LogWriteLine('*', "star");
  LogWriteLine('.', "dot");
  LogWriteLine('#', "other");
  EXPECT_EQ(Entries(),
            (std::vector<std::string>{"-c-c", "-h-h", "-i-i", "-*-star", "-.-dot", "-#-other"}));
}

TEST_F(LogTest, MinusModeExcludesOtherCharactersButNeverStarOrDot) {
  LogInit(log_file_, 1000, "c-*.#\t");
  EXPECT_TRUE(IsFlagEnabled('c'));
  EXPECT_FALSE(IsFlagEnabled('#'));
  EXPECT_FALSE(IsFlagEnabled('\t'));  // tabs stay in the mask and count
  EXPECT_FALSE(IsFlagEnabled('d'));
  LogWriteLine('*', "star");
  LogWriteLine('.', "dot");
  LogWriteLine('#', "hidden");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"-*-star", "-.-dot"}));
}

TEST_F(LogTest, SetsOnlyGrowOverSeveralInits) {
  LogInit(log_file_, 1000, "c");
  LogInit(log_file_, 1000, "d");
  EXPECT_TRUE(IsFlagEnabled('c'));
  EXPECT_TRUE(IsFlagEnabled('d'));
  EXPECT_EQ(LogFlagsText(), "d");
}

TEST_F(LogTest, EmptyMaskWritesOnlyAlwaysLines) {
  LogInit(log_file_, 1000, "");
  LogWriteLine('p', "peel");
  LogWriteLine('.', "dot");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"-.-dot"}));
}

TEST_F(LogTest, MessageWithLineFeedsSpansLinesAndGetsNoSecondLineEnd) {
  LogInit(log_file_, 1000, "");
  LogWriteLine('.', "first\nsecond\n");
  LogWriteLine('.', "");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"-.-first", "second", "-.-"}));
  std::string contents = testing::ReadBytes(log_file_);
  const std::string last = testing::OnDisk("-.-\n");
  EXPECT_EQ(contents.substr(contents.size() - last.size()), last);
  size_t line_ends = 0;
  for (size_t at = contents.find(testing::kDiskLineEnd); at != std::string::npos;
       at = contents.find(testing::kDiskLineEnd, at + 1)) {
    ++line_ends;
  }
  EXPECT_EQ(line_ends, 3u);
}

TEST_F(LogTest, InitCutsToTheLastMaxLines) {
  std::string lines;
  for (int i = 0; i < 150; ++i) lines += "old " + std::to_string(i) + "\n";
  testing::WriteBytes(log_file_, testing::OnDisk(lines));
  LogInit(log_file_, 100, "");
  std::vector<std::string_view> kept;
  std::string contents = testing::ReadBytes(log_file_);
  std::string text;
  for (char c : contents) {
    if (c != '\r') text.push_back(c);
  }
  kept = SplitLines(text);
  ASSERT_EQ(kept.size(), 100u);
  EXPECT_EQ(kept.front(), "old 50");
  EXPECT_EQ(kept.back(), "old 149");
}

TEST_F(LogTest, MaxLinesZeroEmptiesAndNegativeNeverCuts) {
  testing::WriteBytes(log_file_, testing::OnDisk("a\nb\n"));
  LogInit(log_file_, -1, "");
  EXPECT_EQ(testing::ReadBytes(log_file_), testing::OnDisk("a\nb\n"));
  ResetLogForTesting();
  LogInit(log_file_, 0, "");
  EXPECT_EQ(testing::ReadBytes(log_file_), "");
}

TEST_F(LogTest, CutComesWithTheFirstAlwaysLineAfterTenEntries) {
  LogInit(log_file_, 3, "p");
  for (int i = 0; i < 20; ++i) LogWriteLine('p', "p" + std::to_string(i));
  EXPECT_EQ(Entries().size(), 20u);  // lowercase lines never cut
  LogWriteLine('.', "dot");          // 21st entry: cut to 3 lines
  EXPECT_EQ(Entries(), (std::vector<std::string>{"-p-p18", "-p-p19", "-.-dot"}));
  // The counter starts again: the next nine "." entries do not cut...
  for (int i = 0; i < 9; ++i) LogWriteLine('.', "d" + std::to_string(i));
  EXPECT_EQ(Entries().size(), 12u);
  // ...the tenth after the cut does not either (the cut looks at the count
  // before the entry), the eleventh does.
  LogWriteLine('.', "d9");
  EXPECT_EQ(Entries().size(), 13u);
  LogWriteLine('.', "d10");
  EXPECT_EQ(Entries().size(), 3u);
  // The cut keeps physical lines: an entry of several lines counts as many.
  for (int i = 0; i < 10; ++i) LogWriteLine('p', "p");
  LogWriteLine('.', "reply[\r\n<a>\r\n<b/>]");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"-.-reply[", "<a>", "<b/>]"}));
}

TEST_F(LogTest, EmptyFileNameWritesNothing) {
  LogInit("", 10, "+cdhinprst");
  LogWriteLine('.', "nowhere");
  LogLoaded();
  EXPECT_FALSE(testing::FileExists(log_file_));
}

TEST_F(LogTest, LoadedAndUnloadedLinesNameTheModule) {
  LogInit(log_file_, 500, "+c d");
  LogLoaded();
  LogUnloaded();
  std::vector<std::string> entries = Entries();
  ASSERT_EQ(entries.size(), 3u);
  const std::string module = env_.env().ModulePath();
  EXPECT_EQ(entries[0].rfind("-.-" + module + " is loaded at [0x", 0), 0u) << entries[0];
  EXPECT_NE(entries[0].find("] logflags[+cd] maxlines[500]"), std::string::npos) << entries[0];
  EXPECT_EQ(entries[1].rfind("-.-OS: ", 0), 0u);
  EXPECT_GT(entries[1].size(), 7u);
  EXPECT_EQ(entries[2], "-.-" + module + " is unloaded");
}

TEST_F(LogTest, LongMessagesAreWrittenWhole) {
  LogInit(log_file_, 100, "");
  std::string big(5000, 'x');
  LogPrint('.', "[%s]", big.c_str());
  EXPECT_EQ(Entries(), (std::vector<std::string>{"-.-[" + big + "]"}));
}

}  // namespace
}  // namespace vornlink
