// The report of `vornlink check`: sections of labelled values, and the
// problems (the driver would fail) and warnings found, each printed where
// it is found and again in the summary; or, for scripts, only the problems
// and warnings as one JSON document at the end.
#ifndef VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_REPORT_H_
#define VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_REPORT_H_

#include <iosfwd>
#include <string>
#include <vector>

namespace vornlink {

// Where a finding stands, when it stands on one line of a file.
struct FindingPlace {
  std::string file;  // its full path
  size_t line = 0;   // 1-based; 0: none
};

class CheckReport {
 public:
  // `module` is the module checked; `json`: print nothing but the JSON.
  CheckReport(std::ostream& out, const std::string& module, bool json)
      : out_(out), module_(module), json_(json) {}

  void Heading(const std::string& title);
  // "  label   value", the values lined up in one column.
  void Value(const std::string& label, const std::string& value);
  // A text as it stands, line by line.
  void Block(const std::string& text);
  void Note(const std::string& text);
  void Problem(const std::string& text, const FindingPlace& place = {});
  void Warning(const std::string& text, const FindingPlace& place = {});

  // From here on warnings fail the check as problems do (`check --strict`).
  void FailOnWarnings() { warnings_fail_ = true; }

  // The summary; returns the exit code: 0 without problems (and, after
  // FailOnWarnings, without warnings), else 1.
  int Finish();

 private:
  struct Finding {
    std::string section;
    std::string text;
    FindingPlace place;
  };
  void Add(const char* kind, std::vector<Finding>* list, const std::string& text,
           const FindingPlace& place);
  static std::string Shown(const Finding& finding);
  void FinishJson(int exit_code);

  std::ostream& out_;
  const std::string module_;
  const bool json_;
  bool warnings_fail_ = false;
  std::string section_;
  std::vector<Finding> problems_;
  std::vector<Finding> warnings_;
};

// "[text]": how the report shows a value as it stands.
inline std::string Bracketed(const std::string& text) { return "[" + text + "]"; }

// The file name of a path, without its folder.
std::string FileName(const std::string& path);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_REPORT_H_
