// How long a transport may wait, and the failure texts of a wait that ends
// without an answer.
//
// Every wait of both transports (name lookup, connect, send, receive) ends
// after the time limit of the INI file beside the module (section
// "Transport", key "TimeoutSeconds", read afresh on every call; default 120
// seconds), and promptly once the exchange's stop signal ends it: at its
// first step while nothing of the query has gone out, else only at its cut
// (base/stop_signal.h). The endings raise different texts, and the failure
// carries their kind (base/failure_text.h): a stop before any of the query
// went out is kStopped, a stop's cut after it had kCutAfterSending, a time
// limit kNotReached or kTimeLimitAfterSending by whether the query had gone
// out (and NetFailure::kTimedOut). Thread-safe.
#ifndef VORNLINK_TRANSPORT_TRANSPORT_LIMITS_H_
#define VORNLINK_TRANSPORT_TRANSPORT_LIMITS_H_

#include <chrono>
#include <string>

#include "base/failure_text.h"
#include "platform/net.h"
#include "transport/transport_context.h"

namespace vornlink {

inline constexpr int kDefaultTimeoutSeconds = 120;
// A limit above a day is taken as a day.
inline constexpr int kMaxTimeoutSeconds = 86400;

// The configured limit: "TimeoutSeconds" read as a decimal number; none, 0
// or a negative number give the default.
std::chrono::seconds TransportTimeLimit();

// The setting behind TransportTimeLimit, for a person to see how the limit
// came about.
struct TimeLimitSetting {
  std::string text;  // "TimeoutSeconds" as the file has it; empty when unset
  std::chrono::seconds limit{kDefaultTimeoutSeconds};  // what every wait gets
  bool not_positive = false;  // set, but no positive number: the default applies
  bool capped = false;        // above a day: held at a day
};
TimeLimitSetting ReadTimeLimitSetting();

// The wait limit of one transport call: `time_limit` from now, and the
// context's stop signal, which gives the query up at its first step only
// until a byte of it has gone out.
WaitLimit TransportWaitLimit(std::chrono::seconds time_limit, const TransportContext& context);

// The texts raised when a wait ends by the time limit or the stop signal.
std::string TcpTimeoutText(std::chrono::seconds limit);
std::string HttpTimeoutText(std::chrono::seconds limit);
// Nothing of the query went out.
extern const char kTcpStoppedText[];   // "TcpTransport: c[Stopped] t[The driver is stopping]"
extern const char kHttpStoppedText[];  // "HttpTransport: t[Stopped] em[The driver is stopping]"
// The query went out (in part or whole), and the stop's cut came before the
// reply: "... t[The driver stopped before the DMS answered]", with c[Stopped]
// (TCP) or em[...] (HTTP) as above.
extern const char kTcpCutText[];
extern const char kHttpCutText[];

// The kind of a failure to connect (or of an HTTP request that failed
// before it went out), by what the platform says of it: kNotReached for a
// name that did not resolve, a connect refused, no way to the host and a
// connect that ran out of time; kOther for the rest (trust, TLS, ...).
FailureKind KindOfConnectFailure(NetFailure failure);

}  // namespace vornlink

#endif  // VORNLINK_TRANSPORT_TRANSPORT_LIMITS_H_
