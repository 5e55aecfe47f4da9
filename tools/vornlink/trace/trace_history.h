// What the cache and the driver's log tell of one transaction, named by its
// TransNo (and its JobNo, where a TransNo was used again): the cache lines
// that hold it now, and its story in the log, oldest first: handed over,
// each exchange and its outcome, released or dropped by an operator,
// removed. A Trid changes with every move of the line, so the story follows
// every Trid the log gives it.
#ifndef VORNLINK_TOOLS_VORNLINK_TRACE_TRACE_HISTORY_H_
#define VORNLINK_TOOLS_VORNLINK_TRACE_TRACE_HISTORY_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cache/cache_file.h"
#include "exchange/forward_transaction.h"

namespace vornlink {

struct TraceQuery {
  std::string trans_no;
  std::optional<std::string> job_no;  // none: any
};

// One step of the story.
struct TraceEvent {
  enum class Kind {
    kHandedOver,  // a cache line added for it (by the host's call or an operator)
    kUnwritten,   // the cache could not take it: it waits in memory, or is lost
    kAttempt,     // one exchange with the DMS
    kReleased,    // an operator released its parked line
    kDropped,     // an operator dropped its line
    kMoved,       // its line moved to the end of the cache with a new Trid
    kRemoved,     // its line left the cache (after a delivery)
    kOther,       // another entry that names one of its Trids
  } kind = Kind::kOther;
  std::string stamp;
  std::string trid;
  std::string text;  // what the entry says, in the tool's words
  // Attempts only: the exchange's outcome, when the log has its entry.
  std::optional<ForwardOutcome> outcome;
  std::string booking_key;
  std::string verdict;  // what the DMS said, or what went wrong
};

struct TraceHistory {
  std::vector<NumberedRecord> cache_lines;  // the lines that hold it now
  std::vector<TraceEvent> events;
  std::string log_start;  // the stamp of the log's first entry
  int attempts = 0;
  bool handed_over = false;  // the log shows the hand-over
  bool delivered = false;    // an attempt the DMS booked
};

// Reads `log_text` (the driver's log, whole) and `records` (the cache's
// lines) for `query`. Pure.
TraceHistory TraceTransaction(const TraceQuery& query, const std::vector<NumberedRecord>& records,
                              std::string_view log_text);

// How the tool names an exchange's outcome: "delivered", "retry later" ...
const char* OutcomeWords(ForwardOutcome outcome);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_TRACE_TRACE_HISTORY_H_
