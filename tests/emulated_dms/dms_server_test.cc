#include "emulated_dms/dms_server.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "emulated_dms/dms_port.h"
#include "emulated_dms/dms_repeats.h"
#include "emulated_dms/dms_replies.h"
#include "platform/net.h"
#include "transport/tcp_transport.h"

namespace vornlink {
namespace {

using namespace std::chrono_literals;
using Outcome = DmsConnectionReport::Outcome;

// Runs `client` against a server on a free loopback port, then stops the
// server, which must end promptly; the reports of every connection.
std::vector<DmsConnectionReport> Served(DmsReplyBox& box,
                                        const std::function<void(uint16_t port)>& client,
                                        std::chrono::milliseconds time_limit = 60s) {
  NetResult result;
  std::unique_ptr<DmsServer> server = DmsServer::Listen("127.0.0.1", 0, &result, kDmsBurstBacklog);
  EXPECT_NE(server, nullptr) << result.code << " " << result.text;
  if (server == nullptr) return {};
  std::vector<DmsConnectionReport> reports;
  std::mutex reporting;
  StopSignal stop;
  std::thread serving([&] {
    server->Run(
        stop, [&](const std::string& request) { return box.Answer(request); },
        [&](const DmsConnectionReport& report) {
          std::lock_guard<std::mutex> lock(reporting);
          reports.push_back(report);
        },
        time_limit);
  });
  client(server->port());
  auto stopped = std::chrono::steady_clock::now();
  stop.Set();
  serving.join();
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, 2s);
  return reports;
}

// Sends `segments` 100 ms apart on `connection` (or a new one); returns all the server sends.
std::string RawExchange(uint16_t port, const std::vector<std::string>& segments,
                        bool half_close = false, std::unique_ptr<NetConnection> connection = {}) {
  WaitLimit limit = WaitLimit::After(10s, nullptr);
  if (!connection) {
    EXPECT_TRUE(ConnectTcp("127.0.0.1", port, limit, &connection).ok());
  }
  if (connection == nullptr) return "";
  for (const std::string& segment : segments) {
    if (&segment != &segments[0]) std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(connection->SendAll(segment, limit).ok());
  }
  if (half_close) connection->ShutdownSend();
  std::string answer;
  char buffer[4096];
  size_t received = 0;
  while (connection->Receive(buffer, sizeof buffer, &received, limit).ok())
    answer.append(buffer, received);
  return answer;
}

// The request ends at its NUL, or when the peer half-closes; the reply ends
// in one NUL, an empty reply box answers with the NUL alone.
TEST(DmsServerTest, TakesTheRequestUpToItsNulAndAnswersWithTheReplyExactly) {
  DmsReplyBox box;
  const std::string reply = CannedReplyText(CannedReply::kFwtSuccess), big(6000, 'q');
  const std::string query = "<insert>\n<orderNumber>183180</orderNumber>\n</insert>\n";
  auto reports = Served(box, [&](uint16_t port) {
    box.SetReply(reply);
    std::string message = query;
    TcpTransport("127.0.0.1", std::to_string(port), &message, TransportContext());
    EXPECT_EQ(message, reply);
    box.SetReply("OK");
    EXPECT_EQ(RawExchange(port, {std::string("first\0trailing", 14)}), std::string("OK\0", 3));
    EXPECT_EQ(RawExchange(port, {"no terminator"}, true), std::string("OK\0", 3));
    box.SetReply("");
    EXPECT_EQ(RawExchange(port, {big, std::string("end\0", 4)}), std::string("\0", 1));
  });
  std::map<std::string, std::string> replies;  // by request: the threads report in any order
  for (const DmsConnectionReport& report : reports) {
    EXPECT_EQ(report.outcome, Outcome::kAnswered);
    replies[report.request] = report.reply;
  }
  EXPECT_EQ(replies,
            (std::map<std::string, std::string>{
                {query, reply}, {"first", "OK"}, {"no terminator", "OK"}, {big + "end", ""}}));
  EXPECT_EQ(box.count(), 4);
}

// Idle and slow peers hold up no one: with forty of them open, far more than the connection
// threads, every request is answered, and so is an idle peer that speaks at last; one that closes
// without a request gets nothing. The stop ends those still idle and frees the port for a second
// opening, as of the dialog; a silent peer is closed at the time limit.
TEST(DmsServerTest, IdlePeersHoldUpNoOneAndEndAtTheStopOrTheTimeLimit) {
  DmsReplyBox box;
  box.SetReply("served");
  std::vector<std::unique_ptr<NetConnection>> idle(40);
  uint16_t port = 0;
  auto reports = Served(box, [&](uint16_t served_port) {
    port = served_port;
    WaitLimit limit = WaitLimit::After(5s, nullptr);
    for (auto& connection : idle) {
      ASSERT_TRUE(ConnectTcp("127.0.0.1", port, limit, &connection).ok());
      if (&connection - &idle[0] > 20) {
        ASSERT_TRUE(connection->SendAll("<slow", limit).ok());
      }
    }
    for (int i = 0; i < 10; ++i)
      EXPECT_EQ(RawExchange(port, {std::string("next\0", 5)}), std::string("served\0", 7));
    EXPECT_EQ(RawExchange(port, {}, true), "");  // closes without a request
    EXPECT_EQ(RawExchange(port, {std::string("late\0", 5)}, false, std::move(idle[0])),
              std::string("served\0", 7));
  });
  std::map<Outcome, size_t> outcomes;
  for (const DmsConnectionReport& report : reports) ++outcomes[report.outcome];
  EXPECT_EQ(outcomes, (std::map<Outcome, size_t>{{Outcome::kAnswered, 11},
                                                 {Outcome::kNoRequest, 1},
                                                 {Outcome::kStopped, idle.size() - 1}}));
  EXPECT_EQ(box.count(), 11);
  NetResult result;
  EXPECT_NE(DmsServer::Listen("127.0.0.1", port, &result), nullptr) << result.text;

  reports = Served(
      box, [&](uint16_t port) { EXPECT_EQ(RawExchange(port, {}), ""); }, 300ms);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].outcome, Outcome::kTimedOut);
}

TEST(DmsServerTest, ShowsEachLineEndAfterAnAngleBracketAsCrLf) {
  EXPECT_EQ(DmsRequestForDisplay("<a>\n<b>x</b>\ntext\n>"), "<a>\r\n<b>x</b>\r\ntext\n>");
  EXPECT_EQ(DmsRequestForDisplay("<a>\r\n"), "<a>\r\n");
}

// The key is taken whole, where the marker stands before one: a host text with the marker before
// another key, or an over-long key, leaves the request without one, not joined to another's.
TEST(DmsRepeatsTest, TakesTheKeyWholeOrNone) {
  const std::string long_key(kMaxDmsKeySize + 1, 'k');
  EXPECT_EQ(DmsRequestKey("<k></k><k> a-1.b_2</k><k>a-1.b_2", "<k>"), "a-1.b_2");
  EXPECT_EQ(DmsRequestKey("<k>evil</k><k>real</k>", "<k>") + DmsRequestKey("none", "<k>"), "");
  EXPECT_EQ(DmsRequestKey("<k>" + long_key + "</k><k>" + long_key + "1", "<k>"), "");
}

TEST(DmsPortTest, AcceptsOnlyPortNumbers) {
  EXPECT_EQ(ParsePort("123") + ParsePort("65535"), 123 + 65535);
  for (const char* bad : {"", "0", "65536", "99999999", "12a", " 80", "-1"})
    EXPECT_EQ(ParsePort(bad), 0) << bad;
}

}  // namespace
}  // namespace vornlink
