#include "vornlink/check/sample_placeholders.h"

#include <string>

#include "base/text_lines.h"

namespace vornlink {

std::vector<LintFinding> FindSamplePlaceholders(std::string_view document) {
  static const struct {
    const char* text;
    const char* finding;
  } kPlaceholders[] = {
      {"dms.example.com",
       "the sample's DMS address dms.example.com is still in place: give the DMS's host name or "
       "address"},
      {">change-me<",
       "the sample's placeholder password is still in place: give the DMS user's password"},
      {"C:\\Fluid",
       "the sample's folder C:\\Fluid is still in place: give the full path of the host's "
       "folder"},
  };
  std::vector<LintFinding> found;
  bool in_comment = false;
  size_t number = 0;
  for (std::string_view line : SplitLines(document)) {
    ++number;
    std::string outside;  // the line without its comments
    for (size_t at = 0; at < line.size();) {
      const size_t mark = line.find(in_comment ? "-->" : "<!--", at);
      if (!in_comment) outside.append(line.substr(at, mark - at));
      if (mark == std::string_view::npos) break;
      at = mark + (in_comment ? 3 : 4);
      in_comment = !in_comment;
    }
    for (const auto& placeholder : kPlaceholders) {
      if (outside.find(placeholder.text) != std::string::npos) {
        found.push_back({number, /*problem=*/false, placeholder.finding});
      }
    }
  }
  return found;
}

}  // namespace vornlink
