// The two DMS exchanges end to end, against a DMS on loopback.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "dms_fixture.h"
#include "emulated_dms/dms_replies.h"
#include "exchange/booking_key.h"
#include "exchange/forward_transaction.h"
#include "exchange/job_validation.h"
#include "testing/case_file.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using testing::DmsSetup;
using testing::ForwardReply;
using testing::Lines;
using testing::ValidationReply;

const TransactionFields kTransaction = {"00042", "123456.A", "240607", "081503", "17",  "F04",
                                        "12",    "3",        "Oil",    "OIL-1",  "1.5", "0"};

class ExchangesTest : public ::testing::Test {
 protected:
  void Write(const DmsSetup& setup) {
    testing::WriteBytes(env_.ModuleFile("xml"), testing::SettingsDocument(setup));
  }

  // The outcome and the failure line of one forward exchange.
  std::pair<ForwardOutcome, std::string> Forward(const TransactionFields& fields = kTransaction) {
    std::string failure = "untouched";
    ForwardOutcome outcome = ForwardTransactionExchange(fields, &failure, nullptr);
    return {outcome, failure};
  }

  // The log's lines of flag '.' and '*', the outcome lines.
  Lines Outcomes() {
    Lines outcomes;
    for (const std::string& line : log_.Take()) {
      if (line[0] == '.' || line[0] == '*') outcomes.push_back(line);
    }
    return outcomes;
  }

  testing::ScopedFakeEnv env_;
  testing::LogRecorder log_{env_.dir().File("kmr.log"), "+cdhinprst"};
  std::string reply_;  // what the scripted DMS answers
  testing::ScriptedDms dms_{[this](const std::string&) { return reply_; }};
  DmsSetup setup_;
  void SetUp() override { setup_.port = dms_.port_text(); }
};

// Each reply, and each setting missing or wrong, gives its outcome and line
// (data/forward_outcomes.txt), which reads back as that outcome.
TEST_F(ExchangesTest, ForwardOutcomesAndTheirLines) {
  const std::map<std::string, ForwardOutcome> kOutcomes = {
      {"success", ForwardOutcome::kSuccess},
      {"retry later", ForwardOutcome::kRetryLater},
      {"needs attention", ForwardOutcome::kNeedsAttention}};
  const auto cases = testing::ReadCases(VORNLINK_TEST_DATA_DIR, "forward_outcomes.txt");
  ASSERT_EQ(cases.size(), 7u);
  for (const testing::TextCase& c : cases) {
    const std::vector<std::string>& f = c.fields;  // outcome, code, message, TP, job, line
    SCOPED_TRACE(c.where);
    DmsSetup setup = setup_;
    setup.transport = f.at(3);
    Write(setup);
    reply_ = f.at(1) == "-" ? f.at(2) : ForwardReply(f.at(1), f.at(2));
    TransactionFields fields = kTransaction;
    fields[kJobNo] = f.at(4);
    auto [outcome, failure] = Forward(fields);
    EXPECT_EQ(outcome, kOutcomes.at(f.at(0)));
    EXPECT_EQ(Outcomes(), Lines{f.at(5)});
    ForwardOutcome told = ForwardOutcome::kStopped;
    bool unreachable = true;
    EXPECT_TRUE(ForwardOutcomeOfLogEntry(f[5][0], f[5].substr(2), &told, &unreachable) &&
                told == outcome && !unreachable);
    EXPECT_EQ(failure, outcome == ForwardOutcome::kNeedsAttention ? f[5].substr(2) : "untouched");
  }
  // The DMS gets the query without the template's indent, one NUL byte, no CR.
  const Lines requests = dms_.requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests.front(),
            std::string("<insert><trans>42</trans><ro>123456</ro><line>A</line><qty>1.50</qty>"
                        "<user>17</user></insert>\n") +
                '\0');
}

