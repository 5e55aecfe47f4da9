#include "settings/module_files.h"

#include <gtest/gtest.h>

#include "settings/version_text.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

TEST(ModuleFilesTest, NamesComeFromTheModulePath) {
  // The extension is the text after the last dot of the file name; a file
  // name without one gets the extension appended.
  const struct {
    const char* path;
    char separator;
    const char* ini;
    const char* base;
  } kCases[] = {
      {"C:\\Fluid\\Vornlink.dll", '\\', "C:\\Fluid\\Vornlink.ini", "Vornlink"},
      {"/opt/fluid/Vornlink.so", '/', "/opt/fluid/Vornlink.ini", "Vornlink"},
      {"C:\\a.b\\drv", '\\', "C:\\a.b\\drv.ini", "drv"},
      {"/opt/fluid.d/Vornlink", '/', "/opt/fluid.d/Vornlink.ini", "Vornlink"},
      {"Vornlink", '/', "Vornlink.ini", "Vornlink"},
      {"a.b.c", '/', "a.b.ini", "a.b"},
      {"", '/', "", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ReplaceExtension(c.path, "ini"), c.ini);
    EXPECT_EQ(BaseNameOf(c.path, c.separator), c.base);
  }
}

// The version text of the module itself (what the read gives, "" or
// "Error") is checked with the service name.
TEST(VersionTextTest, MinorAndThirdStandSideBySide) {
  EXPECT_EQ(FormatVersionText({2, 0, 0, 1}), "2.00RC1");
  EXPECT_EQ(FormatVersionText({1, 10, 2, 0}), "1.102");
  EXPECT_EQ(FormatVersionText({65535, 65535, 65535, 65535}), "65535.6553565535RC65535");
}

}  // namespace
}  // namespace vornlink
