// TCP streams for the driver: an outgoing connection for the TCP transport,
// and a listening socket for servers (the emulated DMS, test servers).
//
// Every call that waits takes a `WaitLimit`: it ends at the limit's deadline
// (kTimedOut) or, within about 50 ms, once the limit's stop signal ends it
// (kStopped), whatever the peer does. Nothing blocks beyond that. Which step
// of the stop signal ends a wait (base/stop_signal.h) is the limit's
// `stop_at`: a client's request is given up at the first step only while
// nothing of it has gone out.
//
// One implementation over BSD sockets (platform/posix) and one over Windows
// Sockets (platform/win32); on Windows each object keeps the socket library
// initialised for as long as it lives, so callers need no set-up of their
// own.
//
// Ownership: each object owns its socket and closes it when destroyed.
// Threading: the free functions may be called from any thread at once; one
// object is used by one thread at a time, except that destroying it is not
// allowed while another thread is inside one of its calls. No call throws.
#ifndef VORNLINK_PLATFORM_NET_H_
#define VORNLINK_PLATFORM_NET_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/failure_text.h"  // NetFailure
#include "base/stop_signal.h"

namespace vornlink {

// Which step of the stop signal ends a wait.
enum class StopAt {
  kSet,  // its first step (servers, and whatever may be given up without harm)
  // A client's request: the first step until a byte of it goes out (SendAll
  // switches), then only the cut. The peer may act on what it received,
  // and its answer is what tells.
  kSetUntilSent,
  kCut,  // only the cut: a request that has (partly) gone out
};

// How long a wait may go on: until `deadline`, and not past the moment
// `stop` ends it (null: only the deadline counts).
struct WaitLimit {
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
  const StopSignal* stop = nullptr;
  StopAt stop_at = StopAt::kSet;

  // A limit `duration` from now.
  static WaitLimit After(std::chrono::milliseconds duration, const StopSignal* stop,
                         StopAt stop_at = StopAt::kSet) {
    WaitLimit limit;
    limit.deadline = std::chrono::steady_clock::now() + duration;
    limit.stop = stop;
    limit.stop_at = stop_at;
    return limit;
  }
  // The same stop signal with the earlier of the two deadlines.
  WaitLimit Until(std::chrono::steady_clock::time_point earlier) const {
    WaitLimit limit = *this;
    if (earlier < limit.deadline) limit.deadline = earlier;
    return limit;
  }
  // The limit for the rest of a request once a byte of it has gone out.
  WaitLimit OnceSent() const {
    WaitLimit limit = *this;
    if (limit.stop_at == StopAt::kSetUntilSent) limit.stop_at = StopAt::kCut;
    return limit;
  }
  bool Stopped() const {
    if (stop == nullptr) return false;
    return stop_at == StopAt::kCut ? stop->IsCut() : stop->IsSet();
  }
  bool Expired() const { return std::chrono::steady_clock::now() >= deadline; }
};

// The longest a wait sleeps before it looks at the stop signal again.
inline constexpr std::chrono::milliseconds kStopPollInterval{50};

enum class NetStatus {
  kOk,
  kClosed,    // Receive: the peer closed its side before any byte came
  kTimedOut,  // the limit's deadline came first
  kStopped,   // the limit's stop signal was set
  kError,     // the system reported an error: `code` and `text` say which
};

struct NetResult {
  NetStatus status = NetStatus::kOk;
  // For kError: the system's error code (errno or a name lookup code on
  // POSIX, the Windows Sockets code on Windows) and the system's message for
  // it with every CR and LF removed (empty when the system has none).
  int code = 0;
  std::string text;
  // SendAll: the bytes handed to the system, whatever the status.
  size_t bytes_sent = 0;

  bool ok() const { return status == NetStatus::kOk; }
};

// kError with the system's error `code` and the system's text for it (as
// the Env's ErrorText gives it) on one line.
NetResult NetErrorResult(int code);

// The kind of a kError's `code` (connect and name lookup; kOther for the
// rest).
NetFailure KindOfNetError(int code);
// Any other status, without code or text.
NetResult NetStatusResult(NetStatus status);

// One connected TCP stream.
class NetConnection {
 public:
  virtual ~NetConnection() = default;

  // Sends every byte of `data`, continuing partial sends. kOk once all are
  // handed to the system. Once the first byte is, the rest is sent under
  // `limit.OnceSent()`.
  virtual NetResult SendAll(std::string_view data, const WaitLimit& limit) = 0;

  // Waits for bytes and takes from 1 to `capacity` of them into `buffer`
  // (`*received` tells how many; 0 on anything but kOk). kClosed when the
  // peer has closed its side and no byte is left. `capacity` must be >= 1.
  virtual NetResult Receive(char* buffer, size_t capacity, size_t* received,
                            const WaitLimit& limit) = 0;

  // Tells the peer that nothing more will be sent (half close); receiving
  // goes on. Errors are ignored.
  virtual void ShutdownSend() = 0;

  // The address of the far end as "a.b.c.d:port" (for logs and tests).
  virtual std::string PeerText() const = 0;
};

// Connects to `port` of `host`. `host` is read as a dotted IPv4 address
// first; otherwise it is looked up as a name and the first IPv4 address of
// the answer is used. A name that does not resolve gives kError with the
// platform's code for it (Windows: 10022, "invalid argument", as an address
// that is none; POSIX: the name lookup's own code and text). The lookup
// honours the limit too; a lookup given up on ends by itself in the
// background. On kOk `*connection` holds the stream.
NetResult ConnectTcp(const std::string& host, uint16_t port, const WaitLimit& limit,
                     std::unique_ptr<NetConnection>* connection);

// A listening TCP socket.
class NetListener {
 public:
  virtual ~NetListener() = default;

  // The port it listens on (the one the system chose when asked for 0).
  virtual uint16_t port() const = 0;

  // Waits for the next connection; on kOk `*connection` holds it.
  virtual NetResult Accept(const WaitLimit& limit, std::unique_ptr<NetConnection>* connection) = 0;
};

// Listens on `port` of the local IPv4 `address` ("0.0.0.0": every local
// address; "127.0.0.1": loopback only). Port 0 lets the system choose a free
// one (see NetListener::port). `backlog`: connections the system queues
// before they are accepted. The address is not reused while an earlier
// socket on it lingers, except as the platform allows for a listener whose
// predecessor has closed (POSIX: SO_REUSEADDR; Windows: the default, with
// exclusive use so that no other program can take the port over).
NetResult ListenTcp(const std::string& address, uint16_t port, int backlog,
                    std::unique_ptr<NetListener>* listener);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_NET_H_
