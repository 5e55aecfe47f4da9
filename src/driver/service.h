// The driver's process-wide objects and what the exports do with them.
//
// `Service::Instance()` lives from the first call into the module until the
// process ends. The exports (exports.cc) only turn the host's arguments into
// texts, call these members and keep exceptions from reaching the host.
#ifndef VORNLINK_DRIVER_SERVICE_H_
#define VORNLINK_DRIVER_SERVICE_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "base/transaction_fields.h"
#include "driver/vornlink.h"
#include "platform/event.h"

namespace vornlink {

// How long StopService waits for the cache worker.
inline constexpr uint32_t kWorkerStopWaitMs = 10000;

class Service {
 public:
  // The one instance of the process.
  static Service& Instance();

  // Start: forgets the callback, sets up the log from the settings, writes
  // the loaded lines, starts the cache worker and the host's GUI program.
  // Returns 1.
  int32_t Execute();
  // Stop: signals the worker, waits for it up to kWorkerStopWaitMs, writes
  // the unloaded line. Returns 0.
  int32_t Stop();

  // The gates and fluid lookups in front of the cache.
  void ForwardTransaction(TransactionFields fields);

  // Direct answer, or 0 and an answer through the callback later.
  int32_t IsJobnoValid(const std::string& job_no);
  void SetCallback(KmrValidationCallback callback) { callback_.store(callback); }

  // "Plexa KMR v[<version>]". The text stays valid and unchanged until the
  // module is unloaded, whatever other threads call meanwhile.
  const char* ServiceName();

  // The procedure the cache worker thread runs; it gets the stop event to
  // wait on and must set the worker-ended event when it leaves. None until
  // the cache worker is built in.
  using WorkerProcedure = std::function<void(Event* stop, Event* ended)>;
  void SetWorkerProcedure(WorkerProcedure procedure) { worker_procedure_ = std::move(procedure); }

 private:
  Service() = default;

  Event stop_event_;
  Event worker_ended_event_;
  std::atomic<bool> worker_running_{false};
  std::atomic<KmrValidationCallback> callback_{nullptr};
  std::mutex service_names_mutex_;
  std::set<std::string> service_names_;  // guarded by service_names_mutex_
  WorkerProcedure worker_procedure_;
};

// The program the driver starts so that a person looks at the cache.
inline constexpr const char* kGuiProgram = "kmrgui";

}  // namespace vornlink

#endif  // VORNLINK_DRIVER_SERVICE_H_
