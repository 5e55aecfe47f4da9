#include "log/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "log/log_test_hooks.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using Lines = std::vector<std::string>;

// The clock stands at 2014-06-04 11:10:30 local time.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLogForTesting();
    env_.env().set_unix_time(testing::LocalUnixTime(2014, 6, 4, 11, 10, 30));
  }

  // The lines of the log file, each without the time stamp of its entry.
  Lines Entries() {
    Lines entries = testing::DiskLines(log_file_);
    for (std::string& line : entries) {
      if (line.rfind(kStamp, 0) == 0) line.erase(0, 19);
    }
    return entries;
  }

  static constexpr char kStamp[] = "2014-06-04 11:10:30";
  testing::ScopedFakeEnv env_;
  const std::string log_file_ = env_.dir().File("drv.log");
};

TEST_F(LogTest, EntryShowsStampFlagAndMessage) {
  LogInit("", 10, "+cdhinprst");  // no file: nothing is written
  LogWriteLine('.', "nowhere");
  EXPECT_FALSE(testing::FileExists(log_file_));

  LogInit(log_file_, 100, "");
  LogPrint('.', "loaded at [0x%8.8X] n[%d]", 0xABCu, 7);
  LogWriteLine('*', "100% unchanged %s");
  LogWriteLine('\0', "zero flag");
  const std::string big(5000, 'x');
  LogPrint('.', "[%s]", big.c_str());
  // A message that ends with a line feed gets no second line end.
  LogWriteLine('.', "first\nsecond\n");
  LogWriteLine('.', "");
  const std::string stamp = kStamp;
  EXPECT_EQ(testing::ReadBytes(log_file_),
            testing::OnDisk(stamp + "-.-loaded at [0x00000ABC] n[7]\n" + stamp +
                            "-*-100% unchanged %s\n" + stamp + "-.-zero flag\n" + stamp + "-.-[" +
                            big + "]\n" + stamp + "-.-first\nsecond\n" + stamp + "-.-\n"));
  // What is written reads back; the second line of a message is no entry.
  LogEntryView entry;
  EXPECT_TRUE(ParseLogEntry(testing::DiskLines(log_file_)[1], &entry) && entry.stamp == stamp &&
              entry.flag == '*' && entry.message == "100% unchanged %s");
  for (const char* line : {"second", "2014-06-04 11:10:3x-.-a", "2014-06-04 11:10:30.-.-"})
    EXPECT_FALSE(ParseLogEntry(line, &entry)) << line;
}

// Lowercase flags are written when the mask includes them; any other flag
// unless the mask excludes it, but "*" and "." always. Blanks do not count.
TEST_F(LogTest, FlagMaskSelectsWhatIsWritten) {
  const struct {
    const char* mask;
    const char* text;
    Lines written;
  } kCases[] = {
      {"+ch i", "+chi", {"-c-c", "-h-h", "-i-i", "-*-*", "-.-.", "-#-#", "-\t-\t"}},
      {"", "", {"-*-*", "-.-.", "-#-#", "-\t-\t"}},
      {"c-*.#\t", "c-*.#\t", {"-c-c", "-*-*", "-.-."}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.mask);
    testing::WriteBytes(log_file_, "");
    ResetLogForTesting();
    LogInit(log_file_, 1000, c.mask);
    EXPECT_EQ(LogFlagsText(), c.text);
    for (char flag : std::string("cdhinprst*.#\t")) LogWriteLine(flag, std::string(1, flag));
    EXPECT_EQ(Entries(), c.written);
  }
  // Another init adds to the sets; the text is the last one.
  LogInit(log_file_, 1000, "d");
  EXPECT_TRUE(IsFlagEnabled('c') && IsFlagEnabled('d'));
  EXPECT_EQ(LogFlagsText(), "d");
}

TEST_F(LogTest, InitCutsToTheLastMaxLinesUnlessNegative) {
  std::string old;
  for (int i = 0; i < 150; ++i) old += "old " + std::to_string(i) + "\n";
  for (auto [max_lines, first] : {std::pair{100, "old 50"}, {0, ""}, {-1, "old 0"}}) {
    testing::WriteBytes(log_file_, testing::OnDisk(old));
    ResetLogForTesting();
    LogInit(log_file_, max_lines, "");
    const Lines kept = testing::DiskLines(log_file_);
    EXPECT_EQ(kept.size(), max_lines < 0 ? 150u : static_cast<size_t>(max_lines));
    EXPECT_EQ(kept.empty() ? "" : kept.front(), first) << max_lines;
  }
}

