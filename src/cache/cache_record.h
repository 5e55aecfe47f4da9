// One line of the cache file in memory, and the line format.
//
// A line holds 16 fields separated by single commas, no quoting:
//   1-12 the transaction (TransNo, JobNo, Date, Time, UserId, Field04,
//        Field05, FluidKey, fluid name, fluid part number, Quantity, Field08)
//   13   Status: "0" new, "1" needs attention, "2" retry later, "3"
//        delivered but not yet removed (see kDeliveredStatus), "4" outcome
//        unknown (see kOutcomeUnknownStatus)
//   14   Trid, the line's identifier
//   15   reserved ("0" or empty, never read)
//   16   Message: everything after the fifteenth comma, commas included
#ifndef VORNLINK_CACHE_CACHE_RECORD_H_
#define VORNLINK_CACHE_CACHE_RECORD_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/transaction_fields.h"

namespace vornlink {

struct CacheRecord {
  // Line fields 1 to 14, then field 16; field 15 is not kept.
  static constexpr size_t kFieldCount = 15;
  static constexpr size_t kStatus = 12;
  static constexpr size_t kTrid = 13;
  static constexpr size_t kMessage = 14;

  std::array<std::string, kFieldCount> fields;

  const std::string& trans_no() const { return fields[0]; }
  const std::string& status() const { return fields[kStatus]; }
  const std::string& trid() const { return fields[kTrid]; }
  const std::string& message() const { return fields[kMessage]; }
  TransactionFields transaction() const;
};

// The Status the worker writes in place of a line's own when the DMS booked
// the line but the file could not be rewritten without it (a full disk):
// one character, overwritten in place, so that no free space is needed.
// Any reader that only sends Status 0 and 2 leaves such a line alone.
inline constexpr char kDeliveredStatus = '3';
// The Status of a line that is due: a new one, or one an operator released.
inline constexpr char kDueStatus = '0';
// The Status of a line the DMS asked to send again later.
inline constexpr char kRetryLaterStatus = '2';
// The Status of a parked line, written in place the same way when a failed
// line cannot be moved to the end with its failure line.
inline constexpr char kParkedStatus = '1';
// The Status of a line that the DMS may have booked: its query went out,
// and the time limit or the stop's cut ended the wait for the answer. It
// is not sent again until a person releases it. The worker writes it in
// place at a stop's cut (quick, and no free space needed), or moves the
// line to the end with it and its failure line. Readers that only send
// Status 0 and 2 leave it alone.
inline constexpr char kOutcomeUnknownStatus = '4';

// What the cache worker does with a line, by its Status (read as a decimal
// integer: empty counts as 0) and its Trid. The operator's tool shows the
// same states.
enum class LineState {
  kDueNew,          // Status 0: sent in the next pass
  kDueRetry,        // Status 2: the DMS asked to try again; sent in every pass
  kParked,          // Status 1: failed; waits for a person
  kStuck,           // any other Status, or a Trid that is not well formed: never
                    // sent and never parked, so only a person can help it
  kDelivered,       // Status 3: the DMS booked it, its removal is pending: never
                    // sent again; the worker removes it once the file can be
                    // rewritten
  kOutcomeUnknown,  // Status 4: the DMS may have booked it; waits for a
                    // person, who looks there and releases it or drops it
};
inline constexpr size_t kLineStateCount = 6;

LineState StateOfLine(std::string_view status, std::string_view trid);

// How long a line has waited, as the operator's tool judges it: from the
// dispense (the transaction's Date and Time, local time) or from its Trid
// (which each retry renews), whichever is older; a dispense that names no
// moment leaves the Trid. A start after `now` means the clock was set back
// since: the line's true age cannot be told, so it counts as old.
struct LineAge {
  enum class Kind {
    kUnknown,  // neither the dispense nor the Trid names a moment
    kKnown,    // `seconds` since the start
    kFuture,   // the start lies `seconds` after `now`
  };
  Kind kind = Kind::kUnknown;
  int64_t seconds = 0;

  // Whether a line of this age has waited longer than `limit` seconds.
  bool Exceeds(int64_t limit) const {
    return kind == Kind::kFuture || (kind == Kind::kKnown && seconds > limit);
  }
};
LineAge AgeOfLine(const CacheRecord& record, int64_t now);

// Whether the worker takes up a line of this Status (0 or 2): it sends the
// line when its Trid is well formed and reports it otherwise.
bool IsDueStatus(std::string_view status);

// Reads one line (without its line end) into `record`: 14 fields from the
// left, the fifteenth dropped, the rest into the message. Missing fields
// are empty.
void ParseCacheLine(std::string_view line, CacheRecord* record);

// Field 14 of a line, without splitting the rest.
std::string_view TridOfLine(std::string_view line);

// Fields 13 (Status) and 14 (Trid) of a line, without splitting the rest.
void StatusAndTridOfLine(std::string_view line, std::string_view* status, std::string_view* trid);

// The lines of `text`, cut as SplitLines cuts them, that contain `needle`
// (which holds no line feed), in order; every line when `needle` is empty.
// A quick sieve for a Trid: only these lines can carry it, and a long cache
// is searched far faster than its lines are split into fields.
std::vector<std::string_view> LinesContaining(std::string_view text, std::string_view needle);

// `value` as a line holds it: a line break (it would split the line) and,
// unless `keep_commas` (for the message, the line's last field), a comma
// (it would shift every later field) become blanks.
std::string FieldAsWritten(std::string_view value, bool keep_commas);

// What FieldAsWritten changed in a line's fields.
struct WrittenChanges {
  std::vector<int> fields;  // the numbers (from 1) of the transaction's fields
  bool message = false;
};

// Joins the fields into one line (without line end). With `written`, each
// field as written (FieldAsWritten; the message keeps its commas; the Trid
// as it is), in one pass, and `*written` says what that changed.
std::string FormatCacheLine(const TransactionFields& transaction, std::string_view status,
                            std::string_view trid, std::string_view reserved,
                            std::string_view message, WrittenChanges* written = nullptr);

}  // namespace vornlink

#endif  // VORNLINK_CACHE_CACHE_RECORD_H_
