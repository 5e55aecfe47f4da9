#include "cache/unwritten_queue.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "base/module_singleton.h"
#include "base/write_gate.h"
#include "cache/cache_file.h"
#include "cache/unwritten_entries.h"
#include "log/log.h"

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

class UnwrittenQueue {
 public:
  void Add(const TransactionFields& transaction) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string reason;
    std::string trid;
    // Behind those that wait, untried; else straight into the cache.
    if (!WriteLocked(&reason) || AddTransactionQuietly(transaction, &trid, &reason) != 1) {
      Keep(transaction, reason);
    }
  }

  void Write() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string reason;
    WriteLocked(&reason);
  }

  // Waits at most `wait` for a thread that writes them meanwhile: the stop
  // has a bound, and at the unload a thread may have been ended inside.
  void Restate(const char* moment, const char* outcome, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
    if (!LockWithin(lock, wait)) {
      if (count_.load() == 0) return;
      LogPrint('*',
               "KMRCacheTransaction: Transactions that wait in memory not named at %s: another "
               "thread is writing them",
               moment);
      return;
    }
    std::string reason;
    if (WriteLocked(&reason)) return;
    for (const Waiting& waiting : waiting_) {
      LogWriteLine('*', UnwrittenEntry(UnwrittenEvent::kRestated, waiting.text,
                                       std::string(moment) + " -> FAILED -> " + outcome));
    }
    LogWriteLine('*', "KMRCacheTransaction: " + reason);
  }

 private:
  // Writes the waiting transactions in order; false, with the reason of the
  // write that failed, when some still wait.
  bool WriteLocked(std::string* reason) {
    while (!waiting_.empty()) {
      // One permit for each write and its line: a stop in between must not
      // leave a transaction written but not said so, nor wait for them all.
      WritePermit permit;
      if (!permit.granted()) {
        *reason = "the service has stopped";
        return false;
      }
      const Waiting& first = waiting_.front();
      std::string trid;
      if (AddTransactionQuietly(first.fields, &trid, reason) != 1) return false;
      LogWriteLine('.', UnwrittenEntry(UnwrittenEvent::kWritten, first.text, trid));
      bytes_ -= Size(first);
      waiting_.pop_front();
      count_.store(waiting_.size());
    }
    return true;
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

void WriteUnwrittenTransactions() { g_unwritten.Get().Write(); }

void RestateUnwrittenTransactions(const char* moment) {
  g_unwritten.Get().Restate(moment, "kept in memory while the process runs",
                            std::chrono::seconds(1));
}

void ReleaseUnwrittenTransactions() {
  g_unwritten.Get().Restate("the unload", "lost with the module: enter it again by hand",
                            std::chrono::milliseconds(0));
  g_unwritten.Release();
}

}  // namespace vornlink