// A DMS not reached keeps the line due, or parks it when asked to; a time limit that runs out once
// the DMS has the query leaves its outcome unknown, unless the query carried the booking key and
// the site's DMS drops repeats. Each outcome line reads back as its outcome.
TEST_F(ExchangesTest, OutcomesWhenTheDmsIsNotReachedOrMayHaveBooked) {
  testing::TcpTestServer silent([&](NetConnection& connection, const StopSignal& stop) {
    silent.ReadRequest(connection);
    stop.WaitFor(60000);
  });
  const std::string unknown =
      " " + std::string(kMayHaveBookedNote) + "--> FAILED --> FWT_NEEDS_ATTENTION";
  const std::string keyed = "<insert><key>%@TK</key></insert>", quiet = silent.port_text();
  const struct {
    std::string port, query, drops;
    bool park;
    ForwardOutcome outcome;
    std::string end;  // of the outcome line
  } kCases[] = {
      {quiet, keyed, "0", false, ForwardOutcome::kOutcomeUnknown, unknown},
      {quiet, "<insert/>", "1", false, ForwardOutcome::kOutcomeUnknown, unknown},
      {quiet, keyed, "1", false, ForwardOutcome::kRetryLater,
       " --> OUTCOME UNKNOWN, SENT AGAIN: THE DMS DROPS REPEATS --> FWT_RETRY_LATER"},
      {"1", keyed, "0", false, ForwardOutcome::kUnreachable,
       "--> DMS UNREACHABLE --> FWT_RETRY_LATER"},
      {"1", keyed, "0", true, ForwardOutcome::kNeedsAttention,
       "--> DMS UNREACHABLE --> FAILED --> FWT_NEEDS_ATTENTION"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.port + " " + c.query + " " + c.drops);
    setup_.port = c.port;
    setup_.forward_query = c.query;
    Write(setup_);
    testing::WriteBytes(env_.ModuleFile("ini"),
                        "[Transport]\nTimeoutSeconds=1\n[ForwardTransaction]\n"
                        "DmsDropsRepeats=" +
                            c.drops + "\n");
    std::string failure;
    NetFailure net = NetFailure::kOther;
    EXPECT_EQ(
        ForwardTransactionExchange(kTransaction, &failure, nullptr, ForwardOptions{c.park}, &net),
        c.outcome);
    EXPECT_EQ(net, c.port == "1" ? NetFailure::kRefused : NetFailure::kTimedOut);
    const Lines lines = Outcomes();
    ASSERT_EQ(lines.size(), 1u);
    const std::string line = lines[0].substr(2);
    EXPECT_EQ(line.rfind("FWT: WorkOrder[123456] LineCode[A] --> TcpTransport: c[", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - std::min(line.size(), c.end.size())), c.end) << line;
    ForwardOutcome told = ForwardOutcome::kStopped;
    bool unreachable = false;
    EXPECT_TRUE(ForwardOutcomeOfLogEntry('*', line, &told, &unreachable) && told == c.outcome &&
                unreachable == (c.port == "1"));
  }
}

// WoSplit "0" keeps the job number whole; a Setup item of a transaction
// ordinal's name replaces it; a missing template sends an empty query; a
// changed Setup item counts from the next exchange.
TEST_F(ExchangesTest, OrdinalsTheSettingsDecide) {
  reply_ = ForwardReply("success", "ok");
  setup_.wo_split = "0";
  setup_.items = {{"23", "PN-FROM-SETUP"}};
  setup_.forward_query = "<p>%@07/%@17/%@23</p>";
  Write(setup_);
  EXPECT_EQ(Forward().first, ForwardOutcome::kSuccess);
  setup_.forward_query = "";
  Write(setup_);
  EXPECT_EQ(Forward().first, ForwardOutcome::kSuccess);
  setup_.forward_query = "<p>%@23</p>";
  Write(setup_);
  EXPECT_EQ(Forward().first, ForwardOutcome::kSuccess);
  setup_.items = {{"23", "PN-CHANGED"}};
  Write(setup_);
  EXPECT_EQ(Forward().first, ForwardOutcome::kSuccess);
  EXPECT_EQ(dms_.requests(), (Lines{std::string("<p>123456.A/NA/PN-FROM-SETUP</p>\n") + '\0',
                                    std::string("\n") + '\0',
                                    std::string("<p>PN-FROM-SETUP</p>\n") + '\0',
                                    std::string("<p>PN-CHANGED</p>\n") + '\0'}));
}

