// Numbers read from the leading part of a text, as the driver reads every
// integer setting and field: leading white space, an optional sign, then as
// many digits as stand there. A text without them reads as 0. Never fails.
#ifndef VORNLINK_BASE_NUMBERS_H_
#define VORNLINK_BASE_NUMBERS_H_

#include <cstdint>
#include <string_view>

namespace vornlink {

// Decimal integer; values beyond the 32-bit range are held at its ends.
int32_t LeadingInt(std::string_view text);

// Decimal floating-point number: digits with an optional point and exponent,
// reading stopping at the first character that does not fit.
double LeadingDouble(std::string_view text);

}  // namespace vornlink

#endif  // VORNLINK_BASE_NUMBERS_H_
