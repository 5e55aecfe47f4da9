#include "exchange/dms_query.h"

#include "base/failure_text.h"
#include "exchange/booking_key.h"
#include "exchange/log_lines.h"
#include "transport/http_headers.h"
#include "transport/http_transport.h"
#include "transport/tcp_transport.h"

namespace vornlink {
namespace {

// Characters in front of the template's first line: the indent that the
// settings reader gives it.
constexpr size_t kQueryHead = 3;

// "%@" and the ordinal whose first letter is this exchange's: 'F' for the
// forward transaction, 'J' for the job validation.
std::string Own(const DmsQuery& run, char second) {
  return std::string("%@") + (run.kind == ExchangeKind::kForwardTransaction ? 'F' : 'J') + second;
}

std::string Prefix(const DmsQuery& run) { return run.transport.exchange_prefix; }

bool GoesOverHttp(const std::string& type) { return type == "HTTP" || type == "HTTPS"; }
bool GoesOverTcp(const std::string& type) { return type == "TCP"; }

// The URL item of an exchange of `kind`.
std::string UrlItem(ExchangeKind kind) {
  return kind == ExchangeKind::kForwardTransaction ? "FU" : "JU";
}

// Whether `sent` (a query or header lines as they go out) holds the booking
// key that `format` holds.
bool HoldsBookingKey(const ExtFormat& format, const std::string& sent) {
  const ExtFormat::Entry* key = format.Find(kBookingKeyOrdinal);
  return key != nullptr && !key->text.empty() && sent.find(key->text) != std::string::npos;
}

std::string SendOverHttp(const ExtFormat& format, const std::string& query, DmsQuery* run) {
  TransportContext& transport = run->transport;
  LogBracketed('h', ConnectionLabel("", kTransportTypeLabel), transport.transport_type);
  const std::string url = format.Format("%@" + UrlItem(run->kind));
  LogBracketed('h', ConnectionLabel(Prefix(*run), kUrlLabel), MaskUrlPassword(url));
  transport.user_name = format.Format(Own(*run, 'N'));
  LogBracketed('h', ConnectionLabel(Prefix(*run), kUserNameLabel), transport.user_name);
  transport.password = format.Format(Own(*run, 'P'));
  LogBracketed('h', ConnectionLabel(Prefix(*run), kPassWordLabel),
               MaskedPassword(transport.password));
  transport.method = format.Format(Own(*run, 'M'));
  LogBracketed('h', ConnectionLabel(Prefix(*run), kMethodLabel), transport.method);
  std::string header = format.Format(Own(*run, 'H'));
  std::string message = QueryAsSent(query, run->kind, transport.transport_type);
  if (SendsExtraHeaders(header)) {
    header = HeaderWithBookingKey(format, run->kind, std::move(header));
    transport.dynamic_length = format.Format(Own(*run, 'L'));
    LogBracketed('h', "FWT Use dynamic length", transport.dynamic_length);
    // The length that "DynLength" announces is that of what is sent.
    header = BuildHttpHeaders(header, message, transport);
  }
  run->peel_switch = format.Format(Own(*run, 'S'));
  run->booking_key_sent = HoldsBookingKey(format, message) ||
                          (SendsExtraHeaders(header) && HoldsBookingKey(format, header));
  HttpTransport(url, &message, header, transport);
  return message;
}

std::string SendOverTcp(const ExtFormat& format, const std::string& query, DmsQuery* run) {
  const std::string host = format.Format("%@SR");
  const std::string port = format.Format("%@PO");
  std::string message = QueryAsSent(query, run->kind, run->transport.transport_type);
  run->transport.dynamic_length = format.Format(Own(*run, 'L'));
  if (FillsDynamicLength(run->transport.dynamic_length) && IsFlagEnabled('t')) {
    LogWriteLine('t', "\t\t   Query length is: [" + std::to_string(message.size()) + "]");
  }
  run->peel_switch = format.Format(Own(*run, 'S'));
  run->booking_key_sent = HoldsBookingKey(format, message);
  TcpTransport(host, port, &message, run->transport);
  return message;
}

}  // namespace

std::string QueryAsSent(const std::string& formatted_query, ExchangeKind kind,
                        std::string_view type) {
  std::string sent = formatted_query.substr(std::min(kQueryHead, formatted_query.size()));
  if (kind == ExchangeKind::kJobValidation && type == "TCP") sent.push_back('\r');
  return sent;
}

std::string HeaderWithBookingKey(const ExtFormat& format, ExchangeKind kind, std::string header) {
  const std::string expression = std::string("%@") + kBookingKeyOrdinal;
  const ExtFormat::Entry* key = format.Find(kBookingKeyOrdinal);
  if (kind != ExchangeKind::kForwardTransaction || key == nullptr || key->type != 's') {
    return header;
  }
  for (size_t at = header.find(expression); at != std::string::npos;
       at = header.find(expression, at + key->text.size())) {
    header.replace(at, expression.size(), key->text);
  }
  return header;
}

std::string MaskedPassword(const std::string& password) {
  return password.empty() ? std::string() : "********";
}

std::string MaskedSetupValue(std::string_view name, const std::string& value) {
  if (name.size() != 2 || (name[0] != 'F' && name[0] != 'J')) return value;
  switch (name[1]) {
    case 'P':
      return MaskedPassword(value);
    case 'H':
      return MaskHeaderSecrets(value);
    case 'U':
      return MaskUrlPassword(value);
    default:
      return value;
  }
}

DmsRoute RouteToDms(const ExtFormat& format, ExchangeKind kind) {
  DmsRoute route;
  route.type = format.Format("%@TP");
  if (GoesOverHttp(route.type)) {
    route.url = format.Format("%@" + UrlItem(kind));
    route.items = UrlItem(kind);
  } else if (GoesOverTcp(route.type)) {
    route.host = format.Format("%@SR");
    route.port = format.Format("%@PO");
    route.items = "SR and PO";
    route.over_tcp = true;
  }
  return route;
}

std::string SendToDms(const ExtFormat& format, const std::string& query, DmsQuery* run) {
  const std::string type = format.Format("%@TP");
  run->transport.transport_type = type;
  if (GoesOverHttp(type)) return SendOverHttp(format, query, run);
  if (GoesOverTcp(type)) return SendOverTcp(format, query, run);
  throw FailureText(
      (run->kind == ExchangeKind::kForwardTransaction ? "HttpTransport" : "Transport") +
      std::string(": t[Transport type ") + type + "] --> unknown");
}

}  // namespace vornlink
