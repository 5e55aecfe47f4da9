#include "settings/read_setting.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "settings/module_files.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

constexpr char kLogDocument[] =
    "<KMR>\n  <Log>\n    <FileName>C:\\log\\drv.txt</FileName>\n  </Log>\n</KMR>\n";
constexpr char kQueries[] =
    "<KMR>\n<ForwardTransactionQuery>\n  first line\n\tsecond <b>line</b>\n"
    "</ForwardTransactionQuery>\n<ForwardTransactionQuery>\nthird\n</ForwardTransactionQuery>\n";

TEST(ReadSettingTest, FindsTheValueOrCollectsTheSection) {
  const struct {
    const char* path;
    std::string document;
    const char* expected;
  } kCases[] = {
      // Three segments find the value line; the first is never looked at.
      {"Other/Log/FileName", kLogDocument, "C:\\log\\drv.txt"},
      {"KMR/Log/MaxLines", kLogDocument, ""},
      // Tags are cut by length, not compared: blanks after the closing tag
      // shift the cut; a line too short for both cuts gives nothing.
      {"KMR/Log/FileName", "<Log>\n<FileName>C:\\log\\drv.txt</FileName>  \n</Log>\n",
       "C:\\log\\drv.txt</"},
      {"KMR/Log/FileName", "<Log>\n<FileName>ab\n</Log>\n", ""},
      // Section lines must be exact after the indent, in case too.
      {"KMR/Log/FileName", "<Log> \n<FileName>x</FileName>\n</Log>\n", ""},
      {"KMR/Log/FileName", "\t <Log>\n<FileName>x</FileName>\n", "x"},
      {"KMR/log/FileName", "<Log>\n<FileName>x</FileName>\n", ""},
      // The first value wins, also in a later section; "<!--" closes one.
      {"KMR/Log/FileName",
       "<Log>\n<MaxLines>5</MaxLines>\n</Log>\n<Log>\n<FileName>second</FileName>\n"
       "<FileName>third</FileName>\n</Log>\n",
       "second"},
      {"KMR/Log/FileName",
       "<Log>\n<!--\n<FileName>hidden</FileName>\n-->\n</Log>\n<Log>\n<!-- one-line comment -->\n"
       "<FileName>seen</FileName>\n</Log>\n",
       "seen"},
      // Two segments collect the lines of every such section, each with one
      // more blank, CR LF files alike; an unclosed section gives them too.
      {"KMR/ForwardTransactionQuery", kQueries, "   first line\n  second <b>line</b>\n third\n"},
      {"KMR/ForwardTransactionQuery", testing::WithCrLf(kQueries),
       "   first line\n  second <b>line</b>\n third\n"},
      {"KMR/Query", "<Query>\na\nb", " a\n b\n"},
      // ...and stop at a line with an empty tag, cut as a value line.
      {"KMR/Query", "<Query>\nkept\nab<>cdefg\nnever\n</Query>\n", "<>cd"},
      {"KMR/Query", "<Query>\n<>\n</Query>\n", ""},
      // Paths beyond three segments use the first three.
      {"KMR/UserID/E7/x", "<UserID>\n<E7>dms-user</E7>\n<E7/x>other</E7/x>\n</UserID>\n",
       "dms-user"},
      {"KMR", "<UserID>\n<E7>dms-user</E7>\n", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.path) + " in " + c.document);
    EXPECT_EQ(ReadSettingFromText(c.path, c.document), c.expected);
  }
}

// Settings are read afresh at every use: a changed file takes effect with
// the next read, also one rewritten in place at once with the same size;
// an unchanged one whose stamp has settled is not read again.
TEST(ReadSettingTest, ChangedFilesTakeEffectWithTheNextRead) {
  testing::ScopedFakeEnv scoped;
  const std::string xml = scoped.ModuleFile("xml");
  const std::string ini = scoped.ModuleFile("ini");
  scoped.env().watched = xml;
  auto write = [&](char value) {
    testing::WriteBytes(xml, std::string("<Log>\n<FileName>") + value + "</FileName>\n</Log>\n");
    testing::WriteBytes(ini, std::string("[Log]\nName=") + value + "\n");
  };
  auto expect = [](char value) {
    EXPECT_EQ(ReadDriverSetting("KMR/Log/FileName"), std::string(1, value));
    EXPECT_EQ(ReadIniString("Log", "Name", "-"), std::string(1, value));
  };
  for (char value : {'a', 'b', 'c'}) {
    write(value);
    expect(value);
    expect(value);
  }

  auto settled = [](const std::string& path) {
    std::string nothing;
    FileStamp stamp;
    return DefaultEnv()->ReadFileBytes(path, 0, 0, &nothing, &stamp, nullptr) == ReadResult::kOk &&
           stamp.settled;
  };
  ASSERT_TRUE(testing::Eventually([&] { return settled(xml) && settled(ini); }));
  expect('c');
  scoped.env().bytes_read = 0;
  expect('c');
  EXPECT_EQ(scoped.env().bytes_read, 0u);
#ifndef _WIN32
  // A link planted in the place of a settled file is judged as at any read.
  const std::string kept = scoped.dir().File("kept.xml");
  const std::string other = scoped.dir().File("other.xml");
  testing::WriteBytes(other, "<Log>\n<FileName>x</FileName>\n</Log>\n");
  std::filesystem::rename(xml, kept);
  if (testing::PlantForeignLink(other, xml)) EXPECT_EQ(ReadDriverSetting("KMR/Log/FileName"), "");
  std::filesystem::remove(xml);
  std::filesystem::rename(kept, xml);
#endif
  write('d');
  expect('d');
  EXPECT_GT(scoped.env().bytes_read, 0u);

  std::filesystem::remove(xml);
  std::filesystem::remove(ini);
  EXPECT_EQ(ReadDriverSetting("KMR/Log/FileName"), "");
  EXPECT_EQ(ReadIniString("Log", "Name", "-"), "-");
}

}  // namespace
}  // namespace vornlink
