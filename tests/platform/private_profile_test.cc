// INI reads: the driver's own reader and the platform's read (on Windows
// the system's) must both give the answers recorded from Windows for the
// cases in ini_cases/.
#include "platform/private_profile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/profile_cases.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using testing::EscapeField;

std::string CaseFile(const std::string& name) {
  return std::string(VORNLINK_INI_CASES_DIR) + kPathSeparator + name;
}

TEST(PrivateProfileTest, ReaderAndPlatformGiveTheRecordedAnswers) {
  std::vector<testing::CaseLine> lines;
  std::string error;
  ASSERT_TRUE(testing::ParseCaseList(testing::ReadBytes(CaseFile("queries.tsv")), &lines, &error))
      << error;
  int queries = 0;
  for (const testing::CaseLine& line : lines) {
    if (!line.is_query) continue;
    ++queries;
    const testing::ProfileQuery& query = line.query;
    SCOPED_TRACE(query.file + " [" + EscapeField(query.section) + "] " + EscapeField(query.key) +
                 " default '" + EscapeField(query.default_value) + "'");
    const std::string path = CaseFile(query.file);
    const std::string own = testing::FileExists(path)
                                ? LookUpProfileString(testing::ReadBytes(path), query.section,
                                                      query.key, query.default_value)
                                : ProfileDefault(query.default_value);
    EXPECT_EQ(EscapeField(own), EscapeField(query.expected));
    // On Windows this is the system's read, so the recorded answers are
    // checked against the platform on every run.
    EXPECT_EQ(EscapeField(DefaultEnv()->ReadProfileString(query.section, query.key,
                                                          query.default_value, path)),
              EscapeField(query.expected));
  }
  EXPECT_GT(queries, 100) << "cases not found in " << VORNLINK_INI_CASES_DIR;
}

// Settings are read afresh at each use: a rewrite is seen by the next read,
// also when it keeps the file's size.
TEST(PrivateProfileTest, PlatformReadSeesEveryRewrite) {
  testing::TempDir dir;
  std::string path = dir.File("Vornlink.ini");
  for (int round = 0; round < 5; ++round) {
    std::string value = "value" + std::to_string(round);
    testing::WriteBytes(path, "[ForwardTransaction]\r\nEnable=" + value + "\r\n");
    EXPECT_EQ(DefaultEnv()->ReadProfileString("ForwardTransaction", "Enable", "1", path), value);
  }
}

}  // namespace
}  // namespace vornlink
