#include "vornlink/check/check_exchange.h"

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

int CountOf(const std::string& text, char c) {
  return static_cast<int>(std::count(text.begin(), text.end(), c));
}

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
  // ---- the job number split

  void JobNumbers() {
    report_->Heading("Job numbers (KMR/System/WoSplit)");
    const std::string wo_split = ReadDriverSetting("KMR/System/WoSplit");
    if (KeepsJobNoWhole(wo_split)) {
      report_->Value("WoSplit", "[0] the whole job number is the work order, the line code NA");
      return;
    }
    const int32_t width = WorkOrderWidth(wo_split);
    if (width < 1) {
      report_->Value("WoSplit", Bracketed(wo_split));
      report_->Problem("KMR/System/WoSplit " + Bracketed(wo_split) +
                       " reads as width 0: every job number is rejected; give the work order's "
                       "width, or 0 for no split");
      return;
    }
    report_->Value("WoSplit", Bracketed(wo_split) + " a work order of " + std::to_string(width) +
                                  " characters, '.', the line code");
  }

  // ---- one exchange

  // Problems of the job validation stop the driver only where the host or
  // the Validation gate asks for it.
  void Issue(bool forward, const std::string& text) {
    if (forward || validation_gate_) {
      report_->Problem(text);
    } else {
      report_->Warning(text + " (matters when the host asks IsJobnoValid)");
    }
  }

  // "%@" and the item; false (reported) when the Setup section lacks it.
  bool Fetch(bool forward, const ExtFormat& format, const std::string& item, std::string* value) {
    try {
      *value = format.Format("%@" + item);
      return true;
    } catch (const FailureText& failure) {
      Issue(forward, std::string(forward ? "forward transaction" : "job validation") +
                         ": the Setup item <" + item + "> is missing: the exchange stops with " +
                         Bracketed(failure.text()));
      return false;
    }
  }

  // The template formatted; every ordinal that nothing registers is
  // reported (and shown as itself), not only the first.
  std::string Render(bool forward, const ExtFormat& format, const std::string& text) {
    ExtFormat probe = format;
    for (int round = 0; round < 100; ++round) {
      try {
        return probe.Format(text);
      } catch (const FailureText& failure) {
        const std::string& why = failure.text();
        const std::string ordinal = ExtFormat::MissingOrdinalOf(why);
        if (ordinal.empty()) {
          Issue(forward, std::string(forward ? "forward" : "validation") +
                             " query template: " + Bracketed(why) + ": nothing is sent");
          return std::string();
        }
        Issue(forward, std::string(forward ? "the forward" : "the validation") +
                           " query template uses %@" + ordinal +
                           ", which no transaction value or Setup item registers: the exchange "
                           "stops with " +
                           Bracketed(why));
        probe.AddString(ordinal, "%@" + ordinal);
      }
    }
    return std::string();
  }

  void Exchange(ExchangeKind kind) {
    const bool forward = kind == ExchangeKind::kForwardTransaction;
    const std::string prefix = forward ? "FWT" : "IJV";
    const char own = forward ? 'F' : 'J';
    report_->Heading(forward ? "Forward transaction (FWT): each cached transaction"
                             : "Job validation (IJV): IsJobnoValid and the Validation gate");
    const TransactionFields& t = sample_.transaction;
    const std::string job_no = forward ? t[kJobNo] : sample_.job_no;
    if (forward) {
      report_->Value("sample transaction",
                     TransactionCsv(t) + (sample_.transaction_given ? "" : " (built in)"));
    } else {
      report_->Value("sample job number", job_no + (sample_.job_given ? "" : " (built in)"));
    }
    JobParts job;
    bool split = true;
    try {
      job = WorkOrderAndLineCode(job_no, ReadDriverSetting("KMR/System/WoSplit"));
      report_->Value("work order, line code",
                     Bracketed(job.work_order) + " " + Bracketed(job.line_code));
    } catch (const FailureText& failure) {
      split = false;
      const std::string text =
          "the sample job number " + Bracketed(job_no) + " is rejected: " + failure.text();
      // A job number the operator typed says nothing about the settings.
      if (sample_.job_given || (forward && sample_.transaction_given)) {
        report_->Warning(text);
      } else {
        report_->Note(text);
      }
      job.work_order = "%@07";
      job.line_code = "%@17";
    }
    ExtFormat format;
    if (forward) {
      try {
        RegisterTransactionOrdinals(t, job.work_order, job.line_code, &format);
      } catch (const FailureText& failure) {
        report_->Warning("the sample transaction's date or time is no YYMMDD and HHMMSS: " +
                         failure.text());
      }
      UserMapping(t[kUserId], format);
    } else {
      format.AddString("01", job.work_order);
      format.AddString("11", job.line_code);
    }
    LoadSetupOrdinals(&format);

    const std::string path = forward ? "KMR/ForwardTransactionQuery" : "KMR/IsJobValidQuery";
    const std::string query_template = ReadDriverSetting(path);
    if (query_template.empty()) {
      Issue(forward, std::string("no query template <") + path.substr(4) +
                         ">: the DMS would get an empty query");
    }
    const std::string query = Render(forward, format, query_template);

    std::string type;
    const bool typed = Fetch(forward, format, "TP", &type);
    std::string sent = QueryAsSent(query, kind, type);
    if (typed) Transport(forward, format, type, own, prefix, sent);
    const bool carriage_return = !sent.empty() && sent.back() == '\r';
    report_->Value("query as sent",
                   std::to_string(sent.size()) + " bytes" +
                       (carriage_return ? ", the last a carriage return" : "") +
                       (split ? "" : " (the job number's parts left as %@07 and %@17)"));
    report_->Block(sent);
    if (forward) BookingKeyUse(format, sent);
    ReplyRules(kind, job);
  }

  // The Setup item of this exchange's transport: "FU" for the forward
  // exchange's URL.
  static std::string Item(char own, char second) { return std::string(1, own) + second; }

  void Transport(bool forward, const ExtFormat& format, const std::string& type, char own,
                 const std::string& prefix, const std::string& sent) {
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

  void TcpTransport(bool forward, const ExtFormat& format, char own) {
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

  void HttpTransport(bool forward, const ExtFormat& format, const std::string& type, char own,
                     const std::string& prefix, const std::string& sent) {
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

  // The URL of Setup item `item`, and whether the driver can use it.
  void Url(bool forward, const std::string& type, const std::string& item, const std::string& url) {
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

  // The method of Setup item `item`: what it sends.
  void Method(const std::string& item, const TransportContext& context) {
    const bool post = SendsPost(context.method);
    report_->Value("method (" + item + ")",
                   Bracketed(context.method) + (post ? " sends POST" : " sends GET"));
    if (!post && context.method != "GET") {
      report_->Warning("the Setup item <" + item + "> " + Bracketed(context.method) +
                       " sends GET: only a value that begins with POST (in capitals) sends POST");
    }
  }

  // The extra header lines as they would go out with the sample's query
  // `sent`, secrets masked.
  void ExtraHeaders(bool forward, const ExtFormat& format, char own, const std::string& header,
                    const std::string& sent, TransportContext* context) {
    if (!SendsExtraHeaders(header)) {
      report_->Value("extra headers (" + Item(own, 'H') + ")", "[0] none");
      return;
    }
    if (!Fetch(forward, format, Item(own, 'L'), &context->dynamic_length)) return;
    report_->Value(
        "dynamic length (" + Item(own, 'L') + ")",
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

  // The DMS user that the sample's host user number becomes (%@03).
  void UserMapping(const std::string& user_id, const ExtFormat& format) {
    const ExtFormat::Entry* user = format.Find("03");
    if (user == nullptr) return;
    report_->Value(
        "DMS user (%@03)",
        Bracketed(user->text) +
            (user->text == user_id
                 ? " the host's user number itself: KMR/UserID holds no E" + user_id
                 : " for host user " + Bracketed(user_id) + " (KMR/UserID/E" + user_id + ")"));
  }

  // Credentials that plain HTTP carries readable to anyone on the way.
  void PlainCredentials(bool forward, const std::string& user, const std::string& password,
                        const TransportContext& context, bool basic_header) {
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

  // Whether the DMS is handed the booking key, in the query or a header.
  void BookingKeyUse(const ExtFormat& format, const std::string& sent) {
    const ExtFormat::Entry* key = format.Find(kBookingKeyOrdinal);
    if (key == nullptr) return;
    const bool sent_key =
        !key->text.empty() && (sent.find(key->text) != std::string::npos ||
                               sent_headers_.find(key->text) != std::string::npos);
    report_->Value("booking key (%@TK)",
                   Bracketed(key->text) +
                       (sent_key ? " sent: the DMS can drop a booking sent again"
                                 : " not sent: the DMS cannot tell a booking sent again after "
                                   "a restart from a new one"));
    if (sent_key) {
      report_->Value("", DmsDropsRepeats()
                             ? "[ForwardTransaction] DmsDropsRepeats: it does, so a booking "
                               "whose outcome is unknown is sent again on its own"
                             : "[ForwardTransaction] DmsDropsRepeats is off: a booking whose "
                               "outcome is unknown waits for a person");
    }
  }

  void Peel(const std::string& item, const std::string& value) {
    report_->Value(
        "reply peel (" + item + ")",
        Bracketed(value) + (PeelSwitchOn(value) ? " the reply is first cut to the Level "
                                                  "element"
                                                : " off: the element is found anywhere"));
  }

  void ReplyRules(ExchangeKind kind, const JobParts& job) {
    const bool forward = kind == ExchangeKind::kForwardTransaction;
    const std::string root = forward ? "KMR/ForwardTransactionResult/" : "KMR/IsJobValidResult/";
    const ResultSettings settings = ReadResultSettings(kind);
    report_->Value("reply code from", Bracketed(settings.code_spec) + " (" + root + "Result)");
    if (settings.code_spec.empty()) {
      Issue(forward, root +
                         "Result is empty: every reply gives an empty code, which matches no "
                         "list");
    } else if (CountOf(settings.code_spec, '/') != 1) {
      Issue(forward, root + "Result " + Bracketed(settings.code_spec) +
                         " must hold exactly one \"/\" (Level/Parameter)");
    }
    report_->Value("reply text from", Bracketed(settings.text_spec) + " (" + root + "Description)");
    if (!settings.text_spec.empty() && CountOf(settings.text_spec, '/') != 1) {
      Issue(forward, root + "Description " + Bracketed(settings.text_spec) +
                         " must hold exactly one \"/\" (Level/Parameter)");
    }
    const ListItems first =
        SplitList(settings.first_list, forward ? CodeList::kSuccess : CodeList::kValid);
    const std::string first_name = forward ? "SuccessResult" : "ValidResult";
    CodeListLine(forward, forward ? "success codes" : "valid codes", root + first_name,
                 settings.first_list, first);
    if (first[0].empty()) {
      Issue(forward, root + first_name + " is empty: " +
                         (forward ? "every transaction is parked as failed"
                                  : "every job number is NOT VALID"));
    }
    if (forward) {
      const ListItems retry = SplitList(settings.second_list, CodeList::kRetryLater);
      CodeListLine(true, "retry-later codes", root + "RetryResult", settings.second_list, retry);
      for (const std::string& code : retry) {
        if (!code.empty() && std::find(first.begin(), first.end(), code) != first.end()) {
          report_->Warning("the code " + Bracketed(code) +
                           " is a success code and a retry-later code: it counts as success");
        }
      }
    } else {
      report_->Note("a reply is valid only if it holds <RONumber>" + job.work_order +
                    "</RONumber> and <LineCode>" + job.line_code + "</LineCode>");
    }
  }

  void CodeListLine(bool forward, const std::string& label, const std::string& path,
                    const std::string& list, const ListItems& items) {
    std::string shown;
    size_t used = 0;
    for (const std::string& code : items) {
      if (code.empty()) continue;
      if (!shown.empty()) shown += " ";
      shown += Bracketed(code);
      used += code.size() + 1;
      if (code[0] == ',') {
        report_->Warning(path + " " + Bracketed(list) + ": two commas in a row give the code " +
                         Bracketed(code) + ", which no reply matches");
      } else if (code.find_first_of(" \t") != std::string::npos) {
        report_->Warning(path + ": the code " + Bracketed(code) +
                         " holds a blank; a reply code matches only if it holds the same blank");
      }
    }
    report_->Value(label, shown.empty() ? "(none)" : shown);
    if (used < list.size() && !items[kListItemCount - 1].empty()) {
      report_->Warning(path + " " + Bracketed(list) + ": only the first five codes are used");
    }
  }

  CheckReport* report_;
  const ExchangeSample& sample_;
  const bool validation_gate_;
  bool uses_https_ = false;
  std::string sent_headers_;  // the forward exchange's extra headers as sent
};

}  // namespace

bool CheckExchanges(const ExchangeSample& sample, bool validation_gate, CheckReport* report) {
  return ExchangeCheck(sample, validation_gate, report).Run();
}

}  // namespace vornlink