TEST_F(LogTest, CutComesWithTheFirstAlwaysLineAfterTenEntries) {
  LogInit(log_file_, 3, "p");
  for (int i = 0; i < 20; ++i) LogWriteLine('p', "p" + std::to_string(i));
  EXPECT_EQ(Entries().size(), 20u);  // lowercase lines never cut
  LogWriteLine('.', "dot");          // 21st entry: cut to 3 lines
  EXPECT_EQ(Entries(), (Lines{"-p-p18", "-p-p19", "-.-dot"}));
  // The counter starts again; the cut looks at the count before the entry,
  // so the eleventh "." entry after a cut cuts again, not the tenth.
  for (int i = 0; i < 10; ++i) LogWriteLine('.', "d" + std::to_string(i));
  EXPECT_EQ(Entries().size(), 13u);
  LogWriteLine('.', "d10");
  EXPECT_EQ(Entries().size(), 3u);
  // The cut keeps physical lines (an entry of several counts as many) as written, CR LF too.
  for (int i = 0; i < 10; ++i) LogWriteLine('p', "p");
  LogWriteLine('.', "reply[\r\n<a>\r\n<b/>]");
  EXPECT_EQ(testing::ReadBytes(log_file_),
            testing::OnDisk(std::string(kStamp) + "-.-reply[\r\n<a>\r\n<b/>]\n"));
}

// Text from outside (a DMS reply) stays inside its entry: a line of it that could pass for an
// entry is indented, control bytes show as escapes, code page bytes stay as they are.
TEST_F(LogTest, RepliesCannotForgeEntriesOrCarryControlBytes) {
  LogInit(log_file_, 100, "d");
  const std::string forged = "2026-01-01 00:00:00-.-FWT: WorkOrder[1] --> Reply: c[0] --> SUCCESS";
  LogWriteLine(
      'd', "Reply[\nlater\n" + forged + "\n\r" + forged + "\n\x1b[2J\x07\x7f M\xf6tor\x9b\tend]");
  EXPECT_EQ(Entries(), (Lines{"-d-Reply[", "later", "    " + forged, "    \r" + forged,
                              "\\x1B[2J\\x07\\x7F M\xf6tor\x9b\tend]"}));
  int entries = 0;
  LogEntryView entry;
  for (const std::string& line : testing::DiskLines(log_file_))
    entries += ParseLogEntry(line, &entry);
  EXPECT_EQ(entries, 1);
}

// A reply of 15 MB leaves an entry of about 32 KB that says how much it left out and keeps its
// end; the cut bounds the file in bytes as well as in lines, unless MaxLines is negative.
TEST_F(LogTest, EntriesAndTheCutAreBoundedInBytes) {
  LogInit(log_file_, 100000, "");
  const std::string reply = "Reply[\r\n<a>" + std::string(15 << 20, 'x') + "</a>] --> SUCCESS";
  LogWriteLine('.', reply);
  const std::string written = testing::ReadBytes(log_file_);
  EXPECT_LT(written.size(), 33000u);
  EXPECT_NE(
      written.find("x ...[" + std::to_string(reply.size() - 32768) + " bytes not logged]... x"),
      std::string::npos);
  EXPECT_NE(written.find("x</a>] --> SUCCESS"), std::string::npos);

  std::string lines;  // 272 lines of 64 KB, line end included
  for (int i = 0; i < 272; ++i) lines += std::string(65535, static_cast<char>('a' + i % 26)) + "\n";
  for (auto [max_lines, kept] : {std::pair{100000, 256u}, {-1, 272u}}) {
    testing::WriteBytes(log_file_, testing::OnDisk(lines));
    ResetLogForTesting();
    LogInit(log_file_, max_lines, "");
    const Lines left = testing::DiskLines(log_file_);
    EXPECT_EQ(left.size(), kept) << max_lines;
    EXPECT_EQ(left.empty() ? 0 : left.back()[0], 'a' + 271 % 26);
  }
}

#ifndef _WIN32
// Another user's link gets neither entries nor cuts, and the loss is told
// later. (An administrator's own link is followed: EnvPosixTest.)
TEST_F(LogTest, PlantedLinkGetsNothingAndTheLossIsToldLater) {
  const std::string victim = env_.dir().File("victim");
  testing::WriteBytes(victim, "root's\nsecret\nlines\n");
  if (!testing::PlantForeignLink(victim, log_file_)) GTEST_SKIP() << "planting needs root";
  LogInit(log_file_, 2, "");
  for (int i = 0; i < 12; ++i) LogWriteLine('.', "entry");
  EXPECT_EQ(testing::ReadBytes(victim), "root's\nsecret\nlines\n");
  std::filesystem::remove(log_file_);
  LogWriteLine('.', "back");
  EXPECT_EQ(Entries(), (Lines{"-*-Log: 12 entries before this one were not written to file[" +
                                  log_file_ + "] -> " + kPlantedLinkRefused,
                              "-.-back"}));
}
#endif

}  // namespace
}  // namespace vornlink
