#include "transport/transport_limits.h"

#include <algorithm>
#include <string_view>

#include "base/numbers.h"
#include "settings/module_files.h"

namespace vornlink {

const char kTcpStoppedText[] = "TcpTransport: c[Stopped] t[The driver is stopping]";
const char kHttpStoppedText[] = "HttpTransport: t[Stopped] em[The driver is stopping]";
const char kTcpCutText[] = "TcpTransport: c[Stopped] t[The driver stopped before the DMS answered]";
const char kHttpCutText[] =
    "HttpTransport: t[Stopped] em[The driver stopped before the DMS answered]";

namespace {

// How the texts of a time limit begin.
constexpr std::string_view kTcpTimeoutHead = "TcpTransport: c[Timeout]";
constexpr std::string_view kHttpTimeoutHead = "HttpTransport: t[Timeout]";

}  // namespace

std::chrono::seconds TransportTimeLimit() { return ReadTimeLimitSetting().limit; }

TimeLimitSetting ReadTimeLimitSetting() {
  TimeLimitSetting setting;
  setting.text = ReadIniString("Transport", "TimeoutSeconds", "");
  const int32_t seconds = LeadingInt(setting.text);
  setting.not_positive = !setting.text.empty() && seconds <= 0;
  setting.capped = seconds > kMaxTimeoutSeconds;
  if (seconds > 0) setting.limit = std::chrono::seconds(std::min(seconds, kMaxTimeoutSeconds));
  return setting;
}

WaitLimit TransportWaitLimit(std::chrono::seconds time_limit, const TransportContext& context) {
  return WaitLimit::After(time_limit, context.stop, StopAt::kSetUntilSent);
}

std::string TcpTimeoutText(std::chrono::seconds limit) {
  return std::string(kTcpTimeoutHead) + " t[No answer within " + std::to_string(limit.count()) +
         " seconds]";
}

std::string HttpTimeoutText(std::chrono::seconds limit) {
  return std::string(kHttpTimeoutHead) + " em[No answer within " + std::to_string(limit.count()) +
         " seconds]";
}

FailureKind KindOfConnectFailure(NetFailure failure) {
  switch (failure) {
    case NetFailure::kRefused:
    case NetFailure::kNameLookup:
    case NetFailure::kUnreachable:
    case NetFailure::kTimedOut:
      return FailureKind::kNotReached;
    case NetFailure::kOther:
    case NetFailure::kCertificate:
    case NetFailure::kTls:
    case NetFailure::kTrustFile:
      break;
  }
  return FailureKind::kOther;
}

}  // namespace vornlink
