#include "transport/http_transport.h"

#include <algorithm>
#include <string>

#include "base/failure_text.h"
#include "log/log.h"
#include "platform/http_client.h"
#include "settings/module_files.h"
#include "transport/http_headers.h"
#include "transport/nul_ended_reply.h"
#include "transport/transport_limits.h"

namespace vornlink {
namespace {

// How much of a refusal's body is read and logged while a person watches
// the wire (`vornlink try`): enough for a server's page that says why.
constexpr size_t kMaxRefusalBytes = 4096;

// In front of each line of the header block in the log.
constexpr std::string_view kLoggedHeaderIndent = "   ";

std::string WithBlanksAfterLineFeeds(const std::string& block) {
  std::string shown;
  for (char c : block) {
    shown.push_back(c);
    if (c == '\n') shown += kLoggedHeaderIndent;
  }
  return shown;
}

// Takes the response: logs the status and every read, keeps the body up to
// its first NUL, refuses more than kMaxHttpReplyBytes.
class ReplyCollector : public HttpResponseHandler {
 public:
  explicit ReplyCollector(const TransportContext& context)
      : context_(context), reads_refusal_(CurrentHttpWireTap() != nullptr) {}

  bool OnStatus(int status) override {
    status_ = status;
    // The body of a refusal says why, for a person who watches the wire:
    // only then is its start read. Else the refusal ends the exchange at
    // once; a slow body must not hold a host's call or the worker.
    if (status < 200 || status > 299) return reads_refusal_;
    LogPrint('h',
             "HttpTransport: WorkOrder[%s] LineCode[%s], message sent --> HTTP c[%d] --> SUCCESS",
             context_.work_order.c_str(), context_.line_code.c_str(), status);
    return true;
  }

  bool OnBody(const char* data, size_t size) override {
    if (refused()) {
      refusal_.append(data, std::min(size, kMaxRefusalBytes - refusal_.size()));
      return refusal_.size() < kMaxRefusalBytes;
    }
    const size_t before = total_;
    total_ += size;
    if (total_ > kMaxHttpReplyBytes) {
      too_large_ = true;
      return false;
    }
    // Each read is logged while the reply is within what one entry shows;
    // the reads of a flood are only counted.
    if (before < kMaxEntryBytes) {
      std::string piece(data, size);
      LogPrint('d', "n0:                   [%d]", static_cast<int>(previous_));
      LogPrint('d', "r0:                   [%s]", piece.c_str());
      LogPrint('d', "nL:                   [%d]", static_cast<int>(size));
      LogPrint('d', "rL:                   [%s]", piece.c_str());
      LogPrint('d', "sL:                   [%zu]", total_);
    } else {
      ++reads_not_logged_;
    }
    body_.Take(std::string_view(data, size));
    previous_ = size;
    return true;
  }

  // The read that finds the end.
  void LogEnd() const {
    if (reads_not_logged_ > 0) {
      LogPrint('d', "sL:                   [%zu] in %zu more reads, not logged one by one", total_,
               reads_not_logged_);
    }
    LogPrint('d', "n0:                   [%d]", static_cast<int>(previous_));
    LogPrint('d', "r0:                   [%s]", "");
    LogPrint('d', "nE: [%d]", 0);
    LogPrint('d', "Reply from server     [\r\n%s]", body_.text().c_str());
  }

  // A status came that is no success.
  bool refused() const { return status_ != 0 && (status_ < 200 || status_ > 299); }
  // Logs the start of a refusal's body, as far as it came, when it was read.
  void LogRefusal() const {
    if (reads_refusal_) LogPrint('d', "Reply from server     [\r\n%s]", refusal_.c_str());
  }

  int status() const { return status_; }
  bool too_large() const { return too_large_; }
  std::string& body() { return body_.text(); }

