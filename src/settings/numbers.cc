#include "settings/numbers.h"

#include <charconv>
#include <limits>

namespace vornlink {
namespace {

bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Skips white space and one sign; true when the sign was '-'.
size_t SkipToDigits(std::string_view text, bool* negative) {
  size_t at = 0;
  while (at < text.size() && IsWhiteSpace(text[at])) ++at;
  *negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    *negative = text[at] == '-';
    ++at;
  }
  return at;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int32_t LeadingInt(std::string_view text) {
  bool negative = false;
  size_t at = SkipToDigits(text, &negative);
  int64_t value = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; at < text.size() && IsDigit(text[at]); ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}

double LeadingDouble(std::string_view text) {
  bool negative = false;
  size_t at = SkipToDigits(text, &negative);
  // Only plain decimal notation: no hexadecimal, no "inf" or "nan" words.
  size_t end = at;
  while (end < text.size() && IsDigit(text[end])) ++end;
  if (end < text.size() && text[end] == '.') {
    ++end;
    while (end < text.size() && IsDigit(text[end])) ++end;
  }
  if (end == at || (end == at + 1 && text[at] == '.')) return 0.0;
  if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
    size_t exponent = end + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    if (exponent < text.size() && IsDigit(text[exponent])) {
      end = exponent;
      while (end < text.size() && IsDigit(text[end])) ++end;
    }
  }
  double value = 0.0;
  std::from_chars(text.data() + at, text.data() + end, value, std::chars_format::general);
  return negative ? -value : value;
}

}  // namespace vornlink
