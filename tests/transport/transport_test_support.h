// Fixtures of the transport tests: an in-process TCP server on loopback, and
// the HTTP/HTTPS servers of http_test_server.py (CTest fixture transport_servers).
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
#include "platform/net.h"
#include "testing/log_recorder.h"

namespace vornlink {
namespace testing {

using Lines = std::vector<std::string>;

// A TCP server on a free loopback port: hands each connection to `serve` on
// its own thread, one after the other, until it goes. Native and under Wine.
class TcpTestServer {
 public:
  using Serve = std::function<void(NetConnection& connection, const StopSignal& stop)>;
  explicit TcpTestServer(Serve serve);
  ~TcpTestServer();

  std::string port_text() const { return std::to_string(port_); }
  Lines requests();  // what each connection sent (see ReadRequest), in order
  // For `serve`: records and returns what the client sends up to its NUL (or close; 10 s at most).
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

// The servers of http_test_server.py, as its servers.txt lists them.
struct HttpTestServers {
  bool ok = false;
  std::string error;
  std::map<std::string, std::string> values;  // http, https, expired, ...; ca, record

  // "http://127.0.0.1:<port of `name`>" + path ("https" for the TLS servers).
  std::string Url(const std::string& name, const std::string& path) const;
  std::string File(const std::string& key) const;    // as this platform names it
  Lines RecordedWith(const std::string& tag) const;  // the requests, one JSON object each
};
const HttpTestServers& TestServers();

std::string UniqueTag();  // a tag no other request of this run carries

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_TRANSPORT_TRANSPORT_TEST_SUPPORT_H_
