#include "platform/one_line_text.h"

#include <algorithm>

namespace vornlink {

std::string WithoutLineBreaks(std::string text, size_t max_size) {
  text.erase(
      std::remove_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }),
      text.end());
  if (text.size() > max_size) text.resize(max_size);
  return text;
}

}  // namespace vornlink
