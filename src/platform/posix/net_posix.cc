// TCP streams over BSD sockets. Every socket is non-blocking; each wait is a
// poll() of at most kStopPollInterval, so that the stop signal and the
// deadline are looked at between slices.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "platform/background_call.h"
#include "platform/env.h"
#include "platform/net.h"
#include "platform/one_line_text.h"
#include "platform/posix/scoped_fd.h"

namespace vornlink {
namespace {

// Waits until `fd` is ready for `events`, the deadline passes or the stop
// signal is set.
NetResult WaitReady(int fd, short events, const WaitLimit& limit) {
  for (;;) {
    if (limit.Stopped()) return NetStatusResult(NetStatus::kStopped);
    auto now = std::chrono::steady_clock::now();
    if (now >= limit.deadline) return NetStatusResult(NetStatus::kTimedOut);
    auto left = std::chrono::ceil<std::chrono::milliseconds>(limit.deadline - now);
    int slice =
        static_cast<int>(std::min<std::chrono::milliseconds>(left, kStopPollInterval).count());
    pollfd entry{fd, events, 0};
    int ready = poll(&entry, 1, slice);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return NetErrorResult(errno);
    }
    if (ready > 0) return NetResult();
  }
}

class PosixConnection : public NetConnection {
 public:
  explicit PosixConnection(int fd) : fd_(fd) {}

  NetResult SendAll(std::string_view data, const WaitLimit& limit) override {
    size_t sent = 0;
    auto ended = [&sent](NetResult result) {
      result.bytes_sent = sent;
      return result;
    };
    while (sent < data.size()) {
      ssize_t count = send(fd_.get(), data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (count >= 0) {
        sent += static_cast<size_t>(count);
        continue;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return ended(NetErrorResult(errno));
      NetResult ready = WaitReady(fd_.get(), POLLOUT, sent > 0 ? limit.OnceSent() : limit);
      if (!ready.ok()) return ended(ready);
    }
    return ended(NetResult());
  }

  NetResult Receive(char* buffer, size_t capacity, size_t* received,
                    const WaitLimit& limit) override {
    *received = 0;
    for (;;) {
      ssize_t count = recv(fd_.get(), buffer, capacity, 0);
      if (count > 0) {
        *received = static_cast<size_t>(count);
        return NetResult();
      }
      if (count == 0) return NetStatusResult(NetStatus::kClosed);
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return NetErrorResult(errno);
      NetResult ready = WaitReady(fd_.get(), POLLIN, limit);
      if (!ready.ok()) return ready;
    }
  }

  void ShutdownSend() override { shutdown(fd_.get(), SHUT_WR); }

  std::string PeerText() const override {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    if (getpeername(fd_.get(), reinterpret_cast<sockaddr*>(&peer), &size) != 0) return "";
    char address[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    return std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
  }

 private:
  ScopedFd fd_;
};

struct LookupAnswer {
  int code = EAI_FAIL;  // 0: `address` holds the first IPv4 address
  int system_error = 0;
  in_addr address{};
};

LookupAnswer LookUp(const std::string& host) {
  LookupAnswer answer;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  answer.code = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  answer.system_error = errno;
  if (answer.code == 0) {
    if (found != nullptr && found->ai_addr != nullptr) {
      answer.address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    } else {
      answer.code = EAI_NONAME;
    }
  }
  if (found != nullptr) freeaddrinfo(found);
  return answer;
}

// The IPv4 address of `host`: dotted text as it stands, else a name lookup.
NetResult ResolveHost(const std::string& host, const WaitLimit& limit, in_addr* address) {
  if (inet_pton(AF_INET, host.c_str(), address) == 1) return NetResult();
  LookupAnswer answer;
  NetStatus status = RunWithinLimit<LookupAnswer>([host] { return LookUp(host); }, limit, &answer);
  if (status == NetStatus::kError) return NetErrorResult(EAGAIN);
  if (status != NetStatus::kOk) return NetStatusResult(status);
  if (answer.code == 0) return NetResult();
  if (answer.code == EAI_SYSTEM) return NetErrorResult(answer.system_error);
  NetResult result;
  result.status = NetStatus::kError;
  result.code = answer.code;
  result.text = WithoutLineBreaks(gai_strerror(answer.code));
  return result;
}

NetResult NewStreamSocket(ScopedFd* socket_fd) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return NetErrorResult(errno);
  socket_fd->reset(fd);
  return NetResult();
}

}  // namespace

NetResult ConnectTcp(const std::string& host, uint16_t port, const WaitLimit& limit,
                     std::unique_ptr<NetConnection>* connection) {
  connection->reset();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  NetResult resolved = ResolveHost(host, limit, &address.sin_addr);
  if (!resolved.ok()) return resolved;

  ScopedFd owner;
  NetResult made = NewStreamSocket(&owner);
  if (!made.ok()) return made;
  int fd = owner.get();
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return NetErrorResult(errno);
    NetResult ready = WaitReady(fd, POLLOUT, limit);
    if (!ready.ok()) return ready;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return NetErrorResult(errno);
    if (error != 0) return NetErrorResult(error);
  }
  *connection = std::make_unique<PosixConnection>(owner.release());
  return NetResult();
}

namespace {

class PosixListener : public NetListener {
 public:
  PosixListener(int fd, uint16_t port) : fd_(fd), port_(port) {}

  uint16_t port() const override { return port_; }

  NetResult Accept(const WaitLimit& limit, std::unique_ptr<NetConnection>* connection) override {
    connection->reset();
    for (;;) {
      int fd = accept4(fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd >= 0) {
        *connection = std::make_unique<PosixConnection>(fd);
        return NetResult();
      }
      // A connection that went before it was taken is not an error of ours.
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return NetErrorResult(errno);
      NetResult ready = WaitReady(fd_.get(), POLLIN, limit);
      if (!ready.ok()) return ready;
    }
  }

 private:
  ScopedFd fd_;
  uint16_t port_;
};

}  // namespace

NetResult ListenTcp(const std::string& address, uint16_t port, int backlog,
                    std::unique_ptr<NetListener>* listener) {
  listener->reset();
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) return NetErrorResult(EINVAL);

  ScopedFd owner;
  NetResult made = NewStreamSocket(&owner);
  if (!made.ok()) return made;
  int on = 1;
  setsockopt(owner.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(owner.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      listen(owner.get(), backlog) != 0) {
    return NetErrorResult(errno);
  }
  sockaddr_in bound{};
  socklen_t size = sizeof bound;
  if (getsockname(owner.get(), reinterpret_cast<sockaddr*>(&bound), &size) != 0) {
    return NetErrorResult(errno);
  }
  *listener = std::make_unique<PosixListener>(owner.release(), ntohs(bound.sin_port));
  return NetResult();
}

NetFailure KindOfNetError(int code) {
  switch (code) {
    case ECONNREFUSED:
      return NetFailure::kRefused;
    case EAI_NONAME:
    case EAI_AGAIN:
    case EAI_FAIL:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
      return NetFailure::kNameLookup;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
    case ETIMEDOUT:
      return NetFailure::kUnreachable;
    default:
      return NetFailure::kOther;
  }
}

}  // namespace vornlink
