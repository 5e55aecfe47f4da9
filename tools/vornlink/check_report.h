// The report of `vornlink check`: sections of labelled values, and the
// problems (the driver would fail) and warnings found, each printed where
// it is found and again in the summary.
#ifndef VORNLINK_TOOLS_VORNLINK_CHECK_REPORT_H_
#define VORNLINK_TOOLS_VORNLINK_CHECK_REPORT_H_

#include <iosfwd>
#include <string>
#include <vector>

namespace vornlink {

class CheckReport {
 public:
  explicit CheckReport(std::ostream& out) : out_(out) {}

  void Heading(const std::string& title);
  // "  label   value", the values lined up in one column.
  void Value(const std::string& label, const std::string& value);
  // A text as it stands, line by line.
  void Block(const std::string& text);
  void Note(const std::string& text);
  void Problem(const std::string& text);
  void Warning(const std::string& text);

  // The summary; returns the exit code: 0 without problems, else 1.
  int Finish();

 private:
  std::ostream& out_;
  std::vector<std::string> problems_;
  std::vector<std::string> warnings_;
};

// "[text]": how the report shows a value as it stands.
inline std::string Bracketed(const std::string& text) { return "[" + text + "]"; }

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CHECK_REPORT_H_
