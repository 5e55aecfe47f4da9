// How the operator commands name and count the states of cache lines. The
// states are the worker's own (LineState, cache/cache_record.h). The names
// are constants of static storage; everything but ProbeDeliveryLock is a
// pure function of its arguments, thread-safe, and never fails.
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_LINE_STATES_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_LINE_STATES_H_

#include <array>
#include <string>

#include "cache/cache_record.h"
#include "platform/env.h"

namespace vornlink {

class JsonWriter;

// Every state, in the order the tools show them.
inline constexpr LineState kAllLineStates[] = {LineState::kDueNew,    LineState::kDueRetry,
                                               LineState::kParked,    LineState::kStuck,
                                               LineState::kDelivered, LineState::kOutcomeUnknown};

inline LineState StateOf(const CacheRecord& record) {
  return StateOfLine(record.status(), record.trid());
}

// "due", "retry later", "parked", "stuck", "delivered", "unknown".
const char* StateName(LineState state);

// The state's name in the machine forms (JSON, metrics): "due",
// "retry_later", "parked", "stuck", "delivered_pending", "outcome_unknown".
const char* StateKey(LineState state);

// What a line marked delivered waits for.
inline constexpr char kDeliveredNote[] = "delivered, removal pending";
// What a line of unknown outcome says when it has no failure line: the
// stop's cut marked it in place.
inline constexpr char kCutMarkNote[] =
    "the stop cut the wait for the DMS's answer after the query went out: the DMS may have "
    "booked it";

// The line's message as the tools show it: its own, or for a line of
// unknown outcome without one, kCutMarkNote.
std::string MessageShown(const CacheRecord& record);

// What a probe of the delivery lock found.
enum class LockProbe {
  kFree,         // no service's worker delivers this cache
  kHeld,         // a worker holds it: its service runs
  kUnavailable,  // no worker can ever deliver (the reason says why)
  kNotJudged,    // this user may not open the lock file, which the host's
                 // user may well: a warning (the reason says so)
};

// Tries the delivery lock of the cache at `cache_path` as a worker does,
// with this user's rights, and gives it back at once. A lock file that is
// not there yet is not made (kFree). `reason` (not null) gets why for
// kUnavailable and kNotJudged. Through GetEnv(), from any thread; the lock
// is never held when it returns.
LockProbe ProbeDeliveryLock(const std::string& cache_path, std::string* reason);

// How many lines are in each state. Not thread-safe.
class StateCounts {
 public:
  void Add(LineState state) { ++counts_[static_cast<size_t>(state)]; }
  int operator[](LineState state) const { return counts_[static_cast<size_t>(state)]; }
  // "2 due, 1 retry later, 1 parked, 2 stuck", and ", 1 delivered, removal
  // pending" and ", 1 outcome unknown" where there are such lines.
  std::string Summary() const;

 private:
  std::array<int, kLineStateCount> counts_{};
};

// The counts as one JSON object, by StateKey.
void StateCountsJson(JsonWriter& json, const StateCounts& counts);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_LINE_STATES_H_
