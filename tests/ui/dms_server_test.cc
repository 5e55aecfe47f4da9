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
using Outcome = DmsConnectionReport::Outcome;

// A server on a free loopback port, serving from a thread of its own.
class ServedDms {
 public:
  explicit ServedDms(std::chrono::milliseconds time_limit = kDmsConnectionTimeLimit) {
    NetResult result;
    server_ = DmsServer::Listen("127.0.0.1", 0, &result);
    EXPECT_NE(server_, nullptr) << result.code << " " << result.text;
    thread_ = std::thread([this, time_limit] {
      auto report = [this](const DmsConnectionReport& report) {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back(report);
      };
      server_->Run(
          stop_, [this](const std::string& request) { return box_.Answer(request); }, report, 0,
          time_limit);
    });
  }
  ~ServedDms() {
    stop_.Set();
    thread_.join();
  }

  uint16_t port() const { return server_->port(); }
  DmsReplyBox& box() { return box_; }
  // The reports, once `count` connections are reported (or after 4 s).
  std::vector<DmsConnectionReport> reports(size_t count) {
    for (int i = 0; i < 200; ++i) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (reports_.size() >= count) return reports_;
      }
      std::this_thread::sleep_for(20ms);
    }
    ADD_FAILURE() << "fewer than " << count << " connections reported";
    return std::vector<DmsConnectionReport>(count);
  }

 private:
  std::unique_ptr<DmsServer> server_;
  DmsReplyBox box_;
  StopSignal stop_;
  std::mutex mutex_;
  std::vector<DmsConnectionReport> reports_;
  std::thread thread_;
};

// Sends `segments` as they are, 100 ms apart, and returns all the server sends back.
std::string RawExchange(uint16_t port, const std::vector<std::string>& segments,
                        bool half_close = false) {
  std::unique_ptr<NetConnection> connection;
  WaitLimit limit = WaitLimit::After(10s, nullptr);
  EXPECT_TRUE(ConnectTcp("127.0.0.1", port, limit, &connection).ok());
  if (connection == nullptr) return "";
  for (const std::string& segment : segments) {
    if (&segment != &segments[0]) std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(connection->SendAll(segment, limit).ok());
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
  const std::string query = "<insert>\n<orderNumber>183180</orderNumber>\n</insert>\n";
  for (int round = 1; round <= 2; ++round) {
    std::string message = query;
    TcpTransport("127.0.0.1", std::to_string(dms.port()), &message, TransportContext());
    EXPECT_EQ(message, reply);
    DmsConnectionReport report = dms.reports(round)[round - 1];
    EXPECT_EQ(dms.box().count(), round);
    EXPECT_EQ(report.outcome, Outcome::kAnswered);
    EXPECT_EQ(report.request, query);
    EXPECT_EQ(report.reply, reply);
  }
}

TEST(DmsServerTest, TakesTheRequestUpToItsNulWhateverTheSegments) {
  ServedDms dms;
  // Bytes after the NUL are not part of the request; without a NUL the
  // request is complete when the peer half-closes. The reply ends in one
  // NUL; an empty reply box answers with the NUL alone.
  dms.box().SetReply("OK");
  EXPECT_EQ(RawExchange(dms.port(), {std::string("first\0trailing", 14)}), std::string("OK\0", 3));
  EXPECT_EQ(RawExchange(dms.port(), {"no terminator"}, true), std::string("OK\0", 3));
  dms.box().SetReply("");
  std::string big(6000, 'q');
  EXPECT_EQ(RawExchange(dms.port(), {big, std::string("end\0", 4)}), std::string("\0", 1));
  std::vector<DmsConnectionReport> reports = dms.reports(3);
  EXPECT_EQ(reports[0].request, "first");
  EXPECT_EQ(reports[1].request, "no terminator");
  EXPECT_EQ(reports[2].request, big + "end");
  EXPECT_EQ(dms.box().count(), 3);
}

TEST(DmsServerTest, APeerThatSendsNothingHoldsTheServerOnlyForTheTimeLimit) {
  ServedDms dms(300ms);
  dms.box().SetReply("served");
  std::unique_ptr<NetConnection> silent;
  ASSERT_TRUE(ConnectTcp("127.0.0.1", dms.port(), WaitLimit::After(5s, nullptr), &silent).ok());
  // The next peer is served once the silent one's time is up.
  EXPECT_EQ(RawExchange(dms.port(), {std::string("next\0", 5)}), std::string("served\0", 7));
  EXPECT_EQ(RawExchange(dms.port(), {}, true), "");  // closes without a request
  std::vector<DmsConnectionReport> reports = dms.reports(3);
  EXPECT_EQ(reports[0].outcome, Outcome::kTimedOut);
  EXPECT_EQ(reports[1].outcome, Outcome::kAnswered);
  EXPECT_EQ(reports[2].outcome, Outcome::kNoRequest);
  EXPECT_EQ(dms.box().count(), 1);
}

TEST(DmsServerTest, StoppingEndsAPendingConnectionAndFreesThePort) {
  NetResult result;
  std::unique_ptr<DmsServer> server = DmsServer::Listen("127.0.0.1", 0, &result);
  ASSERT_NE(server, nullptr);
  uint16_t port = server->port();
  StopSignal stop;
  std::thread serving([&] { server->Run(stop, [](const std::string&) { return "x"; }, {}); });
  std::unique_ptr<NetConnection> silent;
  ASSERT_TRUE(ConnectTcp("127.0.0.1", port, WaitLimit::After(5s, nullptr), &silent).ok());
  std::this_thread::sleep_for(100ms);
  auto started = std::chrono::steady_clock::now();
  stop.Set();
  serving.join();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  server.reset();
  // Opened again in the same process, as a second opening of the dialog does.
  EXPECT_NE(DmsServer::Listen("127.0.0.1", port, &result), nullptr) << result.text;
}

TEST(DmsServerTest, ShowsEachLineEndAfterAnAngleBracketAsCrLf) {
  EXPECT_EQ(DmsRequestForDisplay("<a>\n<b>x</b>\ntext\n>"), "<a>\r\n<b>x</b>\r\ntext\n>");
  EXPECT_EQ(DmsRequestForDisplay("<a>\r\n"), "<a>\r\n");
  EXPECT_EQ(DmsRequestText(std::string("ab\0cd", 5)), "ab");
}

// What each reply means is shown by the exchanges it drives (exchanges_test).
TEST(DmsRepliesTest, CannedRepliesEndLinesWithCrLfAndAreFoundByName) {
  for (CannedReply reply :
       {CannedReply::kJobValid, CannedReply::kJobNotValid, CannedReply::kFwtSuccess,
        CannedReply::kFwtRetry, CannedReply::kFwtFailed}) {
    std::string text = CannedReplyText(reply);
    EXPECT_NE(text.find("\r\n"), std::string::npos);
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
