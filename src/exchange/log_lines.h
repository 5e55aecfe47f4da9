// Diagnostic log lines of the exchanges: a label padded to a column, then
// the value in brackets. Values are taken byte for byte, never as a format.
#ifndef VORNLINK_EXCHANGE_LOG_LINES_H_
#define VORNLINK_EXCHANGE_LOG_LINES_H_

#include <string>
#include <string_view>

#include "log/log.h"

namespace vornlink {

// Writes "<label>[<value>]" with `flag`; with `value_on_next_line` a carriage
// return and a line feed stand between '[' and the value. The line is not
// even built when the flag is switched off.
inline void LogBracketed(char flag, std::string_view label, std::string_view value,
                         bool value_on_next_line = false) {
  if (flag >= 'a' && flag <= 'z' && !IsFlagEnabled(flag)) return;
  std::string line;
  line.reserve(label.size() + value.size() + 4);
  line.append(label);
  line.push_back('[');
  if (value_on_next_line) line.append("\r\n");
  line.append(value);
  line.push_back(']');
  LogWriteLine(flag, line);
}

// The labels of the lines that name an exchange's connection (flag 'h'),
// of its reply's code and text (flag 'r'), for the writers and the readers.
// The exchange's own ones follow its prefix and a blank ("FWT URL").
inline constexpr std::string_view kTransportTypeLabel = "Transport type";
inline constexpr std::string_view kUrlLabel = "URL";
inline constexpr std::string_view kUserNameLabel = "UserName";
inline constexpr std::string_view kPassWordLabel = "PassWord";
inline constexpr std::string_view kMethodLabel = "Method";
inline constexpr std::string_view kResultLabel = "Result";
inline constexpr std::string_view kDescriptionLabel = "Description";

// `label` after `prefix` and a blank (`prefix` empty: alone), padded with
// blanks to the column where the connection lines' values begin.
inline std::string ConnectionLabel(std::string_view prefix, std::string_view label) {
  constexpr size_t kColumn = 22;
  std::string text(prefix);
  if (!text.empty()) text.push_back(' ');
  text.append(label);
  if (text.size() < kColumn) text.append(kColumn - text.size(), ' ');
  return text;
}

// `label` after blanks up to the column where the reply lines' values begin.
inline std::string ReplyLabel(std::string_view label) {
  constexpr size_t kColumn = 27;
  return std::string(label.size() < kColumn ? kColumn - label.size() : 0, ' ').append(label);
}

// The value of a line that LogBracketed wrote with `label` (padded as
// above, or not): what stands between its '[' and its last ']', without
// the line break that `value_on_next_line` puts after the '['. False, and
// `value` untouched, for any other line.
inline bool LoggedValue(std::string_view message, std::string_view label, std::string* value) {
  const size_t open = message.find('[');
  const size_t close = message.rfind(']');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return false;
  }
  std::string_view head = message.substr(0, open);
  while (!head.empty() && head.front() == ' ') head.remove_prefix(1);
  while (!head.empty() && head.back() == ' ') head.remove_suffix(1);
  if (head.empty() || head != label) return false;
  std::string_view found = message.substr(open + 1, close - open - 1);
  if (found.substr(0, 2) == "\r\n") found.remove_prefix(2);
  value->assign(found);
  return true;
}

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_LOG_LINES_H_
