#include "settings/module_files.h"

#include <gtest/gtest.h>

#include <cmath>

#include "settings/numbers.h"
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

TEST(NumbersTest, LeadingNumbersReadLikeTheCRuntime) {
  for (auto [text, number] : {std::pair{"42", 42}, std::pair{"  -17abc", -17}, std::pair{"+5", 5},
                              std::pair{"99999999999999999999", 2147483647},
                              std::pair{"-99999999999999999999", -2147483647 - 1}}) {
    EXPECT_EQ(LeadingInt(text), number) << text;
  }
  // Beyond a double's range as the C runtime reads it: infinity, not zero
  // (which the zero-quantity gate would drop), and zero below it.
  using Case = std::pair<std::string, double>;
  for (auto [text, number] :
       {Case{" -0.5kg", -0.5}, Case{".25", 0.25}, Case{"3.", 3.0}, Case{"1e3x", 1000.0},
        Case{"2e", 2.0}, Case{"1,5", 1.0}, Case{"0.00001e310", 1e305}, Case{"1e400", HUGE_VAL},
        Case{"-1" + std::string(400, '0'), -HUGE_VAL},
        Case{"0.000" + std::string(400, '0') + "7e90", 7e-314}, Case{"1e-400", 0.0}}) {
    EXPECT_EQ(LeadingDouble(text), number) << text;
  }
  // No digits give 0; only plain decimal numbers count.
  for (const char* text : {"yes", "", "- 5", ".", "0x10", "inf"}) {
    EXPECT_EQ(LeadingInt(text), 0) << text;
    EXPECT_EQ(LeadingDouble(text), 0.0) << text;
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
