#include "vornlink/check/settings_lint.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/test_env.h"

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

// The `expected` findings that linting `document` does not give, then all it gives; "" if none.
std::string Unfound(const std::string& document, const std::vector<std::string>& expected) {
  const std::string all = Findings(document);
  const std::string missing = testing::Missing(all, expected);
  return missing.empty() ? "" : missing + "not in:\n" + all;
}

// The cases of data/settings_lint_cases.txt: after "#### document: NAME", a settings document,
// then after "#### findings" those it must give ("\n" for a line break inside one) and, after a
// "!", text no finding may begin with.
TEST(SettingsLintTest, EachDocumentGivesItsFindings) {
  std::istringstream in(testing::ReadBytes(VORNLINK_TOOLS_TEST_DATA "/settings_lint_cases.txt"));
  struct Case {
    std::string name, document;
    std::vector<std::string> found, absent;
    bool in_findings = false;
  };
  std::vector<Case> cases;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("#### document: ", 0) == 0) {
      cases.emplace_back().name = line.substr(15);
    } else if (cases.empty()) {
      continue;
    } else if (line == "#### findings") {
      cases.back().in_findings = true;
    } else if (!cases.back().in_findings) {
      cases.back().document += line + "\n";
    } else if (line[0] == '!') {
      cases.back().absent.push_back("\n" + line.substr(1));
    } else {
      for (size_t at; (at = line.find("\\n")) != std::string::npos;) line.replace(at, 2, "\n");
      cases.back().found.push_back(line);
    }
  }
  ASSERT_EQ(cases.size(), 4u);
  for (const Case& one : cases) {
    EXPECT_EQ(Unfound(one.document, one.found), "") << one.name;
    for (const std::string& text : one.absent) {
      EXPECT_EQ(("\n" + Findings(one.document)).find(text), std::string::npos) << one.name;
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
