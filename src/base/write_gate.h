// Keeps the driver's own threads from writing once the service has stopped
// waiting for them.
//
// StopService waits a limited time for the threads the driver started (the
// cache worker, asynchronous validations). One that is still running then
// must not touch the cache file or the log any more: the host may already
// have moved on (replaced the files, or unloaded the module). Each such
// thread runs with the gate of its service generation as its thread's gate;
// every write of the log and the cache happens under a `WritePermit`, which
// is refused once the gate is closed. Closing waits (up to a deadline) for
// permits in use, so after `Close` returns true no write of those threads is
// under way or to come. Threads of the host have no gate and are never
// refused, and neither are the host's calls on a thread of the driver.
#ifndef VORNLINK_BASE_WRITE_GATE_H_
#define VORNLINK_BASE_WRITE_GATE_H_

#include <atomic>
#include <chrono>
#include <shared_mutex>

namespace vornlink {

class WriteGate {
 public:
  WriteGate() = default;
  WriteGate(const WriteGate&) = delete;
  WriteGate& operator=(const WriteGate&) = delete;

  // Refuses every later permit of this gate's threads, and waits up to
  // `deadline` for the permits in use to end. False when one is still in
  // use then (a write that waits for another process's cache lock, which
  // has no time limit): that one write may still finish later.
  bool Close(std::chrono::steady_clock::time_point deadline) {
    closed_.store(true);
    if (!mutex_.try_lock_until(deadline)) return false;
    mutex_.unlock();
    return true;
  }

 private:
  friend class WritePermit;
  std::shared_timed_mutex mutex_;
  std::atomic<bool> closed_{false};
};

// The gate of the calling thread, or null for threads of the host and for
// calls of the host on a thread of the driver (a host's callback). The
// caller keeps the gate alive while it is set.
inline thread_local WriteGate* g_thread_write_gate = nullptr;

// May the calling thread write now? Held for the length of one write (a
// log entry, a cache operation). Permits nest: an inner one on the same
// thread (a cache operation that logs) takes nothing more.
class WritePermit {
 public:
  WritePermit() : gate_(g_thread_write_gate) {
    if (gate_ == nullptr) return;
    if (depth_ > 0) {
      granted_ = outer_granted_;
    } else {
      gate_->mutex_.lock_shared();
      granted_ = outer_granted_ = !gate_->closed_.load();
    }
    ++depth_;
  }
  ~WritePermit() {
    if (gate_ == nullptr) return;
    if (--depth_ == 0) gate_->mutex_.unlock_shared();
  }
  WritePermit(const WritePermit&) = delete;
  WritePermit& operator=(const WritePermit&) = delete;

  bool granted() const { return granted_; }

 private:
  static inline thread_local int depth_ = 0;
  static inline thread_local bool outer_granted_ = false;
  WriteGate* gate_;
  bool granted_ = true;
};

}  // namespace vornlink

#endif  // VORNLINK_BASE_WRITE_GATE_H_
