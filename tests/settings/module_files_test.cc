#include "settings/module_files.h"

#include <gtest/gtest.h>

#include <cmath>

#include "settings/numbers.h"
#include "settings/text_lines.h"
#include "settings/version_text.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

TEST(ModuleFilesTest, NamesComeFromTheModulePath) {
  // The extension is the text after the last dot, even a dot in the folder.
  const struct {
    const char* path;
    char separator;
    const char* ini;
    const char* base;
  } kCases[] = {
      {"C:\\Fluid\\Vornlink.dll", '\\', "C:\\Fluid\\Vornlink.ini", "Vornlink"},
      {"/opt/fluid/Vornlink.so", '/', "/opt/fluid/Vornlink.ini", "Vornlink"},
      {"C:\\a.b\\drv", '\\', "C:\\a.ini", "drv"},
      {"/opt/fluid.d/Vornlink", '/', "/opt/fluid.ini", "Vornlink"},
      {"Vornlink", '/', "Vornlink", "Vornlink"},
      {"a.b.c", '/', "a.b.ini", "a.b"},
      {"", '/', "", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ReplaceExtension(c.path, "ini"), c.ini);
    EXPECT_EQ(BaseNameOf(c.path, c.separator), c.base);
  }

  testing::ScopedFakeEnv env;
  EXPECT_EQ(IniFilePath(), env.ModuleFile("ini"));
  EXPECT_EQ(ModuleFileWithExtension("xml"), env.ModuleFile("xml"));
  EXPECT_EQ(ModuleBaseName(), "Vornlink");
  // INI reads give the default without a file.
  EXPECT_EQ(ReadIniString("ForwardTransaction", "Enable", "1"), "1");
  testing::WriteBytes(env.ModuleFile("ini"), "[forwardtransaction]\r\n enable = 0 \r\n");
  EXPECT_EQ(ReadIniString("ForwardTransaction", "Enable", "1"), "0");
}

TEST(NumbersTest, LeadingNumbersReadLikeTheCRuntime) {
  const std::pair<const char*, int32_t> kInts[] = {{"42", 42},
                                                   {"  -17abc", -17},
                                                   {"+5", 5},
                                                   {"00042", 42},
                                                   {"yes", 0},
                                                   {"", 0},
                                                   {"- 5", 0},
                                                   {"99999999999999999999", 2147483647},
                                                   {"-99999999999999999999", -2147483647 - 1}};
  for (const auto& [text, value] : kInts) EXPECT_EQ(LeadingInt(text), value) << text;

  // Only plain decimal numbers; beyond a double's range as the C runtime
  // reads it: infinity, not zero (which the zero-quantity gate would drop),
  // and zero below it.
  const std::pair<std::string, double> kDoubles[] = {
      {"1.5", 1.5},
      {" -0.5kg", -0.5},
      {"0.001", 0.001},
      {".25", 0.25},
      {"3.", 3.0},
      {"1e3x", 1000.0},
      {"2e", 2.0},
      {"abc", 0.0},
      {".", 0.0},
      {"", 0.0},
      {"0x10", 0.0},
      {"inf", 0.0},
      {"1,5", 1.0},
      {"1e400", HUGE_VAL},
      {"-1" + std::string(400, '0'), -HUGE_VAL},
      {"1e-400", 0.0},
      {"0.00001e310", 1e305},
      {"0.000" + std::string(400, '0') + "7e90", 7e-314}};
  for (const auto& [text, value] : kDoubles) EXPECT_EQ(LeadingDouble(text), value) << text;
}

TEST(TextLinesTest, LinesEndAtLineFeedsWithOptionalCarriageReturn) {
  EXPECT_TRUE(SplitLines("").empty());
  // Without a line feed the last line keeps its CR.
  EXPECT_EQ(SplitLines("a\r\nb\n\nc\rd\r"),
            (std::vector<std::string_view>{"a", "b", "", "c\rd\r"}));
}

class VersionEnv : public testing::FakeEnv {
 public:
  FileVersionResult ReadFileVersion(const std::string& path, FileVersion* version) override {
    last_path = path;
    *version = {1, 2, 3, 0};
    return result;
  }
  FileVersionResult result = FileVersionResult::kOk;
  std::string last_path;
};

TEST(VersionTextTest, MinorAndThirdStandSideBySide) {
  EXPECT_EQ(FormatVersionText({2, 0, 0, 1}), "2.00RC1");
  EXPECT_EQ(FormatVersionText({1, 10, 2, 0}), "1.102");
  EXPECT_EQ(FormatVersionText({65535, 65535, 65535, 65535}), "65535.6553565535RC65535");

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
