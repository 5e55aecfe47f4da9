// Fixtures of the transport tests: the log kept in memory, an in-process TCP
// server on loopback, and the HTTP/HTTPS test servers that a CTest fixture
// starts (http_test_server.py).
#ifndef VORNLINK_TESTS_TRANSPORT_TRANSPORT_TEST_SUPPORT_H_
#define VORNLINK_TESTS_TRANSPORT_TRANSPORT_TEST_SUPPORT_H_

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/stop_signal.h"
#include "platform/env.h"
#include "platform/net.h"

namespace vornlink {
namespace testing {

using Lines = std::vector<std::string>;

// Turns the log on with `flags` and keeps its entries, as "<flag> <message>",
// instead of writing them. Thread-safe.
class LogRecorder : public EnvWrapper {
 public:
  LogRecorder(const std::string& file_name, const std::string& flags);
  ~LogRecorder() override;

  bool AppendTextFile(const std::string& path, const std::string& text, bool durable) override;
  // The entries since the last call.
  Lines Take();

 private:
  std::mutex mutex_;
  Lines entries_;
};

// A TCP server on a free loopback port: each connection is handed to
// `serve` on the server's thread, one after the other, until the server
// goes. Works natively and under Wine.
class TcpTestServer {
 public:
  using Serve = std::function<void(NetConnection& connection, const StopSignal& stop)>;
  explicit TcpTestServer(Serve serve);
  ~TcpTestServer();

  std::string port_text() const { return std::to_string(port_); }
  // What each connection sent (see ReadRequest), in order.
  Lines requests();
  // Called from `serve`: records and returns the bytes the client sends up
  // to and with its NUL byte (or until it closes; at most 10 s).
  std::string ReadRequest(NetConnection& connection);

 private:
  Serve serve_;
  std::unique_ptr<NetListener> listener_;
  uint16_t port_ = 0;
  StopSignal stop_;
  std::mutex mutex_;
  Lines requests_;
  std::thread thread_;
};

// Milliseconds since `start`.
long long MillisecondsSince(std::chrono::steady_clock::time_point start);

// The servers of http_test_server.py, as its info file lists them.
struct HttpTestServers {
  bool ok = false;
  std::string error;
  std::map<std::string, std::string> values;  // http, https, expired, ... ; ca, record

  // "http://127.0.0.1:<port of `name`>" + path (the scheme is "https" for
  // the TLS servers).
  std::string Url(const std::string& name, const std::string& path) const;
  // The path of a file the server wrote, as this platform names it.
  std::string File(const std::string& key) const;
  // The requests recorded with `tag` in their path, one JSON object each.
  Lines RecordedWith(const std::string& tag) const;
};
const HttpTestServers& TestServers();

// A tag no other request of this run carries.
std::string UniqueTag();

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_TRANSPORT_TRANSPORT_TEST_SUPPORT_H_
