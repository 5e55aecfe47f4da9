#include "cache/unwritten_queue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "base/module_singleton.h"
#include "base/write_gate.h"
#include "cache/cache_file.h"
#include "cache/trid.h"
#include "cache/unwritten_entries.h"
#include "log/log.h"
#include "platform/env.h"

namespace vornlink {
namespace {

// Takes `lock` if it becomes free within `wait`. A plain mutex tried in
// steps rather than a timed one: the sanitizer that checks the threads does
// not see the system call a timed lock takes, and would report every unlock.
bool LockWithin(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (!lock.try_lock()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

struct Waiting {
  TransactionFields fields;
  std::string text;  // TransactionText(fields)
};

// How a run of writes ended.
enum class Drained {
  kAll,        // nothing waits any more
  kRefused,    // the cache refused one
  kOutOfTime,  // the budget ran out, or the stop came, with some still waiting
};

class UnwrittenQueue {
 public:
  void Add(const TransactionFields& transaction) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string reason;
    std::string trid;
    // Behind those that wait, untried; else straight into the cache.
    const bool tried = WriteLocked(kHostWriteBudgetMs, nullptr, &reason) == Drained::kAll;
    if (!tried || AddTransactionQuietly(transaction, &trid, &reason) != 1) {
      // The cache's own line first: a site's monitor may look for it (one
      // that could not have the cache lock says so, without a Trid).
      LogAddTransactionFailed(transaction[0], tried ? trid : MakeTrid());
      Keep(transaction, reason);
    }
  }

  // One run of kHostWriteBudgetMs for a host's call; for the worker
  // (`stop` not null), runs until all are written, the cache refuses one or
  // the stop comes, with a pause between two runs in which a host's call
  // waiting for the mutex gets it.
  void Write(const StopSignal* stop) {
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string reason;
        if (WriteLocked(kHostWriteBudgetMs, stop, &reason) != Drained::kOutOfTime ||
            stop == nullptr || stop->IsSet()) {
          return;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // Waits at most a second, and no longer than `budget_ms`, for a thread
  // that writes them meanwhile: the stop has a bound.
  void Restate(const char* moment, const char* outcome, uint32_t budget_ms) {
    Env* env = GetEnv();
    const uint32_t start = env->TickCount();
    std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
    if (!LockWithin(lock, std::chrono::milliseconds(std::min<uint32_t>(budget_ms, 1000)))) {
      if (count_.load() == 0) return;
      LogPrint('*',
               "KMRCacheTransaction: Transactions that wait in memory not named at %s: another "
               "thread is writing them",
               moment);
      return;
    }
    const uint32_t waited = env->TickCount() - start;
    std::string reason;
    if (WriteLocked(waited < budget_ms ? budget_ms - waited : 0, nullptr, &reason) ==
        Drained::kAll) {
      return;
    }
    for (const Waiting& waiting : waiting_) {
      LogWriteLine('*', UnwrittenEntry(UnwrittenEvent::kRestated, waiting.text,
                                       std::string(moment) + " -> FAILED -> " + outcome));
    }
    LogWriteLine('*', "KMRCacheTransaction: " + reason);
  }

  // Names what waits without waiting for anything (see
  // NameUnwrittenTransactionsAtUnload).
  void NameIfFree(const char* moment, const char* outcome) {
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) return;
    for (const Waiting& waiting : waiting_) {
      LogWriteLineIfFree('*', UnwrittenEntry(UnwrittenEvent::kRestated, waiting.text,
                                             std::string(moment) + " -> FAILED -> " + outcome));
    }
  }

 private:
  // Writes the waiting transactions in order until `budget_ms` (by the
  // Env's tick count) have passed or `stop` (may be null) is set; the
  // reason in `reason` when some still wait.
  Drained WriteLocked(uint32_t budget_ms, const StopSignal* stop, std::string* reason) {
    Env* env = GetEnv();
    const uint32_t start = env->TickCount();
    // Within a budget, the first is always tried.
    for (bool first_try = budget_ms > 0; !waiting_.empty(); first_try = false) {
      if (!first_try &&
          (env->TickCount() - start >= budget_ms || (stop != nullptr && stop->IsSet()))) {
        *reason = "the time for writing in this call ran out with " +
                  std::to_string(waiting_.size()) + " transaction(s) still waiting";
        return Drained::kOutOfTime;
      }
      // One permit for each write and its line: a stop in between must not
      // leave a transaction written but not said so, nor wait for them all.
      WritePermit permit;
      if (!permit.granted()) {
        *reason = "the service has stopped";
        return Drained::kRefused;
      }
      const Waiting& first = waiting_.front();
      std::string trid;
      if (AddTransactionQuietly(first.fields, &trid, reason) != 1) return Drained::kRefused;
      LogWriteLine('.', UnwrittenEntry(UnwrittenEvent::kWritten, first.text, trid));
      bytes_ -= Size(first);
      waiting_.pop_front();
      count_.store(waiting_.size());
    }
    return Drained::kAll;
  }

  void Keep(const TransactionFields& transaction, const std::string& reason) {
    Waiting waiting{transaction, TransactionText(transaction)};
    if (waiting_.size() >= kMaxUnwrittenTransactions ||
        bytes_ + Size(waiting) > kMaxUnwrittenBytes) {
      LogWriteLine('*', UnwrittenEntry(UnwrittenEvent::kNotKept, waiting.text,
                                       std::to_string(waiting_.size())));
    } else {
      LogWriteLine('*', UnwrittenEntry(UnwrittenEvent::kKept, waiting.text, std::string()));
      bytes_ += Size(waiting);
      waiting_.push_back(std::move(waiting));
      count_.store(waiting_.size());
    }
    LogWriteLine('*', "KMRCacheTransaction: " + reason);
  }

  static size_t Size(const Waiting& waiting) { return 2 * waiting.text.size(); }

  std::mutex mutex_;
  std::deque<Waiting> waiting_;   // guarded by mutex_
  size_t bytes_ = 0;              // guarded by mutex_: what waiting_ holds, about
  std::atomic<size_t> count_{0};  // waiting_.size(), also for readers without the mutex
};

ModuleSingleton<UnwrittenQueue> g_unwritten;

}  // namespace

void AddTransactionInOrder(const TransactionFields& transaction) {
  g_unwritten.Get().Add(transaction);
}

void WriteUnwrittenTransactions() { g_unwritten.Get().Write(nullptr); }

void WriteAllUnwrittenTransactions(const StopSignal& stop) { g_unwritten.Get().Write(&stop); }

void RestateUnwrittenTransactions(const char* moment, uint32_t budget_ms) {
  g_unwritten.Get().Restate(moment, "kept in memory while the process runs", budget_ms);
}

constexpr char kLostAtUnload[] = "lost with the module: enter it again by hand";

void ReleaseUnwrittenTransactions() {
  g_unwritten.Get().Restate("the unload", kLostAtUnload, kHostWriteBudgetMs);
  g_unwritten.Release();
}

void NameUnwrittenTransactionsAtUnload() {
  g_unwritten.Get().NameIfFree("the unload", kLostAtUnload);
}

}  // namespace vornlink
