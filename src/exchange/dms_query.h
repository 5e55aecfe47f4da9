// The part of the road that both DMS exchanges share: the transport chosen
// by the `Setup` ordinal "TP", its connection values, the query sent and
// the reply brought back.
#ifndef VORNLINK_EXCHANGE_DMS_QUERY_H_
#define VORNLINK_EXCHANGE_DMS_QUERY_H_

#include <string>
#include <string_view>

#include "base/stop_signal.h"
#include "exchange/exchange_kind.h"
#include "exchange/ext_format.h"
#include "transport/transport_context.h"

namespace vornlink {

// The values of one exchange run that the transport and the reply reading
// need. Belongs to that run alone.
struct DmsQuery {
  ExchangeKind kind = ExchangeKind::kForwardTransaction;
  TransportContext transport;  // prefix, credentials, work order, line code, stop
  std::string peel_switch;     // "FS" or "JS"
  // Whether the query or its header lines, as they go out, carry the
  // booking key (booking_key.h): a DMS that drops repeats can tell the
  // booking sent again. Set before the transport is called.
  bool booking_key_sent = false;
};

// The query as it goes out over the transport `type`: without the three
// characters that stand before the template's first line (at most what is
// there); the job validation ends its TCP query with a carriage return.
std::string QueryAsSent(const std::string& formatted_query, ExchangeKind kind,
                        std::string_view type);

// What a password looks like in the log.
std::string MaskedPassword(const std::string& password);

// The value of the `Setup` item `name` as the log shows such values: the
// passwords (FP, JP) masked, the extra headers (FH, JH) with their
// credential headers masked, the URLs (FU, JU) with the password of their
// user part masked; any other item as it is.
std::string MaskedSetupValue(std::string_view name, const std::string& value);

// The header item `header` of the forward transaction with every "%@TK" in
// it replaced by the booking key that `format` holds (booking_key.h): the
// one expression a header item may hold, so that the key can travel in a
// header of its own ("Idempotency-Key: %@TK"). Any other text stays as it
// is, so a header without it goes out as before; so does every header of
// the job validation, which has no key.
std::string HeaderWithBookingKey(const ExtFormat& format, ExchangeKind kind, std::string header);

// Where SendToDms sends an exchange of `kind`, by the `Setup` items of
// `format`: the transport type ("TP"); for "HTTP" and "HTTPS" the URL (FU
// for the forward transaction, JU for the job validation), for "TCP" the
// host (SR) and port (PO); only the type for any other. `items` names the
// items that say where ("FU", "JU", "SR and PO"; empty for another type).
// Reads them as SendToDms does, and throws the same FailureText.
struct DmsRoute {
  std::string type;
  std::string url;  // as set: its password is not masked
  std::string host;
  std::string port;
  std::string items;
  bool over_tcp = false;  // host and port say where, not the URL
};
DmsRoute RouteToDms(const ExtFormat& format, ExchangeKind kind);

// Sends `query` (as formatted, before its head is cut) over the transport
// that "%@TP" names and returns the DMS's reply. Reads the connection
// ordinals of that transport from `format` (F... for the forward
// transaction, J... for the job validation), logs them (the password
// masked) and sets the transport type, credentials, method, dynamic-length
// flag, peel switch and booking_key_sent of `run`. Throws FailureText from the formatter and
// the transports, and for a transport type other than "HTTP", "HTTPS" and
// "TCP". The job validation ends its TCP query with a carriage return.
std::string SendToDms(const ExtFormat& format, const std::string& query, DmsQuery* run);

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_DMS_QUERY_H_
