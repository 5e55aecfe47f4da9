#include "transport/transport_limits.h"

#include <string_view>

#include "settings/module_files.h"
#include "settings/numbers.h"

namespace vornlink {

const char kTcpStoppedText[] = "TcpTransport: c[Stopped] t[The driver is stopping]";
const char kHttpStoppedText[] = "HttpTransport: t[Stopped] em[The driver is stopping]";

namespace {

// How the texts of a time limit begin.
constexpr std::string_view kTcpTimeoutHead = "TcpTransport: c[Timeout]";
constexpr std::string_view kHttpTimeoutHead = "HttpTransport: t[Timeout]";

}  // namespace

std::chrono::seconds TransportTimeLimit() {
  int32_t seconds = LeadingInt(
      ReadIniString("Transport", "TimeoutSeconds", std::to_string(kDefaultTimeoutSeconds)));
  if (seconds <= 0) seconds = kDefaultTimeoutSeconds;
  if (seconds > kMaxTimeoutSeconds) seconds = kMaxTimeoutSeconds;
  return std::chrono::seconds(seconds);
}

WaitLimit TransportWaitLimit(const TransportContext& context) {
  return WaitLimit::After(TransportTimeLimit(), context.stop);
}

std::string TcpTimeoutText(std::chrono::seconds limit) {
  return std::string(kTcpTimeoutHead) + " t[No answer within " + std::to_string(limit.count()) +
         " seconds]";
}

std::string HttpTimeoutText(std::chrono::seconds limit) {
  return std::string(kHttpTimeoutHead) + " em[No answer within " + std::to_string(limit.count()) +
         " seconds]";
}

bool IsStopFailure(const std::string& failure_text) {
  return failure_text == kTcpStoppedText || failure_text == kHttpStoppedText;
}

bool IsTimeLimitFailure(const std::string& failure_text) {
  const std::string_view text = failure_text;
  return text.substr(0, kTcpTimeoutHead.size()) == kTcpTimeoutHead ||
         text.substr(0, kHttpTimeoutHead.size()) == kHttpTimeoutHead;
}

}  // namespace vornlink
