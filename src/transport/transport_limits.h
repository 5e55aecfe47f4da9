// How long a transport may wait, and the failure texts of a wait that ends
// without an answer.
//
// Every wait of both transports (name lookup, connect, send, receive) ends
// after the time limit of the INI file beside the module (section
// "Transport", key "TimeoutSeconds", read afresh on every call; default 120
// seconds), and promptly once the exchange's stop signal ends it: at its
// first step while nothing of the query has gone out, else only at its cut
// (base/stop_signal.h). The endings raise different texts: a stop is
// recognised by `IsStopFailure` (the exchange may leave the transaction as
// it was instead of counting a failure), and a stop that cut the wait for
// the reply to a query that had (partly) gone out by `QueryWentOut` (the DMS
// may have acted on it); a time limit reads like any other failure of its
// transport, raised as a TimeLimitFailure that tells whether the query had
// gone out. Thread-safe.
#ifndef VORNLINK_TRANSPORT_TRANSPORT_LIMITS_H_
#define VORNLINK_TRANSPORT_TRANSPORT_LIMITS_H_

#include <chrono>
#include <string>
#include <string_view>
#include <utility>

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

// Whether a failure text says that the transport ended by the stop signal.
bool IsStopFailure(const std::string& failure_text);
// Whether it says that the stop cut the wait for the reply to a query that
// had gone out.
bool QueryWentOut(const std::string& failure_text);

// The failure a transport raises when the time limit ends a wait: the text
// above, and whether any of the query had gone out by then. The limit is one
// deadline for the whole exchange, so it may run out after the query reached
// the DMS; while it runs out in the name lookup, the connect or the TLS
// handshake, nothing was sent.
class TimeLimitFailure : public FailureText {
 public:
  TimeLimitFailure(std::string text, bool query_went_out)
      : FailureText(std::move(text)), query_went_out_(query_went_out) {}
  bool query_went_out() const { return query_went_out_; }

 private:
  bool query_went_out_;
};

// Whether `failure` is a time limit that ran out after the query (or part of
// it) went out: the DMS may have acted on it.
bool TimeLimitAfterSending(const FailureText& failure);

// What a person should look at for a failure text that a transport raised,
// also within a longer line that holds it (an exchange's failure line):
// the time limit, the TCP transport's system error, the HTTP library's
// error or the trust file. kOther for every other text.
NetFailure TransportFailureKind(std::string_view text);

}  // namespace vornlink

#endif  // VORNLINK_TRANSPORT_TRANSPORT_LIMITS_H_
