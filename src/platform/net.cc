// The TCP streams' waiting and continuing, over the platform's socket calls
// (net_parts.h).
#include "platform/net.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "platform/env.h"
#include "platform/net_parts.h"
#include "platform/one_line_text.h"

namespace vornlink {

using net_parts::Attempt;
using net_parts::Readiness;
using net_parts::Socket;

NetResult NetErrorResult(int code) {
  NetResult result;
  result.status = NetStatus::kError;
  result.code = code;
  result.text = WithoutLineBreaks(GetEnv()->ErrorText(code));
  return result;
}

NetResult NetStatusResult(NetStatus status) {
  NetResult result;
  result.status = status;
  return result;
}

namespace {

// Waits until `socket` is ready for `wanted`, the deadline passes or the
// stop signal ends the wait, in slices of at most kStopPollInterval.
NetResult WaitReady(Socket& socket, Readiness wanted, const WaitLimit& limit) {
  for (;;) {
    if (limit.Stopped()) return NetStatusResult(NetStatus::kStopped);
    const auto now = std::chrono::steady_clock::now();
    if (now >= limit.deadline) return NetStatusResult(NetStatus::kTimedOut);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(limit.deadline - now);
    const Attempt ready = socket.Wait(wanted, std::min(left, kStopPollInterval));
    if (ready.kind == Attempt::kFailed) return NetErrorResult(ready.code);
    if (ready.kind == Attempt::kDone) return NetResult();
  }
}

// Makes `call` until it does something (its count in `*count`): again at
// once after kAgain, after waiting for `wanted` under `limit` after
// kWouldBlock.
template <typename Call>
NetResult Persist(Socket& socket, Readiness wanted, const WaitLimit& limit, const Call& call,
                  size_t* count) {
  for (;;) {
    const Attempt attempt = call();
    if (attempt.kind == Attempt::kDone) {
      *count = attempt.count;
      return NetResult();
    }
    if (attempt.kind == Attempt::kFailed) return NetErrorResult(attempt.code);
    if (attempt.kind == Attempt::kAgain) continue;
    NetResult ready = WaitReady(socket, wanted, limit);
    if (!ready.ok()) return ready;
  }
}

class SocketConnection : public NetConnection {
 public:
  explicit SocketConnection(std::unique_ptr<Socket> socket) : socket_(std::move(socket)) {}

  NetResult SendAll(std::string_view data, const WaitLimit& limit) override {
    NetResult result;
    while (result.bytes_sent < data.size()) {
      size_t count = 0;
      const size_t sent = result.bytes_sent;
      NetResult step = Persist(
          *socket_, Readiness::kWrite, sent > 0 ? limit.OnceSent() : limit,
          [&] { return socket_->Send(data.data() + sent, data.size() - sent); }, &count);
      if (!step.ok()) {
        step.bytes_sent = sent;
        return step;
      }
      result.bytes_sent += count;
    }
    return result;
  }

  NetResult Receive(char* buffer, size_t capacity, size_t* received,
                    const WaitLimit& limit) override {
    *received = 0;
    size_t count = 0;
    NetResult result = Persist(
        *socket_, Readiness::kRead, limit, [&] { return socket_->Receive(buffer, capacity); },
        &count);
    if (result.ok() && count == 0) return NetStatusResult(NetStatus::kClosed);
    if (result.ok()) *received = count;
    return result;
  }

  void ShutdownSend() override { socket_->ShutdownSend(); }

  std::string PeerText() const override { return socket_->PeerText(); }

 private:
  std::unique_ptr<Socket> socket_;
};

class SocketListener : public NetListener {
 public:
  SocketListener(std::unique_ptr<Socket> socket, uint16_t port)
      : socket_(std::move(socket)), port_(port) {}

  uint16_t port() const override { return port_; }

  NetResult Accept(const WaitLimit& limit, std::unique_ptr<NetConnection>* connection) override {
    connection->reset();
    std::unique_ptr<Socket> accepted;
    size_t unused = 0;
    NetResult result = Persist(
        *socket_, Readiness::kRead, limit, [&] { return socket_->Accept(&accepted); }, &unused);
    if (result.ok()) *connection = std::make_unique<SocketConnection>(std::move(accepted));
    return result;
  }

 private:
  std::unique_ptr<Socket> socket_;
  uint16_t port_;
};

}  // namespace

NetResult ConnectTcp(const std::string& host, uint16_t port, const WaitLimit& limit,
                     std::unique_ptr<NetConnection>* connection) {
  connection->reset();
  std::unique_ptr<Socket> socket;
  bool pending = false;
  NetResult started = net_parts::StartConnect(host, port, limit, &socket, &pending);
  if (!started.ok()) return started;
  if (pending) {
    NetResult ready = WaitReady(*socket, Readiness::kWrite, limit);
    if (!ready.ok()) return ready;
    if (const int error = socket->ConnectError(); error != 0) return NetErrorResult(error);
  }
  *connection = std::make_unique<SocketConnection>(std::move(socket));
  return NetResult();
}

NetResult ListenTcp(const std::string& address, uint16_t port, int backlog,
                    std::unique_ptr<NetListener>* listener) {
  listener->reset();
  std::unique_ptr<Socket> socket;
  uint16_t bound_port = 0;
  NetResult made = net_parts::Listen(address, port, backlog, &socket, &bound_port);
  if (!made.ok()) return made;
  *listener = std::make_unique<SocketListener>(std::move(socket), bound_port);
  return NetResult();
}

}  // namespace vornlink