// Each reply, and each setting missing or wrong, gives its verdict and line (job_verdicts.txt).
TEST_F(ExchangesTest, JobVerdictsOverTcp) {
  const std::map<std::string, JobVerdict> kVerdicts = {{"valid", JobVerdict::kValid},
                                                       {"not valid", JobVerdict::kNotValid},
                                                       {"no verdict", JobVerdict::kNoVerdict},
                                                       {"not split", JobVerdict::kNotSplit}};
  const auto cases = testing::ReadCases(VORNLINK_TEST_DATA_DIR, "job_verdicts.txt");
  ASSERT_EQ(cases.size(), 7u);
  for (const testing::TextCase& c : cases) {
    const std::vector<std::string>& f = c.fields;  // verdict, reply, TP, job, line
    setup_.transport = f.at(2);
    Write(setup_);
    std::istringstream reply(f.at(1));
    std::string ro_number, line_code, error_code;
    reply >> ro_number >> line_code >> error_code;
    reply_ = f[1].empty() ? "" : ValidationReply(ro_number, line_code, error_code);
    EXPECT_EQ(ValidateJob(f.at(3), nullptr), kVerdicts.at(f.at(0))) << c.where;
    EXPECT_EQ(Outcomes(), Lines{f.at(4)}) << c.where;
  }
  // The validation query ends with a carriage return before its NUL.
  EXPECT_EQ(dms_.requests().back(),
            std::string("<job><ro>123456</ro><line>A</line></job>\n\r") + '\0');
}

// The emulated DMS's canned replies drive each exchange to its outcome.
TEST_F(ExchangesTest, CannedRepliesOfTheEmulatedDms) {
  setup_.forward_code_spec = ":insertResponse/returnCode";
  setup_.success_codes = "0";
  setup_.retry_codes = "2";
  Write(setup_);
  for (auto [canned, outcome] : {std::pair{CannedReply::kFwtSuccess, ForwardOutcome::kSuccess},
                                 {CannedReply::kFwtRetry, ForwardOutcome::kRetryLater},
                                 {CannedReply::kFwtFailed, ForwardOutcome::kNeedsAttention}}) {
    reply_ = CannedReplyText(canned);
    EXPECT_EQ(Forward().first, outcome) << CannedReplyName(canned);
  }
  reply_ = CannedReplyText(CannedReply::kJobValid);
  EXPECT_EQ(ValidateJob("118739.B", nullptr), JobVerdict::kValid);
  reply_ = CannedReplyText(CannedReply::kJobNotValid);
  EXPECT_EQ(ValidateJob("118739.B", nullptr), JobVerdict::kNotValid);
}

// The HTTP test server echoes the query, so the template is the reply; the length announced is that
// of the query as sent, without the template's indent. The forward exchange's header carries the
// booking key where it says %@TK; the validation has none and sends the text as it stands.
TEST_F(ExchangesTest, BothExchangesOverHttp) {
  const testing::HttpTestServers& servers = testing::TestServers();
  ASSERT_TRUE(servers.ok) << servers.error;
  const std::string tag = testing::UniqueTag();
  setup_.transport = "HTTP";
  setup_.url = servers.Url("http", "/echo?" + tag);
  setup_.header = "X-Query-Length: DynLength\nIdempotency-Key: %@TK";
  setup_.forward_query = ForwardReply("success", "trans %@01");
  setup_.validation_query = ValidationReply("%@01", "%@11", "0");
  Write(setup_);
  EXPECT_EQ(Forward().first, ForwardOutcome::kSuccess);
  EXPECT_EQ(ValidateJob("123456.A", nullptr), JobVerdict::kValid);
  std::string logged;
  for (const std::string& line : log_.Take()) logged += line + "\n";
  EXPECT_EQ(logged.find("pw-s3cret"), std::string::npos);
  EXPECT_NE(logged.find("h FWT PassWord          [********]"), std::string::npos) << logged;

  const Lines records = servers.RecordedWith(tag);
  ASSERT_EQ(records.size(), 2u);
  for (const std::string& record : records) {
    const size_t body = record.find("\"body\": \"") + 9;
    const std::string length = std::to_string((record.find('"', body) - body) / 2);
    EXPECT_NE(record.find("[\"X-Query-Length\", \"" + length + "\"]"), std::string::npos) << record;
  }
  EXPECT_NE(records[0].find("[\"Idempotency-Key\", \"" + BookingKey(kTransaction) + "\"]"),
            std::string::npos)
      << records[0];
  EXPECT_NE(records[1].find("[\"Idempotency-Key\", \"%@TK\"]"), std::string::npos) << records[1];
}

}  // namespace
}  // namespace vornlink