 private:
  const TransportContext& context_;
  int status_ = 0;
  size_t previous_ = 0;
  size_t total_ = 0;
  size_t reads_not_logged_ = 0;
  bool too_large_ = false;
  NulEndedReply body_;
  const bool reads_refusal_;
  std::string refusal_;
};

}  // namespace

const char* HttpStatusText(int status) {
  switch (status) {
    case 400:
      return "Unintelligble request";
    case 401:
      return "Unauthorized";
    case 402:
      return "Payment required";
    case 403:
      return "Forbidden";
    case 404:
      return "Requested URL not found";
    case 405:
      return "Method not supported";
    case 411:
      return "Length required";
    case 415:
      return "Unsupported media type";
    case 500:
      return "Unknown server error";
    case 503:
      return "Service unavailable";
    case 505:
      return "Http version not supported";
    default:
      return "Unknown return code";
  }
}

std::string HeaderBlockOfLogValue(std::string_view logged) {
  std::string block;
  bool line_start = true;
  for (size_t at = 0; at < logged.size(); ++at) {
    if (line_start && logged.substr(at, kLoggedHeaderIndent.size()) == kLoggedHeaderIndent) {
      at += kLoggedHeaderIndent.size();
      if (at == logged.size()) break;
    }
    block.push_back(logged[at]);
    line_start = logged[at] == '\n';
  }
  return block;
}

std::string TrustFileSetting() { return ReadIniString("HTTPS", "CAFile", ""); }

void HttpTransport(const std::string& url, std::string* message, const std::string& headers,
                   const TransportContext& context) {
  const std::string& type = context.transport_type;
  if (type != "HTTP" && type != "HTTPS") {
    throw FailureText("HttpTransport: t[Transport type " + type + "] --> unknown");
  }
  std::chrono::seconds time_limit = TransportTimeLimit();
  WaitLimit limit = TransportWaitLimit(time_limit, context);

  HttpRequest request;
  request.secure = type == "HTTPS";
  request.url = url;
  request.post = SendsPost(context.method);
  request.user_agent = kHttpUserAgent;
  request.body = message->c_str();
  request.user = context.user_name;
  request.password = context.password;
  request.ca_file = TrustFileSetting();
  if (SendsExtraHeaders(headers)) {
    LogPrint('h', "Additional header     [\r\n%s%s]", std::string(kLoggedHeaderIndent).c_str(),
             WithBlanksAfterLineFeeds(MaskHeaderSecrets(headers)).c_str());
    request.headers = HeaderLines(headers);
  }
  LogPrint('h', "                Send to DMS[\r\n%s]", message->c_str());

  ReplyCollector collector(context);
  HttpResult result = SendHttpRequest(request, limit, &collector);
  // A refusal stands as soon as its status came, however its body ended.
  if (collector.refused()) collector.LogRefusal();
  const int status = collector.status();
  if (collector.refused() || (result.outcome == HttpOutcome::kDone && status / 100 != 2)) {
    throw FailureText("HttpTransport: c[" + std::to_string(status) + "] t[" +
                      HttpStatusText(status) + "]");
  }
  switch (result.outcome) {
    case HttpOutcome::kDone:
      break;
    case HttpOutcome::kBadUrl:
      throw FailureText("HttpTransport: t[URL Error]");
    case HttpOutcome::kLibraryError:
      throw FailureText(
          "HttpTransport: t[CInternetException] em[" + result.error_text + "]",
          result.request_sent ? FailureKind::kOther : KindOfConnectFailure(result.failure),
          result.failure);
    case HttpOutcome::kTimedOut:
      throw FailureText(
          HttpTimeoutText(time_limit),
          result.request_sent ? FailureKind::kTimeLimitAfterSending : FailureKind::kNotReached,
          NetFailure::kTimedOut);
    case HttpOutcome::kStopped:
      if (result.request_sent) throw FailureText(kHttpCutText, FailureKind::kCutAfterSending);
      throw FailureText(kHttpStoppedText, FailureKind::kStopped);
    case HttpOutcome::kTrustFileError:
      throw FailureText("HttpTransport: t[CAFile] em[" + result.error_text + "]",
                        FailureKind::kOther, NetFailure::kTrustFile);
    case HttpOutcome::kAborted:
      throw FailureText("HttpTransport: t[Reply too large] em[More than " +
                        std::to_string(kMaxHttpReplyBytes) + " bytes]");
  }
  collector.LogEnd();
  *message = std::move(collector.body());
}

}  // namespace vornlink
