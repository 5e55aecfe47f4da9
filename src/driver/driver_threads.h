// The work the driver does for its service: the threads it starts (the cache
// worker, the asynchronous job validations) and the host's calls into the
// module while they run.
//
// Each thread and each call belongs to a generation: the one current when it
// began (a call that a host's callback makes on a thread of the driver: that
// thread's). A generation has its stop signal, which ends the waits of its
// work, and its write gate, which bars its threads from the log and the
// cache file once the service has stopped waiting for them.
// `StopGeneration` stops the current generation in the signal's two steps
// (base/stop_signal.h): it sets the signal, so that waits that may be given
// up end at once while an exchange whose query has gone out may still bring
// its reply; cuts it a little before its limit; waits for the generation's
// threads and calls up to the limit; closes its gate and begins a new
// generation for work that begins later (a validation the host asks for
// after the stop, say).
//
// Threads that ended are joined, so that no code of the module runs any
// more once `StopGeneration` reports that everything ended: the host may then
// unload the module. Until a thread is joined it holds a reference to the
// module; threads and calls that outlive the limit, and calls that no stop
// can end (a dialog), keep the module mapped for good. A host's call is
// counted from its start to its end; a call's own last instructions after
// that are not, so a stop that found a call of another thread running keeps
// the module mapped for good as well: the host may unload as soon as the
// stop returns, while that thread still returns through the module's code.
// Thread-safe.
#ifndef VORNLINK_DRIVER_DRIVER_THREADS_H_
#define VORNLINK_DRIVER_DRIVER_THREADS_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "base/stop_signal.h"
#include "base/write_gate.h"

namespace vornlink {

class DriverThreads {
 private:
  struct Generation;

 public:
  DriverThreads();
  ~DriverThreads();

  // Starts `body` on a new thread of the current generation, with that
  // generation's stop signal. An exception that escapes `body` is logged
  // under `name` (a static text) as the exports log theirs; the thread ends
  // as any other. False when the system gave no thread.
  bool Start(const char* name, std::function<void(const StopSignal& stop)> body);

  // One call of the host into the module, from its start to its end, on the
  // stack of the thread that makes it.
  class HostCall {
   public:
    // `stoppable`: the stop signal ends it, and a stop waits for it; else
    // (a dialog) a stop while it runs keeps the module mapped for good.
    HostCall(DriverThreads* threads, bool stoppable);
    ~HostCall();
    HostCall(const HostCall&) = delete;
    HostCall& operator=(const HostCall&) = delete;

    // Its generation's stop signal, for the exchanges it makes.
    const StopSignal& stop() const;

   private:
    friend class DriverThreads;
    DriverThreads* threads_;
    std::shared_ptr<Generation> generation_;
    bool stoppable_;
    HostCall* outer_;  // the call of this thread that this one runs within
    // The thread's write gate, put back at the end: a host's call writes as
    // the host's, also on a thread of the driver (a host's callback) whose
    // gate a stop has closed, which may be this very call's stop.
    WriteGate* thread_gate_;
  };

  // What was still running when `StopGeneration` returned. A thread or call
  // that makes the stop itself does not wait for its own end.
  struct Left {
    int threads = 0;       // threads of the stopped generation
    int calls = 0;         // stoppable calls of the stopped generation
    int unstoppable = 0;   // calls that no stop ends, of any generation
    bool cut = false;      // the stop had to be cut: work still ran by then
    bool writing = false;  // a write of those threads was under way at the limit
    // Stoppable calls of other threads that the stop found running and that
    // ended within the limit: their threads may still be on their way out
    // through the module's code, which nothing can wait for.
    int calls_ended = 0;
    bool none() const {
      return threads == 0 && calls == 0 && unstoppable == 0 && !writing && calls_ended == 0;
    }
  };

  // Sets the current generation's stop signal, cuts it `cut_before` ahead of
  // `limit` (at once when that is not less than `limit`), waits up to
  // `limit` for its threads and stoppable calls, closes its write gate
  // (waiting for a write under way only within `limit` too) and begins a
  // new generation. Anything left keeps the module mapped for good.
  Left StopGeneration(std::chrono::milliseconds limit, std::chrono::milliseconds cut_before);

  // Whether no thread of any generation and no call of the host runs.
  bool Idle() const;

 private:
  struct Generation {
    StopSignal stop;
    WriteGate gate;
    int stoppable_calls = 0;  // guarded by DriverThreads::mutex_
  };
  struct Thread {
    std::thread thread;
    std::shared_ptr<Generation> generation;
    bool ended = false;
    // A reference to the module for as long as the thread is not joined:
    // a host that unloads without stopping the service first does not
    // unmap code a thread still runs.
    void* module_hold = nullptr;
  };

  // What of `stopping` still runs, but for the calling thread's own work.
  // Holds `mutex_`.
  Left Running(const Generation* stopping) const;
  // Joins the threads that have ended. Holds `mutex_`.
  void JoinEnded();

  // The calling thread's innermost call of the host, and the generation of
  // the calling thread when it is one of the driver's.
  static thread_local HostCall* innermost_call_;
  static thread_local const std::shared_ptr<Generation>* thread_generation_;

  mutable std::mutex mutex_;
  std::condition_variable ended_;
  std::shared_ptr<Generation> current_;  // guarded by mutex_
  std::list<Thread> threads_;            // guarded by mutex_
  int host_calls_ = 0;                   // guarded by mutex_
  int unstoppable_calls_ = 0;            // guarded by mutex_
};

}  // namespace vornlink

#endif  // VORNLINK_DRIVER_DRIVER_THREADS_H_
