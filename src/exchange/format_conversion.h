// One printf-style conversion of the placeholder formatter, built from its
// parts instead of handing template text to the C library.
//
// A template may only carry the flags '-' and '0', a width and a precision
// (digits, '.' and '-' are all the formatter's walk lets through); these
// functions check that the characters form such a conversion and format one
// value with it exactly as printf would. Pure functions; thread-safe.
#ifndef VORNLINK_EXCHANGE_FORMAT_CONVERSION_H_
#define VORNLINK_EXCHANGE_FORMAT_CONVERSION_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vornlink {

struct Conversion {
  bool left = false;   // '-': pad on the right
  bool zero = false;   // '0': pad numbers with zeros
  int width = 0;       // 0: no width
  int precision = -1;  // -1: none
};

// Reads `spec`, the characters between '%' and the conversion letter: any
// number of '-' and '0' flags, then an optional width, then an optional '.'
// and precision (a lone '.' is precision 0). False when `spec` is not of
// that form or a width or precision is above `max_field`.
bool ParseConversion(std::string_view spec, int max_field, Conversion* conversion);

// Appends `value` as "%d", "%f" or "%s" with the conversion's flags, width
// and precision. Text is taken byte for byte (a zero byte does not end it);
// its precision is the number of bytes kept, and '0' pads it with zeros, as
// the Windows C runtime does, unless '-' pads it on the right.
void AppendInt(const Conversion& conversion, int32_t value, std::string* out);
void AppendDouble(const Conversion& conversion, double value, std::string* out);
void AppendText(const Conversion& conversion, std::string_view value, std::string* out);

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_FORMAT_CONVERSION_H_
