#include "vornlink/check/settings_lint.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/case_file.h"

namespace vornlink {
namespace {

// "line: P|W text" of each finding.
std::string Findings(const std::string& document) {
  std::string all;
  for (const LintFinding& finding : LintSettingsDocument(document)) {
    all +=
        std::to_string(finding.line) + ": " + (finding.problem ? "P " : "W ") + finding.text + "\n";
  }
  return all;
}

// The cases of data/settings_lint_cases.txt: each document gives the findings listed after it,
// and none that begins with a text written "!text".
TEST(SettingsLintTest, EachDocumentGivesItsFindings) {
  const auto cases = testing::ReadCases(VORNLINK_TOOLS_TEST_DATA, "settings_lint_cases.txt");
  ASSERT_EQ(cases.size(), 8u);
  for (size_t i = 0; i + 1 < cases.size(); i += 2) {
    const std::string all = "\n" + Findings(cases[i].body);
    std::istringstream findings(cases[i + 1].body);
    for (std::string line; std::getline(findings, line);) {
      for (size_t at; (at = line.find("\\n")) != std::string::npos;) line.replace(at, 2, "\n");
      const bool absent = line[0] == '!';
      EXPECT_EQ(all.find(absent ? "\n" + line.substr(1) : line) == std::string::npos, absent)
          << cases[i].fields.at(1) << ": " << line << " in:" << all;
    }
  }
}

TEST(SettingsLintTest, IniCommentsAfterValues) {
  std::vector<LintFinding> found =
      LintIniFile("; a comment\n[FluidName]\n1=ATF ; the gear oil\n2=Oil\n#x=1;2\n[S;ection]\n");
  EXPECT_TRUE(found.size() == 1 && found[0].line == 3u && !found[0].problem);
}

}  // namespace
}  // namespace vornlink
