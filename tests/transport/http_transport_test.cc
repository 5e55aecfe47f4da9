#include "transport/http_transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <tuple>

#include "log/log.h"
#include "log/log_test_hooks.h"
#include "testing/test_env.h"
#include "transport/http_headers.h"
#include "transport/transport_limits.h"
#include "transport/transport_test_support.h"

namespace vornlink {
namespace {

using testing::Lines;

constexpr char kPassword[] = "pw-s3cret";

// A field ("method": "POST") or a header (["Name", "value"]) of one recorded request.
std::string Field(const std::string& key, const std::string& value) {
  return "\"" + key + "\": \"" + value + "\"";
}
std::string Header(const std::string& name, const std::string& value) {
  return "[\"" + name + "\", \"" + value + "\"]";
}
bool Has(const std::string& record, const std::string& part) {
  return record.find(part) != std::string::npos;
}
// A recorded request's header names, lowercase, but for the library's connection and cache lines.
std::set<std::string> HeaderNames(const std::string& record) {
  std::set<std::string> names;
  for (size_t at = record.find("[\""); at != std::string::npos; at = record.find("[\"", at + 2)) {
    std::string name = record.substr(at + 2, record.find('"', at + 2) - at - 2);
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    if (name != "connection" && name != "cache-control" && name != "pragma") names.insert(name);
  }
  return names;
}
std::string Basic(const std::string& user) {
  return "Basic " + Base64Encode(user + ":" + kPassword);
}

class HttpTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(servers_.ok) << servers_.error;
    WriteIni("");
    context_.transport_type = "HTTP";
    context_.exchange_prefix = "FWT";
    context_.method = "POST";
    context_.work_order = "123456";
    context_.line_code = "A";
    context_.stop = &stop_;
  }
  void TearDown() override { Log(); }

  // Linux trusts the test authority through the INI file; Windows through Wine's store.
  void WriteIni(const std::string& more) {
    testing::WriteBytes(env_.ModuleFile("ini"),
                        "[HTTPS]\r\nCAFile=" + servers_.File("ca") + "\r\n" + more);
  }

  // The failure text, or "" on success; its kind into kind_.
  std::string Run(const std::string& url, const std::string& headers = "0",
                  const std::string& message = "q") {
    message_ = message;
    return testing::TextOrFailure(
        [&] { return HttpTransport(url, &message_, headers, context_), std::string(); }, &kind_,
        &net_);
  }
  FailureKind kind_ = FailureKind::kOther;
  NetFailure net_ = NetFailure::kOther;
  // Runs with a fresh tag in the path; the requests the server recorded.
  Lines Recorded(const std::string& server, const std::string& path,
                 const std::string& headers = "0", const std::string& message = "q") {
    std::string tag = testing::UniqueTag();
    EXPECT_EQ(Run(servers_.Url(server, path + "?" + tag), headers, message), "") << path;
    return servers_.RecordedWith(tag);
  }

  // The log since the last call; no entry may show a credential.
  Lines Log() {
    Lines lines = log_.Take();
    for (const std::string& line : lines) {
      for (const std::string& secret : {std::string(kPassword), Basic("dms")})
        EXPECT_FALSE(Has(line, secret.substr(secret.find(' ') + 1))) << line;
    }
    return lines;
  }

  const testing::HttpTestServers& servers_ = testing::TestServers();
  testing::ScopedFakeEnv env_;
  testing::LogRecorder log_{env_.dir().File("kmr.log"), "+dh"};
  StopSignal stop_;
  TransportContext context_;
  std::string message_;
};

TEST_F(HttpTransportTest, SendsBodyAndHeadersAndLogsEachRead) {
  context_.dynamic_length = "1";
  std::string headers = BuildHttpHeaders(
      "Content-Length: DynLength\r\nSOAPAction: insert\nX-Api-Key: k-1", "<q>1</q>", context_);
  Log();
  Lines records = Recorded("http", "/status/201", headers, "<q>1</q>");
  EXPECT_EQ(message_, "OK");
  ASSERT_EQ(records.size(), 1u);
  for (const std::string& part :
       {Field("method", "POST"), Field("version", "HTTP/1.1"), Field("body", "3c713e313c2f713e"),
        Header("Content-Length", "8"), Header("SOAPAction", "insert"), Header("X-Api-Key", "k-1"),
        Header("User-Agent", "KMR - Connection")}) {
    EXPECT_TRUE(Has(records[0], part)) << part << " in " << records[0];
  }
  EXPECT_EQ(HeaderNames(records[0]), (std::set<std::string>{"host", "user-agent", "content-length",
                                                            "soapaction", "x-api-key"}));
  Lines log = Log();
  for (const char* line :
       {"h Additional header     [\r\n   Content-Length: 8\r\n   SOAPAction: insert\n   X-Api-Key: "
        "********\r\n   \r\n   ]",
        "h                 Send to DMS[\r\n<q>1</q>]",
        "h HttpTransport: WorkOrder[123456] LineCode[A], message sent --> HTTP c[201] --> SUCCESS",
        "d rL:                   [OK]", "d Reply from server     [\r\nOK]"}) {
    EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
  }
}

