#include "delivery/cache_worker.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "base/module_singleton.h"
#include "base/numbers.h"
#include "cache/cache_file.h"
#include "cache/cache_reserve.h"
#include "cache/trid.h"
#include "cache/unwritten_queue.h"
#include "delivery/unsendable_lines.h"
#include "exchange/booking_key.h"
#include "exchange/forward_transaction.h"
#include "log/log.h"
#include "platform/env.h"
#include "platform/process.h"
#include "settings/module_files.h"

namespace vornlink {
namespace {

// The entries that tell of the delivery lock: the head, then these words.
constexpr std::string_view kLockHeldWords = "is delivered by another worker -> this one waits";
constexpr std::string_view kLockUnavailableWords = "delivery lock cannot be taken t[";
// The worker's first entry about the lock: the head, the process, then what
// it found (kTaken, kHeld, kUnavailable).
constexpr std::string_view kStartProcess = "Process[";
constexpr std::pair<TryLockResult, std::string_view> kStartWords[] = {
    {TryLockResult::kTaken,
     "] delivery lock taken -> this worker delivers the cache until the stop"},
    {TryLockResult::kHeld, "] delivery lock held by another worker -> this worker waits"},
    {TryLockResult::kUnavailable, "] delivery lock cannot be taken -> this worker waits"}};

std::string LockEntryHead(const std::string& cache_path) {
  return "ForwardTransaction: Cache[" + cache_path + "] ";
}

// A failure line fit for the last field of a cache line: every control
// byte (a line feed from a multi-line setting would split the line) is a
// blank.
std::string MessageField(std::string text) {
  for (char& c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) c = ' ';
  }
  return text;
}

// The longest any due line has waited, as AgeOfLine tells (a line dated
// ahead cannot tell, and counts for nothing); 0 when none is, or when the
// cache cannot be read.
int64_t LongestDueWait() {
  std::vector<NumberedRecord> records;
  std::string error;
  if (!ReadCacheRecords(&records, &error)) return 0;
  const int64_t now = GetEnv()->UnixTime();
  int64_t longest = 0;
  for (const NumberedRecord& line : records) {
    const CacheRecord& record = line.record;
    if (!IsDueStatus(record.status()) || !IsWellFormedTrid(record.trid())) continue;
    const LineAge age = AgeOfLine(record, now);
    if (age.kind == LineAge::Kind::kKnown) longest = std::max(longest, age.seconds);
  }
  return longest;
}

ModuleSingleton<UnsendableLines> g_unsendable;

class CacheWorker {
 public:
  explicit CacheWorker(const StopSignal& stop) : stop_(stop) {}

  void Run() {
    const uint32_t retry_ms = static_cast<uint32_t>(ReadRetrySeconds()) * 1000u;
    const bool first_at_once = ProcessEnvironmentValue(kFirstPassAtOnceVariable) == "1";
    park_hours_ = ReadParkUnreachableHours();
    cache_path_ = CacheFilePath();
    const std::string& cache_path = cache_path_;
    if (cache_path.empty()) {
      // Without it there is no cache file and no delivery lock: nothing to
      // wait for either.
      LogPrint('*',
               "ForwardTransaction: Cache file unknown: the module's path is unknown -> nothing "
               "is delivered");
      return;
    }
    std::unique_ptr<CrossProcessMutex> delivery =
        GetEnv()->NewNamedMutex(DeliveryLockName(cache_path), DeliveryLockFilePath(cache_path));
    // Once taken, the lock is held until the stop, between passes too: while
    // this service runs, no other worker delivers this cache and none can
    // start to (an operator's `vornlink deliver` is refused).
    const TryLockResult first = TryDeliveryLock(delivery.get(), cache_path);
    for (const auto& [lock, words] : kStartWords) {
      if (lock != first) continue;
      LogWriteLine('.', LockEntryHead(cache_path) + std::string(kStartProcess) +
                            std::to_string(CurrentProcessId()) + std::string(words));
    }
    bool held = first == TryLockResult::kTaken;
    uint32_t wait_ms = first_at_once ? 0 : retry_ms;
    // Room for a full disk, from the start; each round after what waited
    // in memory for the room has had it.
    KeepCacheReserve();
    while (!stop_.WaitFor(wait_ms)) {
      // This process's own, also while another worker delivers the file.
      WriteAllUnwrittenTransactions(stop_);
      KeepCacheReserve();
      bool found_due = false;
      if (!held) held = TryDeliveryLock(delivery.get(), cache_path) == TryLockResult::kTaken;
      if (held && !Pass(&found_due)) break;
      // An idle worker does not spin, whatever the retry time.
      wait_ms = found_due ? retry_ms : std::max(retry_ms, kWorkerPauseMs);
      unreachable_passes_ = pass_unreachable_ ? unreachable_passes_ + 1 : 0;
      if (pass_unreachable_) wait_ms = UnreachableWaitMs(retry_ms, unreachable_passes_);
    }
    if (held) delivery->Unlock();
  }

