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

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_LOG_LINES_H_
