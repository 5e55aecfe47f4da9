// The threads the driver starts for its service: the cache worker and the
// asynchronous job validations.
//
// Each belongs to a generation: the one current when it was started. A
// generation has its stop signal, which ends every wait of its threads, and
// its write gate, which bars them from the log and the cache file once the
// service has stopped waiting for them. `StopGeneration` signals the threads
// of the current generation, waits for them up to a limit, closes their gate
// and begins a new generation for threads started later (a validation the
// host asks for after the stop, say).
//
// Threads that ended are joined, so that no code of the module runs any
// more once `StopGeneration` reports that all ended: the host may then
// unload the module. Until a thread is joined it holds a reference to the
// module; threads that outlive the limit keep the module mapped for good.
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
 public:
  DriverThreads();
  ~DriverThreads();

  // Starts `body` on a new thread of the current generation, with that
  // generation's stop signal. False when the system gave no thread.
  bool Start(std::function<void(const StopSignal& stop)> body);

  // Sets the current generation's stop signal, waits up to `limit` for its
  // threads, closes its write gate and begins a new generation. True when
  // every thread of the old generation ended in time.
  bool StopGeneration(std::chrono::milliseconds limit);

  // Threads of any generation still running.
  int running() const;

 private:
  struct Generation {
    StopSignal stop;
    WriteGate gate;
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

  // Joins the threads that have ended. Holds `mutex_`.
  void JoinEnded();

  mutable std::mutex mutex_;
  std::condition_variable ended_;
  std::shared_ptr<Generation> current_;  // guarded by mutex_
  std::list<Thread> threads_;            // guarded by mutex_
};

}  // namespace vornlink

#endif  // VORNLINK_DRIVER_DRIVER_THREADS_H_