TEST_F(HttpTransportTest, PostOnlyWhenTheMethodBeginsWithPostElseGetWithTheBody) {
  for (const char* method : {"POST", "POSTXML", "post", "PUT", ""}) {
    context_.method = method;
    Lines records = Recorded("http", "/echo");
    EXPECT_EQ(message_, "q") << "the body is sent with either verb";
    ASSERT_EQ(records.size(), 1u);
    const char* verb = std::string(method).rfind("POST", 0) == 0 ? "POST" : "GET";
    EXPECT_TRUE(Has(records[0], Field("method", verb))) << method << ": " << records[0];
    EXPECT_EQ(HeaderNames(records[0]),
              (std::set<std::string>{"host", "user-agent", "content-length"}));
  }
}

// A reply of 15 MB leaves a small log: reads are no longer logged past what one entry shows.
TEST_F(HttpTransportTest, ReplyBodiesJoinedCutAtNulAndCappedWithABoundedLog) {
  ASSERT_EQ(Run(servers_.Url("http", "/chunked")), "");
  std::string expected;
  for (int part = 0; part < 40; ++part)
    expected += (part < 10 ? "part0" : "part") + std::to_string(part) + ";";
  EXPECT_EQ(message_, expected);
  for (const char* path : {"/nul", "/nul-then-more"}) {
    ASSERT_EQ(Run(servers_.Url("http", path)), "");
    EXPECT_EQ(message_, "before") << path;
  }
  const std::string query(15 << 20, 'q');
  ASSERT_EQ(Run(servers_.Url("http", "/echo"), "0", query), "");
  EXPECT_EQ(message_.size(), query.size());
  size_t logged = 0;
  for (const std::string& line : Log()) logged += line.size();
  EXPECT_LT(logged, 200000u);
  ResetLogForTesting();  // 17 MB of 'd' lines are not what this case is about
  EXPECT_EQ(Run(servers_.Url("http", "/big")),
            "HttpTransport: t[Reply too large] em[More than 16777216 bytes]");
}

TEST_F(HttpTransportTest, HttpsChecksTheChainButNotDatesOrHostNameAndFollowsNoRedirect) {
  Lines redirected = Recorded("http", "/redirect");
  ASSERT_EQ(redirected.size(), 2u) << "plain HTTP follows";
  EXPECT_EQ(message_, "OK");
  EXPECT_TRUE(Has(redirected[1], Field("method", "GET"))) << redirected[1];
  EXPECT_EQ(HeaderNames(redirected[1]), (std::set<std::string>{"host", "user-agent"}));
  context_.transport_type = "HTTPS";
  std::string unknown = Run(servers_.Url("unknown", "/status/200"));
  EXPECT_EQ(unknown.rfind("HttpTransport: t[CInternetException] em[", 0), 0u) << unknown;
  EXPECT_EQ(unknown.find_first_of("\r\n"), std::string::npos);
  for (const char* server : {"https", "expired", "wronghost"}) {
    EXPECT_EQ(Run(servers_.Url(server, "/status/200")), "") << server;
    EXPECT_EQ(message_, "OK") << server;
  }
  EXPECT_EQ(Run(servers_.Url("https", "/redirect")),
            "HttpTransport: c[302] t[Unknown return code]");
  // The transport type decides TLS, whatever the URL's scheme says.
  EXPECT_EQ(Run("http://localhost:" + servers_.values.at("https") + "/status/200"), "");
}

#ifndef _WIN32
TEST_F(HttpTransportTest, TrustFileMustBeARegularFileOfCertificates) {
  context_.transport_type = "HTTPS";
  std::string missing = env_.dir().File("missing.pem"), empty = env_.dir().File("empty.pem");
  testing::WriteBytes(empty, "no certificate here\n");
  const std::tuple<std::string, std::string, NetFailure> kCases[] = {
      {missing, "t[CAFile] em[CAFile [" + missing + "] cannot be opened]", NetFailure::kTrustFile},
      {empty, "t[CAFile] em[CAFile [" + empty + "] holds no PEM certificate]",
       NetFailure::kTrustFile},
      // The system's authorities do not know the test one.
      {"", "t[CInternetException] em[", NetFailure::kCertificate}};
  for (const auto& [file, text, net] : kCases) {
    testing::WriteBytes(env_.ModuleFile("ini"), file.empty() ? "" : "[HTTPS]\nCAFile=" + file);
    std::string failure = Run(servers_.Url("https", "/status/200"));
    EXPECT_EQ(file.empty() ? failure.substr(0, 40) : failure, "HttpTransport: " + text);
    EXPECT_EQ(kind_, FailureKind::kOther) << "a matter of trust, not of reach";
    EXPECT_EQ(net_, net) << failure;
  }
}
#endif

