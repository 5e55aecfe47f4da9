// Trid: the 18-digit identifier of a cache line. The local date and time
// "YYYYMMDDhhmmss", a "0", then three digits (the tick count's milliseconds
// when that value is free).
#ifndef VORNLINK_CACHE_TRID_H_
#define VORNLINK_CACHE_TRID_H_

#include <bitset>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace vornlink {

inline constexpr size_t kTridLength = 18;
inline constexpr int kTridsPerSecond = 1000;

// Which of the 1000 values of one second lines already carry.
using TakenTrids = std::bitset<kTridsPerSecond>;
// Trids as numbers (TridNumber).
using TridNumbers = std::unordered_set<int64_t>;

// The 14 date-time digits of `unix_time` in local time.
std::string TridSecond(int64_t unix_time);

// The Trid of second `second` (14 digits) with the number `sub` (0-999).
std::string FormatTrid(std::string_view second, int sub);
// `second` (14 digits) as a number, as SplitTridNumber gives it; -1 when it
// is not 14 digits.
int64_t TridSecondNumber(std::string_view second);

// The Trid of `second` with the value `tick` modulo 1000, or the next value
// after it that `taken` leaves free; empty when all are taken.
std::string PickTrid(std::string_view second, const TakenTrids& taken, uint32_t tick);

// A Trid as a number: its 18 digits, or -1 when it is not 18 digits.
int64_t TridNumber(std::string_view trid);
// Whether `trid` has the form the driver writes: 18 digits. The worker sends
// no line whose Trid has another form.
bool IsWellFormedTrid(std::string_view trid);
// The moment a well-formed Trid was made at (its date-time digits read as
// local time), as seconds since 1970. False when the digits name no real
// moment or the Trid is not well formed.
bool TridUnixTime(std::string_view trid, int64_t* unix_time);
// The moment of a dispense as the host gives it: `date` YYMMDD (year 2000 +
// YY) and `time` HHMMSS, local time. False unless both are six digits that
// name a real moment (no day rolls over into the next month).
bool DispenseUnixTime(std::string_view date, std::string_view time, int64_t* unix_time);
// Of a Trid number as the driver makes them: the 14 date-time digits as a
// number and the value 0 to 999. False for -1 and for a value part of 1000
// or more (the fifteenth digit is not "0"), which the driver never makes.
bool SplitTridNumber(int64_t number, int64_t* second, int* value);

// The values of `second` (14 digits) that the Trid fields of the lines of
// `cache_text` (the cache file's content) carry.
TakenTrids TakenTridsIn(std::string_view cache_text, std::string_view second);

// A Trid that no line of the cache carries, by `taken_in` (the values of the
// second given by its 14 digits that lines carry): the current second and the
// tick count's milliseconds, or the next value of that second that is free,
// or, when all 1000 are taken, one of a later second (it waits for it). Uses
// GetEnv() for the clocks.
std::string MakeUniqueTrid(const std::function<TakenTrids(std::string_view second)>& taken_in);

// The Trid of this moment, not checked against any file.
std::string MakeTrid();

}  // namespace vornlink

#endif  // VORNLINK_CACHE_TRID_H_
