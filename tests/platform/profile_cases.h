// The list of INI lookups that the private-profile reads of both platforms
// must answer alike (ini_cases/queries.tsv), and its text form.
//
// One query a line, five fields separated by tabs: the INI file (a name in
// the case folder), section, key, default and the answer recorded from the
// Windows read. Fields are escaped: "\\", "\t", "\r", "\n" and "\xHH" for
// any other byte below 0x20 or from 0x7F, and for a blank at either end of
// a field. Lines that are empty or start with "#" are comments.
#ifndef VORNLINK_TESTS_PLATFORM_PROFILE_CASES_H_
#define VORNLINK_TESTS_PLATFORM_PROFILE_CASES_H_

#include <string>
#include <vector>

namespace vornlink {
namespace testing {

struct ProfileQuery {
  std::string file, section, key, default_value;
  std::string expected;  // empty when the line has no fifth field
};

// One line of the list: a comment (kept as it is) or a query.
struct CaseLine {
  bool is_query = false;
  std::string comment;
  ProfileQuery query;
};

// Parses a whole list. False, with `error` naming the line, on a line that
// is neither a comment nor four or five fields, or on a bad escape.
bool ParseCaseList(const std::string& text, std::vector<CaseLine>* lines, std::string* error);

// The escaped form of one field.
std::string EscapeField(const std::string& raw);

// A query line of the list with `answer` as its fifth field.
std::string FormatQueryLine(const ProfileQuery& query, const std::string& answer);

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_PLATFORM_PROFILE_CASES_H_
