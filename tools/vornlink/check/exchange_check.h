// The walk of `vornlink check` through the two DMS exchanges
// (CheckExchanges, check_exchange.h), as one object whose parts lie with
// what they look at: the job number split, the query and the booking key
// (check_exchange.cc), the transport and its connection values
// (check_transport.cc), and the reply rules and code lists
// (check_replies.cc). Only for those files; nothing is sent.
#ifndef VORNLINK_TOOLS_VORNLINK_CHECK_EXCHANGE_CHECK_H_
#define VORNLINK_TOOLS_VORNLINK_CHECK_EXCHANGE_CHECK_H_

#include <string>

#include "exchange/exchange_kind.h"
#include "exchange/ext_format.h"
#include "exchange/job_number.h"
#include "exchange/result_list.h"
#include "transport/transport_context.h"
#include "vornlink/base/exchange_sample.h"
#include "vornlink/check/check_report.h"

namespace vornlink {

class ExchangeCheck {
 public:
  ExchangeCheck(const ExchangeSample& sample, bool validation_gate, CheckReport* report)
      : report_(report), sample_(sample), validation_gate_(validation_gate) {}

  bool Run() {
    JobNumbers();
    Exchange(ExchangeKind::kForwardTransaction);
    Exchange(ExchangeKind::kJobValidation);
    return uses_https_;
  }

 private:
  // ---- the job number split, the query, the booking key (check_exchange.cc)

  void JobNumbers();

  // ---- one exchange

  // Problems of the job validation stop the driver only where the host or
  // the Validation gate asks for it.
  void Issue(bool forward, const std::string& text);

  // "%@" and the item; false (reported) when the Setup section lacks it.
  bool Fetch(bool forward, const ExtFormat& format, const std::string& item, std::string* value);

  // The template formatted; every ordinal that nothing registers is
  // reported (and shown as itself), not only the first.
  std::string Render(bool forward, const ExtFormat& format, const std::string& text);

  void Exchange(ExchangeKind kind);

  // The DMS user that the sample's host user number becomes (%@03).
  void UserMapping(const std::string& user_id, const ExtFormat& format);

  // Whether the DMS is handed the booking key, in the query or a header.
  void BookingKeyUse(const ExtFormat& format, const std::string& sent);

  // ---- the transport (check_transport.cc)

  // The Setup item of this exchange's transport: "FU" for the forward
  // exchange's URL.
  static std::string Item(char own, char second) { return std::string(1, own) + second; }

  void Transport(bool forward, const ExtFormat& format, const std::string& type, char own,
                 const std::string& prefix, const std::string& sent);

  void TcpTransport(bool forward, const ExtFormat& format, char own);

  void HttpTransport(bool forward, const ExtFormat& format, const std::string& type, char own,
                     const std::string& prefix, const std::string& sent);

  // The URL of Setup item `item`, and whether the driver can use it.
  void Url(bool forward, const std::string& type, const std::string& item, const std::string& url);

  // The method of Setup item `item`: what it sends.
  void Method(const std::string& item, const TransportContext& context);

  // The extra header lines as they would go out with the sample's query
  // `sent`, secrets masked.
  void ExtraHeaders(bool forward, const ExtFormat& format, char own, const std::string& header,
                    const std::string& sent, TransportContext* context);

  // Credentials that plain HTTP carries readable to anyone on the way.
  void PlainCredentials(bool forward, const std::string& user, const std::string& password,
                        const TransportContext& context, bool basic_header);

  // ---- the reply rules and code lists (check_replies.cc)

  void Peel(const std::string& item, const std::string& value);

  void ReplyRules(ExchangeKind kind, const JobParts& job);

  void CodeListLine(bool forward, const std::string& label, const std::string& path,
                    const std::string& list, const ListItems& items);

  CheckReport* report_;
  const ExchangeSample& sample_;
  const bool validation_gate_;
  bool uses_https_ = false;
  std::string sent_headers_;  // the forward exchange's extra headers as sent
};

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CHECK_EXCHANGE_CHECK_H_
