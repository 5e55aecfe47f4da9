#include "base/text_lines.h"

namespace vornlink {

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    size_t line_end = (end > start && text[end - 1] == '\r') ? end - 1 : end;
    lines.push_back(text.substr(start, line_end - start));
    start = end + 1;
  }
  return lines;
}

size_t LineIndent(std::string_view line) {
  size_t indent = 0;
  while (indent < line.size() && (line[indent] == ' ' || line[indent] == '\t')) ++indent;
  return indent;
}

}  // namespace vornlink
