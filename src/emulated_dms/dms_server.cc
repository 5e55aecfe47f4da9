#include "emulated_dms/dms_server.h"

#include <algorithm>
#include <condition_variable>
#include <thread>
#include <utility>
#include <vector>

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
                                             NetResult* result, int backlog) {
  std::unique_ptr<NetListener> listener;
  *result = ListenTcp(address, port, backlog, &listener);
  if (!result->ok()) return nullptr;
  return std::unique_ptr<DmsServer>(new DmsServer(std::move(listener)));
}

void DmsServer::Serve(const StopSignal& stop,
                      const std::function<void(std::unique_ptr<NetConnection>)>& handle,
                      const std::function<void(const NetResult&)>& accept_failed, int threads) {
  std::mutex mutex;
  std::condition_variable changed;
  std::unique_ptr<NetConnection> handed;  // accepted, not yet taken by a thread
  int idle = 0;
  bool ending = false;
  std::vector<std::thread> connection_threads;
  for (int i = 0; i < std::max(threads, 1); ++i) {
    connection_threads.emplace_back([&] {
      std::unique_lock<std::mutex> lock(mutex);
      for (;;) {
        ++idle;
        changed.notify_all();
        changed.wait(lock, [&] { return ending || handed != nullptr; });
        --idle;
        // A connection handed out is served even when the stop has come:
        // the stop ends its waits at once.
        if (handed == nullptr) return;
        std::unique_ptr<NetConnection> connection = std::move(handed);
        changed.notify_all();  // the next one may be accepted
        lock.unlock();
        handle(std::move(connection));
        lock.lock();
      }
    });
  }
  while (!stop.IsSet()) {
    {
      // Only a connection a thread can take at once is accepted: the others
      // wait in the listening queue, not held open by nobody.
      std::unique_lock<std::mutex> lock(mutex);
      while ((idle == 0 || handed != nullptr) && !stop.IsSet()) {
        changed.wait_for(lock, kStopPollInterval);
      }
    }
    WaitLimit limit;
    limit.stop = &stop;
    std::unique_ptr<NetConnection> connection;
    NetResult accepted = listener_->Accept(limit, &connection);
    if (!accepted.ok()) {
      // A failed accept (a connection reset before it was taken, say) is
      // reported; the pause keeps a persistent fault from spinning.
      if (accepted.status == NetStatus::kError) {
        if (accept_failed) accept_failed(accepted);
        stop.WaitFor(100);
      }
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex);
    handed = std::move(connection);
    changed.notify_all();
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    ending = true;
  }
  changed.notify_all();
  for (std::thread& thread : connection_threads) thread.join();
}

void DmsServer::Run(const StopSignal& stop, const DmsAnswer& answer,
                    const std::function<void(const DmsConnectionReport&)>& on_report,
                    std::chrono::milliseconds time_limit) {
  Serve(
      stop,
      [&](std::unique_ptr<NetConnection> connection) {
        // Reported before the connection closes: a peer that waits for the
        // close finds its connection reported, in the order of its requests.
        if (on_report) on_report(ServeDmsConnection(*connection, answer, &stop, time_limit));
      },
      [&](const NetResult& failed) {
        DmsConnectionReport report;
        report.outcome = DmsConnectionReport::Outcome::kFailed;
        report.net = failed;
        if (on_report) on_report(report);
      });
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
