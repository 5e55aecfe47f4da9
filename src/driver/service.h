// The driver's process-wide objects and what the exports do with them.
//
// `Service::Instance()` lives from the first call into the module until the
// module is unloaded. The exports (exports.cc) only turn the host's
// arguments into texts, call these members and keep exceptions from
// reaching the host.
//
// Threading: every function here may be called from any thread, the host's
// or the driver's, at the same time as the others. Failure: the readers of
// settings read a missing or unreadable file as the defaults and log
// nothing; the members log what fails and return the host's values. Only
// an exception of the standard library (out of memory) leaves them, for
// the exports to catch.
#ifndef VORNLINK_DRIVER_SERVICE_H_
#define VORNLINK_DRIVER_SERVICE_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "base/transaction_fields.h"
#include "driver/driver_threads.h"
#include "driver/vornlink.h"

namespace vornlink {

// How long StopService waits for the driver's threads and the host's calls
// in flight, and how long before that it cuts exchanges whose query went
// out (so that they end, and say so, within the wait).
inline constexpr uint32_t kStopWaitMs = 10000;
inline constexpr uint32_t kStopCutBeforeMs = 1000;
// An environment variable of the process: a number of milliseconds below
// kStopWaitMs makes StopService wait that long at most instead, its cut a
// quarter of it before its end (`vornlink deliver` sets it when the system
// will end the process within seconds).
inline constexpr char kStopWithinVariable[] = "VORNLINK_STOP_WITHIN_MS";

// The setting of a gate of [ForwardTransaction] in the INI file beside the
// module: the value's text (its default when the key is missing) and
// whether it is on (its leading number is not 0). Read afresh by each call
// of ReadForwardGateSettings (each transaction).
struct GateSetting {
  std::string text;
  bool on = false;
};
struct ForwardGateSettings {
  GateSetting enable;      // "Enable", default on: off drops every transaction
  GateSetting allow_zero;  // "AllowZeroTransaction", default off: off drops a quantity of 0
  GateSetting validation;  // "Validation", default off: on checks each job number first
};
ForwardGateSettings ReadForwardGateSettings();
// Whether the gates drop a dispense of `quantity` as empty: AllowZeroTransaction
// is off and the quantity's leading number is 0. Pure.
bool DropsAsZero(const ForwardGateSettings& gates, const std::string& quantity);

// The fluid's name and part number from [FluidName] and [FluidPartNo] of
// the INI file, where they list the fluid's key; else the host's. Changes
// only those two fields of `*fields`, which the caller owns.
void LookUpFluid(TransactionFields* fields);

// What LookUpFluid would write into a transaction's fields.
struct FluidNames {
  std::string name;
  std::string part_no;
};
// ReadForwardGateSettings, and in `*fluid` the names LookUpFluid would give
// `fields`, from one look at the INI file: the host's every call asks.
ForwardGateSettings ReadForwardGatesAndFluid(const TransactionFields& fields, FluidNames* fluid);
// Writes `fluid` into the two fields LookUpFluid changes.
void UseFluidNames(FluidNames fluid, TransactionFields* fields);

// The log's settings (KMR/Log in the settings document) as Start reads
// them: MaxLines is read from its leading digits. A setting that cannot be
// read is empty (MaxLines 0).
struct LogSettings {
  std::string file_name;
  std::string max_lines_text;
  int32_t max_lines = 0;
  std::string flags;
};
LogSettings ReadLogSettings();

class Service {
 public:
  // The one instance of the process: made on first use, kept while the
  // module is loaded; the caller never owns it.
  static Service& Instance();
  // Frees it when the module is unloaded and no thread of the driver runs
  // (and none of the host's calls): any reference to it dangles then.
  static void ReleaseInstance();

  // Start: forgets the callback, sets up the log from the settings, writes
  // the loaded lines, starts the cache worker (unless one runs) and the
  // host's GUI program. Returns 1, also when the worker's thread could not
  // be started (logged): the host's transactions still go to the cache.
  int32_t Execute();
  // Stop: signals the driver's work (the worker, validations on the
  // driver's threads and on the host's): what has sent nothing yet ends at
  // once, an exchange whose query went out may bring its reply until
  // kStopCutBeforeMs before the end of the wait. Waits for that work up to
  // kStopWaitMs (or what kStopWithinVariable asks); in what is left of that time, tries once more
  // to write the transactions that wait in memory for the cache and logs those that still wait
  // (unwritten_queue.h); writes the unloaded line. Once it returns no thread of the driver writes
  // to the cache file or the log; when everything ended in time, the host may unload the module.
  // Returns 0.
  int32_t Stop();

  // The gates and fluid lookups in front of the cache; a validation ends by
  // `stop`. A transaction the cache cannot take now waits in memory, behind
  // any that wait already (and is logged); one the gates drop is logged.
  // Each host call first writes what waits. Returns nothing: the host is
  // never told of a failure; the cache and the log are what a person sees.
  void ForwardTransaction(TransactionFields fields, const StopSignal& stop);

  // Direct answer (the exchange ends by `stop`), or 0 and an answer through
  // the callback later, from a thread of the driver; where that thread
  // cannot be started, the failure is logged and the answer is 0 with no
  // callback.
  int32_t IsJobnoValid(const std::string& job_no, const StopSignal& stop);
  // The host's function for later answers (may be null: none); the host
  // keeps it callable until the next call or Stop.
  void SetCallback(KmrValidationCallback callback) { callback_.store(callback); }

  // The driver's threads and the host's calls in flight.
  DriverThreads& threads() { return threads_; }
  // Whether none of them runs.
  bool Idle() const { return threads_.Idle(); }

  // "Plexa KMR v[<version>]". The text stays valid and unchanged until the
  // module is unloaded, whatever other threads call meanwhile.
  const char* ServiceName();

 private:
  Service() = default;

  DriverThreads threads_;
  // Whether the worker of the running service is alive; none after a stop,
  // so that the next start starts a worker of its own even while one that
  // outlived the stop is still on its way out (it writes nothing more).
  std::mutex worker_mutex_;
  std::shared_ptr<std::atomic<bool>> worker_alive_;  // guarded by worker_mutex_
  std::atomic<KmrValidationCallback> callback_{nullptr};
  std::mutex service_names_mutex_;
  std::set<std::string> service_names_;  // guarded by service_names_mutex_
};

}  // namespace vornlink

#endif  // VORNLINK_DRIVER_SERVICE_H_
