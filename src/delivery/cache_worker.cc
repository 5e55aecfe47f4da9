#include "delivery/cache_worker.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "cache/cache_file.h"
#include "cache/trid.h"
#include "cache/unwritten_queue.h"
#include "exchange/forward_transaction.h"
#include "log/log.h"
#include "platform/env.h"
#include "settings/module_files.h"
#include "settings/numbers.h"

namespace vornlink {
namespace {

// The host's GUI program, started so that a person sees a parked line.
constexpr const char* kGuiProgram = "kmrgui";

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

class CacheWorker {
 public:
  explicit CacheWorker(const StopSignal& stop) : stop_(stop) {}

  void Run() {
    const uint32_t retry_ms = static_cast<uint32_t>(ReadRetrySeconds()) * 1000u;
    const std::string cache_path = CacheFilePath();
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
    uint32_t wait_ms = retry_ms;
    while (!stop_.WaitFor(wait_ms)) {
      // This process's own, also while another worker delivers the file.
      WriteUnwrittenTransactions();
      bool found_due = false;
      if (delivery->TryLock()) {
        ReportLockState(false, cache_path);
        bool stopped = !Pass(&found_due);
        delivery->Unlock();
        if (stopped) return;
      } else {
        ReportLockState(true, cache_path);
      }
      // An idle worker does not spin, whatever the retry time.
      wait_ms = found_due ? retry_ms : std::max(retry_ms, kWorkerPauseMs);
    }
  }

 private:
  enum class Pending { kRemove, kPark };

  // One pass; false when the stop ended it.
  bool Pass(bool* found_due) {
    RetryPendingChanges();
    bool gui_started = false;
    int index = 0;
    CacheRecord record;
    // Lines that are not due are passed over inside the cache operation:
    // a pass over many parked lines reads each of them once at most.
    while (FindDueLine(index, &record, &index) == 1) {
      ++index;
      if (!IsWellFormedTrid(record.trid())) {
        ReportMalformed(record);
        continue;
      }
      if (pending_.count(record.trid()) != 0) continue;
      *found_due = true;
      std::string failure_line;
      switch (ForwardTransactionExchange(record.transaction(), &failure_line, &stop_)) {
        case ForwardOutcome::kStopped:
          return false;
        case ForwardOutcome::kSuccess:
          if (RemoveLine(record.trid()) == CacheChange::kFailed) {
            Remember(record, Pending::kRemove);
          }
          index = 0;
          break;
        case ForwardOutcome::kNeedsAttention:
          record.fields[CacheRecord::kStatus] = "1";
          record.fields[CacheRecord::kMessage] = MessageField(failure_line);
          if (MoveToEnd(record) == CacheChange::kFailed) Remember(record, Pending::kPark);
          if (!gui_started) {
            GetEnv()->StartProgram(kGuiProgram, ModuleBaseName());
            gui_started = true;
          }
          break;
        case ForwardOutcome::kRetryLater:
          // A line that cannot be moved stays due where it is.
          record.fields[CacheRecord::kStatus] = "2";
          record.fields[CacheRecord::kMessage].clear();
          MoveToEnd(record);
          break;
      }
      // Slept through the seam, so that tests see it on their clock; a stop
      // meanwhile is seen when it ends.
      GetEnv()->SleepMs(kWorkerPauseMs);
      if (stop_.IsSet()) return false;
    }
    return true;
  }

  // A delivered or parked line whose removal failed must not be sent again.
  void Remember(const CacheRecord& record, Pending what) {
    pending_[record.trid()] = {record, what};
    LogPrint('*',
             "ForwardTransaction: Cache Trid[%s] %s, but its line could not be %s -> not sent "
             "again; tried again each pass",
             record.trid().c_str(), what == Pending::kRemove ? "delivered" : "failed",
             what == Pending::kRemove ? "removed" : "moved");
  }

  void RetryPendingChanges() {
    for (auto it = pending_.begin(); it != pending_.end();) {
      const auto& [record, what] = it->second;
      CacheChange change = what == Pending::kRemove ? RemoveLine(record.trid()) : MoveToEnd(record);
      LogPrint('*', "ForwardTransaction: Cache Trid[%s] %s again -> %s", record.trid().c_str(),
               what == Pending::kRemove ? "removal" : "move",
               change == CacheChange::kFailed ? "FAILED" : "SUCCESS");
      it = change == CacheChange::kFailed ? std::next(it) : pending_.erase(it);
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

  void ReportLockState(bool busy, const std::string& cache_path) {
    if (busy == delivery_busy_) return;
    delivery_busy_ = busy;
    if (busy) {
      LogPrint('.',
               "ForwardTransaction: Cache[%s] is delivered by another worker -> this one waits",
               cache_path.c_str());
    }
  }

  const StopSignal& stop_;
  std::map<std::string, std::pair<CacheRecord, Pending>> pending_;  // by Trid
  std::set<std::string> malformed_;
  bool delivery_busy_ = false;
};

}  // namespace

int32_t ReadRetrySeconds() {
  const std::string text = ReadIniString("CacheThread", "RetryTime", "10");
  int32_t seconds = LeadingInt(text);
  if (seconds < 0 || seconds > kMaxRetrySeconds) {
    const int32_t held = std::clamp(seconds, int32_t{0}, kMaxRetrySeconds);
    LogPrint('*', "ForwardTransaction: Cache RetryTime [%s] out of range -> %d seconds",
             OneLine(text).c_str(), static_cast<int>(held));
    seconds = held;
  }
  LogPrint('.', "ForwardTransaction: Cache RetryTime [%d] seconds", static_cast<int>(seconds));
  return seconds;
}

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

void RunCacheWorker(const StopSignal& stop) { CacheWorker(stop).Run(); }

}  // namespace vornlink
