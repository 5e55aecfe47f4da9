// One query to the DMS over a plain TCP stream, and its reply.
#ifndef VORNLINK_TRANSPORT_TCP_TRANSPORT_H_
#define VORNLINK_TRANSPORT_TCP_TRANSPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "transport/transport_context.h"

namespace vornlink {

// The most reply bytes taken per call.
inline constexpr size_t kTcpReplyCapacity = 4096;
// A reply is complete when no further byte comes within this pause after
// the last one (unless a NUL, the peer's close or a full buffer ended it
// first).
inline constexpr int kTcpReplyPauseMs = 250;

// The port that `port_text` names, read as a decimal number from its leading
// digits; 0 when that is not 1 to 65535.
uint16_t TcpPortOf(std::string_view port_text);

// Connects to `host` (dotted IPv4 address or name) on the port that
// `port_text` gives (read as a decimal number from its leading digits),
// sends `*message` and one NUL byte, and replaces `*message` with the reply:
// the bytes received up to the first NUL among them. The reply is complete
// at a NUL byte, when the peer closes, when 4096 bytes are in, or when
// kTcpReplyPauseMs pass without a further byte after the last one.
//
// Log: 't' "Send to DMS" after sending; 'd' "Reply from DMS" on success.
// Failure raises FailureText:
//   "TcpTransport: c[Invalid port] t[Port \"%s\" is not within 1 to 65535]"
//   "TcpTransport: c[%d] t[%s]"      connect failed (system code and text)
//   "TcpTransport: c[SOCKET_ERROR]"  the receive failed
//   "TcpTransport: c[Received 0 bytes]" the peer closed without answering
//   the time-limit, stop and cut texts of transport/transport_limits.h.
// Each wait ends by the context's time limit and stop signal (once a byte of
// the query is out, only by the stop's cut). The
// connection is closed before the call returns or raises. Thread-safe.
void TcpTransport(const std::string& host, const std::string& port_text, std::string* message,
                  const TransportContext& context);

}  // namespace vornlink

#endif  // VORNLINK_TRANSPORT_TCP_TRANSPORT_H_
