#include "transport/tcp_transport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "base/failure_text.h"
#include "testing/test_env.h"
#include "transport/transport_limits.h"
#include "transport/transport_test_support.h"

namespace vornlink {
namespace {

using testing::Lines;
using testing::TcpTestServer;

#ifdef _WIN32
constexpr int kRefusedCode = 10061;
#else
constexpr int kRefusedCode = ECONNREFUSED;
#endif

void Pause(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

class TcpTransportTest : public ::testing::Test {
 protected:
  // Runs the transport; the failure text, or "" on success.
  std::string Run(const std::string& host, const std::string& port, std::string* message) {
    try {
      TcpTransport(host, port, message, context_);
      return "";
    } catch (const FailureText& failure) {
      return failure.text();
    }
  }

  void SetTimeLimit(const std::string& seconds) {
    testing::WriteBytes(env_.ModuleFile("ini"),
                        "[Transport]\r\nTimeoutSeconds=" + seconds + "\r\n");
  }

  testing::ScopedFakeEnv env_;
  testing::LogRecorder log_{env_.dir().File("kmr.log"), "+dt"};
  StopSignal stop_;
  TransportContext context_ = [this] {
    TransportContext context;
    context.stop = &stop_;
    return context;
  }();
};

struct ReplyCase {
  const char* name;
  std::vector<std::string> segments;  // sent one after the other, 100 ms apart
  bool close_after = false;           // else the server keeps the connection open
  std::string reply;
};

TEST_F(TcpTransportTest, TakesTheReplyUpToNulCloseFullBufferOrPause) {
  const ReplyCase kCases[] = {
      {"text and NUL", {std::string("<ok/>\0", 6)}, false, "<ok/>"},
      {"no NUL, shorter than the query", {"ab"}, false, "ab"},
      {"no NUL, then closed", {"abc"}, true, "abc"},
      {"two segments with a pause", {"first-", std::string("second\0", 7)}, false, "first-second"},
      {"bytes after the NUL dropped", {std::string("abc\0def", 7)}, false, "abc"},
      {"5000 bytes give the first 4096", {std::string(5000, 'x')}, false, std::string(4096, 'x')},
      {"exactly 4096 bytes", {std::string(4095, 'y') + "z"}, false, std::string(4095, 'y') + "z"},
  };
  for (const ReplyCase& c : kCases) {
    SCOPED_TRACE(c.name);
    TcpTestServer server([&](NetConnection& connection, const StopSignal& stop) {
      server.ReadRequest(connection);
      for (size_t i = 0; i < c.segments.size(); ++i) {
        if (i > 0) Pause(100);
        connection.SendAll(c.segments[i], WaitLimit::After(std::chrono::seconds(5), &stop));
      }
      if (c.close_after) return;
      stop.WaitFor(2000);  // open until the client goes
    });
    std::string message = "query text\r";
    log_.Take();
    EXPECT_EQ(Run("127.0.0.1", server.port_text(), &message), "");
    EXPECT_EQ(message, c.reply);
    EXPECT_EQ(server.requests(), Lines{std::string("query text\r\0", 12)});
    EXPECT_EQ(log_.Take(), (Lines{"t "
                                  "                Send to DMS[\r\nquery text\r]",
                                  "d "
                                  "             Reply from DMS[\r\n" +
                                      c.reply + "]"}));
  }
}

TEST_F(TcpTransportTest, FailuresOfConnectionAndReply) {
  TcpTestServer closes(
      [&](NetConnection& connection, const StopSignal&) { closes.ReadRequest(connection); });
  std::string message = "q";
  EXPECT_EQ(Run("127.0.0.1", closes.port_text(), &message), "TcpTransport: c[Received 0 bytes]");
  EXPECT_EQ(log_.Take(), Lines{"t "
                               "                Send to DMS[\r\nq]"});

  // A port nobody listens on: one that was free a moment ago.
  std::string free_port;
  {
    std::unique_ptr<NetListener> listener;
    ASSERT_TRUE(ListenTcp("127.0.0.1", 0, 1, &listener).ok());
    free_port = std::to_string(listener->port());
  }
  std::string refused = Run("127.0.0.1", free_port, &message);
  std::string prefix = "TcpTransport: c[" + std::to_string(kRefusedCode) + "] t[";
  EXPECT_EQ(refused.substr(0, prefix.size()), prefix) << refused;
  EXPECT_GT(refused.size(), prefix.size() + 1) << "the system's text is missing";
  EXPECT_EQ(refused.find_first_of("\r\n"), std::string::npos);

  std::string unresolved = Run("no-such-host.invalid", "8080", &message);
#ifdef _WIN32
  EXPECT_EQ(unresolved.substr(0, 22), "TcpTransport: c[10022]") << unresolved;
#else
  EXPECT_EQ(unresolved.substr(0, 16), "TcpTransport: c[") << unresolved;
#endif
  EXPECT_EQ(unresolved.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(unresolved.back(), ']');
  EXPECT_TRUE(log_.Take().empty()) << "nothing is logged when the connect fails";
}

TEST_F(TcpTransportTest, PortTextIsReadFromItsLeadingDigitsWithinOneTo65535) {
  TcpTestServer server([&](NetConnection& connection, const StopSignal& stop) {
    server.ReadRequest(connection);
    connection.SendAll(std::string("ok\0", 3), WaitLimit::After(std::chrono::seconds(5), &stop));
  });
  std::string message = "q";
  EXPECT_EQ(Run("localhost", " " + server.port_text() + "x", &message), "");
  EXPECT_EQ(message, "ok");

  // 65536 + 123 would be port 123 if only 16 bits were kept.
  for (const char* text : {"", "0", "-80", "65659", "99999999999", "x80"}) {
    EXPECT_EQ(Run("127.0.0.1", text, &message),
              std::string("TcpTransport: c[Invalid port] t[Port \"") + text +
                  "\" is not within 1 to 65535]");
  }
}

TEST_F(TcpTransportTest, SilentServerEndsByStopSignalOrTimeLimit) {
  TcpTestServer silent([&](NetConnection& connection, const StopSignal& stop) {
    silent.ReadRequest(connection);
    stop.WaitFor(60000);
  });
  std::string message = "q";
  std::thread stopper([this] {
    Pause(300);
    stop_.Set();
  });
  auto started = std::chrono::steady_clock::now();
  std::string stopped = Run("127.0.0.1", silent.port_text(), &message);
  long long elapsed = testing::MillisecondsSince(started);
  stopper.join();
  EXPECT_EQ(stopped, kTcpStoppedText);
  EXPECT_TRUE(IsStopFailure(stopped));
  EXPECT_LT(elapsed, 300 + 1000) << "the call must end within a second of the stop signal";
  std::printf("TCP stop latency: %lld ms after the signal\n", elapsed - 300);

  // A stop signal that is already set ends the call before it connects.
  EXPECT_EQ(Run("127.0.0.1", silent.port_text(), &message), kTcpStoppedText);
  stop_.Clear();

  SetTimeLimit("1");
  started = std::chrono::steady_clock::now();
  std::string timed_out = Run("127.0.0.1", silent.port_text(), &message);
  elapsed = testing::MillisecondsSince(started);
  EXPECT_EQ(timed_out, "TcpTransport: c[Timeout] t[No answer within 1 seconds]");
  EXPECT_FALSE(IsStopFailure(timed_out));
  EXPECT_GE(elapsed, 1000);
  EXPECT_LT(elapsed, 1000 + 1000);
}

TEST(TransportTimeLimitTest, ReadsTheIniFileAfreshWithDefaultForNothingUsable) {
  testing::ScopedFakeEnv env;
  const std::pair<const char*, int> kCases[] = {
      {nullptr, 120}, {"5", 5}, {"0", 120}, {"-3", 120}, {"abc", 120}, {"999999", 86400},
  };
  for (const auto& [value, seconds] : kCases) {
    testing::WriteBytes(
        env.ModuleFile("ini"),
        value == nullptr ? "" : std::string("[Transport]\nTimeoutSeconds=") + value);
    EXPECT_EQ(TransportTimeLimit().count(), seconds) << (value ? value : "(none)");
  }
}

}  // namespace
}  // namespace vornlink
