// What a transport needs to know of the exchange that calls it. Each
// exchange run fills its own and hands it down; nothing of it is kept in
// process-wide state, so a job validation on one thread never lends its
// prefix or credentials to a forward transaction on another.
#ifndef VORNLINK_TRANSPORT_TRANSPORT_CONTEXT_H_
#define VORNLINK_TRANSPORT_TRANSPORT_CONTEXT_H_

#include <string>
#include <string_view>

#include "base/stop_signal.h"

namespace vornlink {

struct TransportContext {
  std::string exchange_prefix;  // "FWT" or "IJV"
  std::string transport_type;   // "HTTP", "HTTPS" or "TCP"
  std::string user_name;
  std::string password;
  std::string method;          // see SendsPost
  std::string dynamic_length;  // see FillsDynamicLength
  std::string work_order;      // shown in the HTTP success line
  std::string line_code;
  // Ends every wait of the transport promptly when set; none: only the
  // time limit ends them.
  const StopSignal* stop = nullptr;
};

// Whether a request goes as POST: when the method's first four characters
// are "POST"; anything else sends GET.
inline bool SendsPost(std::string_view method) { return method.substr(0, 4) == "POST"; }

// Whether an extra-headers value asks for headers: anything but "0".
inline bool SendsExtraHeaders(std::string_view value) { return value != "0"; }

// Whether the query's length is filled into "DynLength" of the extra
// headers: only for the value "1".
inline bool FillsDynamicLength(std::string_view value) { return value == "1"; }

}  // namespace vornlink

#endif  // VORNLINK_TRANSPORT_TRANSPORT_CONTEXT_H_
