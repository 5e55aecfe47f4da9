#include "base/counted_parts.h"

#include <charconv>

namespace vornlink {

void AppendCountedPart(std::string_view part, std::string* text) {
  char length[24];
  const char* end = std::to_chars(length, length + sizeof length, part.size()).ptr;
  text->append(length, static_cast<size_t>(end - length)).push_back(':');
  text->append(part);
}

std::string_view TakeCountedPart(std::string_view text, size_t* at) {
  size_t size = 0;
  while (*at < text.size() && text[*at] >= '0' && text[*at] <= '9')
    size = size * 10 + static_cast<size_t>(text[(*at)++] - '0');
  if (*at >= text.size() || text[*at] != ':') {
    *at = text.size();
    return std::string_view();
  }
  const std::string_view part = text.substr(*at + 1, size);
  *at += 1 + part.size();
  return part;
}

}  // namespace vornlink