 private:
  // One pass; false when the stop ended it. It walks the file once, in
  // order: a line that leaves its place (removed, or moved to the end) is
  // followed by the one that took it, and the lines it moved to the end are
  // passed over when the walk meets them again, while those added meanwhile
  // are treated.
  bool Pass(bool* found_due) {
    pass_unreachable_ = false;
    RetryPendingChanges();
    RemoveLinesMarkedDelivered();
    bool gui_started = false;
    TridNumbers moved;
    int from = 0;
    int at = 0;
    CacheRecord record;
    ForwardOptions options;
    bool options_known = false;
    // Lines that are not due are passed over inside the cache operation:
    // a pass over many parked lines reads each of them once at most.
    while (FindDueLine(from, &record, &at, &moved) == 1) {
      from = at + 1;
      if (!IsWellFormedTrid(record.trid())) {
        ReportMalformed(record);
        continue;
      }
      if (g_unsendable.Get().Holds(cache_path_, record.trid())) continue;
      *found_due = true;
      if (!options_known) options.park_unreachable = ParksUnreachable();
      options_known = true;
      std::string failure_line;
      std::string new_trid;
      CacheChange change = CacheChange::kFailed;
      LogWriteLine('.', SendingLogEntry({record.trans_no(), record.fields[kJobNo], record.trid(),
                                         BookingKey(record.transaction())}));
      const ForwardOutcome outcome =
          ForwardTransactionExchange(record.transaction(), &failure_line, &stop_, options);
      NoteReach(outcome);
      switch (outcome) {
        case ForwardOutcome::kStopped:
          return false;
        case ForwardOutcome::kCutAfterSending:
        case ForwardOutcome::kCutRepeatsDropped:
          KeepCutLine(record, outcome == ForwardOutcome::kCutRepeatsDropped);
          return false;
        case ForwardOutcome::kUnreachable:
          // The line stays due where it is; every other line would meet the
          // same DMS, each perhaps after a connect's whole time limit.
          pass_unreachable_ = true;
          GetEnv()->SleepMs(kWorkerPauseMs);
          return !stop_.IsSet();
        case ForwardOutcome::kSuccess:
          change = RemoveLine(record.trid());
          if (change == CacheChange::kFailed) KeepFromSending(record, Pending::kRemove);
          break;
        case ForwardOutcome::kNeedsAttention:
        case ForwardOutcome::kOutcomeUnknown:
          change =
              SetAside(record, outcome == ForwardOutcome::kNeedsAttention, failure_line, &new_trid);
          if (!gui_started) StartGuiProgram();
          gui_started = true;
          break;
        case ForwardOutcome::kRetryLater:
          // A line that cannot be moved stays due where it is, for the next
          // pass.
          record.fields[CacheRecord::kStatus] = std::string(1, kRetryLaterStatus);
          record.fields[CacheRecord::kMessage].clear();
          change = MoveToEnd(record, &new_trid);
          break;
      }
      if (change != CacheChange::kFailed) from = at;
      if (!new_trid.empty()) moved.insert(TridNumber(new_trid));
      // Slept through the seam, so that tests see it on their clock; a stop
      // meanwhile is seen when it ends.
      GetEnv()->SleepMs(kWorkerPauseMs);
      if (stop_.IsSet()) return false;
    }
    return true;
  }

