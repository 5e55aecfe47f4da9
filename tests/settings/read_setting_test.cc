#include "settings/read_setting.h"

#include <gtest/gtest.h>

#include "testing/test_env.h"

namespace vornlink {
namespace {

constexpr char kLogDocument[] =
    "<KMR>\n"
    "  <Log>\n"
    "    <FileName>C:\\log\\drv.txt</FileName>\n"
    "  </Log>\n"
    "</KMR>\n";

TEST(ReadSettingTest, ThreeSegmentsFindTheValueLineOfTheSection) {
  EXPECT_EQ(ReadSettingFromText("KMR/Log/FileName", kLogDocument), "C:\\log\\drv.txt");
  // The first segment is never looked at.
  EXPECT_EQ(ReadSettingFromText("Other/Log/FileName", kLogDocument), "C:\\log\\drv.txt");
  EXPECT_EQ(ReadSettingFromText("KMR/Log/MaxLines", kLogDocument), "");
  EXPECT_EQ(ReadSettingFromText("KMR/Missing/FileName", kLogDocument), "");
}

TEST(ReadSettingTest, TagsAreCutByLengthNotCompared) {
  // Blanks after the closing tag shift the cut into the value.
  EXPECT_EQ(ReadSettingFromText("KMR/Log/FileName",
                                "<Log>\n<FileName>C:\\log\\drv.txt</FileName>  \n</Log>\n"),
            "C:\\log\\drv.txt</");
  // A value line shorter than both tags gives nothing rather than a bad cut.
  EXPECT_EQ(ReadSettingFromText("KMR/Log/FileName", "<Log>\n<FileName>ab\n</Log>\n"), "");
  EXPECT_EQ(ReadSettingFromText("KMR/Log/FileName", "<Log>\n<FileName>\n</Log>\n"), "");
  EXPECT_EQ(ReadSettingFromText("KMR/Log/FileName", "<Log>\n<FileName></FileName>\n</Log>\n"), "");
}

TEST(ReadSettingTest, SectionLinesMustBeExactAfterTheIndent) {
  EXPECT_EQ(ReadSettingFromText("KMR/Log/FileName", "<Log> \n<FileName>x</FileName>\n</Log>\n"),
            "");
  EXPECT_EQ(ReadSettingFromText("KMR/Log/FileName", "\t <Log>\n<FileName>x</FileName>\n"), "x");
  // Case matters.
  EXPECT_EQ(ReadSettingFromText("KMR/log/FileName", "<Log>\n<FileName>x</FileName>\n"), "");
}

TEST(ReadSettingTest, FirstValueWinsAndLaterSectionsAreSearched) {
  const char document[] =
      "<Log>\n<MaxLines>5</MaxLines>\n</Log>\n"
      "<Log>\n<FileName>second</FileName>\n<FileName>third</FileName>\n</Log>\n";
  EXPECT_EQ(ReadSettingFromText("KMR/Log/FileName", document), "second");
}

TEST(ReadSettingTest, CommentLineClosesTheSection) {
  const char document[] =
      "<Log>\n<!--\n<FileName>hidden</FileName>\n-->\n</Log>\n"
      "<Log>\n<!-- one-line comment -->\n<FileName>seen</FileName>\n</Log>\n";
  EXPECT_EQ(ReadSettingFromText("KMR/Log/FileName", document), "seen");
}

TEST(ReadSettingTest, TwoSegmentsCollectTheSectionWithOneMoreBlank) {
  const char document[] =
      "<KMR>\n"
      "<ForwardTransactionQuery>\n"
      "  first line\n"
      "\tsecond <b>line</b>\n"
      "</ForwardTransactionQuery>\n"
      "<ForwardTransactionQuery>\n"
      "third\n"
      "</ForwardTransactionQuery>\n";
  EXPECT_EQ(ReadSettingFromText("KMR/ForwardTransactionQuery", document),
            "   first line\n  second <b>line</b>\n third\n");
  // CR LF files read the same.
  std::string crlf;
  for (char c : std::string(document)) {
    if (c == '\n') crlf.push_back('\r');
    crlf.push_back(c);
  }
  EXPECT_EQ(ReadSettingFromText("KMR/ForwardTransactionQuery", crlf),
            ReadSettingFromText("KMR/ForwardTransactionQuery", document));
}

TEST(ReadSettingTest, TwoSegmentsStopAtAnEmptyTag) {
  const char document[] = "<Query>\nkept\nab<>cdefg\nnever\n</Query>\n";
  EXPECT_EQ(ReadSettingFromText("KMR/Query", document), "<>cd");
  EXPECT_EQ(ReadSettingFromText("KMR/Query", "<Query>\n<>\n</Query>\n"), "");
}

TEST(ReadSettingTest, UnclosedSectionReturnsWhatWasCollected) {
  EXPECT_EQ(ReadSettingFromText("KMR/Query", "<Query>\na\nb"), " a\n b\n");
}

TEST(ReadSettingTest, PathsBeyondThreeSegmentsUseTheFirstThree) {
  const char document[] = "<UserID>\n<E7>dms-user</E7>\n<E7/x>other</E7/x>\n</UserID>\n";
  EXPECT_EQ(ReadSettingFromText("KMR/UserID/E7/x", document), "dms-user");
  EXPECT_EQ(ReadSettingFromText("KMR/UserID/E7/x/y/z", document), "dms-user");
  EXPECT_EQ(ReadSettingFromText("", document), "");
  EXPECT_EQ(ReadSettingFromText("KMR", document), "");
}

TEST(ReadSettingTest, ReadsTheFileAfreshEachTime) {
  testing::ScopedFakeEnv env;
  const std::string xml = env.ModuleFile("xml");
  EXPECT_EQ(SettingsFilePath(), xml);
  EXPECT_EQ(ReadDriverSetting("KMR/Log/FileName"), "");  // no file yet
  testing::WriteBytes(xml, "<Log>\r\n<FileName>one</FileName>\r\n</Log>\r\n");
  EXPECT_EQ(ReadDriverSetting("KMR/Log/FileName"), "one");
  testing::WriteBytes(xml, "<Log>\n<FileName>two</FileName>\n</Log>\n");
  EXPECT_EQ(ReadDriverSetting("KMR/Log/FileName"), "two");
}

}  // namespace
}  // namespace vornlink
