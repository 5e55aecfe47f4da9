#include "transport/tcp_transport.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/env.h"
#include "testing/test_env.h"
#include "transport/transport_limits.h"
#include "transport/transport_test_support.h"

namespace vornlink {
namespace {

using testing::Lines;
using testing::TcpTestServer;
using namespace std::chrono_literals;

class TcpTransportTest : public ::testing::Test {
 protected:
  // The failure text, or "" on success; its kind into kind_.
  std::string Run(const std::string& host, const std::string& port, std::string* message) {
    return testing::TextOrFailure(
        [&] { return TcpTransport(host, port, message, context_), std::string(); }, &kind_, &net_);
  }
  FailureKind kind_ = FailureKind::kOther;
  NetFailure net_ = NetFailure::kOther;

  testing::ScopedFakeEnv env_;
  testing::LogRecorder log_{env_.dir().File("kmr.log"), "+dt"};
  void SetUp() override { context_.stop = &stop_; }

  StopSignal stop_;
  TransportContext context_;
};

// The reply ends at once at its NUL, whatever follows, else at the peer's close, a full buffer or
// the pause after its last byte, never at the time limit. The peer holds the connection until the
// client goes (or 10 s), so how long the read took tells a wait that should not have been.
TEST_F(TcpTransportTest, TakesTheReplyUpToNulCloseFullBufferOrPause) {
  testing::WriteBytes(env_.ModuleFile("ini"), "[Transport]\r\nTimeoutSeconds=60\r\n");
  std::vector<std::string> sending_on{std::string("reply\0", 6)};  // 5 s without a pause
  sending_on.resize(101, "more");
  struct Case {
    std::vector<std::string> segments;  // sent 50 ms apart while the client stays
    bool close_after;                   // else the connection stays open
    std::string reply;
  } const kCases[] = {
      {{std::string("<ok/>\0", 6)}, false, "<ok/>"},
      {sending_on, false, "reply"},
      {{"ab"}, false, "ab"},  // no NUL, shorter than the query
      {{"abc"}, true, "abc"},
      {{"first-", std::string("second\0", 7)}, false, "first-second"},
      {{std::string(5000, 'x')}, false, std::string(4096, 'x')},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.reply.substr(0, 20));
    TcpTestServer server([&](NetConnection& connection, const StopSignal& stop) {
      server.ReadRequest(connection);
      char byte;
      size_t count = 0;
      for (const std::string& segment : c.segments) {
        if ((&segment != &c.segments[0] &&
             connection.Receive(&byte, 1, &count, WaitLimit::After(50ms, &stop)).status !=
                 NetStatus::kTimedOut) ||
            !connection.SendAll(segment, WaitLimit::After(5s, &stop)).ok()) {
          return;  // the client has gone
        }
      }
      if (!c.close_after) connection.Receive(&byte, 1, &count, WaitLimit::After(10s, &stop));
    });
    std::string message = "query text\r";
    log_.Take();
    const uint32_t started = GetEnv()->TickCount();
    EXPECT_EQ(Run("127.0.0.1", server.port_text(), &message), "");
    EXPECT_LT(GetEnv()->TickCount() - started, 3000u) << "the read waited on";
    EXPECT_EQ(message, c.reply);
    EXPECT_EQ(server.requests(), Lines{std::string("query text\r\0", 12)});
    EXPECT_EQ(log_.Take(), (Lines{"t                 Send to DMS[\r\nquery text\r]",
                                  "d              Reply from DMS[\r\n" + c.reply + "]"}));
  }
}

TEST_F(TcpTransportTest, FailuresOfConnectionPortAndReply) {
  TcpTestServer closes(
      [&](NetConnection& connection, const StopSignal&) { closes.ReadRequest(connection); });
  std::string message = "q";
  EXPECT_EQ(Run("127.0.0.1", closes.port_text(), &message), "TcpTransport: c[Received 0 bytes]");
  EXPECT_EQ(log_.Take(), Lines{"t                 Send to DMS[\r\nq]"});

  // Nothing listens on port 1; the platform's code and text follow the head.
  for (auto [host, net] : {std::pair{"127.0.0.1", NetFailure::kRefused},
                           {"no-such-host.invalid", NetFailure::kNameLookup}}) {
    std::string failure = Run(host, "1", &message);
    EXPECT_TRUE(failure.rfind("TcpTransport: c[", 0) == 0 &&
                failure.find("] t[") != std::string::npos && failure.back() == ']' &&
                failure.find_first_of("\r\n") == std::string::npos)
        << failure;
    EXPECT_EQ(kind_, FailureKind::kNotReached) << failure;
    EXPECT_EQ(net_, net) << failure;
  }
  EXPECT_TRUE(log_.Take().empty()) << "nothing is logged when the connect fails";

  // Leading digits count (the server is reached); 65659 would be port 123 if 16 bits were kept.
  EXPECT_EQ(Run("localhost", " " + closes.port_text() + "x", &message),
            "TcpTransport: c[Received 0 bytes]");
  for (const char* text : {"", "0", "-80", "65659", "99999999999", "x80"}) {
    EXPECT_EQ(Run("127.0.0.1", text, &message),
              std::string("TcpTransport: c[Invalid port] t[Port \"") + text +
                  "\" is not within 1 to 65535]");
  }
}

TEST_F(TcpTransportTest, SilentServerEndsByStopSignalOrTimeLimit) {
  TcpTestServer silent([&](NetConnection& connection, const StopSignal& stop) {
    // The first client has sent its query: the stop's first step leaves it waiting for the reply
    // (its cut would not: the driver's stop test); one that gave up would close within 300 ms.
    if (!silent.ReadRequest(connection).empty() && silent.requests().size() == 1) {
      stop_.Set();
      char byte;
      size_t count = 0;
      if (connection.Receive(&byte, 1, &count, WaitLimit::After(300ms, &stop)).status ==
          NetStatus::kTimedOut) {
        connection.SendAll(std::string("late\0", 5), WaitLimit::After(5s, &stop));
      }
      return;
    }
    stop.WaitFor(60000);
  });
  std::string message = "q";
  EXPECT_EQ(Run("127.0.0.1", silent.port_text(), &message), "");
  EXPECT_EQ(message, "late");
  // A stop signal already set ends the call before it connects: nothing went out.
  EXPECT_EQ(Run("127.0.0.1", silent.port_text(), &message), kTcpStoppedText);
  EXPECT_EQ(kind_, FailureKind::kStopped);
  stop_.Clear();

  testing::WriteBytes(env_.ModuleFile("ini"), "[Transport]\r\nTimeoutSeconds=1\r\n");
  auto started = std::chrono::steady_clock::now();
  std::string timed_out = Run("127.0.0.1", silent.port_text(), &message);
  long long elapsed = testing::MillisecondsSince(started);
  EXPECT_EQ(timed_out, "TcpTransport: c[Timeout] t[No answer within 1 seconds]");
  EXPECT_EQ(kind_, FailureKind::kTimeLimitAfterSending);
  EXPECT_EQ(net_, NetFailure::kTimedOut);
  EXPECT_GE(elapsed, 1000);
}

TEST(TransportTimeLimitTest, ReadsTheIniFileAfreshWithDefaultForNothingUsable) {
  testing::ScopedFakeEnv env;
  const std::pair<const char*, int> kCases[] = {{nullptr, 120}, {"5", 5},     {"0", 120},
                                                {"-3", 120},    {"abc", 120}, {"999999", 86400}};
  for (const auto& [value, seconds] : kCases) {
    testing::WriteBytes(env.ModuleFile("ini"),
                        value ? std::string("[Transport]\nTimeoutSeconds=") + value : "");
    EXPECT_EQ(TransportTimeLimit().count(), seconds) << (value ? value : "(none)");
  }
}

}  // namespace
}  // namespace vornlink
