#include "transport/tcp_transport.h"

#include <chrono>
#include <memory>

#include "base/failure_text.h"
#include "base/numbers.h"
#include "log/log.h"
#include "platform/net.h"
#include "transport/nul_ended_reply.h"
#include "transport/transport_limits.h"

namespace vornlink {
namespace {

uint16_t PortFromText(const std::string& port_text) {
  const uint16_t port = TcpPortOf(port_text);
  if (port == 0) {
    throw FailureText("TcpTransport: c[Invalid port] t[Port \"" + port_text +
                      "\" is not within 1 to 65535]");
  }
  return port;
}

// Raises the text for a wait that ended without success; `sent`: whether a
// byte of the query had gone out.
[[noreturn]] void RaiseWaitEnd(const NetResult& result, std::chrono::seconds time_limit, bool sent,
                               const char* error_text) {
  if (result.status == NetStatus::kStopped) {
    if (sent) throw FailureText(kTcpCutText, FailureKind::kCutAfterSending);
    throw FailureText(kTcpStoppedText, FailureKind::kStopped);
  }
  if (result.status == NetStatus::kTimedOut) {
    throw FailureText(TcpTimeoutText(time_limit),
                      sent ? FailureKind::kTimeLimitAfterSending : FailureKind::kNotReached,
                      NetFailure::kTimedOut);
  }
  throw FailureText(error_text);
}

}  // namespace

uint16_t TcpPortOf(std::string_view port_text) {
  const int32_t port = LeadingInt(port_text);
  return port < 1 || port > 65535 ? 0 : static_cast<uint16_t>(port);
}

void TcpTransport(const std::string& host, const std::string& port_text, std::string* message,
                  const TransportContext& context) {
  uint16_t port = PortFromText(port_text);
  std::chrono::seconds time_limit = TransportTimeLimit();
  WaitLimit limit = TransportWaitLimit(time_limit, context);

  std::unique_ptr<NetConnection> connection;
  NetResult connected = ConnectTcp(host, port, limit, &connection);
  if (connected.status == NetStatus::kError) {
    const NetFailure net = KindOfNetError(connected.code);
    throw FailureText(
        "TcpTransport: c[" + std::to_string(connected.code) + "] t[" + connected.text + "]",
        KindOfConnectFailure(net), net);
  }
  if (!connected.ok()) RaiseWaitEnd(connected, time_limit, false, "");

  // The query ends with one NUL byte on the wire. A send that fails shows
  // in the receive; one cut short by the limit ends here. Once a byte is
  // out, only the stop's cut gives the reply up.
  std::string wire(message->c_str());
  wire.push_back('\0');
  // A connect that completed at once has not looked at the signal yet.
  if (limit.Stopped()) throw FailureText(kTcpStoppedText, FailureKind::kStopped);
  NetResult sent = connection->SendAll(wire, limit);
  const bool went_out = sent.bytes_sent > 0;
  if (sent.status == NetStatus::kStopped || sent.status == NetStatus::kTimedOut) {
    RaiseWaitEnd(sent, time_limit, went_out, "");
  }
  if (went_out) limit = limit.OnceSent();
  LogPrint('t', "                Send to DMS[\r\n%s]", message->c_str());

  NulEndedReply reply;
  char buffer[kTcpReplyCapacity];
  size_t held = 0;
  for (;;) {
    // The first byte may take the whole limit; later ones only the pause.
    WaitLimit wait = held == 0 ? limit
                               : limit.Until(std::chrono::steady_clock::now() +
                                             std::chrono::milliseconds(kTcpReplyPauseMs));
    size_t count = 0;
    NetResult received = connection->Receive(buffer, sizeof buffer - held, &count, wait);
    if (received.ok()) {
      held += count;
      if (reply.Take(std::string_view(buffer, count)) || held == sizeof buffer) break;
      continue;
    }
    if (received.status == NetStatus::kStopped) RaiseWaitEnd(received, time_limit, went_out, "");
    if (held > 0) break;  // the pause after the last byte, the close, a reset
    if (received.status == NetStatus::kClosed)
      throw FailureText("TcpTransport: c[Received 0 bytes]");
    RaiseWaitEnd(received, time_limit, went_out, "TcpTransport: c[SOCKET_ERROR]");
  }

  *message = std::move(reply.text());
  LogPrint('d', "             Reply from DMS[\r\n%s]", message->c_str());
}

}  // namespace vornlink
