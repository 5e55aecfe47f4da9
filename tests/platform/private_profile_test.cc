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

using testing::CaseLine;
using testing::EscapeField;
using testing::ProfileQuery;

std::string CaseFile(const std::string& name) {
  return std::string(VORNLINK_INI_CASES_DIR) + kPathSeparator + name;
}

std::vector<ProfileQuery> LoadQueries() {
  std::string text = testing::ReadBytes(CaseFile("queries.tsv"));
  std::vector<CaseLine> lines;
  std::string error;
  EXPECT_TRUE(testing::ParseCaseList(text, &lines, &error)) << error;
  std::vector<ProfileQuery> queries;
  for (const CaseLine& line : lines) {
    if (line.is_query) queries.push_back(line.query);
  }
  return queries;
}

std::string Describe(const ProfileQuery& query) {
  return query.file + " [" + EscapeField(query.section) + "] " + EscapeField(query.key) +
         " default '" + EscapeField(query.default_value) + "'";
}

TEST(PrivateProfileTest, ReaderGivesTheRecordedAnswers) {
  std::vector<ProfileQuery> queries = LoadQueries();
  ASSERT_GT(queries.size(), 100u) << "cases not found in " << VORNLINK_INI_CASES_DIR;
  for (const ProfileQuery& query : queries) {
    std::string path = CaseFile(query.file);
    std::string answer = testing::FileExists(path)
                             ? LookUpProfileString(testing::ReadBytes(path), query.section,
                                                   query.key, query.default_value)
                             : ProfileDefault(query.default_value);
    EXPECT_EQ(EscapeField(answer), EscapeField(query.expected)) << Describe(query);
  }
}

// On Windows this is the system's read, so the recorded answers are checked
// against the platform on every run; elsewhere it is the reader over a file.
TEST(PrivateProfileTest, PlatformReadGivesTheRecordedAnswers) {
  std::vector<ProfileQuery> queries = LoadQueries();
  ASSERT_GT(queries.size(), 100u);
  Env* env = DefaultEnv();
  for (const ProfileQuery& query : queries) {
    std::string answer =
        env->ReadProfileString(query.section, query.key, query.default_value, CaseFile(query.file));
    EXPECT_EQ(EscapeField(answer), EscapeField(query.expected)) << Describe(query);
  }
}

// Settings are read afresh at each use: a rewrite is seen by the next read,
// also when it keeps the file's size.
TEST(PrivateProfileTest, PlatformReadSeesEveryRewrite) {
  testing::TempDir dir;
  std::string path = dir.File("Vornlink.ini");
  Env* env = DefaultEnv();
  for (int round = 0; round < 5; ++round) {
    std::string value = "value" + std::to_string(round);
    testing::WriteBytes(path, "[ForwardTransaction]\r\nEnable=" + value + "\r\n");
    EXPECT_EQ(env->ReadProfileString("ForwardTransaction", "Enable", "1", path), value);
  }
}

}  // namespace
}  // namespace vornlink
