// The guard around everything the driver runs for a host: each export and
// the body of each thread the driver starts. An exception must never reach
// the host, nor end the host's process from a thread of the driver.
#ifndef VORNLINK_DRIVER_GUARDED_CALL_H_
#define VORNLINK_DRIVER_GUARDED_CALL_H_

#include <exception>

#include "log/log.h"

namespace vornlink {

// Runs `body`; on an escaping exception logs "<name>: Internal t[<what>] ->
// FAILED" with '*' and returns `fallback`. A failure of the log itself is
// swallowed.
template <typename Result, typename Body>
Result RunGuarded(const char* name, Result fallback, Body body) noexcept {
  try {
    return body();
  } catch (const std::exception& error) {
    try {
      LogPrint('*', "%s: Internal t[%s] -> FAILED", name, error.what());
    } catch (...) {
    }
  } catch (...) {
    try {
      LogPrint('*', "%s: Internal t[unknown failure] -> FAILED", name);
    } catch (...) {
    }
  }
  return fallback;
}

}  // namespace vornlink

#endif  // VORNLINK_DRIVER_GUARDED_CALL_H_
