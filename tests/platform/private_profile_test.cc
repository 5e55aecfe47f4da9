// INI reads: the driver's own reader and the platform's (on Windows the system's, so that a run
// under Wine checks the record itself) give the answers recorded from Windows (ini_cases/).
#include "platform/private_profile.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/env.h"
#include "testing/case_file.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

std::string CaseFile(const std::string& name) {
  return std::string(VORNLINK_INI_CASES_DIR) + kPathSeparator + name;
}

TEST(PrivateProfileTest, ReaderAndPlatformGiveTheRecordedAnswers) {
  std::istringstream list(testing::ReadBytes(CaseFile("queries.tsv")));
  int queries = 0;
  for (std::string line; std::getline(list, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line);
    std::vector<std::string> q;              // file, section, key, default, answer
    std::istringstream fields(line + '\t');  // each field ends at a tab, the last one too
    for (std::string field; std::getline(fields, field, '\t');)
      q.push_back(testing::Unescape(field));
    ASSERT_EQ(q.size(), 5u);
    ++queries;
    const std::string path = CaseFile(q[0]);
    EXPECT_EQ(testing::FileExists(path)
                  ? LookUpProfileString(testing::ReadBytes(path), q[1], q[2], q[3])
                  : ProfileDefault(q[3]),
              q[4]);
    EXPECT_EQ(DefaultEnv()->ReadProfileString(q[1], q[2], q[3], path), q[4]);
    EXPECT_EQ(DefaultEnv()->ReadProfileStrings({{q[1], q[2], q[3]}, {q[1], q[2], q[3]}}, path),
              std::vector<std::string>(2, q[4]));
  }
  EXPECT_GT(queries, 100) << "cases not found in " << VORNLINK_INI_CASES_DIR;
}

}  // namespace
}  // namespace vornlink
