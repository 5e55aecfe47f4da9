#include "settings/module_files.h"

#include <gtest/gtest.h>

#include <cmath>

#include "settings/numbers.h"
#include "settings/text_lines.h"
#include "settings/version_text.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

TEST(ModuleFilesTest, ExtensionReplacesTheTextAfterTheLastDot) {
  EXPECT_EQ(ReplaceExtension("C:\\Fluid\\Vornlink.dll", "ini"), "C:\\Fluid\\Vornlink.ini");
  EXPECT_EQ(ReplaceExtension("/opt/fluid/Vornlink.so", "$$$"), "/opt/fluid/Vornlink.$$$");
  // A dot in the folder and none in the name: cut at the folder's dot.
  EXPECT_EQ(ReplaceExtension("C:\\a.b\\drv", "ini"), "C:\\a.ini");
  EXPECT_EQ(ReplaceExtension("C:\\drv", "ini"), "C:\\drv");
  EXPECT_EQ(ReplaceExtension("", "ini"), "");
}

TEST(ModuleFilesTest, BaseNameDropsFolderAndExtension) {
  EXPECT_EQ(BaseNameOf("C:\\Fluid\\Vornlink.dll", '\\'), "Vornlink");
  EXPECT_EQ(BaseNameOf("/opt/fluid/Vornlink.so", '/'), "Vornlink");
  EXPECT_EQ(BaseNameOf("/opt/fluid.d/Vornlink", '/'), "Vornlink");
  EXPECT_EQ(BaseNameOf("Vornlink", '/'), "Vornlink");
  EXPECT_EQ(BaseNameOf("a.b.c", '/'), "a.b");
}

TEST(ModuleFilesTest, NamesFollowTheModulePath) {
  testing::ScopedFakeEnv env;
  EXPECT_EQ(IniFilePath(), env.ModuleFile("ini"));
  EXPECT_EQ(ModuleFileWithExtension("xml"), env.ModuleFile("xml"));
  EXPECT_EQ(ModuleBaseName(), "Vornlink");
}

TEST(ModuleFilesTest, IniReadsGiveTheDefaultWithoutAFile) {
  testing::ScopedFakeEnv env;
  EXPECT_EQ(ReadIniString("ForwardTransaction", "Enable", "1"), "1");
  testing::WriteBytes(env.ModuleFile("ini"), "[forwardtransaction]\r\n enable = 0 \r\n");
  EXPECT_EQ(ReadIniString("ForwardTransaction", "Enable", "1"), "0");
}

TEST(NumbersTest, LeadingIntReadsLikeTheCRuntime) {
  EXPECT_EQ(LeadingInt("42"), 42);
  EXPECT_EQ(LeadingInt("  -17abc"), -17);
  EXPECT_EQ(LeadingInt("+5"), 5);
  EXPECT_EQ(LeadingInt("00042"), 42);
  EXPECT_EQ(LeadingInt("yes"), 0);
  EXPECT_EQ(LeadingInt(""), 0);
  EXPECT_EQ(LeadingInt("- 5"), 0);
  EXPECT_EQ(LeadingInt("99999999999999999999"), 2147483647);
  EXPECT_EQ(LeadingInt("-99999999999999999999"), -2147483647 - 1);
}

TEST(NumbersTest, LeadingDoubleReadsPlainDecimalNumbers) {
  EXPECT_DOUBLE_EQ(LeadingDouble("1.5"), 1.5);
  EXPECT_DOUBLE_EQ(LeadingDouble(" -0.5kg"), -0.5);
  EXPECT_DOUBLE_EQ(LeadingDouble("0.001"), 0.001);
  EXPECT_DOUBLE_EQ(LeadingDouble(".25"), 0.25);
  EXPECT_DOUBLE_EQ(LeadingDouble("3."), 3.0);
  EXPECT_DOUBLE_EQ(LeadingDouble("1e3x"), 1000.0);
  EXPECT_DOUBLE_EQ(LeadingDouble("2e"), 2.0);
  EXPECT_DOUBLE_EQ(LeadingDouble("abc"), 0.0);
  EXPECT_DOUBLE_EQ(LeadingDouble("."), 0.0);
  EXPECT_DOUBLE_EQ(LeadingDouble(""), 0.0);
  EXPECT_DOUBLE_EQ(LeadingDouble("0x10"), 0.0);
  EXPECT_DOUBLE_EQ(LeadingDouble("inf"), 0.0);
  EXPECT_DOUBLE_EQ(LeadingDouble("1,5"), 1.0);
  // Beyond a double's range as the C runtime reads it: infinity, not zero
  // (which the zero-quantity gate would drop), and zero below it.
  EXPECT_EQ(LeadingDouble("1e400"), HUGE_VAL);
  EXPECT_EQ(LeadingDouble("-1" + std::string(400, '0')), -HUGE_VAL);
  EXPECT_EQ(LeadingDouble("0.000" + std::string(400, '0') + "7e90"), 7e-314);
  EXPECT_EQ(LeadingDouble("1e-400"), 0.0);
  EXPECT_DOUBLE_EQ(LeadingDouble("0.00001e310"), 1e305);
}

TEST(TextLinesTest, LinesEndAtLineFeedsWithOptionalCarriageReturn) {
  EXPECT_TRUE(SplitLines("").empty());
  std::vector<std::string_view> lines = SplitLines("a\r\nb\n\nc\rd\r");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "a");
  EXPECT_EQ(lines[1], "b");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], "c\rd\r");  // no line feed: the last line keeps its CR
}

TEST(VersionTextTest, MinorAndThirdStandSideBySide) {
  EXPECT_EQ(FormatVersionText({2, 0, 0, 1}), "2.00RC1");
  EXPECT_EQ(FormatVersionText({1, 2, 3, 0}), "1.23");
  EXPECT_EQ(FormatVersionText({1, 10, 2, 0}), "1.102");
  EXPECT_EQ(FormatVersionText({65535, 65535, 65535, 65535}), "65535.6553565535RC65535");
}

class VersionEnv : public testing::FakeEnv {
 public:
  FileVersionResult result = FileVersionResult::kOk;
  FileVersionResult ReadFileVersion(const std::string& path, FileVersion* version) override {
    last_path = path;
    *version = {1, 2, 3, 0};
    return result;
  }
  std::string last_path;
};

TEST(VersionTextTest, UnreadableAndOutOfMemory) {
  VersionEnv env;
  env.set_module_path("/m/Vornlink.so");
  SetEnvForTesting(&env);
  EXPECT_EQ(VersionText(), "1.23");
  EXPECT_EQ(env.last_path, "/m/Vornlink.so");
  EXPECT_EQ(VersionText("/other.so"), "1.23");
  EXPECT_EQ(env.last_path, "/other.so");
  env.result = FileVersionResult::kUnreadable;
  EXPECT_EQ(VersionText(), "");
  env.result = FileVersionResult::kNoMemory;
  EXPECT_EQ(VersionText(), "Error");
  SetEnvForTesting(nullptr);
}

}  // namespace
}  // namespace vornlink
