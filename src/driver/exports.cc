// The export table. Each export turns the host's arguments into texts (a
// null pointer is the empty text), calls the service and makes sure that no
// exception reaches the host: a failure that escapes is logged and answered
// with the export's neutral result.
#include <exception>
#include <string>

#include "cache/cache_file.h"
#include "cache/unwritten_queue.h"
#include "driver/service.h"
#include "driver/vornlink.h"
#include "log/log.h"
#include "ui/dialogs.h"

namespace {

using vornlink::Service;

std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

// Runs `body`; on an escaping exception logs it and returns `fallback`.
template <typename Result, typename Body>
Result Guarded(const char* name, Result fallback, Body body) noexcept {
  try {
    return body();
  } catch (const std::exception& error) {
    try {
      vornlink::LogPrint('*', "%s: Internal t[%s] -> FAILED", name, error.what());
    } catch (...) {
    }
  } catch (...) {
    try {
      vornlink::LogPrint('*', "%s: Internal t[unknown failure] -> FAILED", name);
    } catch (...) {
    }
  }
  return fallback;
}

// Runs when the host unloads the module (or the process ends): frees what
// the module holds (the lock files and mutexes of the cache, the log's and
// the service's state), unless a thread of the driver might still use it;
// such a thread keeps the module mapped anyway.
struct UnloadHook {
  ~UnloadHook() {
    if (!Service::Instance().Idle()) return;
    vornlink::ReleaseUnwrittenTransactions();
    vornlink::ReleaseCacheMutexes();
    Service::ReleaseInstance();
    vornlink::ReleaseLogState();
    vornlink::ReleaseDefaultEnv();
  }
} g_unload_hook;

}  // namespace

extern "C" {

int32_t VORNLINK_CDECL ExecuteService(void) {
  return Guarded("ExecuteService", int32_t{1}, [] { return Service::Instance().Execute(); });
}

int32_t VORNLINK_CDECL StopService(void) {
  return Guarded("StopService", int32_t{0}, [] { return Service::Instance().Stop(); });
}

void VORNLINK_CDECL ForwardTransaction2(const char* trans_no, const char* job_no, const char* date,
                                        const char* time, const char* user_id, const char* field04,
                                        const char* field05, const char* fluid_key,
                                        const char* fluid_name, const char* fluid_part_no,
                                        const char* quantity, const char* field08) {
  Guarded("ForwardTransaction", 0, [&] {
    Service::Instance().ForwardTransaction({Text(trans_no), Text(job_no), Text(date), Text(time),
                                            Text(user_id), Text(field04), Text(field05),
                                            Text(fluid_key), Text(fluid_name), Text(fluid_part_no),
                                            Text(quantity), Text(field08)});
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
  return Guarded("IsJobnoValid", int32_t{0},
                 [&] { return Service::Instance().IsJobnoValid(Text(job_no)); });
}

void VORNLINK_CDECL SetCallback(KmrValidationCallback callback) {
  Guarded("SetCallback", 0, [&] {
    Service::Instance().SetCallback(callback);
    return 0;
  });
}

const char* VORNLINK_CDECL GetServiceName(void) {
  static const char kFallback[] = "Plexa KMR v[Error]";
  return Guarded("GetServiceName", static_cast<const char*>(kFallback),
                 [] { return Service::Instance().ServiceName(); });
}

int32_t VORNLINK_CDECL GetAPIVersion(void) { return KMR_API_VERSION; }

int32_t VORNLINK_CDECL Properties(void) {
  return Guarded("Properties", int32_t{0}, [] {
    vornlink::ShowPropertiesDialog();
    return int32_t{0};
  });
}

void VORNLINK_STDCALL Server(void) {
  Guarded("Server", 0, [] {
    vornlink::ShowServerDialog();
    return 0;
  });
}

}  // extern "C"
