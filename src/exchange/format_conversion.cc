#include "exchange/format_conversion.h"

#include <cstdio>

namespace vornlink {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the digits at `*at` into `*value`; false when they exceed `limit`.
bool ReadNumber(std::string_view spec, size_t* at, int limit, int* value) {
  int number = 0;
  for (; *at < spec.size() && IsDigit(spec[*at]); ++*at) {
    number = number * 10 + (spec[*at] - '0');
    if (number > limit) return false;
  }
  *value = number;
  return true;
}

// The conversion as a printf format for one argument. Its parts have been
// checked by ParseConversion, so the C library sees nothing but flags, a
// bounded width and precision and `letter`.
std::string PrintfFormat(const Conversion& conversion, char letter) {
  std::string format = "%";
  if (conversion.left) format.push_back('-');
  if (conversion.zero) format.push_back('0');
  if (conversion.width > 0) format += std::to_string(conversion.width);
  if (conversion.precision >= 0) {
    format.push_back('.');
    format += std::to_string(conversion.precision);
  }
  format.push_back(letter);
  return format;
}

template <typename T>
void AppendPrintf(const std::string& format, T value, std::string* out) {
  char small[64];
  int size = std::snprintf(small, sizeof small, format.c_str(), value);
  if (size < 0) return;
  if (static_cast<size_t>(size) < sizeof small) {
    out->append(small, static_cast<size_t>(size));
    return;
  }
  std::string large(static_cast<size_t>(size) + 1, '\0');
  std::snprintf(&large[0], large.size(), format.c_str(), value);
  out->append(large, 0, static_cast<size_t>(size));
}

}  // namespace

bool ParseConversion(std::string_view spec, int max_field, Conversion* conversion) {
  Conversion parsed;
  size_t at = 0;
  for (; at < spec.size() && (spec[at] == '-' || spec[at] == '0'); ++at) {
    if (spec[at] == '-') {
      parsed.left = true;
    } else {
      parsed.zero = true;
    }
  }
  if (!ReadNumber(spec, &at, max_field, &parsed.width)) return false;
  if (at < spec.size() && spec[at] == '.') {
    ++at;
    if (!ReadNumber(spec, &at, max_field, &parsed.precision)) return false;
  }
  if (at != spec.size()) return false;
  *conversion = parsed;
  return true;
}

void AppendInt(const Conversion& conversion, int32_t value, std::string* out) {
  AppendPrintf(PrintfFormat(conversion, 'd'), static_cast<int>(value), out);
}

void AppendDouble(const Conversion& conversion, double value, std::string* out) {
  AppendPrintf(PrintfFormat(conversion, 'f'), value, out);
}

void AppendText(const Conversion& conversion, std::string_view value, std::string* out) {
  if (conversion.precision >= 0 && value.size() > static_cast<size_t>(conversion.precision)) {
    value = value.substr(0, static_cast<size_t>(conversion.precision));
  }
  size_t padding = 0;
  if (conversion.width > 0 && value.size() < static_cast<size_t>(conversion.width)) {
    padding = static_cast<size_t>(conversion.width) - value.size();
  }
  // The '0' flag pads text with zeros too, as the Windows C runtime does
  // (sites write their templates against it); '-' still wins.
  if (!conversion.left) out->append(padding, conversion.zero ? '0' : ' ');
  out->append(value);
  if (conversion.left) out->append(padding, ' ');
}

}  // namespace vornlink
