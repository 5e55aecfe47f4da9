#include "settings/module_files.h"

#include <gtest/gtest.h>

#include "settings/version_text.h"
#include "testing/case_file.h"

namespace vornlink {
namespace {

// Each case of data/module_files_cases.txt.
TEST(ModuleFilesTest, NamesComeFromTheModulePath) {
  const auto cases = testing::ReadCases(VORNLINK_TEST_DATA_DIR, "module_files_cases.txt");
  EXPECT_EQ(cases.size(), 7u);
  for (const testing::TextCase& c : cases) {
    EXPECT_EQ(ReplaceExtension(c.fields.at(0), "ini"), c.fields.at(2)) << c.where;
    EXPECT_EQ(BaseNameOf(c.fields.at(0), c.fields.at(1).at(0)), c.fields.at(3)) << c.where;
  }
}

// The module's own version text (what the read gives, "" or "Error") comes with the service name.
TEST(VersionTextTest, MinorAndThirdStandSideBySide) {
  EXPECT_EQ(FormatVersionText({2, 0, 0, 1}), "2.00RC1");
  EXPECT_EQ(FormatVersionText({1, 10, 2, 0}), "1.102");
  EXPECT_EQ(FormatVersionText({65535, 65535, 65535, 65535}), "65535.6553565535RC65535");
}

}  // namespace
}  // namespace vornlink
