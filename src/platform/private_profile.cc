#include "platform/private_profile.h"

#include <cstring>

namespace vornlink {
namespace {

bool IsProfileSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1a;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualsIgnoringCase(const char* a, size_t a_size, const std::string& b) {
  if (a_size != b.size()) return false;
  for (size_t i = 0; i < a_size; ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsProfileSpace(text[begin])) ++begin;
  while (end > begin && IsProfileSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string CutToMax(std::string text) {
  if (text.size() > kProfileValueMax) text.resize(kProfileValueMax);
  return text;
}

// The value as the read hands it out: matching quotes dropped unless the
// value had to be cut.
std::string CopyValue(const char* value, size_t size) {
  if (size >= 2 && (value[0] == '\'' || value[0] == '"') && value[size - 1] == value[0]) {
    std::string inner(value + 1, size - 1);  // still holds the closing quote
    if (inner.size() <= kProfileValueMax) {
      inner.pop_back();
      return inner;
    }
    return CutToMax(inner);
  }
  return CutToMax(std::string(value, size));
}

}  // namespace

std::string ProfileDefault(const std::string& default_value) {
  size_t end = default_value.size();
  while (end > 0 && default_value[end - 1] == ' ') --end;
  return CutToMax(default_value.substr(0, end));
}

std::string LookUpProfileString(const std::string& contents, const std::string& section,
                                const std::string& key, const std::string& default_value) {
  const std::string wanted_section = Trim(section);
  const std::string wanted_key = Trim(key);
  const char* const text = contents.data();
  const size_t size = contents.size();

  bool in_first_match = false;  // inside the first section named `section`
  bool seen_match = false;
  size_t next = 0;
  while (next < size) {
    const size_t start = next;
    const void* newline = std::memchr(text + start, '\n', size - start);
    if (newline == nullptr) newline = std::memchr(text + start, '\r', size - start);
    size_t end = newline != nullptr ? static_cast<const char*>(newline) - text : size;
    next = newline != nullptr ? end + 1 : size;

    size_t begin = start;
    while (begin < end && IsProfileSpace(text[begin])) ++begin;
    while (end > begin && IsProfileSpace(text[end - 1])) --end;
    if (begin >= end) continue;

    if (text[begin] == '[') {
      size_t close = end;  // one past the last "]"
      while (close > begin && text[close - 1] != ']') --close;
      if (close > begin) {
        if (in_first_match) return ProfileDefault(default_value);
        const char* name = text + begin + 1;
        bool matches = !seen_match && EqualsIgnoringCase(name, close - 2 - begin, wanted_section);
        in_first_match = matches;
        seen_match = seen_match || matches;
        continue;
      }
      // No "]": an ordinary line.
    }
    if (!in_first_match) continue;

    const void* equals = std::memchr(text + begin, '=', end - begin);
    if (equals == nullptr) {
      if (EqualsIgnoringCase(text + begin, end - begin, wanted_key)) {
        return ProfileDefault(default_value);
      }
      continue;
    }
    size_t name_end = static_cast<const char*>(equals) - text;
    size_t value_begin = name_end + 1;
    while (name_end > begin && IsProfileSpace(text[name_end - 1])) --name_end;
    while (value_begin < end && IsProfileSpace(text[value_begin])) ++value_begin;
    if (EqualsIgnoringCase(text + begin, name_end - begin, wanted_key)) {
      return CopyValue(text + value_begin, end - value_begin);
    }
  }
  return ProfileDefault(default_value);
}

}  // namespace vornlink
