#include "vornlink/try/try_command.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <ostream>
#include <string>

#include "base/failure_text.h"
#include "exchange/dms_query.h"
#include "exchange/forward_transaction.h"
#include "exchange/job_validation.h"
#include "exchange/log_lines.h"
#include "log/log.h"
#include "platform/http_client.h"
#include "platform/terminal.h"
#include "transport/http_headers.h"
#include "transport/http_transport.h"
#include "transport/transport_context.h"
#include "transport/transport_limits.h"
#include "vornlink/base/exchange_sample.h"
#include "vornlink/base/exit_codes.h"
#include "vornlink/base/site_env.h"
#include "vornlink/base/text_output.h"
#include "vornlink/try/dms_place.h"
#include "vornlink/try/wire_view.h"

namespace vornlink {
namespace {

// The value of the first entry with `flag` that names `label` (LoggedValue).
bool FindValue(const std::vector<CapturedEntry>& entries, char flag, std::string_view label,
               std::string* value) {
  for (const CapturedEntry& entry : entries) {
    if (entry.flag == flag && LoggedValue(entry.message, label, value)) return true;
  }
  return false;
}

// The label of the exchange's own connection line `label` ("FWT URL").
std::string Own(const std::string& prefix, std::string_view label) {
  return prefix + " " + std::string(label);
}

// The exchange's verdict line: the last "." or "*" entry that begins with
// `prefix` ("FWT: " or "IJV: ").
std::string Verdict(const std::vector<CapturedEntry>& entries, const std::string& prefix) {
  std::string line;
  for (const CapturedEntry& entry : entries) {
    if ((entry.flag == '.' || entry.flag == '*') && entry.message.compare(0, 5, prefix) == 0) {
      line = entry.message;
    }
  }
  return line;
}

// Where the exchange with `prefix` goes by the Setup items: the TCP host
// and port, or the URL (its password masked); "" when they do not say.
std::string DmsAddress(const std::string& prefix) {
  DmsRoute route;
  const ExchangeKind kind =
      prefix == "IJV" ? ExchangeKind::kJobValidation : ExchangeKind::kForwardTransaction;
  return RouteOfSettings(kind, &route) ? PlaceOf(route) : std::string();
}

// What an exchange did, as the driver's lines tell it.
struct ExchangeView {
  std::string type;   // "TCP", "HTTP", "HTTPS", or "" when it got no further
  std::string where;  // the URL (its password masked), or the TCP host and port
  std::string item;   // the Setup items that say where
  NetFailure failure = NetFailure::kOther;
};

ExchangeView ViewOf(const std::vector<CapturedEntry>& entries, const std::string& prefix,
                    NetFailure failure) {
  ExchangeView view;
  std::string value;
  if (FindValue(entries, 'h', kTransportTypeLabel, &view.type)) {
    FindValue(entries, 'h', Own(prefix, kUrlLabel), &view.where);
    view.item = prefix == "IJV" ? "JU" : "FU";
  } else {
    view.where = DmsAddress(prefix);
    if (!view.where.empty()) view.type = "TCP";
    view.item = "SR and PO";
  }
  view.failure = failure;
  return view;
}

// The request of an HTTP exchange as the log tells it, its header lines as
// they go out, and what the library adds to them.
void ShowHttpRequest(std::ostream& out, const std::vector<CapturedEntry>& entries,
                     const std::string& prefix, const ExchangeView& view, const std::string& body,
                     const WireRecorder& wire) {
  if (!wire.request_head.empty()) {
    // In the order they went over the wire; secrets masked.
    ShowHead(out, "request as sent", wire.request_head);
    out << "    |\n";
    PrintBlock(out, body);
    for (const std::string& head : wire.response_heads) ShowHead(out, "response", head);
    return;
  }
  HttpRequest request;
  request.secure = view.type == "HTTPS";
  std::string value;
  if (FindValue(entries, 'h', Own(prefix, kMethodLabel), &value)) request.post = SendsPost(value);
  request.user_agent = kHttpUserAgent;
  request.body = body;
  FindValue(entries, 'h', Own(prefix, kUserNameLabel), &request.user);
  if (FindValue(entries, 'h', "Additional header", &value)) {
    request.headers = HeaderLines(HeaderBlockOfLogValue(value));
  }
  const HttpHeadersAsSent headers = HeadersAsSent(request);
  // Nothing goes out before the connection and the TLS handshake stand.
  const bool unsent = view.failure != NetFailure::kOther && view.failure != NetFailure::kTimedOut;
  const std::string what = std::string(request.post ? "POST" : "GET") + " with " +
                           std::to_string(headers.given.size()) + " header lines of the settings " +
                           "and " + std::to_string(body.size()) + " bytes of body" +
                           (headers.given.empty() ? ":" : " (secrets masked):");
  if (unsent) {
    ShowLine(out, "request", "NOT SENT, the connection failed first; it was to be a " + what);
  } else if (view.failure == NetFailure::kTimedOut) {
    ShowLine(out, "request", "sent or not (the time limit ran out): a " + what);
  } else {
    ShowLine(out, "request as sent", what);
  }
  for (const std::string& line : headers.given) out << "    | " << line << "\n";
  if (!headers.given.empty()) out << "    |\n";
  PrintBlock(out, body);
  std::string added;
  for (const std::string& line : headers.added) added += (added.empty() ? "" : "; ") + line;
  ShowLine(out, "library adds", added);
}

void ShowExchange(std::ostream& out, const std::vector<CapturedEntry>& entries,
                  const std::string& prefix, const ExchangeView& view, const WireRecorder& wire,
                  bool verbose) {
  std::string value;
  if (!view.type.empty()) {
    std::string line = view.type;
    if (view.type != "TCP" && FindValue(entries, 'h', Own(prefix, kMethodLabel), &value)) {
      line += SendsPost(value) ? " POST" : " GET";
    }
    ShowLine(out, "connection", line + " " + view.where);
  }
  if (FindValue(entries, 'h', Own(prefix, kUserNameLabel), &value)) {
    std::string password;
    FindValue(entries, 'h', Own(prefix, kPassWordLabel), &password);
    ShowLine(out, "credentials", "user [" + value + "], password [" + password + "]");
  }
  if (wire.certificate) ShowCertificate(out, *wire.certificate);
  if (FindValue(entries, 'h', "Send to DMS", &value)) {
    ShowHttpRequest(out, entries, prefix, view, value, wire);
  } else if (FindValue(entries, 't', "Send to DMS", &value)) {
    ShowLine(out, "request as sent", std::to_string(value.size()) + " bytes:");
    PrintBlock(out, value);
  } else {
    ShowLine(out, "request", "nothing was sent");
  }
  if (FindValue(entries, 'd', "Reply from DMS", &value) ||
      FindValue(entries, 'd', "Reply from server", &value)) {
    ShowLine(out, "reply", std::to_string(value.size()) + " bytes:");
    PrintBlock(out, value);
  }
  if (FindValue(entries, 'r', kResultLabel, &value)) {
    std::string text;
    FindValue(entries, 'r', kDescriptionLabel, &text);
    ShowLine(out, "code and text", "c[" + value + "] t[" + text + "]");
  }
  if (verbose) {
    ShowLine(out, "driver's log", "every line of this exchange:");
    for (const CapturedEntry& entry : entries) {
      out << "    " << entry.flag << " " << entry.message << "\n";
    }
  }
}

// What to look at when the DMS refused the request with `status`; "" for
// a status that tells nothing to look at.
std::string StatusRemedy(int status, const std::string& where) {
  if (status == 404 || status == 405) {
    return "the DMS has no such service at " + where +
           ": check the path (and the method) that its documentation gives";
  }
  if (status == 401 || status == 403 || status == 407) {
    return "the DMS refused the credentials: check the user name and password of the settings, "
           "and the Authorization header if the settings add one";
  }
  if (status >= 500) {
    return "the DMS failed on the request: its reply above and its own log say why";
  }
  if (status >= 400) return "the DMS did not take the request: its reply above says why";
  return std::string();
}

// What to look at when the connection failed or the DMS refused the
// request (`status`, 0 when none came); "" when that is no help.
std::string Remedy(const ExchangeView& view, int status, int64_t time_limit) {
  const std::string where = view.where + " (" + view.item + ")";
  if (status >= 400) return StatusRemedy(status, where);
  switch (view.failure) {
    case NetFailure::kRefused:
      return "nothing accepts connections at " + where +
             ": is the DMS running, and are its address and port right?";
    case NetFailure::kNameLookup:
      return "the DMS's name cannot be looked up: check its spelling in " + where +
             ", and this machine's name service (DNS)";
    case NetFailure::kUnreachable:
      return "no way to " + where +
             ": check the address, the network and the firewalls between this machine and "
             "the DMS";
    case NetFailure::kTimedOut:
      return "no answer within " + std::to_string(time_limit) + " s from " + where +
             ": is the DMS busy, or does a firewall swallow the connection? "
             "[Transport] TimeoutSeconds of the INI file sets the limit";
    case NetFailure::kCertificate:
#if defined(_WIN32)
      return "the DMS's certificate is not trusted: add the authority that issued it to the "
             "local computer's Trusted Root Certification Authorities store (certutil "
             "-addstore Root dms-ca.cer, as an administrator)";
#else
      return "the DMS's certificate is not trusted: name the PEM file of the authority that "
             "issued it as CAFile in the section [HTTPS] of the INI file (its full path)";
#endif
    case NetFailure::kTls:
      return "the TLS handshake failed: does the DMS speak HTTPS at " + where +
             " (TP says HTTPS), and does it accept a current TLS version?";
    case NetFailure::kTrustFile:
      return "[HTTPS] CAFile of the INI file must name a regular file (not a link) that holds "
             "PEM certificates";
    case NetFailure::kOther:
      break;
  }
  return std::string();
}

// Says what the exchange waits for and how long at most; on a terminal
// also each phase as the driver's lines announce it.
class WaitReport {
 public:
  WaitReport(SiteEnv* site, std::ostream& out, bool terminal, const std::string& prefix)
      : site_(site),
        out_(out),
        started_(std::chrono::steady_clock::now()),
        limit_(TransportTimeLimit().count()) {
    const std::string where = DmsAddress(prefix);
    ShowLine(out_, "waiting",
             "for the DMS" + (where.empty() ? "" : " at " + where) + ", at most " +
                 std::to_string(limit_) + " s ([Transport] TimeoutSeconds)");
    if (terminal) site_->ListenToLog([this](const CapturedEntry& entry) { Announce(entry); });
    out_.flush();
  }
  ~WaitReport() { site_->ListenToLog(nullptr); }
  WaitReport(const WaitReport&) = delete;
  WaitReport& operator=(const WaitReport&) = delete;

  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  }
  int64_t limit() const { return limit_; }

