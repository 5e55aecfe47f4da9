// The socket calls that each platform gives the TCP streams of net.h:
// single calls that never wait, and one bounded wait. What is done with
// them (waiting in slices for the deadline and the stop signal, continuing
// partial sends, taking the next connection, waiting for a connect) is
// net.cc's, once for both sides. Include only from src/platform.
//
// Threading: as net.h's objects. No call throws.
#ifndef VORNLINK_PLATFORM_NET_PARTS_H_
#define VORNLINK_PLATFORM_NET_PARTS_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/net.h"

namespace vornlink {
namespace net_parts {

// What one call did.
struct Attempt {
  enum Kind {
    kDone,        // `count` bytes went (Receive: 0 when the peer has closed)
    kAgain,       // nothing, but it may be asked again at once (a signal came)
    kWouldBlock,  // nothing yet: wait until the socket is ready
    kFailed,      // `code`, the system's error, says why
  };
  Kind kind = kDone;
  size_t count = 0;
  int code = 0;
};

enum class Readiness { kRead, kWrite };

// One non-blocking socket of the platform, which it owns and closes.
class Socket {
 public:
  virtual ~Socket() = default;

  // Waits at most `slice` until the socket is ready for `wanted`: kDone
  // once it is (a failed connect counts as ready: ConnectError tells),
  // kWouldBlock when the slice passed, kAgain, or kFailed.
  virtual Attempt Wait(Readiness wanted, std::chrono::milliseconds slice) = 0;
  virtual Attempt Send(const char* data, size_t size) = 0;
  virtual Attempt Receive(char* buffer, size_t capacity) = 0;
  // A listening socket's next connection, non-blocking, in `*accepted`.
  // kAgain also for a connection that went before it was taken.
  virtual Attempt Accept(std::unique_ptr<Socket>* accepted) = 0;
  // After a connect that was under way and is now ready: 0 when it
  // succeeded, else the system's error.
  virtual int ConnectError() = 0;
  virtual void ShutdownSend() = 0;
  virtual std::string PeerText() const = 0;
};

// Looks `host` up within `limit` (see ConnectTcp), then starts connecting
// to `port` on a new socket: kOk with the socket in `*socket`, `*pending`
// telling whether the connect is still under way.
NetResult StartConnect(const std::string& host, uint16_t port, const WaitLimit& limit,
                       std::unique_ptr<Socket>* socket, bool* pending);

// A listening socket as ListenTcp describes it, in `*socket`, and the port
// it listens on.
NetResult Listen(const std::string& address, uint16_t port, int backlog,
                 std::unique_ptr<Socket>* socket, uint16_t* bound_port);

}  // namespace net_parts
}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_NET_PARTS_H_
