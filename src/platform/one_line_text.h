// Messages of the system and of libraries as the driver passes them on: on
// one line, so that a log entry or a failure text is never split.
#ifndef VORNLINK_PLATFORM_ONE_LINE_TEXT_H_
#define VORNLINK_PLATFORM_ONE_LINE_TEXT_H_

#include <cstddef>
#include <string>

namespace vornlink {

// `text` with every CR and LF removed, then cut to `max_size` characters.
std::string WithoutLineBreaks(std::string text, size_t max_size = std::string::npos);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_ONE_LINE_TEXT_H_