 private:
  // The HTTP transport logs the query before the library connects, the TCP
  // transport once it has sent it.
  void Announce(const CapturedEntry& entry) {
    const std::vector<CapturedEntry> one = {entry};
    std::string value;
    if (FindValue(one, 'h', "Send to DMS", &value)) {
      ShowLine(out_, "now",
               "connecting, sending " + std::to_string(value.size()) +
                   " bytes and waiting for the reply");
    } else if (FindValue(one, 't', "Send to DMS", &value)) {
      const int64_t left = limit_ - static_cast<int64_t>(Seconds());
      ShowLine(out_, "now",
               "sent " + std::to_string(value.size()) + " bytes; waiting for the reply, at most " +
                   std::to_string(left) + " s more");
    }
    out_.flush();
  }

  SiteEnv* site_;
  std::ostream& out_;
  const std::chrono::steady_clock::time_point started_;
  const int64_t limit_;
};

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

const char* ForwardMeaning(ForwardOutcome outcome) {
  switch (outcome) {
    case ForwardOutcome::kSuccess:
      return "SUCCESS: the worker would remove the line from the cache";
    case ForwardOutcome::kRetryLater:
      return "RETRY LATER: the worker would keep the line due and send it again";
    case ForwardOutcome::kNeedsAttention:
      return "FAILED: the worker would park the line for a person";
    case ForwardOutcome::kUnreachable:
      return "DMS UNREACHABLE: the worker would keep the line due and try again in its next pass "
             "(ParkUnreachableAfterHours: when it parks)";
    case ForwardOutcome::kOutcomeUnknown:
      return "OUTCOME UNKNOWN: the DMS may have booked it; the worker would keep the line for a "
             "person (look in the DMS before releasing it)";
    case ForwardOutcome::kStopped:
    case ForwardOutcome::kCutAfterSending:
    case ForwardOutcome::kCutRepeatsDropped:
      break;
  }
  return "STOPPED";
}

// Runs one exchange (`exchange` returns what its outcome means and sets
// what a failure of the network tells to look at) and shows
// it, its time, its outcome, the driver's verdict line and the remedy for a
// failed connection.
template <typename Exchange>
void TryExchange(SiteEnv* site, std::ostream& out, bool terminal, const std::string& prefix,
                 bool verbose, Exchange exchange) {
  std::string meaning;
  NetFailure failure = NetFailure::kOther;
  double seconds = 0;
  int64_t limit = 0;
  WireRecorder wire;
  {
    WaitReport wait(site, out, terminal, prefix);
    ScopedHttpWireTap tap(&wire);
    meaning = exchange(&failure);
    seconds = wait.Seconds();
    limit = wait.limit();
  }
  const std::vector<CapturedEntry> entries = site->TakeLog();
  const std::string line = Verdict(entries, prefix + ": ");
  const ExchangeView view = ViewOf(entries, prefix, failure);
  ShowExchange(out, entries, prefix, view, wire, verbose);
  ShowLine(out, "time", SecondsText(seconds));
  ShowLine(out, "outcome", meaning);
  ShowLine(out, "driver's line", line);
  const std::string remedy = Remedy(view, wire.LastStatus(), limit);
  if (!remedy.empty()) ShowLine(out, "remedy", remedy);
}

// What the command line asks of try.
struct TryOptions {
  ExchangeSample sample;
  bool forward = true;
  bool validate = true;
  bool verbose = false;
  bool yes = false;
};

// Reads try's words; false (reported, naming the word) on a wrong one.
bool ReadTryOptions(const std::vector<std::string>& args, TryOptions* options, std::ostream& err) {
  std::vector<std::string> rest;
  if (!ParseSampleOptions(args, &options->sample, &rest, err)) return false;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == "--verbose") {
      options->verbose = true;
    } else if (rest[i] == "--yes") {
      options->yes = true;
    } else if (rest[i] == "--only") {
      const std::string which = i + 1 < rest.size() ? rest[++i] : std::string();
      if (which != "forward" && which != "validate") {
        err << "vornlink try: --only takes forward or validate"
            << (which.empty() ? std::string() : ", not " + which) << "\n";
        return false;
      }
      options->forward = which == "forward";
      options->validate = !options->forward;
    } else {
      err << "vornlink try: unknown argument " << rest[i]
          << " (--transaction F1,...,F12, --job JOBNO, --only forward|validate, --verbose, "
             "--yes)\n";
      return false;
    }
  }
  return true;
}

}  // namespace

