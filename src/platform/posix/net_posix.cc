// The socket calls of the TCP streams over BSD sockets (net_parts.h). Every
// socket is non-blocking; a wait is one poll().
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "platform/background_call.h"
#include "platform/env.h"
#include "platform/net.h"
#include "platform/net_parts.h"
#include "platform/one_line_text.h"
#include "platform/posix/scoped_fd.h"

namespace vornlink {
namespace {

using net_parts::Attempt;
using net_parts::Readiness;

// What a call that failed with errno `code` did.
Attempt Failed(int code) {
  Attempt attempt;
  attempt.kind = code == EINTR                           ? Attempt::kAgain
                 : code == EAGAIN || code == EWOULDBLOCK ? Attempt::kWouldBlock
                                                         : Attempt::kFailed;
  attempt.code = code;
  return attempt;
}

Attempt Done(size_t count) {
  Attempt attempt;
  attempt.count = count;
  return attempt;
}

class PosixSocket : public net_parts::Socket {
 public:
  explicit PosixSocket(int fd) : fd_(fd) {}

  Attempt Wait(Readiness wanted, std::chrono::milliseconds slice) override {
    pollfd entry{fd_.get(), static_cast<short>(wanted == Readiness::kRead ? POLLIN : POLLOUT), 0};
    const int ready = poll(&entry, 1, static_cast<int>(slice.count()));
    if (ready < 0) return Failed(errno);
    Attempt attempt;
    if (ready == 0) attempt.kind = Attempt::kWouldBlock;
    return attempt;
  }

  Attempt Send(const char* data, size_t size) override {
    const ssize_t count = send(fd_.get(), data, size, MSG_NOSIGNAL);
    return count >= 0 ? Done(static_cast<size_t>(count)) : Failed(errno);
  }

  Attempt Receive(char* buffer, size_t capacity) override {
    const ssize_t count = recv(fd_.get(), buffer, capacity, 0);
    return count >= 0 ? Done(static_cast<size_t>(count)) : Failed(errno);
  }

  Attempt Accept(std::unique_ptr<net_parts::Socket>* accepted) override {
    const int fd = accept4(fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return Failed(errno == ECONNABORTED ? EINTR : errno);
    *accepted = std::make_unique<PosixSocket>(fd);
    return Done(0);
  }

  int ConnectError() override {
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
    return error;
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
  if (answer.code == 0) {
    *address = answer.address;
    return NetResult();
  }
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

NetResult net_parts::StartConnect(const std::string& host, uint16_t port, const WaitLimit& limit,
                                  std::unique_ptr<Socket>* socket, bool* pending) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  NetResult resolved = ResolveHost(host, limit, &address.sin_addr);
  if (!resolved.ok()) return resolved;

  ScopedFd owner;
  NetResult made = NewStreamSocket(&owner);
  if (!made.ok()) return made;
  *pending = connect(owner.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0;
  if (*pending && errno != EINPROGRESS && errno != EINTR) return NetErrorResult(errno);
  *socket = std::make_unique<PosixSocket>(owner.release());
  return NetResult();
}

NetResult net_parts::Listen(const std::string& address, uint16_t port, int backlog,
                            std::unique_ptr<Socket>* socket, uint16_t* bound_port) {
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
  *bound_port = ntohs(bound.sin_port);
  *socket = std::make_unique<PosixSocket>(owner.release());
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
