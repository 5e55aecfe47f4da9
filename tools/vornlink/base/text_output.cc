#include "vornlink/base/text_output.h"

#include <cstdio>
#include <ostream>

#include "base/text_lines.h"

namespace vornlink {

void PrintBlock(std::ostream& out, const std::string& text) {
  if (text.empty()) {
    out << "    | (empty)\n";
    return;
  }
  // A carriage return at the very end (the TCP validation query's) would
  // show as an empty last line.
  std::string_view body = text;
  while (!body.empty() && body.back() == '\r') body.remove_suffix(1);
  for (std::string_view line : SplitLines(body)) {
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out << "    | " << line << "\n";
  }
}

std::string FormatAge(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  char text[48];
  if (seconds < 60) {
    std::snprintf(text, sizeof text, "%d s", static_cast<int>(seconds));
  } else if (seconds < 3600) {
    std::snprintf(text, sizeof text, "%d min", static_cast<int>(seconds / 60));
  } else if (seconds < 86400) {
    std::snprintf(text, sizeof text, "%d h %02d min", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds % 3600 / 60));
  } else {
    std::snprintf(text, sizeof text, "%lld d %02d h", static_cast<long long>(seconds / 86400),
                  static_cast<int>(seconds % 86400 / 3600));
  }
  return text;
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace vornlink
