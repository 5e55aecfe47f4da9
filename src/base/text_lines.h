// Splitting file contents into lines the way a text-mode reader sees them.
#ifndef VORNLINK_BASE_TEXT_LINES_H_
#define VORNLINK_BASE_TEXT_LINES_H_

#include <string_view>
#include <vector>

namespace vornlink {

// The lines of `text`: each ends at a line feed, which is not part of it, and
// a carriage return right before the line feed is dropped too. A last line
// without a line feed still counts; an empty text has no lines. The views
// point into `text`.
std::vector<std::string_view> SplitLines(std::string_view text);

// How many blanks and tabs `line` begins with: the indent that the
// settings readers pass over.
size_t LineIndent(std::string_view line);

}  // namespace vornlink

#endif  // VORNLINK_BASE_TEXT_LINES_H_
