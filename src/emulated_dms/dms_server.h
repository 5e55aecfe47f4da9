// The emulated DMS: a TCP server that takes one request per connection,
// ended by a NUL byte (the TCP transport's convention), and answers with a
// reply text followed by one NUL byte. The dialogs, the console form and
// `vornlink dms` are built on it; they decide the reply and show what came.
//
// A server holds many connections open at once and reads their requests
// in turns: each of a few connection threads takes the next connection
// that waits for its request, reads what has come within a short slice and
// puts it back at the end of the line unless its request is complete. A
// peer that connects and sends nothing, or sends a byte now and then, holds
// no thread beyond its slice; only a complete request (or one that has run
// out of time) is handed on to be answered. When the connections open reach
// their cap, those that have waited kDmsIdleLimit for their request are
// ended as at their time limit to make room. Each connection has a time
// limit for its request and for its answer. Stopping the server ends every
// wait at once.
//
// Threading: a DmsServer is run by one thread; the stop signal may be set
// from any other. Its handlers are called on the connection threads,
// several at once. DmsReplyBox may be shared.
#ifndef VORNLINK_EMULATED_DMS_DMS_SERVER_H_
#define VORNLINK_EMULATED_DMS_DMS_SERVER_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "base/stop_signal.h"
#include "platform/net.h"

namespace vornlink {

// The port of the Windows dialog, and of the console form unless changed.
inline constexpr uint16_t kDmsDefaultPort = 123;
// A request larger than this is cut here.
inline constexpr size_t kMaxDmsRequestBytes = 1024 * 1024;
// How long a connection may take to deliver its request, and its answer.
inline constexpr std::chrono::milliseconds kDmsConnectionTimeLimit{5000};
// How many connections a server answers at once (its connection threads).
inline constexpr int kDmsConnectionThreads = 8;
// How many connections a server keeps open at once, waiting for their
// request or being answered; further ones wait in the listening queue.
// Each holds at most the request it gathers.
inline constexpr int kDmsMaxOpenConnections = 128;
// How long one turn of a connection that waits for its request may hold a
// thread.
inline constexpr std::chrono::milliseconds kDmsReadSlice{10};
// How long a handler's read may wait for a byte once the request has been
// handed on (the TLS handshake reads so): a peer that pauses longer is
// given up on. Also how long a connection may wait for its request while
// the open connections' cap keeps others out: then it ends as at its time
// limit.
inline constexpr std::chrono::milliseconds kDmsIdleLimit{1500};
// The listening queue of the dialog's server; a server that expects bursts
// of connections (`vornlink dms`) makes room for more, so that a peer's
// connect is not dropped and retried a second later.
inline constexpr int kDmsDialogBacklog = 5;
inline constexpr int kDmsBurstBacklog = 4 * kDmsConnectionThreads;

// The request text: the bytes up to the first NUL, all of them when there
// is none.
std::string DmsRequestText(std::string_view bytes);

// Whether `bytes` hold a whole request in the TCP framing: a NUL, or the
// size cap reached.
bool DmsTcpRequestComplete(std::string_view bytes);

// Whether the bytes received so far are all a server must wait for before
// it hands the connection on to be answered. Called on the connection
// threads, several at once.
using DmsRequestComplete = std::function<bool(std::string_view bytes)>;

// The request as the dialog shows it: every ">" followed by a line feed
// becomes ">" followed by CR LF.
std::string DmsRequestForDisplay(const std::string& request);

// What became of one connection.
struct DmsConnectionReport {
  enum class Outcome {
    kAnswered,   // a request came and the reply went out
    kNoRequest,  // the peer closed without sending anything
    kTimedOut,   // nothing (or no complete request) within the time limit
    kStopped,    // the server was stopped meanwhile
    kFailed,     // receiving or sending failed: `net` says how
  };
  Outcome outcome = Outcome::kAnswered;
  std::string peer;
  std::string request;  // what came, also when no answer went out
  std::string reply;    // what was sent, without its NUL
  NetResult net;
};

// Answers one request; called on a connection thread. Returns the reply
// text (the server adds the NUL).
using DmsAnswer = std::function<std::string(const std::string& request)>;

// Reads one request from `connection` (up to its NUL, the peer's close, the
// size cap or the time limit: a request cut short by the limit is answered
// with what came, provided something came), asks `answer` for the reply and
// sends it with its NUL. The connection is left to the caller to close.
DmsConnectionReport ServeDmsConnection(NetConnection& connection, const DmsAnswer& answer,
                                       const StopSignal* stop,
                                       std::chrono::milliseconds time_limit);

class DmsServer {
 public:
  // Listens on `port` of `address` ("0.0.0.0" for every local address),
  // with room for `backlog` connections in the listening queue. Null with
  // `result` telling why when it cannot.
  static std::unique_ptr<DmsServer> Listen(const std::string& address, uint16_t port,
                                           NetResult* result, int backlog = kDmsDialogBacklog);

  uint16_t port() const { return listener_->port(); }

  // Accepts connections until `stop` is set, up to kDmsMaxOpenConnections
  // open at once, and gathers each one's request in turns on `threads`
  // connection threads (see the top of this file) until `complete` says
  // it is whole, the peer closes, or `time_limit` from its accept runs
  // out. Then the connection goes to `handle` on that thread, which owns it
  // until `handle` returns: its reads give the gathered bytes first, then
  // how the gathering ended (kClosed, kTimedOut, kStopped or the error),
  // or, when it ended with a complete request, more from the peer within
  // kDmsIdleLimit per read. A failed accept goes to `accept_failed` (may be
  // empty), and a short pause follows so that a lasting fault does not
  // spin. Returns once `stop` is set and every connection accepted has
  // ended (those still gathering are handed on with kStopped): `handle`
  // must end its waits at the stop.
  void Serve(const StopSignal& stop, const DmsRequestComplete& complete,
             std::chrono::milliseconds time_limit,
             const std::function<void(std::unique_ptr<NetConnection>)>& handle,
             const std::function<void(const NetResult&)>& accept_failed,
             int threads = kDmsConnectionThreads);

  // Serves connections in the TCP framing (ServeDmsConnection) until `stop`
  // is set; each connection is reported to `on_report` before it is
  // closed. Closing the server (destroying it) closes the listening socket,
  // so that the port can be used again.
  void Run(const StopSignal& stop, const DmsAnswer& answer,
           const std::function<void(const DmsConnectionReport&)>& on_report,
           std::chrono::milliseconds time_limit = kDmsConnectionTimeLimit);

 private:
  explicit DmsServer(std::unique_ptr<NetListener> listener) : listener_(std::move(listener)) {}
  std::unique_ptr<NetListener> listener_;
};

// The request counter and the reply text the server currently gives,
// shared between the thread that serves and the one that edits the reply.
class DmsReplyBox {
 public:
  // Counts the request and returns the current reply.
  std::string Answer(const std::string& request);

  void SetReply(std::string reply);
  std::string reply() const;
  int count() const;

 private:
  mutable std::mutex mutex_;
  int count_ = 0;
  std::string reply_;
};

}  // namespace vornlink

#endif  // VORNLINK_EMULATED_DMS_DMS_SERVER_H_