  // Moves a line the DMS refused (parked) or whose outcome is unknown (set
  // aside) to the end with its failure line; one that cannot be moved is
  // kept from sending.
  CacheChange SetAside(CacheRecord record, bool parked, const std::string& failure_line,
                       std::string* new_trid) {
    record.fields[CacheRecord::kStatus] =
        std::string(1, parked ? kParkedStatus : kOutcomeUnknownStatus);
    record.fields[CacheRecord::kMessage] = MessageField(failure_line);
    const CacheChange change = MoveToEnd(record, new_trid);
    if (change == CacheChange::kFailed) {
      KeepFromSending(record, parked ? Pending::kPark : Pending::kSetAside);
    }
    return change;
  }

  // Keeps track of how long this run has met the DMS unreachable, exchange
  // after exchange: a failure before any answer (a parked one included)
  // tells nothing either way.
  void NoteReach(ForwardOutcome outcome) {
    switch (outcome) {
      case ForwardOutcome::kUnreachable:
        if (!unreachable_since_.has_value()) unreachable_since_ = GetEnv()->TickCount();
        break;
      case ForwardOutcome::kStopped:
      case ForwardOutcome::kNeedsAttention:
        break;
      default:
        unreachable_since_.reset();
        break;
    }
  }

  // Whether a DMS that cannot be reached parks the lines of this pass: at
  // once with ParkUnreachableAfterHours 0; else once this run has met it
  // unreachable for kUnreachableGraceMs on end (a workshop PC may start
  // before its network) and a due line has waited longer than the setting
  // (a wait that survives the PC's nights off). Says so.
  bool ParksUnreachable() {
    if (park_hours_ == 0) return true;
    if (!unreachable_since_.has_value() ||
        GetEnv()->TickCount() - *unreachable_since_ < kUnreachableGraceMs) {
      return false;
    }
    const int64_t waited = LongestDueWait();
    if (waited <= int64_t{park_hours_} * 3600) return false;
    LogPrint('*',
             "ForwardTransaction: Cache DMS unreachable, and a due transaction has waited %s "
             "-> longer than ParkUnreachableAfterHours [%d]: the lines that meet the DMS "
             "unreachable in this pass are parked for a person",
             FormatWait(waited).c_str(), static_cast<int>(park_hours_));
    return true;
  }

  static std::string FormatWait(int64_t seconds) {
    return std::to_string(seconds / 3600) + " h " + std::to_string(seconds / 60 % 60) + " min";
  }

  // At a stop's cut after the query went out the DMS may have booked the
  // line: it is marked of unknown outcome in place (quick, and no free
  // space needed), unless the DMS drops repeats of the key it carried.
  void KeepCutLine(const CacheRecord& record, bool repeat_dropped) {
    const std::string head = "ForwardTransaction: Cache " + LineName(record) +
                             " cut by the stop after its query went out -> ";
    if (repeat_dropped) {
      LogWriteLine('*', head +
                            "stays due: it carried the booking key, and the DMS drops repeats "
                            "(DmsDropsRepeats), so it is sent again on its own");
      return;
    }
    std::string error;
    if (MarkLineInPlace(record.trid(), kOutcomeUnknownStatus, &error) == CacheChange::kDone) {
      LogWriteLine('*', head +
                            "marked outcome unknown in place (Status 4): the DMS may have "
                            "booked it; not sent again until a person releases it");
      return;
    }
    LogWriteLine('*', head + "the mark in place failed (" + OneLine(error) +
                          "): it stays due, and the DMS may have booked it");
  }

