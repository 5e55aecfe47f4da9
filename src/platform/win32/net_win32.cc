// The socket calls of the TCP streams over Windows Sockets (net_parts.h).
// Every socket is non-blocking; a wait is one select().
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "platform/background_call.h"
#include "platform/env.h"
#include "platform/net.h"
#include "platform/net_parts.h"

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

using net_parts::Attempt;
using net_parts::Readiness;

// What a call that failed with `error` did.
Attempt Failed(int error) {
  Attempt attempt;
  attempt.kind = error == WSAEWOULDBLOCK ? Attempt::kWouldBlock : Attempt::kFailed;
  attempt.code = error;
  return attempt;
}

Attempt Done(size_t count) {
  Attempt attempt;
  attempt.count = count;
  return attempt;
}

class WindowsSocket : public net_parts::Socket {
 public:
  explicit WindowsSocket(SOCKET socket) : socket_(socket) {}

  // A socket that reports an exception (a connect that failed) counts as
  // ready.
  Attempt Wait(Readiness wanted, std::chrono::milliseconds slice) override {
    timeval wait;
    wait.tv_sec = static_cast<long>(slice.count() / 1000);
    wait.tv_usec = static_cast<long>(slice.count() % 1000 * 1000);
    fd_set main_set;
    fd_set failed_set;
    FD_ZERO(&main_set);
    FD_ZERO(&failed_set);
    FD_SET(socket_.get(), &main_set);
    FD_SET(socket_.get(), &failed_set);
    const int ready = wanted == Readiness::kRead
                          ? select(0, &main_set, nullptr, &failed_set, &wait)
                          : select(0, nullptr, &main_set, &failed_set, &wait);
    if (ready == SOCKET_ERROR) return Failed(WSAGetLastError());
    Attempt attempt;
    if (ready == 0) attempt.kind = Attempt::kWouldBlock;
    return attempt;
  }

  Attempt Send(const char* data, size_t size) override {
    const int count =
        send(socket_.get(), data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
    return count != SOCKET_ERROR ? Done(static_cast<size_t>(count)) : Failed(WSAGetLastError());
  }

  Attempt Receive(char* buffer, size_t capacity) override {
    const int count =
        recv(socket_.get(), buffer, static_cast<int>(std::min<size_t>(capacity, 1 << 20)), 0);
    return count != SOCKET_ERROR ? Done(static_cast<size_t>(count)) : Failed(WSAGetLastError());
  }

  Attempt Accept(std::unique_ptr<net_parts::Socket>* accepted) override {
    ScopedSocket owner(accept(socket_.get(), nullptr, nullptr));
    if (owner.get() == INVALID_SOCKET) {
      const int error = WSAGetLastError();
      if (error != WSAECONNRESET) return Failed(error);
      Attempt again;
      again.kind = Attempt::kAgain;
      return again;
    }
    if (!MakeNonBlocking(owner.get())) return Failed(WSAGetLastError());
    *accepted = std::make_unique<WindowsSocket>(owner.release());
    return Done(0);
  }

  int ConnectError() override {
    int failure = 0;
    int size = sizeof failure;
    if (getsockopt(socket_.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &size) !=
        0) {
      return WSAGetLastError();
    }
    return failure;
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

NetResult net_parts::StartConnect(const std::string& host, uint16_t port, const WaitLimit& limit,
                                  std::unique_ptr<Socket>* socket, bool* pending) {
  WinsockUse winsock;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  NetResult resolved = ResolveHost(host, limit, &address.sin_addr);
  if (!resolved.ok()) return resolved;

  ScopedSocket owner(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (owner.get() == INVALID_SOCKET) return NetErrorResult(WSAGetLastError());
  if (!MakeNonBlocking(owner.get())) return NetErrorResult(WSAGetLastError());
  *pending = connect(owner.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0;
  if (*pending) {
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return NetErrorResult(error);
  }
  *socket = std::make_unique<WindowsSocket>(owner.release());
  return NetResult();
}

NetResult net_parts::Listen(const std::string& address, uint16_t port, int backlog,
                            std::unique_ptr<Socket>* socket, uint16_t* bound_port) {
  WinsockUse winsock;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) return NetErrorResult(WSAEINVAL);

  ScopedSocket owner(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
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
  *bound_port = ntohs(bound.sin_port);
  *socket = std::make_unique<WindowsSocket>(owner.release());
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
