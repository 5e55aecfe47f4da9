// Trid: the 18-digit identifier of a cache line. The local date and time
// "YYYYMMDDhhmmss", a "0", then three digits (the tick count's milliseconds
// when that value is free).
#ifndef VORNLINK_CACHE_TRID_H_
#define VORNLINK_CACHE_TRID_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vornlink {

inline constexpr size_t kTridLength = 18;

// The 14 date-time digits of `unix_time` in local time.
std::string TridSecond(int64_t unix_time);

// The Trid of second `second` (14 digits) with the number `sub` (0-999).
std::string FormatTrid(std::string_view second, int sub);

// A Trid that no line of `cache_text` (the cache file's content) carries:
// the current second and the tick count's milliseconds, or the next value of
// that second that is free, or, when all 1000 are taken, one of a later
// second (it waits for it). Uses GetEnv() for the clocks.
std::string MakeUniqueTrid(std::string_view cache_text);

// The Trid of this moment, not checked against any file.
std::string MakeTrid();

}  // namespace vornlink

#endif  // VORNLINK_CACHE_TRID_H_
