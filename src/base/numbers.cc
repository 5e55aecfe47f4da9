#include "base/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
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

// The power of ten of the leading non-zero digit of `number` (digits with
// an optional point, then an optional exponent): 2 for "123.4", -2 for
// "0.05", 400 for "1e400"; the lowest value when every digit is zero. Only
// its sign is asked for, to tell a number too large for a double from one
// too small.
int64_t DecimalExponent(std::string_view number) {
  const size_t exponent_at = number.find_first_of("eE");
  const std::string_view mantissa = number.substr(0, exponent_at);
  const size_t point = std::min(mantissa.find('.'), mantissa.size());
  const size_t first = mantissa.find_first_of("123456789");
  if (first == std::string_view::npos) return std::numeric_limits<int64_t>::min();
  int64_t power = first < point ? static_cast<int64_t>(point - first - 1)
                                : -static_cast<int64_t>(first - point);
  if (exponent_at != std::string_view::npos) {
    bool negative = false;
    int64_t exponent = 0;
    size_t at = exponent_at + 1;
    if (at < number.size() && (number[at] == '+' || number[at] == '-')) {
      negative = number[at++] == '-';
    }
    for (; at < number.size() && IsDigit(number[at]); ++at) {
      exponent = std::min<int64_t>(exponent * 10 + (number[at] - '0'), int64_t{1} << 40);
    }
    power += negative ? -exponent : exponent;
  }
  return power;
}

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
  auto [stop, error] =
      std::from_chars(text.data() + at, text.data() + end, value, std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    // As the C runtime reads it: too large is infinity, too small zero.
    value = DecimalExponent(text.substr(at, end - at)) > 0 ? HUGE_VAL : 0.0;
  }
  return negative ? -value : value;
}

}  // namespace vornlink