  // A line the DMS booked (kRemove) or refused (kPark) whose removal or move
  // failed must never be sent again, also after a restart or a power cut:
  // its Status is overwritten in place, which needs no free space. Where
  // even that fails, it is kept from sending while the module stays loaded
  // (UnsendableLines), by every worker of this process.
  void KeepFromSending(const CacheRecord& record, Pending what) {
    const bool remove = what == Pending::kRemove;
    const char status = remove                   ? kDeliveredStatus
                        : what == Pending::kPark ? kParkedStatus
                                                 : kOutcomeUnknownStatus;
    std::string error;
    const bool marked = MarkLineInPlace(record.trid(), status, &error) == CacheChange::kDone;
    // A parked line gets its failure line once it can be moved.
    if (!marked || !remove) g_unsendable.Get().Keep(cache_path_, record, what);
    const char* mark = remove                   ? "marked delivered"
                       : what == Pending::kPark ? "marked parked"
                                                : "marked outcome unknown";
    const std::string how =
        marked ? std::string(mark) + " in place (Status " + std::string(1, status) + ")"
               : "the mark in place failed too (" + error + "): not sent again while the host runs";
    LogPrint('*',
             "ForwardTransaction: Cache Trid[%s] %s, but its line could not be %s -> not sent "
             "again: %s; tried again each pass",
             record.trid().c_str(),
             remove                   ? "delivered"
             : what == Pending::kPark ? "failed"
                                      : "of unknown outcome",
             remove ? "removed" : "moved", how.c_str());
  }

  void RetryPendingChanges() {
    for (const auto& [trid, pending] : g_unsendable.Get().Of(cache_path_)) {
      const CacheRecord& record = pending.first;
      const bool remove = pending.second == Pending::kRemove;
      std::string error;
      // Its failures are said here, once per reason, not at every pass.
      const CacheChange change = EditCacheLine(
          record.trid(),
          [&record, remove](CacheRecord* found) {
            if (remove) return LineEdit::kRemove;
            *found = record;
            return LineEdit::kMoveToEnd;
          },
          nullptr, &error, false);
      const bool failed = change == CacheChange::kFailed;
      ReportRetry(LineName(record) + (remove ? " removal again" : " move again"), failed, error,
                  &pending_said_[record.trid()]);
      if (!failed) {
        pending_said_.erase(trid);
        g_unsendable.Get().Forget(cache_path_, trid);
      }
    }
  }

  // Lines marked delivered, by this run or an earlier one, go once the file
  // can be rewritten: all of them in one rewrite.
  void RemoveLinesMarkedDelivered() {
    std::vector<CacheRecord> lines;
    std::string error;
    const bool failed = RemoveDeliveredLines(&lines, &error) == CacheChange::kFailed;
    std::map<std::string, std::string> said;
    auto report = [&](const std::string& trid, const std::string& what) {
      std::string& now = said[trid];
      const auto before = delivered_said_.find(trid);
      if (before != delivered_said_.end()) now = before->second;
      ReportRetry(what + " delivered: removal again", failed, error, &now);
    };
    // Not even read: one line for them all.
    if (failed && lines.empty()) report("", "lines marked");
    for (const CacheRecord& record : lines) report(record.trid(), LineName(record));
    delivered_said_ = failed ? std::move(said) : std::map<std::string, std::string>();
  }

  static std::string LineName(const CacheRecord& record) {
    return "Trid[" + record.trid() + "] TransNo[" + OneLine(record.trans_no()) + "]";
  }

  // Says how a change that failed before came out this time: a success
  // always, a failure only when its reason is not `*said`, the one said last
  // (empty: none), which it keeps up to date.
  static void ReportRetry(const std::string& what, bool failed, const std::string& error,
                          std::string* said) {
    const std::string reason = "t[" + OneLine(error) + "]";
    if (failed && *said == reason) return;
    *said = failed ? reason : std::string();
    if (failed) {
      LogPrint('*',
               "ForwardTransaction: Cache %s -> FAILED %s; tried again each pass, said again when "
               "the reason changes",
               what.c_str(), reason.c_str());
    } else {
      LogPrint('*', "ForwardTransaction: Cache %s -> SUCCESS", what.c_str());
    }
  }

