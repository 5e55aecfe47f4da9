// Small pieces of the operator commands' output. Pure functions of their
// arguments, thread-safe; none fails. PrintBlock writes to `out` only, whose
// state (and errors) stay the caller's.
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_TEXT_OUTPUT_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_TEXT_OUTPUT_H_

#include <cstdint>
#include <iosfwd>
#include <string>

namespace vornlink {

// `text` line by line, each behind "    | ", carriage returns at line ends
// and at its end left out; "(empty)" for an empty text.
void PrintBlock(std::ostream& out, const std::string& text);

// A span of seconds for a person: "45 s", "12 min", "3 h 05 min", "2 d 04 h".
// Negative spans (a clock set back) read "0 s".
std::string FormatAge(int64_t seconds);

// `text` padded with blanks to `width` characters.
std::string Padded(const std::string& text, size_t width);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_TEXT_OUTPUT_H_
