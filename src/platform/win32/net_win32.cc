// TCP streams over Windows Sockets. Every socket is non-blocking; each wait
// is a select() of at most kStopPollInterval, so that the stop signal and
// the deadline are looked at between slices.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "platform/background_call.h"
#include "platform/env.h"
#include "platform/net.h"

namespace vornlink {
namespace {

// Keeps the socket library initialised while it lives (the library counts).
class WinsockUse {
 public:
  WinsockUse() {
    WSADATA data;
    ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockUse() {
    if (ok_) WSACleanup();
  }
  WinsockUse(const WinsockUse&) = delete;
  WinsockUse& operator=(const WinsockUse&) = delete;

 private:
  bool ok_ = false;
};

class ScopedSocket {
 public:
  explicit ScopedSocket(SOCKET socket = INVALID_SOCKET) : socket_(socket) {}
  ~ScopedSocket() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }
  ScopedSocket(const ScopedSocket&) = delete;
  ScopedSocket& operator=(const ScopedSocket&) = delete;

  SOCKET get() const { return socket_; }
  SOCKET release() { return std::exchange(socket_, INVALID_SOCKET); }

 private:
  SOCKET socket_;
};

bool MakeNonBlocking(SOCKET socket) {
  u_long on = 1;
  return ioctlsocket(socket, FIONBIO, &on) == 0;
}

enum class Readiness { kRead, kWrite };

// Waits until `socket` is readable or writable, the deadline passes or the
// stop signal is set. A socket that reports an exception (a connect that
// failed) counts as ready: the caller asks it for its error.
NetResult WaitReady(SOCKET socket, Readiness wanted, const WaitLimit& limit) {
  for (;;) {
    if (limit.Stopped()) return NetStatusResult(NetStatus::kStopped);
    auto now = std::chrono::steady_clock::now();
    if (now >= limit.deadline) return NetStatusResult(NetStatus::kTimedOut);
    auto left = std::chrono::ceil<std::chrono::microseconds>(limit.deadline - now);
    auto slice = std::min<std::chrono::microseconds>(left, kStopPollInterval);
    timeval wait;
    wait.tv_sec = static_cast<long>(slice.count() / 1000000);
    wait.tv_usec = static_cast<long>(slice.count() % 1000000);
    fd_set main_set;
    fd_set failed_set;
    FD_ZERO(&main_set);
    FD_ZERO(&failed_set);
    FD_SET(socket, &main_set);
    FD_SET(socket, &failed_set);
    int ready = wanted == Readiness::kRead ? select(0, &main_set, nullptr, &failed_set, &wait)
                                           : select(0, nullptr, &main_set, &failed_set, &wait);
    if (ready == SOCKET_ERROR) return NetErrorResult(WSAGetLastError());
    if (ready > 0) return NetResult();
  }
}

class WindowsConnection : public NetConnection {
 public:
  explicit WindowsConnection(SOCKET socket) : socket_(socket) {}

  NetResult SendAll(std::string_view data, const WaitLimit& limit) override {
    size_t sent = 0;
    auto ended = [&sent](NetResult result) {
      result.bytes_sent = sent;
      return result;
    };
    while (sent < data.size()) {
      int chunk = static_cast<int>(std::min<size_t>(data.size() - sent, 1 << 20));
      int count = send(socket_.get(), data.data() + sent, chunk, 0);
      if (count != SOCKET_ERROR) {
        sent += static_cast<size_t>(count);
        continue;
      }
      int error = WSAGetLastError();
      if (error != WSAEWOULDBLOCK) return ended(NetErrorResult(error));
      NetResult ready =
          WaitReady(socket_.get(), Readiness::kWrite, sent > 0 ? limit.OnceSent() : limit);
      if (!ready.ok()) return ended(ready);
    }
    return ended(NetResult());
  }

  NetResult Receive(char* buffer, size_t capacity, size_t* received,
                    const WaitLimit& limit) override {
    *received = 0;
    int chunk = static_cast<int>(std::min<size_t>(capacity, 1 << 20));
    for (;;) {
      int count = recv(socket_.get(), buffer, chunk, 0);
      if (count > 0) {
        *received = static_cast<size_t>(count);
        return NetResult();
      }
      if (count == 0) return NetStatusResult(NetStatus::kClosed);
      int error = WSAGetLastError();
      if (error != WSAEWOULDBLOCK) return NetErrorResult(error);
      NetResult ready = WaitReady(socket_.get(), Readiness::kRead, limit);
      if (!ready.ok()) return ready;
    }
  }

  void ShutdownSend() override { shutdown(socket_.get(), SD_SEND); }