  // Once per run for each such line: it is neither sent nor changed.
  void ReportMalformed(const CacheRecord& record) {
    const std::string key = record.trans_no() + "," + record.fields[kJobNo] + "," + record.trid();
    if (!malformed_.insert(key).second) return;
    LogPrint('*',
             "ForwardTransaction: Cache line of transaction[%s] has no valid Trid[%s] -> not "
             "sent; a person must look at it",
             OneLine(record.trans_no()).c_str(), OneLine(record.trid()).c_str());
  }

  // Tries the delivery lock and says what came of it (ReportLockState).
  TryLockResult TryDeliveryLock(CrossProcessMutex* delivery, const std::string& cache_path) {
    std::string reason;
    const TryLockResult lock = delivery->TryLock(&reason);
    ReportLockState(lock, reason, cache_path);
    return lock;
  }

  // Says when the delivery lock's state changes: another worker holds it
  // ('.'), or it cannot be had at all ('*', again whenever the reason
  // changes), or this worker may deliver again after that.
  void ReportLockState(TryLockResult lock, const std::string& reason,
                       const std::string& cache_path) {
    const std::string reported = lock == TryLockResult::kUnavailable ? reason : std::string();
    if (lock == lock_state_ && reported == lock_reason_) return;
    const TryLockResult before = lock_state_;
    lock_state_ = lock;
    lock_reason_ = reported;
    if (lock == TryLockResult::kHeld) {
      LogWriteLine('.', LockEntryHead(cache_path) + std::string(kLockHeldWords));
    } else if (lock == TryLockResult::kUnavailable) {
      LogWriteLine('*', LockEntryHead(cache_path) + std::string(kLockUnavailableWords) +
                            OneLine(reason) + "] -> nothing is delivered until it can");
    } else if (before == TryLockResult::kUnavailable) {
      LogPrint('.', "ForwardTransaction: Cache[%s] delivery lock taken -> delivering again",
               cache_path.c_str());
    }
  }

  const StopSignal& stop_;
  int32_t park_hours_ = kDefaultParkUnreachableHours;
  // The tick count of the first of the exchanges in a row, up to the last,
  // that did not reach the DMS; none while the last one did.
  std::optional<uint32_t> unreachable_since_;
  bool pass_unreachable_ = false;  // the last pass ended at an unreachable DMS
  int unreachable_passes_ = 0;     // such passes in a row
  std::string cache_path_;
  std::set<std::string> malformed_;
  // The reason last said for each line whose change keeps failing, by Trid.
  std::map<std::string, std::string> pending_said_;
  std::map<std::string, std::string> delivered_said_;
  TryLockResult lock_state_ = TryLockResult::kTaken;
  std::string lock_reason_;
};

}  // namespace

void StartGuiProgram() { GetEnv()->StartProgram("kmrgui", ModuleBaseName()); }

std::string DeliveryLockName(const std::string& cache_path) {
  // Mutex names may not hold a backslash, and Windows paths ignore case.
  std::string name = "KMR CacheDelivery " + cache_path;
  for (char& c : name) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name.substr(0, 250);
}

std::string DeliveryLockFilePath(const std::string& cache_path) {
  return cache_path.empty() ? std::string() : cache_path + ".delivery.lock";
}

bool WorkerStartOfLogEntry(char flag, std::string_view message, const std::string& cache_path,
                           uint32_t* process, TryLockResult* lock) {
  const std::string head = LockEntryHead(cache_path) + std::string(kStartProcess);
  if (flag != '.' || message.substr(0, head.size()) != head) return false;
  const std::string_view rest = message.substr(head.size());
  const size_t digits = rest.find_first_not_of("0123456789");
  if (digits == 0 || digits == std::string_view::npos || digits > 10) return false;
  for (const auto& [state, words] : kStartWords) {
    if (rest.substr(digits) != words) continue;
    *process = static_cast<uint32_t>(std::stoull(std::string(rest.substr(0, digits))));
    *lock = state;
    return true;
  }
  return false;
}

void RunCacheWorker(const StopSignal& stop) { CacheWorker(stop).Run(); }

void ReleaseCacheWorkerMemory() { g_unsendable.Release(); }

}  // namespace vornlink
