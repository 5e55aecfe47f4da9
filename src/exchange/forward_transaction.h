// The forward-transaction exchange: delivers one cached transaction to the
// DMS and says what becomes of it.
#ifndef VORNLINK_EXCHANGE_FORWARD_TRANSACTION_H_
#define VORNLINK_EXCHANGE_FORWARD_TRANSACTION_H_

#include <string>
#include <string_view>

#include "base/failure_text.h"
#include "base/stop_signal.h"
#include "base/transaction_fields.h"

namespace vornlink {

enum class ForwardOutcome {
  kSuccess = 0,            // the reply code is in the success list: remove the line
  kNeedsAttention = 1,     // any failure, or a code in neither list: park the line
  kRetryLater = 2,         // the reply code is in the retry list: keep it due
  kStopped = 3,            // the stop signal ended the exchange before any of
                           // its query went out: leave the line as it is
  kCutAfterSending = 4,    // the query went out (in part or whole) and the
                           // stop's cut came before the reply: the DMS may
                           // have booked it, and its outcome is unknown
  kUnreachable = 5,        // nothing of the query reached the DMS (its name,
                           // the connect): keep the line due where it is
  kOutcomeUnknown = 6,     // the time limit ran out once the query had gone
                           // out: the DMS may have booked it; `*failure_line`
                           // says so
  kCutRepeatsDropped = 7,  // as kCutAfterSending, but the query carried the
                           // booking key and the site's DMS drops repeats of
                           // it (DmsDropsRepeats): the line may go again
};

// How the exchange treats what cannot be sent safely again.
struct ForwardOptions {
  // A DMS that cannot be reached fails the exchange (kNeedsAttention, the
  // failure line saying so) instead of kUnreachable: the outage has lasted
  // longer than the site lets lines wait.
  bool park_unreachable = false;
};

// Renders the query from the settings beside the module, sends it over the
// transport that the `Setup` item "TP" names, reads the reply by the result
// settings and classifies its code ("FWT" lines in the log, the last one
// stating the outcome). On kNeedsAttention and kOutcomeUnknown
// `*failure_line` gets the failure line ("FWT: WorkOrder[..] LineCode[..]
// --> <failure text>--> FAILED --> FWT_NEEDS_ATTENTION", with
// kMayHaveBookedNote before the last arrows for kOutcomeUnknown, and
// "--> DMS UNREACHABLE" before them for a DMS not reached that
// `options.park_unreachable` fails); otherwise it is left as it is. A time
// limit that ran out after the query went out gives kRetryLater instead of
// kOutcomeUnknown, and a stop's cut then kCutRepeatsDropped, where the
// query carried the booking key and the INI file says that the DMS drops
// repeats ([ForwardTransaction] DmsDropsRepeats, read then). Every wait of
// the transport ends promptly once `stop` (may be null) is set, but for the
// wait for the reply to a query that has gone out, which only its cut ends.
// `net` (may be null) gets what a failure tells a person to look at
// (kOther but for a failure of the network, and on success).
// Never throws; thread-safe: each call keeps its values to itself.
ForwardOutcome ForwardTransactionExchange(const TransactionFields& fields,
                                          std::string* failure_line, const StopSignal* stop,
                                          const ForwardOptions& options = ForwardOptions(),
                                          NetFailure* net = nullptr);

// Whether the site says that its DMS books each booking key once and
// answers a repeat as it answered the first: the INI file's
// [ForwardTransaction] DmsDropsRepeats, a number other than 0 (default 0).
bool DmsDropsRepeats();

// What a failure line says after its failure text when a time limit ended
// the exchange after the query went out: it may have reached the DMS, so
// releasing the parked line may book it twice.
inline constexpr std::string_view kMayHaveBookedNote =
    "(the time limit ran out, perhaps after the DMS had the query: it may have booked it) ";

// Whether a failure line (a parked line's message) carries that note.
bool FailureLineMayHaveBooked(std::string_view failure_line);

// The outcome that a log entry of this exchange states (flag and message
// as ParseLogEntry reads them back): the line the exchange writes last;
// `dms_unreachable` (may be null) tells whether it says that the DMS could
// not be reached (kUnreachable, or kNeedsAttention once the outage lasted
// too long). False for every other entry.
bool ForwardOutcomeOfLogEntry(char flag, std::string_view message, ForwardOutcome* outcome,
                              bool* dms_unreachable = nullptr);

// What the DMS said, or what went wrong, in such an outcome entry (or in a
// parked line's failure line): the part between the head with the work
// order and line code and the outcome's closing words, such as
// "Reply: c[0] t[OK]" or "TcpTransport: c[111] t[Connection refused]".
// `message` as it is when it has no such head.
std::string_view ForwardVerdictOfLogEntry(std::string_view message);

// Whether such an outcome entry (or a failure line) tells of the line with
// the job number `job_no`: its head names the work order and line code of
// that job number, split or kept whole. Tells one line's outcome from
// another's when their entries come in a different order than the lines.
bool ForwardLogEntryNamesJob(std::string_view message, std::string_view job_no);

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_FORWARD_TRANSACTION_H_
