// An unnamed event that resets itself when a wait returns because it was set
// (auto-reset), not set at creation.
#ifndef VORNLINK_PLATFORM_EVENT_H_
#define VORNLINK_PLATFORM_EVENT_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vornlink {

class Event {
 public:
  Event() = default;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Sets the event; one waiter (now or later) sees it and resets it.
  void Set() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      set_ = true;
    }
    changed_.notify_one();
  }

  // Waits up to `milliseconds`. True when the event was set (and is reset
  // again by this wait), false when the time ran out.
  bool Wait(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool was_set =
        changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return set_; });
    set_ = false;
    return was_set;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
};

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_EVENT_H_
