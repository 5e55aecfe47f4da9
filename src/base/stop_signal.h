// The driver's stop signal: set when the service stops, looked at by every
// wait of the driver's threads (the cache worker's pauses, a transport's
// connect, send and receive), so that they end promptly.
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

  void Set() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      set_.store(true);
    }
    changed_.notify_all();
  }

  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_.store(false);
  }

  bool IsSet() const { return set_.load(); }

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
};

}  // namespace vornlink

#endif  // VORNLINK_BASE_STOP_SIGNAL_H_
