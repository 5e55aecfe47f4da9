#include "emulated_dms/dms_server.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <thread>
#include <utility>
#include <vector>

#include "emulated_dms/dms_http.h"

namespace vornlink {
namespace {

using Clock = std::chrono::steady_clock;

// A connection whose request is gathered in turns before it is handed on.
// Its reads give what was gathered, then how the gathering ended.
class GatheringConnection : public NetConnection {
 public:
  GatheringConnection(std::unique_ptr<NetConnection> raw, Clock::time_point deadline)
      : raw_(std::move(raw)),
        accepted_(Clock::now()),
        deadline_(deadline),
        peer_(raw_->PeerText()) {}

  Clock::time_point accepted() const { return accepted_; }
  bool cut() const { return cut_; }
  // Ends the gathering at the next turn, as the time limit would.
  void Cut() {
    cut_ = true;
    deadline_ = Clock::now();
  }

  // One turn: reads what comes within kDmsReadSlice. True when the
  // gathering has ended: `complete` says the request is whole, the peer
  // closed, a read failed, the time limit ran out or `stop` is set.
  bool TakeTurn(const StopSignal& stop, const DmsRequestComplete& complete) {
    // Room for the largest request a framing takes, and its HTTP head.
    constexpr size_t kMaxGathered = kMaxDmsRequestBytes + kMaxDmsHttpHeadBytes;
    WaitLimit limit;
    limit.deadline = std::min(deadline_, Clock::now() + kDmsReadSlice);
    limit.stop = &stop;
    char buffer[8192];
    // A read gives what has come even past the deadline: the turn ends at
    // the deadline however fast the bytes come.
    while (gathered_.size() < kMaxGathered && !limit.Expired()) {
      size_t received = 0;
      NetResult result = raw_->Receive(
          buffer, std::min(sizeof buffer, kMaxGathered - gathered_.size()), &received, limit);
      if (result.ok()) {
        gathered_.append(buffer, received);
        if (complete(gathered_)) return true;
      } else if (result.status != NetStatus::kTimedOut) {
        end_ = std::move(result);
        return true;
      }
    }
    if (gathered_.size() < kMaxGathered && Clock::now() < deadline_) return false;
    if (gathered_.size() < kMaxGathered) end_ = NetStatusResult(NetStatus::kTimedOut);
    return true;
  }

  NetResult SendAll(std::string_view data, const WaitLimit& limit) override {
    return raw_->SendAll(data, limit);
  }
  NetResult Receive(char* buffer, size_t capacity, size_t* received,
                    const WaitLimit& limit) override {
    *received = 0;
    if (taken_ < gathered_.size()) {
      *received = std::min(capacity, gathered_.size() - taken_);
      std::copy_n(gathered_.data() + taken_, *received, buffer);
      taken_ += *received;
      return NetResult();
    }
    if (!end_.ok()) return end_;
    return raw_->Receive(buffer, capacity, received, limit.Until(Clock::now() + kDmsIdleLimit));
  }
  void ShutdownSend() override { raw_->ShutdownSend(); }
  std::string PeerText() const override { return peer_; }

 private:
  std::unique_ptr<NetConnection> raw_;
  Clock::time_point accepted_;
  Clock::time_point deadline_;
  bool cut_ = false;
  std::string peer_;
  std::string gathered_;  // received, not yet read by the handler
  size_t taken_ = 0;      // of `gathered_`
  NetResult end_;         // how the gathering ended; kOk: the request is whole
};

}  // namespace

bool DmsTcpRequestComplete(std::string_view bytes) {
  return bytes.find('\0') != std::string_view::npos || bytes.size() >= kMaxDmsRequestBytes;
}

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

void DmsServer::Serve(const StopSignal& stop, const DmsRequestComplete& complete,
                      std::chrono::milliseconds time_limit,
                      const std::function<void(std::unique_ptr<NetConnection>)>& handle,
                      const std::function<void(const NetResult&)>& accept_failed, int threads) {
  std::mutex mutex;
  std::condition_variable changed;
  // The connections that wait for their turn, next first; `open` counts
  // them and those in a turn or being answered.
  std::deque<std::unique_ptr<GatheringConnection>> waiting;
  int open = 0;
  bool ending = false;
  std::vector<std::thread> connection_threads;
  for (int i = 0; i < std::max(threads, 1); ++i) {
    connection_threads.emplace_back([&] {
      std::unique_lock<std::mutex> lock(mutex);
      for (;;) {
        changed.wait(lock, [&] { return ending || !waiting.empty(); });
        // Every connection accepted is handed on, also after the stop: the
        // stop ends its waits at once.
        if (waiting.empty()) return;
        std::unique_ptr<GatheringConnection> connection = std::move(waiting.front());
        waiting.pop_front();
        lock.unlock();
        const bool gathered = connection->TakeTurn(stop, complete);
        if (gathered) handle(std::move(connection));
        lock.lock();
        if (gathered) {
          --open;
        } else {
          waiting.push_back(std::move(connection));
        }
        changed.notify_all();
      }
    });
  }
  while (!stop.IsSet()) {
    {
      // Beyond the open connections' cap the others wait in the listening
      // queue, and those that have waited kDmsIdleLimit for their request
      // make room: a crowd of idle or slow peers holds up a new one for
      // about that long at most.
      std::unique_lock<std::mutex> lock(mutex);
      while (open >= kDmsMaxOpenConnections && !stop.IsSet()) {
        const Clock::time_point now = Clock::now();
        for (const auto& connection : waiting) {
          if (!connection->cut() && now - connection->accepted() >= kDmsIdleLimit)
            connection->Cut();
        }
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
    auto gathering =
        std::make_unique<GatheringConnection>(std::move(connection), Clock::now() + time_limit);
    std::lock_guard<std::mutex> lock(mutex);
    // A new connection gets the first turn: its request has mostly come.
    waiting.push_front(std::move(gathering));
    ++open;
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
      stop, DmsTcpRequestComplete, time_limit,
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