  std::string PeerText() const override {
    sockaddr_in peer{};
    int size = sizeof peer;
    if (getpeername(socket_.get(), reinterpret_cast<sockaddr*>(&peer), &size) != 0) return "";
    char address[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    return std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
  }

 private:
  WinsockUse winsock_;  // outlives the socket: declared first
  ScopedSocket socket_;
};

struct LookupAnswer {
  bool found = false;
  in_addr address{};
};

LookupAnswer LookUp(const std::string& host) {
  WinsockUse winsock;
  LookupAnswer answer;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found != nullptr &&
      found->ai_addr != nullptr) {
    answer.found = true;
    answer.address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
  }
  if (found != nullptr) freeaddrinfo(found);
  return answer;
}

// The IPv4 address of `host`: dotted text as it stands, else a name lookup.
// A name that does not resolve is reported as an invalid argument, as the
// connect with the address that is none always did.
NetResult ResolveHost(const std::string& host, const WaitLimit& limit, in_addr* address) {
  if (inet_pton(AF_INET, host.c_str(), address) == 1) return NetResult();
  LookupAnswer answer;
  NetStatus status = RunWithinLimit<LookupAnswer>([host] { return LookUp(host); }, limit, &answer);
  if (status == NetStatus::kError) return NetErrorResult(WSAENOBUFS);
  if (status != NetStatus::kOk) return NetStatusResult(status);
  if (!answer.found) return NetErrorResult(WSAEINVAL);
  *address = answer.address;
  return NetResult();
}

}  // namespace

NetResult ConnectTcp(const std::string& host, uint16_t port, const WaitLimit& limit,
                     std::unique_ptr<NetConnection>* connection) {
  connection->reset();
  WinsockUse winsock;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  NetResult resolved = ResolveHost(host, limit, &address.sin_addr);
  if (!resolved.ok()) return resolved;

  ScopedSocket owner(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (owner.get() == INVALID_SOCKET) return NetErrorResult(WSAGetLastError());
  if (!MakeNonBlocking(owner.get())) return NetErrorResult(WSAGetLastError());
  if (connect(owner.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return NetErrorResult(error);
    NetResult ready = WaitReady(owner.get(), Readiness::kWrite, limit);
    if (!ready.ok()) return ready;
    int failure = 0;
    int size = sizeof failure;
    if (getsockopt(owner.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &size) !=
        0) {
      return NetErrorResult(WSAGetLastError());
    }
    if (failure != 0) return NetErrorResult(failure);
  }
  *connection = std::make_unique<WindowsConnection>(owner.release());
  return NetResult();
}

namespace {

class WindowsListener : public NetListener {
 public:
  WindowsListener(SOCKET socket, uint16_t port) : socket_(socket), port_(port) {}

  uint16_t port() const override { return port_; }

  NetResult Accept(const WaitLimit& limit, std::unique_ptr<NetConnection>* connection) override {
    connection->reset();
    for (;;) {
      SOCKET accepted = accept(socket_.get(), nullptr, nullptr);
      if (accepted != INVALID_SOCKET) {
        ScopedSocket owner(accepted);
        if (!MakeNonBlocking(accepted)) return NetErrorResult(WSAGetLastError());
        *connection = std::make_unique<WindowsConnection>(owner.release());
        return NetResult();
      }
      int error = WSAGetLastError();
      // A connection that went before it was taken is not an error of ours.
      if (error == WSAECONNRESET) continue;
      if (error != WSAEWOULDBLOCK) return NetErrorResult(error);
      NetResult ready = WaitReady(socket_.get(), Readiness::kRead, limit);
      if (!ready.ok()) return ready;
    }
  }

 private:
  WinsockUse winsock_;  // outlives the socket: declared first
  ScopedSocket socket_;
  uint16_t port_;
};

}  // namespace

NetResult ListenTcp(const std::string& address, uint16_t port, int backlog,
                    std::unique_ptr<NetListener>* listener) {
  listener->reset();
  WinsockUse winsock;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) return NetErrorResult(WSAEINVAL);

  ScopedSocket owner(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (owner.get() == INVALID_SOCKET) return NetErrorResult(WSAGetLastError());
  BOOL on = TRUE;
  setsockopt(owner.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
             sizeof on);
  if (!MakeNonBlocking(owner.get()) ||
      bind(owner.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      listen(owner.get(), backlog) != 0) {
    return NetErrorResult(WSAGetLastError());
  }
  sockaddr_in bound{};
  int size = sizeof bound;
  if (getsockname(owner.get(), reinterpret_cast<sockaddr*>(&bound), &size) != 0) {
    return NetErrorResult(WSAGetLastError());
  }
  *listener = std::make_unique<WindowsListener>(owner.release(), ntohs(bound.sin_port));
  return NetResult();
}

NetFailure KindOfNetError(int code) {
  switch (code) {
    case WSAECONNREFUSED:
      return NetFailure::kRefused;
    case WSAEINVAL:  // a name that did not resolve (see ResolveHost)
    case WSAHOST_NOT_FOUND:
    case WSATRY_AGAIN:
    case WSANO_DATA:
      return NetFailure::kNameLookup;
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
    case WSAENETDOWN:
    case WSAEHOSTDOWN:
    case WSAETIMEDOUT:
      return NetFailure::kUnreachable;
    default:
      return NetFailure::kOther;
  }
}

}  // namespace vornlink