// Each status outside the 200s fails with its text (401, unknown ones: credentials, redirects).
TEST_F(HttpTransportTest, BadUrlTypeStatusAndUnreachableServer) {
  EXPECT_EQ(Run("no url at all"), "HttpTransport: t[URL Error]");
  context_.transport_type = "http";
  EXPECT_EQ(Run(servers_.Url("http", "/status/200")),
            "HttpTransport: t[Transport type http] --> unknown");
  context_.transport_type = "HTTP";
  // Nothing of the query reaches a DMS whose port is closed or whose name does not resolve.
  for (auto [url, net] : {std::pair{"http://127.0.0.1:1/", NetFailure::kRefused},
                          {"http://no-such-host.invalid/", NetFailure::kNameLookup}}) {
    std::string refused = Run(url);
    EXPECT_EQ(refused.rfind("HttpTransport: t[CInternetException] em[", 0), 0u) << refused;
    EXPECT_EQ(refused.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(kind_, FailureKind::kNotReached) << refused;
    EXPECT_EQ(net_, net) << refused;
  }
  EXPECT_LE(Log().size(), 3u) << "failures log nothing of their own";
  EXPECT_EQ(Run(servers_.Url("http", "/status/404")),
            "HttpTransport: c[404] t[Requested URL not found]");
  EXPECT_EQ(Run(servers_.Url("http", "/status/204")), "");
  EXPECT_EQ(message_, "") << "the message is replaced, not appended to";
}

TEST_F(HttpTransportTest, CredentialsGoOutOnlyWhenAskedOrAddedForValidation) {
  context_.user_name = "dms";
  context_.password = kPassword;
  Lines records = Recorded("http", "/auth");
  EXPECT_EQ(message_, "welcome");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(HeaderNames(records[0]).count("authorization"), 0u) << "offered before being asked";
  EXPECT_TRUE(Has(records[1], Header("Authorization", Basic("dms"))));
  // Another host name: the Windows internet library keeps Basic credentials per server.
  context_.user_name = "";
  EXPECT_EQ(Run("http://localhost:" + servers_.values.at("http") + "/auth"),
            "HttpTransport: c[401] t[Unauthorized]");
}

// A request that went out is given up only at the stop's cut; one still in its TLS handshake at the
// stop's first step; a silent server at the limit. The stop comes once the server holds the request
// (or, for the handshake that never ends, at once), whatever the machine's load.
TEST_F(HttpTransportTest, SilentServerEndsByStopSignalOrTimeLimit) {
  testing::TcpTestServer mute([](NetConnection&, const StopSignal& stop) { stop.WaitFor(60000); });
  const std::string timed_out = "HttpTransport: t[Timeout] em[No answer within 1 seconds]";
  using K = FailureKind;
  const struct {
    const char* type;
    std::string server;  // of http_test_server.py, whose /hang holds the request; "" the mute one
    bool set, cut;
    std::string failure;
    FailureKind kind;
  } kCases[] = {
      {"HTTP", "http", true, true, kHttpCutText, K::kCutAfterSending},
      {"HTTPS", "https", true, true, kHttpCutText, K::kCutAfterSending},
      {"HTTPS", "", true, false, kHttpStoppedText, K::kStopped},
      {"HTTPS", "", false, false, timed_out, K::kNotReached},  // nothing sent in the TLS handshake
      {"HTTP", "http", false, false, timed_out, K::kTimeLimitAfterSending},
      {"HTTPS", "https", false, false, timed_out, K::kTimeLimitAfterSending},
  };
  for (const auto& c : kCases) {
    const std::string tag = testing::UniqueTag();
    const std::string url = c.server.empty() ? "https://127.0.0.1:" + mute.port_text() + "/"
                                             : servers_.Url(c.server, "/hang?" + tag);
    SCOPED_TRACE(std::string(c.type) + " " + url);
    WriteIni(std::string("[Transport]\r\nTimeoutSeconds=") + (c.set ? "60" : "1") + "\r\n");
    context_.transport_type = c.type;
    stop_.Clear();
    const auto started = std::chrono::steady_clock::now();
    auto ended_by = started + std::chrono::seconds(1);  // the time limit, unless stopped
    std::thread stopper([&] {
      if (!c.set) return;
      if (c.cut) {
        EXPECT_TRUE(testing::Eventually([&] { return !servers_.RecordedWith(tag).empty(); }));
      }
      stop_.Set();
      ended_by = std::chrono::steady_clock::now();
      if (!c.cut) return;
      // Set alone does not end the wait for the reply to a request that went out.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      ended_by = std::chrono::steady_clock::now();
      stop_.Cut();
    });
    std::string failure = Run(url);
    const auto ended = std::chrono::steady_clock::now();
    stopper.join();
    // Ended by the step that ends it, or by the limit, and not before; how soon after is a
    // matter of the machine's load, which the failure text tells apart well enough.
    EXPECT_EQ(failure, c.failure);
    EXPECT_EQ(kind_, c.kind);
    EXPECT_EQ(net_ == NetFailure::kTimedOut, !c.set);
    EXPECT_GE(ended, ended_by);
  }
}

}  // namespace
}  // namespace vornlink
