#include "ui/dms_server.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/net.h"
#include "transport/tcp_transport.h"
#include "ui/dms_replies.h"

namespace vornlink {
namespace {

using namespace std::chrono_literals;

// A server on a free loopback port, serving from a thread of its own.
class ServedDms {
 public:
  explicit ServedDms(std::chrono::milliseconds time_limit = kDmsConnectionTimeLimit) {
    NetResult result;
    server_ = DmsServer::Listen("127.0.0.1", 0, &result);
    EXPECT_NE(server_, nullptr) << result.code << " " << result.text;
    thread_ = std::thread([this, time_limit] {
      server_->Run(
          stop_, [this](const std::string& request) { return box_.Answer(request); },
          [this](const DmsConnectionReport& report) {
            std::lock_guard<std::mutex> lock(mutex_);
            reports_.push_back(report);
          },
          0, time_limit);
    });
  }
  ~ServedDms() {
    stop_.Set();
    thread_.join();
  }

  uint16_t port() const { return server_->port(); }
  DmsReplyBox& box() { return box_; }
  std::vector<DmsConnectionReport> reports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }
  // Waits until `count` connections are reported.
  bool WaitForReports(size_t count) {
    for (int i = 0; i < 200; ++i) {
      if (reports().size() >= count) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

 private:
  std::unique_ptr<DmsServer> server_;
  DmsReplyBox box_;
  StopSignal stop_;
  std::mutex mutex_;
  std::vector<DmsConnectionReport> reports_;
  std::thread thread_;
};

// Sends `bytes` as they are and returns everything the server sends back.
std::string RawExchange(uint16_t port, const std::string& bytes, bool half_close = false) {
  std::unique_ptr<NetConnection> connection;
  WaitLimit limit = WaitLimit::After(10s, nullptr);
  EXPECT_TRUE(ConnectTcp("127.0.0.1", port, limit, &connection).ok());
  if (connection == nullptr) return "";
  if (!bytes.empty()) {
    EXPECT_TRUE(connection->SendAll(bytes, limit).ok());
  }
  if (half_close) connection->ShutdownSend();
  std::string answer;
  char buffer[4096];
  size_t received = 0;
  while (connection->Receive(buffer, sizeof buffer, &received, limit).ok()) {
    answer.append(buffer, received);
  }
  return answer;
}

TEST(DmsServerTest, AnswersTheTcpTransportWithTheReplyExactly) {
  ServedDms dms;
  const std::string reply = CannedReplyText(CannedReply::kFwtSuccess);
  dms.box().SetReply(reply);
  for (int round = 1; round <= 2; ++round) {
    std::string message = "<insert>\n<orderNumber>183180</orderNumber>\n</insert>\n";
    TransportContext context;
    context.exchange_prefix = "FWT";
    TcpTransport("127.0.0.1", std::to_string(dms.port()), &message, context);
    EXPECT_EQ(message, reply);
    ASSERT_TRUE(dms.WaitForReports(round));
    EXPECT_EQ(dms.box().count(), round);
  }
  DmsConnectionReport report = dms.reports()[0];
  EXPECT_EQ(report.outcome, DmsConnectionReport::Outcome::kAnswered);
  EXPECT_EQ(report.request, "<insert>\n<orderNumber>183180</orderNumber>\n</insert>\n");
  EXPECT_EQ(report.reply, reply);
}

TEST(DmsServerTest, TakesTheRequestUpToItsNulWhateverTheSegments) {
  ServedDms dms;
  dms.box().SetReply("OK");
  // Bytes after the NUL are not part of the request; the reply ends in one
  // NUL. An empty reply box answers with the NUL alone.
  EXPECT_EQ(RawExchange(dms.port(), std::string("first\0trailing", 14)), std::string("OK\0", 3));
  // A request without NUL is complete when the peer half-closes.
  EXPECT_EQ(RawExchange(dms.port(), "no terminator", true), std::string("OK\0", 3));
  dms.box().SetReply("");
  EXPECT_EQ(RawExchange(dms.port(), std::string("x\0", 2)), std::string("\0", 1));
  ASSERT_TRUE(dms.WaitForReports(3));
  EXPECT_EQ(dms.reports()[0].request, "first");
  EXPECT_EQ(dms.reports()[1].request, "no terminator");

  // A request in several segments, the NUL in the last.
  std::unique_ptr<NetConnection> connection;
  WaitLimit limit = WaitLimit::After(10s, nullptr);
  ASSERT_TRUE(ConnectTcp("127.0.0.1", dms.port(), limit, &connection).ok());
  dms.box().SetReply("late");
  std::string big(6000, 'q');
  ASSERT_TRUE(connection->SendAll(big, limit).ok());
  std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(connection->SendAll(std::string("end\0", 4), limit).ok());
  char buffer[64];
  size_t received = 0;
  ASSERT_TRUE(connection->Receive(buffer, sizeof buffer, &received, limit).ok());
  EXPECT_EQ(std::string(buffer, received), std::string("late\0", 5));
  ASSERT_TRUE(dms.WaitForReports(4));
  EXPECT_EQ(dms.reports()[3].request, big + "end");
  EXPECT_EQ(dms.box().count(), 4);
}

TEST(DmsServerTest, APeerThatSendsNothingHoldsTheServerOnlyForTheTimeLimit) {
  ServedDms dms(300ms);
  dms.box().SetReply("served");
  std::unique_ptr<NetConnection> silent;
  ASSERT_TRUE(ConnectTcp("127.0.0.1", dms.port(), WaitLimit::After(5s, nullptr), &silent).ok());
  // The next peer is served once the silent one's time is up.
  EXPECT_EQ(RawExchange(dms.port(), std::string("next\0", 5)), std::string("served\0", 7));
  EXPECT_EQ(RawExchange(dms.port(), "", true), "");  // closes without a request
  ASSERT_TRUE(dms.WaitForReports(3));
  std::vector<DmsConnectionReport> reports = dms.reports();
  EXPECT_EQ(reports[0].outcome, DmsConnectionReport::Outcome::kTimedOut);
  EXPECT_EQ(reports[1].outcome, DmsConnectionReport::Outcome::kAnswered);
  EXPECT_EQ(reports[2].outcome, DmsConnectionReport::Outcome::kNoRequest);
  EXPECT_EQ(dms.box().count(), 1);
}

TEST(DmsServerTest, StoppingEndsAPendingConnectionAndFreesThePort) {
  uint16_t port = 0;
  {
    NetResult result;
    std::unique_ptr<DmsServer> server = DmsServer::Listen("127.0.0.1", 0, &result);
    ASSERT_NE(server, nullptr);
    port = server->port();
    StopSignal stop;
    std::thread serving([&] { server->Run(stop, [](const std::string&) { return "x"; }, {}); });
    std::unique_ptr<NetConnection> silent;
    ASSERT_TRUE(ConnectTcp("127.0.0.1", port, WaitLimit::After(5s, nullptr), &silent).ok());
    std::this_thread::sleep_for(100ms);
    auto started = std::chrono::steady_clock::now();
    stop.Set();
    serving.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  }
  // Opened again in the same process, as a second opening of the dialog does.
  NetResult again;
  EXPECT_NE(DmsServer::Listen("127.0.0.1", port, &again), nullptr) << again.text;
}

TEST(DmsServerTest, ShowsEachLineEndAfterAnAngleBracketAsCrLf) {
  EXPECT_EQ(DmsRequestForDisplay("<a>\n<b>x</b>\ntext\n>"), "<a>\r\n<b>x</b>\r\ntext\n>");
  EXPECT_EQ(DmsRequestForDisplay("<a>\r\n"), "<a>\r\n");
  EXPECT_EQ(DmsRequestText(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(DmsRequestText("abc"), "abc");
}

TEST(DmsRepliesTest, EachCannedReplyCarriesTheFieldsTheExchangesRead) {
  const std::pair<CannedReply, std::vector<std::string>> cases[] = {
      {CannedReply::kJobValid,
       {"<RONumber>118739</RONumber>\r\n", "<LineCode>A</LineCode>", "<LineCode>B</LineCode>",
        "<LineCode>C</LineCode>", "<ErrorLevel>0</ErrorLevel>", "  <ErrorCode>0</ErrorCode>\r\n"}},
      {CannedReply::kJobNotValid,
       {"<RONumber>118739</RONumber>", "  <ErrorCode>2</ErrorCode>\r\n"}},
      {CannedReply::kFwtSuccess,
       {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n", "<ns2:insertResponse xmlns:ns2=",
        "<code>success</code>", "<message>0:Order \"?\" is updated</message>",
        "<returnCode>0</returnCode>\r\n", "<errorText>OK</errorText>\r\n",
        "<orderNumber>183180</orderNumber>", "<source>Fluid monitoring system</source>"}},
      {CannedReply::kFwtRetry,
       {"<code>failure</code>", "<message>2:Order \"?\" is locked</message>",
        "<returnCode>2</returnCode>\r\n", "<errorText>Item is locked</errorText>"}},
      {CannedReply::kFwtFailed,
       {"<message>5:User ID \"?\" is not valid</message>", "<returnCode>5</returnCode>\r\n",
        "<errorText>User ID \"?\" is not valid</errorText>"}},
  };
  for (const auto& [reply, parts] : cases) {
    std::string text = CannedReplyText(reply);
    for (const std::string& part : parts) {
      EXPECT_NE(text.find(part), std::string::npos) << CannedReplyName(reply) << ": " << part;
    }
    // Lines end with CR LF, never with a bare line feed.
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
      ASSERT_EQ(text[at - 1], '\r') << CannedReplyName(reply);
    }
    CannedReply found;
    ASSERT_TRUE(CannedReplyByName(CannedReplyName(reply), &found));
    EXPECT_EQ(found, reply);
  }
  CannedReply found;
  EXPECT_TRUE(CannedReplyByName("FWT-Retry", &found));
  EXPECT_FALSE(CannedReplyByName("fwt", &found));
}

}  // namespace
}  // namespace vornlink
