#include "emulated_dms/dms_server.h"

#include <algorithm>
#include <utility>

namespace vornlink {

std::string DmsRequestText(std::string_view bytes) {
  size_t end = bytes.find('\0');
  return std::string(bytes.substr(0, end));
}

std::string DmsRequestForDisplay(const std::string& request) {
  std::string shown;
  shown.reserve(request.size() + request.size() / 16);
  for (size_t i = 0; i < request.size(); ++i) {
    if (request[i] == '>' && i + 1 < request.size() && request[i + 1] == '\n') {
      shown += ">\r\n";
      ++i;
    } else {
      shown.push_back(request[i]);
    }
  }
  return shown;
}

DmsConnectionReport ServeDmsConnection(NetConnection& connection, const DmsAnswer& answer,
                                       const StopSignal* stop,
                                       std::chrono::milliseconds time_limit) {
  using Outcome = DmsConnectionReport::Outcome;
  DmsConnectionReport report;
  report.peer = connection.PeerText();
  WaitLimit limit = WaitLimit::After(time_limit, stop);
  std::string bytes;
  char buffer[4096];
  bool complete = false;
  while (!complete && bytes.size() < kMaxDmsRequestBytes) {
    size_t received = 0;
    size_t room = std::min(sizeof buffer, kMaxDmsRequestBytes - bytes.size());
    report.net = connection.Receive(buffer, room, &received, limit);
    if (!report.net.ok()) break;
    size_t nul = std::string_view(buffer, received).find('\0');
    bytes.append(buffer, nul == std::string_view::npos ? received : nul);
    complete = nul != std::string_view::npos;
  }
  report.request = DmsRequestText(bytes);
  if (!complete && bytes.size() < kMaxDmsRequestBytes) {
    switch (report.net.status) {
      case NetStatus::kClosed:
        // A peer that sent its request and half-closed has said all.
        if (bytes.empty()) {
          report.outcome = Outcome::kNoRequest;
          return report;
        }
        break;
      case NetStatus::kTimedOut:
        if (bytes.empty()) {
          report.outcome = Outcome::kTimedOut;
          return report;
        }
        break;
      case NetStatus::kStopped:
        report.outcome = Outcome::kStopped;
        return report;
      default:
        report.outcome = Outcome::kFailed;
        return report;
    }
  }
  report.reply = answer(report.request);
  std::string wire = report.reply;
  wire.push_back('\0');
  report.net = connection.SendAll(wire, WaitLimit::After(time_limit, stop));
  if (!report.net.ok()) {
    report.outcome = report.net.status == NetStatus::kStopped    ? Outcome::kStopped
                     : report.net.status == NetStatus::kTimedOut ? Outcome::kTimedOut
                                                                 : Outcome::kFailed;
    return report;
  }
  report.outcome = Outcome::kAnswered;
  return report;
}

std::unique_ptr<DmsServer> DmsServer::Listen(const std::string& address, uint16_t port,
                                             NetResult* result) {
  std::unique_ptr<NetListener> listener;
  *result = ListenTcp(address, port, 5, &listener);
  if (!result->ok()) return nullptr;
  return std::unique_ptr<DmsServer>(new DmsServer(std::move(listener)));
}

bool DmsServer::ServeOne(const WaitLimit& accept_limit, const DmsAnswer& answer,
                         DmsConnectionReport* report, std::chrono::milliseconds time_limit) {
  std::unique_ptr<NetConnection> connection;
  NetResult accepted = listener_->Accept(accept_limit, &connection);
  if (!accepted.ok()) {
    *report = DmsConnectionReport();
    report->net = accepted;
    report->outcome = accepted.status == NetStatus::kError ? DmsConnectionReport::Outcome::kFailed
                      : accepted.status == NetStatus::kStopped
                          ? DmsConnectionReport::Outcome::kStopped
                          : DmsConnectionReport::Outcome::kTimedOut;
    return false;
  }
  *report = ServeDmsConnection(*connection, answer, accept_limit.stop, time_limit);
  return true;
}

void DmsServer::Run(const StopSignal& stop, const DmsAnswer& answer,
                    const std::function<void(const DmsConnectionReport&)>& on_report,
                    int max_requests, std::chrono::milliseconds time_limit) {
  int answered = 0;
  while (!stop.IsSet() && (max_requests <= 0 || answered < max_requests)) {
    DmsConnectionReport report;
    WaitLimit limit;
    limit.stop = &stop;
    if (!ServeOne(limit, answer, &report, time_limit)) {
      if (report.outcome == DmsConnectionReport::Outcome::kFailed) {
        // A failed accept (a connection reset before it was taken, say) is
        // reported; a short pause keeps a persistent fault from spinning.
        if (on_report) on_report(report);
        stop.WaitFor(100);
      }
      continue;
    }
    if (report.outcome == DmsConnectionReport::Outcome::kAnswered) ++answered;
    if (on_report) on_report(report);
  }
}

std::string DmsReplyBox::Answer(const std::string& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++count_;
  return reply_;
}

void DmsReplyBox::SetReply(std::string reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  reply_ = std::move(reply);
}

std::string DmsReplyBox::reply() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reply_;
}

int DmsReplyBox::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

}  // namespace vornlink
