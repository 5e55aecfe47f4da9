// Keeps the driver's own threads from writing once the service has stopped
// waiting for them.
//
// StopService waits a limited time for the threads the driver started (the
// cache worker, asynchronous validations). One that is still running then
// must not touch the cache file or the log any more: the host may already
// have moved on (replaced the files, or unloaded the module). Each such
// thread runs with the gate of its service generation as its thread's gate;
// every write of the log and the cache happens under a `WritePermit`, which
// is refused once the gate is closed. Closing waits for permits in use, so
// after `Close` returns no write of those threads is under way or to come.
// Threads of the host have no gate and are never refused.
#ifndef VORNLINK_BASE_WRITE_GATE_H_
#define VORNLINK_BASE_WRITE_GATE_H_

#include <mutex>
#include <shared_mutex>

namespace vornlink {

class WriteGate {
 public:
  WriteGate() = default;
  WriteGate(const WriteGate&) = delete;
  WriteGate& operator=(const WriteGate&) = delete;

  // Refuses every later permit of this gate's threads; returns once the
  // permits in use have ended.
  void Close() {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    closed_ = true;
  }

 private:
  friend class WritePermit;
  std::shared_mutex mutex_;
  bool closed_ = false;  // guarded by mutex_
};

// The gate of the calling thread, or null for threads of the host. The
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
      granted_ = outer_granted_ = !gate_->closed_;
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
