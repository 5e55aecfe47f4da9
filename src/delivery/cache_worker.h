// The cache worker: the one thread of the service that delivers the
// transactions of the cache file to the DMS.
//
// Threading: every function may be called from any thread; the readers of
// settings only read the INI file beside the module and keep no state.
// RunCacheWorker runs on the thread that calls it, for as long as the
// service runs. Failure: none of them throws; what fails is logged (by the
// worker) or handed back in the result (by the readers).
#ifndef VORNLINK_DELIVERY_CACHE_WORKER_H_
#define VORNLINK_DELIVERY_CACHE_WORKER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "base/stop_signal.h"
#include "platform/env.h"

namespace vornlink {

// The pause after each transaction the worker has treated.
inline constexpr uint32_t kWorkerPauseMs = 50;
// RetryTime is held within 0 seconds and a day.
inline constexpr int32_t kMaxRetrySeconds = 86400;

// The seconds between passes as the INI file beside the module sets them
// (section "CacheThread", key "RetryTime", default "10"), held within 0 and
// kMaxRetrySeconds. Only reads: nothing is logged. A missing or unreadable
// file reads as the default.
struct RetrySetting {
  std::string text;     // the value as it stands, or the default
  int32_t seconds = 0;  // what the worker waits
  bool held = false;    // the value was out of range: `seconds` is the nearest end
};
RetrySetting ReadRetrySetting();

// ReadRetrySetting's seconds, logged ('.'); a held value is logged with '*'
// first.
int32_t ReadRetrySeconds();

// How long the lines may wait for a DMS that cannot be reached before they
// are parked for a person: hours, in the INI file beside the module
// (section "CacheThread", key "ParkUnreachableAfterHours"), held within 0
// and kMaxParkUnreachableHours; 0 parks each such line at once. The default
// lets a DMS be down from a Saturday's work to Monday morning (about 44
// hours) and still get every line without a person; a site that must know
// sooner has `vornlink status` (stale after 15 minutes, "DMS unreachable
// since"). Only reads: nothing is logged.
inline constexpr int32_t kDefaultParkUnreachableHours = 48;
inline constexpr int32_t kMaxParkUnreachableHours = 24 * 365;
struct ParkUnreachableSetting {
  std::string text;   // the value as it stands, or the default
  int32_t hours = 0;  // what the worker uses
  bool held = false;  // the value was out of range: `hours` is the nearest end
};
ParkUnreachableSetting ReadParkUnreachableSetting();
// Its hours, logged as RetryTime is.
int32_t ReadParkUnreachableHours();

// The wait after the `passes`-th pass in a row (from 1) that ended at an
// unreachable DMS: RetryTime, doubled with each such pass up to
// kMaxUnreachableWaitMs (never below RetryTime), so that an outage of a
// night costs the log and the network a hundred tries, not thousands.
inline constexpr uint32_t kMaxUnreachableWaitMs = 5 * 60 * 1000;
uint32_t UnreachableWaitMs(uint32_t retry_ms, int passes);

// How long a worker must have met the DMS unreachable, exchange after
// exchange, before ParkUnreachableAfterHours may park a line: a workshop PC
// may start the host before its network is up.
inline constexpr uint32_t kUnreachableGraceMs = 10 * 60 * 1000;

// Starts the host's GUI program, which shows a person the cache, with the
// module's base name as its argument; does not wait for it, and a failure
// (no such program) is silent: the cache line is what a person must see.
void StartGuiProgram();

// The name (Windows) and lock file (elsewhere) of the lock that lets only one
// worker per cache file deliver at a time, also across processes. Pure:
// the same path gives the same name in every process (case and the path's
// separators do not matter on Windows); an empty path gives an empty lock
// file path.
std::string DeliveryLockName(const std::string& cache_path);
std::string DeliveryLockFilePath(const std::string& cache_path);

// What the first entry of a worker about the delivery lock of the cache at
// `cache_path` (flag and message as ParseLogEntry reads them back) says: the
// id of the process it runs in, and whether it took the lock (kTaken, held
// then until its stop), found it held by another (kHeld) or cannot have it
// (kUnavailable). False for every other entry.
bool WorkerStartOfLogEntry(char flag, std::string_view message, const std::string& cache_path,
                           uint32_t* process, TryLockResult* lock);

// The entry the worker writes with the '.' flag (always on) right before
// each exchange of a cached line, so that the log ties the exchange's own
// lines (which name the work order and line code only) to the line:
// "FWT: TransNo[T] JobNo[J] Trid[R] BookingKey[K] -> sending", the fields
// as the line holds them, on one line.
inline constexpr std::string_view kSendingEntryHead = "FWT: TransNo[";
inline constexpr std::string_view kSendingEntryJobNo = "] JobNo[";
inline constexpr std::string_view kSendingEntryTrid = "] Trid[";
inline constexpr std::string_view kSendingEntryKey = "] BookingKey[";
inline constexpr std::string_view kSendingEntryEnd = "] -> sending";
struct SendingEntry {
  std::string trans_no;
  std::string job_no;
  std::string trid;
  std::string booking_key;
};
std::string SendingLogEntry(const SendingEntry& entry);
// Reads such an entry back (flag and message as ParseLogEntry reads them);
// false for every other entry. The Trid and the key hold no brackets, so
// they are read from the end; a JobNo that holds "] JobNo[" is misread.
bool SendingOfLogEntry(char flag, std::string_view message, SendingEntry* entry);

// An environment variable of the process: "1" has the worker started after
// it make its first pass at once rather than one retry time after the start
// (`vornlink deliver` sets it). Read once, when the worker starts.
inline constexpr char kFirstPassAtOnceVariable[] = "VORNLINK_FIRST_PASS_AT_ONCE";

// Runs on the calling thread until `stop` is set (ends at once, and logs
// why, when the module's path and so the cache file is unknown); `stop`
// must outlive the call. One retry time after the start
// (at once with kFirstPassAtOnceVariable) and then after every pass, a pass
// walks the cache file once, in file order, and runs the forward-transaction exchange for each line
// whose Status is 0 or 2 and whose Trid is well formed when the walk reaches it, one after the
// other with a pause between:
//  - success: the line is removed;
//  - needs attention: the line moves to the end of the file with Status 1
//    and the failure line as its message (in one step), and "kmrgui" is
//    started, at most once per pass;
//  - retry later: the line moves to the end with Status 2;
//  - the DMS could not be reached (nothing of the query went out: its
//    name, the connect): the line stays due where it is and the pass ends,
//    since every other line would meet the same DMS; while it stays so, the
//    wait between passes grows (UnreachableWaitMs). Once this run has met
//    it so for kUnreachableGraceMs and a due line has waited longer than
//    ParkUnreachableAfterHours (at once when that is 0), the lines that
//    meet it unreachable in a pass are parked as above;
//  - the time limit ran out after the query went out: the DMS may have
//    booked it, so the line moves to the end with Status 4
//    (kOutcomeUnknownStatus) and its failure line, and "kmrgui" is started
//    as for a parked line; where the query carried the booking key and the
//    DMS drops repeats (DmsDropsRepeats) it is retried later instead;
//  - ended by the stop before any of its query went out: the line stays as
//    it is, and the worker ends. An exchange whose query went out is
//    finished and its outcome treated as above (the stop waits for it);
//    only the stop's cut ends it sooner: the line gets Status 4 in place
//    (or stays due, where the DMS drops the repeat of its key), a '*' line
//    says that the DMS may have booked it, and the worker ends.
// Before each pass, also one whose delivery lock another worker holds, it
// writes the transactions of this process that wait in memory for the
// cache (unwritten_queue.h).
// Each line is treated at most once a pass and none is passed over: lines
// added during the pass are met in it, those the pass moved to the end are
// left for the next. A line delivered, parked or set aside whose removal or
// move fails (a full disk) gets the Status kDeliveredStatus, kParkedStatus
// or kOutcomeUnknownStatus in place, so that it is not sent again after a
// restart either; where that mark fails too, the line is kept from sending
// in memory while the module stays loaded, by this worker and every later
// one of the process (a stop and a start of the service included). Each
// pass removes the lines marked delivered, all in one rewrite, once it can,
// and tries the other failed changes again. Such a change that keeps
// failing is logged once for each line and reason, not at every pass. Only one worker per cache
// file delivers: it tries the delivery lock at its start (and logs what came of it with its
// process's id) and before each pass until it has it, and holds it until the stop; a pass whose
// lock another worker holds, or that cannot be had at all (logged with its reason), is skipped.
// Every wait ends at once when `stop` is set, but for the pause between two lines, which runs out
// first.
void RunCacheWorker(const StopSignal& stop);

// Frees the lines that the workers keep from sending in memory, when the
// module is unloaded. Only when no worker runs or can start any more.
void ReleaseCacheWorkerMemory();

}  // namespace vornlink

#endif  // VORNLINK_DELIVERY_CACHE_WORKER_H_
