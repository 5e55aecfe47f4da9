#include <algorithm>
#include <cctype>

#include "base/failure_text.h"
#include "exchange/booking_key.h"
#include "exchange/dms_query.h"
#include "exchange/ext_format.h"
#include "exchange/forward_transaction.h"
#include "exchange/job_number.h"
#include "exchange/reply_peel.h"
#include "exchange/result_list.h"
#include "exchange/setup_ordinals.h"
#include "exchange/transaction_ordinals.h"
#include "settings/read_setting.h"
#include "transport/http_headers.h"
#include "transport/tcp_transport.h"
#include "vornlink/check/exchange_check.h"

namespace vornlink {
namespace {

// What is wrong with an HTTP URL for the transport `type`, or empty.
std::string UrlProblem(const std::string& url, const std::string& type, bool* scheme_differs) {
  *scheme_differs = false;
  size_t scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return "no scheme (http:// or https://)";
  std::string scheme = url.substr(0, scheme_end);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (scheme != "http" && scheme != "https")
    return "the scheme is " + scheme + ", not http or https";
  *scheme_differs = (scheme == "https") != (type == "HTTPS");
  std::string authority = url.substr(scheme_end + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  authority =
      authority.substr(authority.find('@') == std::string::npos ? 0 : authority.find('@') + 1);
  if (authority.empty()) return "no host name";
  size_t bracket = authority[0] == '[' ? authority.find(']') : 0;  // [IPv6]
  if (bracket == std::string::npos) return "an unclosed \"[\" in the host";
  size_t colon = authority.find(':', bracket);
  std::string host = authority.substr(0, colon);
  if (host.empty()) return "no host name";
  if (colon != std::string::npos) {
    const std::string port = authority.substr(colon + 1);
    if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos ||
        port.size() > 5 || std::stoi(port) < 1 || std::stoi(port) > 65535) {
      return "the port " + Bracketed(port) + " is no number from 1 to 65535";
    }
  }
  return std::string();
}

}  // namespace

void ExchangeCheck::Transport(bool forward, const ExtFormat& format, const std::string& type,
                              char own, const std::string& prefix, const std::string& sent) {
  if (type == "TCP") {
    TcpTransport(forward, format, own);
  } else if (type == "HTTP" || type == "HTTPS") {
    HttpTransport(forward, format, type, own, prefix, sent);
  } else {
    Issue(forward, "the Setup item <TP> " + Bracketed(type) +
                       " is not HTTP, HTTPS or TCP (in capitals): the exchange fails and "
                       "nothing is sent");
  }
}

void ExchangeCheck::TcpTransport(bool forward, const ExtFormat& format, char own) {
  std::string host, port, value;
  const bool have_host = Fetch(forward, format, "SR", &host);
  const bool have_port = Fetch(forward, format, "PO", &port);
  if (have_host && have_port) {
    report_->Value("transport", "TCP to " + Bracketed(host) + " port " + Bracketed(port));
  }
  if (have_host && host.empty()) Issue(forward, "the Setup item <SR> (the DMS host) is empty");
  if (have_port && TcpPortOf(port) == 0) {
    Issue(forward, "the Setup item <PO> " + Bracketed(port) +
                       " is no port from 1 to 65535: the exchange fails with "
                       "\"TcpTransport: c[Invalid port]\"");
  }
  if (Fetch(forward, format, Item(own, 'L'), &value)) {
    report_->Value("dynamic length (" + Item(own, 'L') + ")",
                   Bracketed(value) + " (for TCP only the log shows the query length)");
  }
  if (Fetch(forward, format, Item(own, 'S'), &value)) Peel(Item(own, 'S'), value);
}

void ExchangeCheck::HttpTransport(bool forward, const ExtFormat& format, const std::string& type,
                                  char own, const std::string& prefix, const std::string& sent) {
  uses_https_ = uses_https_ || type == "HTTPS";
  TransportContext context;
  context.exchange_prefix = prefix;
  context.transport_type = type;
  std::string url, header, value;
  const bool have_url = Fetch(forward, format, Item(own, 'U'), &url);
  const bool have_user = Fetch(forward, format, Item(own, 'N'), &context.user_name);
  const bool have_password = Fetch(forward, format, Item(own, 'P'), &context.password);
  const bool have_method = Fetch(forward, format, Item(own, 'M'), &context.method);
  const bool have_header = Fetch(forward, format, Item(own, 'H'), &header);
  if (have_url) Url(forward, type, Item(own, 'U'), url);
  if (have_user) {
    report_->Value("user name (" + Item(own, 'N') + ")", Bracketed(context.user_name));
  }
  if (have_password) {
    report_->Value("password (" + Item(own, 'P') + ")",
                   Bracketed(MaskedPassword(context.password)));
  }
  if (have_method) Method(Item(own, 'M'), context);
  if (have_header) ExtraHeaders(forward, format, own, header, sent, &context);
  if (type == "HTTP") {
    PlainCredentials(forward, Item(own, 'N'), Item(own, 'P'), context,
                     have_header && SendsExtraHeaders(header));
  }
  if (Fetch(forward, format, Item(own, 'S'), &value)) Peel(Item(own, 'S'), value);
}

void ExchangeCheck::Url(bool forward, const std::string& type, const std::string& item,
                        const std::string& url) {
  report_->Value("transport", type + " to " + MaskUrlPassword(url));
  bool scheme_differs = false;
  const std::string problem = UrlProblem(url, type, &scheme_differs);
  if (!problem.empty()) {
    Issue(forward, "the Setup item <" + item + "> " + Bracketed(MaskUrlPassword(url)) +
                       " is no URL the driver can use: " + problem);
  } else if (scheme_differs) {
    report_->Warning("the Setup item <" + item + "> begins with another scheme than <TP> " +
                     Bracketed(type) + " says: the driver speaks " + type +
                     " whatever the URL says (on the URL's port)");
  }
}

void ExchangeCheck::Method(const std::string& item, const TransportContext& context) {
  const bool post = SendsPost(context.method);
  report_->Value("method (" + item + ")",
                 Bracketed(context.method) + (post ? " sends POST" : " sends GET"));
  if (!post && context.method != "GET") {
    report_->Warning("the Setup item <" + item + "> " + Bracketed(context.method) +
                     " sends GET: only a value that begins with POST (in capitals) sends POST");
  }
}

void ExchangeCheck::ExtraHeaders(bool forward, const ExtFormat& format, char own,
                                 const std::string& header, const std::string& sent,
                                 TransportContext* context) {
  if (!SendsExtraHeaders(header)) {
    report_->Value("extra headers (" + Item(own, 'H') + ")", "[0] none");
    return;
  }
  if (!Fetch(forward, format, Item(own, 'L'), &context->dynamic_length)) return;
  report_->Value("dynamic length (" + Item(own, 'L') + ")",
                 Bracketed(context->dynamic_length) + (FillsDynamicLength(context->dynamic_length)
                                                           ? " DynLength becomes the query's length"
                                                           : " DynLength stays as it is"));
  const std::string block = BuildHttpHeaders(
      HeaderWithBookingKey(
          format, forward ? ExchangeKind::kForwardTransaction : ExchangeKind::kJobValidation,
          header),
      sent, *context);
  if (forward) sent_headers_ = block;
  report_->Value("extra headers (" + Item(own, 'H') + ")", "as sent, secrets masked:");
  for (const std::string& line : HeaderLines(MaskHeaderSecrets(block))) report_->Block(line);
}

void ExchangeCheck::PlainCredentials(bool forward, const std::string& user,
                                     const std::string& password, const TransportContext& context,
                                     bool basic_header) {
  const std::string items = "<" + user + "> and <" + password + ">";
  if (!forward && basic_header) {
    report_->Warning("the job validation sends " + items +
                     " as Basic authorization over plain HTTP: anyone on the way can read the "
                     "password; use HTTPS");
  } else if (!context.user_name.empty()) {
    report_->Warning(std::string(forward ? "the forward transaction" : "the job validation") +
                     " offers " + items +
                     " over plain HTTP when the DMS asks for them: if it asks for Basic "
                     "authorization, anyone on the way can read the password; use HTTPS");
  }
}

}  // namespace vornlink
