// How the operator commands name the state of a cache line, and the moment
// its Trid was made.
#ifndef VORNLINK_TOOLS_VORNLINK_CACHE_VIEW_H_
#define VORNLINK_TOOLS_VORNLINK_CACHE_VIEW_H_

#include <cstdint>
#include <string>

#include "cache/cache_record.h"

namespace vornlink {

enum class LineState {
  kDue,         // Status 0: new, sent in the next pass
  kRetryLater,  // Status 2: the DMS asked to try again; sent in every pass
  kParked,      // Status 1: failed; waits for a person
  kStuck,       // another Status or no well-formed Trid: the worker never
                // sends it, a person must look at it
};

// The state of `record` as the cache worker sees it.
LineState StateOf(const CacheRecord& record);

// "due", "retry later", "parked", "stuck".
const char* StateName(LineState state);

// The local date and time a well-formed Trid was made at, as seconds since
// 1970. False for a Trid that is not 18 digits naming a real moment.
bool TridTime(const std::string& trid, int64_t* unix_time);

// Whether `trid` is what the driver writes: 18 digits.
bool IsWellFormedTrid(const std::string& trid);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CACHE_VIEW_H_