const CommandHelp kTryHelp = {
    "try",
    CommandGroup::kOperator,
    "try [--transaction F1,...,F12] [--job JOBNO] [--only forward|validate]\n"
    "    [--verbose] [--yes]",
    "one real job validation and one real forward\n"
    "transaction with the DMS (a real booking!), shown\n"
    "step by step; the cache and the log stay untouched",
    "  --transaction F1,...,F12, --job JOBNO\n"
    "                   the samples, as for check\n"
    "  --only forward|validate\n"
    "                   only that exchange\n"
    "  --verbose        every log line of the exchanges\n"
    "  --yes            book at a DMS that is not on this machine without asking\n"
    "                   (without it, try asks at a terminal and refuses elsewhere)\n",
    "0 the job was VALID and the transaction a SUCCESS (of those tried),\n"
    "1 otherwise, 2 usage error, or a DMS elsewhere and neither --yes nor a yes",
    "One real job validation and one real booking with the DMS, step by step.\n",
    "--only forward validate\n"};

int RunTryCommand(const std::string& module_path, const std::vector<std::string>& args,
                  std::ostream& out, std::ostream& err) {
  TryOptions options;
  if (!ReadTryOptions(args, &options, err)) return kExitUsage;
  ExchangeSample& sample = options.sample;
  const bool forward = options.forward;
  const bool validate = options.validate;
  const bool verbose = options.verbose;
  const bool yes = options.yes;
  SiteEnv site(module_path);
  CompleteSample(&sample);
  if (forward) {
    const std::string place = BookingPlaceElsewhere();
    if (!place.empty() && !MayBookElsewhere(place, sample.transaction[kTransNo], yes, out, err)) {
      return kExitUsage;
    }
  }
  site.CaptureLog(kDriverLogFlags);
  site.TakeLog();
  const bool terminal = &out == &std::cout && StandardOutputIsTerminal();
  out << "vornlink try: the driver's exchanges for " << site.ModulePath()
      << " (the cache file and the log stay untouched)\n";

  bool all_good = true;
  if (validate) {
    out << "\n== Job validation of " << sample.job_no << "\n";
    JobVerdict verdict = JobVerdict::kNotValid;
    TryExchange(&site, out, terminal, "IJV", verbose, [&](NetFailure* failure) {
      verdict = ValidateJob(sample.job_no, nullptr, nullptr, failure);
      return verdict == JobVerdict::kValid      ? "VALID"
             : verdict == JobVerdict::kNotValid ? "NOT VALID: the DMS does not know it"
             : verdict == JobVerdict::kNotSplit
                 ? "NOT VALID: it does not split as KMR/System/WoSplit says; the DMS was not asked"
                 : "NOT VALID: no answer could be judged";
    });
    all_good = all_good && verdict == JobVerdict::kValid;
  }
  if (forward) {
    out << "\n== Forward transaction " << TransactionCsv(sample.transaction) << "\n";
    ForwardOutcome outcome = ForwardOutcome::kNeedsAttention;
    TryExchange(&site, out, terminal, "FWT", verbose, [&](NetFailure* failure) {
      std::string failure_line;
      outcome = ForwardTransactionExchange(sample.transaction, &failure_line, nullptr,
                                           ForwardOptions(), failure);
      return ForwardMeaning(outcome);
    });
    all_good = all_good && outcome == ForwardOutcome::kSuccess;
  }
  return all_good ? kExitOk : kExitFailed;
}

}  // namespace vornlink
