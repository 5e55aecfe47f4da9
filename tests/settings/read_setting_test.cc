#include "settings/read_setting.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "settings/module_files.h"
#include "testing/case_file.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

// Each case of data/read_setting_cases.txt: "@ path | value", the document.
TEST(ReadSettingTest, FindsTheValueOrCollectsTheSection) {
  const auto cases = testing::ReadCases(VORNLINK_TEST_DATA_DIR, "read_setting_cases.txt");
  EXPECT_GT(cases.size(), 15u);
  for (const testing::TextCase& c : cases) {
    SCOPED_TRACE(c.where);
    EXPECT_EQ(ReadSettingFromText(c.fields.at(0), c.body), c.fields.at(1));
  }
}

// Settings are read afresh at every use: a change takes effect with the next read, also one in
// place at once with the same size; an unchanged file whose stamp settled is not read again.
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
  if (testing::PlantForeignLink(other, xml)) {
    EXPECT_EQ(ReadDriverSetting("KMR/Log/FileName"), "");
  }
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
