// The export table. Each export turns the host's arguments into texts (a
// null pointer is the empty text), calls the service and makes sure that no
// exception reaches the host: a failure that escapes is logged and answered
// with the export's neutral result. Each call is counted while it runs, so
// that a stop ends its exchanges and waits for it, and the module stays
// mapped while it runs.
#include <string>

#include "cache/cache_file.h"
#include "cache/unwritten_queue.h"
#include "delivery/cache_worker.h"
#include "driver/guarded_call.h"
#include "driver/service.h"
#include "driver/vornlink.h"
#include "ui/dialogs.h"

namespace {

using vornlink::DriverThreads;
using vornlink::Service;
using vornlink::StopSignal;

std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

enum class CallKind { kStoppable, kDialog };

// Runs `body(service, stop)` as a counted call of the host, guarded; the
// guard's own log line is written while the call still counts.
template <typename Result, typename Body>
Result Guarded(const char* name, Result fallback, Body body,
               CallKind kind = CallKind::kStoppable) noexcept {
  return vornlink::RunGuarded(name, fallback, [&] {
    Service& service = Service::Instance();
    DriverThreads::HostCall call(&service.threads(), kind == CallKind::kStoppable);
    return vornlink::RunGuarded(name, fallback, [&] { return body(service, call.stop()); });
  });
}

// Runs when the host unloads the module (or the process ends): frees what
// the module holds (the lock files and mutexes of the cache, the lines the
// workers keep from sending, the log's and the service's state), unless a thread of the driver or a
// call of the host might still use it; such work keeps the module mapped anyway. Either way the
// transactions that wait in memory for the cache are named as lost.
struct UnloadHook {
  ~UnloadHook() {
    if (!Service::Instance().Idle()) {
      // A host's thread may have ended inside a call, holding whatever it
      // held: nothing is waited for.
      vornlink::NameUnwrittenTransactionsAtUnload();
      return;
    }
    vornlink::ReleaseUnwrittenTransactions();
    vornlink::ReleaseCacheMutexes();
    vornlink::ReleaseCacheWorkerMemory();
    Service::ReleaseInstance();
    vornlink::ReleaseLogState();
    vornlink::ReleaseDefaultEnv();
  }
} g_unload_hook;

}  // namespace

extern "C" {

int32_t VORNLINK_CDECL ExecuteService(void) {
  return Guarded("ExecuteService", int32_t{1},
                 [](Service& service, const StopSignal&) { return service.Execute(); });
}

int32_t VORNLINK_CDECL StopService(void) {
  return Guarded("StopService", int32_t{0},
                 [](Service& service, const StopSignal&) { return service.Stop(); });
}

void VORNLINK_CDECL ForwardTransaction2(const char* trans_no, const char* job_no, const char* date,
                                        const char* time, const char* user_id, const char* field04,
                                        const char* field05, const char* fluid_key,
                                        const char* fluid_name, const char* fluid_part_no,
                                        const char* quantity, const char* field08) {
  Guarded("ForwardTransaction", 0, [&](Service& service, const StopSignal& stop) {
    service.ForwardTransaction({Text(trans_no), Text(job_no), Text(date), Text(time), Text(user_id),
                                Text(field04), Text(field05), Text(fluid_key), Text(fluid_name),
                                Text(fluid_part_no), Text(quantity), Text(field08)},
                               stop);
    return 0;
  });
}

void VORNLINK_CDECL ForwardTransaction(const char* trans_no, const char* job_no, const char* date,
                                       const char* time, const char* user_id, const char* field04,
                                       const char* field05, const char* fluid_key,
                                       const char* fluid_name, const char* quantity,
                                       const char* field08) {
  ForwardTransaction2(trans_no, job_no, date, time, user_id, field04, field05, fluid_key,
                      fluid_name, fluid_name, quantity, field08);
}

int32_t VORNLINK_CDECL IsJobnoValid(const char* job_no) {
  return Guarded("IsJobnoValid", int32_t{0}, [&](Service& service, const StopSignal& stop) {
    return service.IsJobnoValid(Text(job_no), stop);
  });
}

void VORNLINK_CDECL SetCallback(KmrValidationCallback callback) {
  Guarded("SetCallback", 0, [&](Service& service, const StopSignal&) {
    service.SetCallback(callback);
    return 0;
  });
}

const char* VORNLINK_CDECL GetServiceName(void) {
  static const char kFallback[] = "Plexa KMR v[Error]";
  return Guarded("GetServiceName", static_cast<const char*>(kFallback),
                 [](Service& service, const StopSignal&) { return service.ServiceName(); });
}

int32_t VORNLINK_CDECL GetAPIVersion(void) { return KMR_API_VERSION; }

int32_t VORNLINK_CDECL Properties(void) {
  return Guarded(
      "Properties", int32_t{0},
      [](Service&, const StopSignal&) {
        vornlink::ShowPropertiesDialog();
        return int32_t{0};
      },
      CallKind::kDialog);
}

void VORNLINK_STDCALL Server(void) {
  Guarded(
      "Server", 0,
      [](Service&, const StopSignal&) {
        vornlink::ShowServerDialog();
        return 0;
      },
      CallKind::kDialog);
}

}  // extern "C"
