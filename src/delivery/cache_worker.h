// The cache worker: the one thread of the service that delivers the
// transactions of the cache file to the DMS.
#ifndef VORNLINK_DELIVERY_CACHE_WORKER_H_
#define VORNLINK_DELIVERY_CACHE_WORKER_H_

#include <cstdint>
#include <string>

#include "base/stop_signal.h"

namespace vornlink {

// The pause after each transaction the worker has treated.
inline constexpr uint32_t kWorkerPauseMs = 50;
// RetryTime is held within 0 seconds and a day.
inline constexpr int32_t kMaxRetrySeconds = 86400;

// The seconds between passes, from the INI file beside the module (section
// "CacheThread", key "RetryTime", default 10), logged; a value out of range
// is held at the nearest end and logged with '*'.
int32_t ReadRetrySeconds();

// The name (Windows) and lock file (elsewhere) of the lock that lets only one
// worker per cache file deliver at a time, also across processes.
std::string DeliveryLockName(const std::string& cache_path);
std::string DeliveryLockFilePath(const std::string& cache_path);

// Runs until `stop` is set (ends at once, and logs why, when the module's
// path and so the cache file is unknown): one retry time after the start
// and then after every pass, a pass walks the cache file from its first
// line and runs the forward-transaction exchange for each line whose Status
// is 0 or 2 and whose Trid is well formed, one after the other with a pause
// between:
//  - success: the line is removed, and the pass starts again at the first
//    line;
//  - needs attention: the line moves to the end of the file with Status 1
//    and the failure line as its message (in one step), and "kmrgui" is
//    started, at most once per pass;
//  - retry later: the line moves to the end with Status 2;
//  - cut short by the stop: the line stays as it is, and the worker ends.
// Before each pass, also one whose delivery lock another worker holds, it
// writes the transactions of this process that wait in memory for the
// cache (unwritten_queue.h).
// A line delivered or parked whose removal failed is not sent again in this
// run; its removal is tried again once per pass. Only one worker per cache
// file delivers at a time: a pass whose delivery lock another worker holds
// is skipped. Every wait ends at once when `stop` is set, but for the pause
// between two lines, which runs out first.
void RunCacheWorker(const StopSignal& stop);

}  // namespace vornlink

#endif  // VORNLINK_DELIVERY_CACHE_WORKER_H_
