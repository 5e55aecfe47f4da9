// The driver's stop signal: set when the service stops, looked at by every
// wait of the driver's work (the cache worker's pauses, a transport's name
// lookup, connect, send and receive, on the driver's threads and on the
// host's), so that they end promptly.
//
// A stop comes in two steps. `Set` asks the work to end: every wait that
// may be given up without harm ends at once, above all every wait of an
// exchange that has sent nothing of its query yet. An exchange whose query
// has (partly) gone out goes on waiting for its reply, since the DMS may be
// booking it and only its answer tells what became of it. `Cut`, a little
// before the stop's time runs out, ends those waits too.
//
// Unlike an auto-reset event it stays set until it is cleared, so that every
// thread that waits sees it. Thread-safe.
#ifndef VORNLINK_BASE_STOP_SIGNAL_H_
#define VORNLINK_BASE_STOP_SIGNAL_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vornlink {

class StopSignal {
 public:
  StopSignal() = default;
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // The first step: the stop is asked for.
  void Set() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      set_.store(true);
    }
    changed_.notify_all();
  }

  // The second step (it includes the first): nothing may wait any more.
  void Cut() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cut_.store(true);
      set_.store(true);
    }
    changed_.notify_all();
  }

  // Clears both steps.
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_.store(false);
    cut_.store(false);
  }

  bool IsSet() const { return set_.load(); }
  bool IsCut() const { return cut_.load(); }

  // Waits up to `milliseconds`; true when the signal is (or becomes) set.
  bool WaitFor(uint32_t milliseconds) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return set_.load(); });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::atomic<bool> set_{false};
  std::atomic<bool> cut_{false};
};

}  // namespace vornlink

#endif  // VORNLINK_BASE_STOP_SIGNAL_H_
