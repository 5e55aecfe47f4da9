// How long a transport may wait, and the failure texts of a wait that ends
// without an answer.
//
// Every wait of both transports (name lookup, connect, send, receive) ends
// after the time limit of the INI file beside the module (section
// "Transport", key "TimeoutSeconds", read afresh on every call; default 120
// seconds), and promptly once the exchange's stop signal is set. The two
// endings raise different texts: a stop is recognised by
// `IsStopFailure` (the exchange may leave the transaction as it was instead
// of counting a failure); a time limit reads like any other failure of its
// transport. Thread-safe.
#ifndef VORNLINK_TRANSPORT_TRANSPORT_LIMITS_H_
#define VORNLINK_TRANSPORT_TRANSPORT_LIMITS_H_

#include <chrono>
#include <string>

#include "platform/net.h"
#include "transport/transport_context.h"

namespace vornlink {

inline constexpr int kDefaultTimeoutSeconds = 120;
// A limit above a day is taken as a day.
inline constexpr int kMaxTimeoutSeconds = 86400;

// The configured limit: "TimeoutSeconds" read as a decimal number; none, 0
// or a negative number give the default.
std::chrono::seconds TransportTimeLimit();

// The wait limit of one transport call: the time limit from now, and the
// context's stop signal.
WaitLimit TransportWaitLimit(const TransportContext& context);

// The texts raised when a wait ends by the time limit or the stop signal.
std::string TcpTimeoutText(std::chrono::seconds limit);
std::string HttpTimeoutText(std::chrono::seconds limit);
extern const char kTcpStoppedText[];   // "TcpTransport: c[Stopped] t[The driver is stopping]"
extern const char kHttpStoppedText[];  // "HttpTransport: t[Stopped] em[The driver is stopping]"

// Whether a failure text says that the transport ended because the stop
// signal was set.
bool IsStopFailure(const std::string& failure_text);

// Whether a failure text says that the time limit ended the exchange. The
// limit is one deadline for the whole exchange, so it may have run out after
// the query reached the DMS.
bool IsTimeLimitFailure(const std::string& failure_text);

}  // namespace vornlink

#endif  // VORNLINK_TRANSPORT_TRANSPORT_LIMITS_H_
