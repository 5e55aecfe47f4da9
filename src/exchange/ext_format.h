// The placeholder formatter of the DMS exchanges.
//
// An `ExtFormat` is a table of two-character ordinals with typed values. A
// template is ordinary text with "%@" expressions in it: "%@" and an ordinal
// ("%@FU", "%@07"), optionally with a width, a precision and the flags '-'
// and '0' between the '%' and the '@' ("%-10@21", "%.3@09", "%08.2@K9").
// Each expression becomes the ordinal's value, formatted as printf would
// format it with the conversion letter of the value's type. "%%" becomes
// "%". Values are only reachable through ordinals: a plain printf conversion
// in a template is an error.
//
// Failures are thrown as `FailureText` with these texts:
//   "f[ExtFormat] t[Illegal Format String]"
//       a '%' not followed by '%' or by digits, '.' and '-' and then '@';
//       also a width or precision above kMaxFieldWidth, and runs of those
//       characters that are no printf conversion ("%5-@01", "%1.2.3@01")
//   "f[ExtFormat] t[At least one %@ expresion does not follow by two correct
//    alfanumeric ordinals]" (one line)
//       '@' not followed by two ASCII letters or digits
//   "f[ExtFormat] t[Ordinal does not exist in this context] @[XX]"
//       the ordinal XX is not in the table
//   "f[ExtFormat] t[DateAndTime has wrong format]"
//       AddDateTime with a date or time that is not 6 characters long
//
// One formatter belongs to one exchange call and is used by one thread; it
// holds no shared state, so different threads may use different formatters.
#ifndef VORNLINK_EXCHANGE_EXT_FORMAT_H_
#define VORNLINK_EXCHANGE_EXT_FORMAT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vornlink {

class ExtFormat {
 public:
  // The largest width or precision a template may ask for. Enough for any
  // field a DMS wants, and it keeps a typing error such as "%999999999@01"
  // from making the formatter allocate without bound.
  static constexpr int kMaxFieldWidth = 4096;

  struct Entry {
    std::string ordinal;  // exactly 2 characters
    char type = 's';      // 'd', 's' or 'f'
    int32_t int_value = 0;
    double double_value = 0.0;
    std::string text;
  };

  ExtFormat() = default;

  // Register one entry of type 'd', 's' or 'f'. An ordinal that is not
  // exactly 2 characters long is ignored. An ordinal already in the table
  // loses its old entry, and the new one goes to the end.
  void AddInt(std::string_view ordinal, int32_t value);
  void AddString(std::string_view ordinal, std::string_view value);
  void AddDouble(std::string_view ordinal, double value);

  // Registers the date and time ordinals of a local time given as `date`
  // (YYMMDD, year 2000 + YY) and `time` (HHMMSS): "10" four-digit year,
  // "11" two-digit year, "12" month, "13" day, "14" hour, "15" minute, "16"
  // second (texts of two digits), and "td", the day of the year (1 for
  // 1 January) as an integer. Each pair is read from its leading digits
  // (none give 0). Fields out of range roll over into the next unit (30
  // February is a day of March); daylight saving is decided by the system's
  // rules for the local time zone. With a `rounding_step` other than 0 the
  // moment is first rounded down to a multiple of that many seconds (its
  // magnitude) since 1970. Throws the DateAndTime failure when either text
  // is not 6 characters long, or when the system cannot represent the
  // moment.
  void AddDateTime(std::string_view date, std::string_view time, int32_t rounding_step);

  // The expanded template; throws one of the failures above. Nothing is
  // formatted unless the whole template is valid.
  std::string Format(std::string_view format) const;

  // The ordinal that a failure text of Format names as not in the table;
  // empty for every other text.
  static std::string MissingOrdinalOf(std::string_view failure_text);

  // Drops every entry.
  void Clear() { entries_.clear(); }

  // The entries in registration order.
  const std::vector<Entry>& entries() const { return entries_; }

  // The entry of `ordinal`, or nullptr.
  const Entry* Find(std::string_view ordinal) const;

 private:
  // Removes the old entry of `ordinal`, appends a fresh one and returns it;
  // nullptr when the ordinal is not 2 characters long.
  Entry* Replace(std::string_view ordinal, char type);

  // Room for the entries of one exchange, made at the first.
  static constexpr size_t kUsualEntries = 64;

  std::vector<Entry> entries_;
};

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_EXT_FORMAT_H_
