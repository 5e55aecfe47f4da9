#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "exchange/reply_peel.h"
#include "exchange/result_list.h"
#include "log/log.h"
#include "testing/log_recorder.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using Lines = std::vector<std::string>;

using testing::LogRecorder;

class ReplyTest : public ::testing::Test {
 protected:
  testing::ScopedFakeEnv env_;
  LogRecorder log_{env_.dir().File("kmr.log"), "+cdhinprst"};
};

// A reply as one line, the way most SOAP stacks send it; the DMS chose the
// prefix "ns2".
constexpr char kInsertReply[] =
    "<?xml version='1.0' encoding='UTF-8'?><S:Envelope "
    "xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\"><S:Body><ns2:insertResponse "
    "xmlns:ns2=\"http://dms.example.com/fluid\"><return><code>success</code><description>"
    "Transaction booked</description></return></ns2:insertResponse></S:Body></S:Envelope>";

// A pretty-printed reply whose elements carry the prefix "m".
constexpr char kValidateReply[] =
    "<?xml version=\"1.0\"?>\n"
    "<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\">\n"
    "  <soapenv:Body>\n"
    "    <m:ValidateJobResponse xmlns:m=\"urn:dms:jobs\">\n"
    "      <m:RONumber>123456</m:RONumber>\n"
    "      <m:Result>0</m:Result>\n"
    "\t\t<m:Description>Job open</m:Description>\n"
    "    </m:ValidateJobResponse>\n"
    "  </soapenv:Body>\n"
    "</soapenv:Envelope>\n";

constexpr char kNoCode[] = "Reply: c[ ] t[Response has zero length after code peel]";

PeelOptions Forward(bool peel) { return {ExchangeKind::kForwardTransaction, peel}; }
PeelOptions Validation(bool peel) { return {ExchangeKind::kJobValidation, peel}; }

TEST_F(ReplyTest, NormaliseBreaksBetweenAdjacentTagsAndLogsTheResult) {
  EXPECT_EQ(NormaliseReply("><><"), ">\r\n<>\r\n<");
  EXPECT_EQ(NormaliseReply("> <\n>x<"), "> <\n>x<");
  EXPECT_EQ(NormaliseReply("<a><b>x</b></a>"), "<a>\r\n<b>x</b>\r\n</a>");
  EXPECT_EQ(log_.Take().back(), "r              Reply from DMS[\r\n<a>\r\n<b>x</b>\r\n</a>]");
}

TEST_F(ReplyTest, PeelFindsTheElementOrFails) {
  const std::string insert = NormaliseReply(kInsertReply);
  const std::string other = NormaliseReply(
      "<soap:Envelope xmlns:soap=\"urn:e\"><soap:Body><dms7:insertResponse "
      "xmlns:dms7=\"urn:d\"><dms7:code>RETRY</dms7:code></dms7:insertResponse></soap:Body>"
      "</soap:Envelope>");
  const std::string none;
  const struct {
    const std::string& reply;
    const char* path;  // "Level/Parameter"
    bool peel;
    const char* expected;
  } kCases[] = {
      // Without peel the first line with the element decides, whatever the
      // level; nothing fails.
      {insert, ":insertResponse/code", false, "success"},
      {insert, "whatever/code", false, "success"},
      {insert, "x/Code", false, ""},
      {insert, ":updateResponse/x", false, ""},
      // With peel the reply is cut to the level, found with the reply's own
      // prefix, which must be there.
      {insert, ":insertResponse/code", true, "success"},
      {insert, "return/code", true, "success"},
      {other, ":insertResponse/:code", true, "RETRY"},
      {other, ":insertResponse/code", true, ""},
      {insert, ":updateResponse/code", true, kNoCode},
      {insert, "code", true, kNoCode},  // an empty level, whose "</>" is not there
      {none, ":insertResponse/code", true, kNoCode},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(testing::TextOrFailure([&] { return PeelCode(c.reply, c.path, Forward(c.peel)); }),
              c.expected);
  }
  EXPECT_EQ(testing::TextOrFailure(
                [&] { return PeelText(insert, "nothing/description", Validation(true)); }),
            "Reply: c[ ] t[Response has zero length after description peel]");

  for (const std::string& raw : {std::string(kValidateReply), testing::WithCrLf(kValidateReply)}) {
    std::string reply = NormaliseReply(raw);
    EXPECT_EQ(PeelCode(reply, ":ValidateJobResponse/:Result", Validation(true)), "0");
    EXPECT_EQ(PeelText(reply, ":ValidateJobResponse/:Description", Validation(true)), "Job open");
    EXPECT_EQ(PeelCode(reply, "x/m:Result", Validation(false)), "0");
  }
}

TEST_F(ReplyTest, ElementTextNeedsTheElementAtTheStartOfAWholeLine) {
  EXPECT_EQ(ElementText("a/code", "<code>7</code>\r\n"), "7");
  EXPECT_EQ(ElementText("a/code", "  \t<code>7</code>\n"), "7");
  // The last line, without a line feed, is never looked at.
  EXPECT_EQ(ElementText("a/code", "<r>\r\n<code>7</code>"), "");
  // The first line that holds the tag decides, even when it gives nothing.
  EXPECT_EQ(ElementText("a/code", "<code>\r\n7\r\n</code>\r\n<code>8</code>\r\n"), "");
  // Lines shorter than the cuts give an empty text.
  EXPECT_EQ(ElementText("a/code", "<code></code>\n"), "");
  EXPECT_EQ(ElementText("a/code", "<code>x\n"), "");
  // Tags are cut by length: what else stands on the line stays in.
  EXPECT_EQ(ElementText("a/code", "<code>7</code> \r\n"), "7<");
  EXPECT_EQ(ElementText("a/code", "<code attr=\"1\">7</code>\r\n"), "");
  // Only the part after the first '/' up to a second one names the element.
  EXPECT_EQ(ElementText("a/code/text", "<code>7</code>\r\n"), "7");
  EXPECT_EQ(ElementText("code", "<code>7</code>\r\n"), "");
  EXPECT_EQ(ElementText("", ""), "");
}

TEST_F(ReplyTest, PrefixAndCutAreFoundByPlainText) {
  EXPECT_EQ(NamespacePrefix("<a><ns2:insertResponse x=\"1\">", ":insertResponse"), "ns2");
  EXPECT_EQ(NamespacePrefix("<insertResponse>", ":insertResponse"), "");
  EXPECT_EQ(NamespacePrefix("ns2:insertResponse", ":insertResponse"), "");
  EXPECT_EQ(NamespacePrefix("<a xmlns:insertResponse=\"u\">", ":insertResponse"), "a xmlns");
  EXPECT_EQ(NamespacePrefix("<x:y>", ""), "");

  EXPECT_EQ(CutToElement("x<a k=\"v\">1</a><a>2</a>", "a"), "<a k=\"v\">1</a>");
  EXPECT_EQ(CutToElement("no opening</a>tail", "a"), "no opening</a>");
  EXPECT_EQ(CutToElement("<a>no closing", "a"), "");
  EXPECT_EQ(CutToElement("<abc>1</abc></a>", "a"), "<abc>1</abc></a>");
}

TEST_F(ReplyTest, PeelLogsEachStepTheWayOfItsExchange) {
  std::string reply = NormaliseReply(kInsertReply);
  const std::string inner =
      "<return>\r\n<code>success</code>\r\n<description>Transaction booked</description>\r\n"
      "</return>";
  log_.Take();
  LogPeelSwitch(ExchangeKind::kForwardTransaction, "1");
  PeelCode(reply, ":insertResponse/code", Forward(true));
  PeelText(reply, "return/description", Forward(true));
  EXPECT_EQ(log_.Take(), (Lines{
                             "r             FWT enable peel[1]",
                             "p                       Level[:insertResponse]",
                             "n                Name space: [ns2]",
                             "n       Level with name space[ns2:insertResponse]",
                             "p       Lable length to use: [21]",
                             "p            Reply after peel[\r\n<ns2:insertResponse "
                             "xmlns:ns2=\"http://dms.example.com/fluid\">\r\n" +
                                 inner + "\r\n</ns2:insertResponse>]",
                             "p                   Parameter[code]",
                             "n        Parameter with level[ns2:insertResponse/code]",
                             "r                      Result[success]",
                             "p                       Level[return]",
                             "p       Lable length to use: [9]",
                             "p            Reply after peel[\r\n" + inner + "]",
                             "p                   Parameter[description]",
                             "p        Parameter with level[return/description]",
                             "r                 Description[Transaction booked]",
                         }));

  // The job validation logs its description itself.
  const std::string job =
      "<m:Job>\r\n<m:Result>0</m:Result>\r\n<m:Text>Job open</m:Text>\r\n</m:Job>";
  LogPeelSwitch(ExchangeKind::kJobValidation, "1");
  PeelCode(job, "m:Job/m:Result", Validation(true));
  PeelText(job, "m:Job/:Text", Validation(true));
  EXPECT_EQ(log_.Take(), (Lines{
                             "p             IJV enable peel[1]",
                             "p                       Level[m:Job]",
                             "p       Lable length to use: [8]",
                             "p            Reply after peel[\r\n" + job + "]",
                             "p                   Parameter[m:Result]",
                             "p        Parameter with level[m:Job/m:Result]",
                             "r                      Result[0]",
                             "p                       Level[m:Job]",
                             "p       Lable length to use: [8]",
                             "p            Reply after peel[\r\n" + job + "]",
                             "p                   Parameter[:Text]",
                             "n                Name space: [m]",
                             "n   Parameter with name space[m:Job/m:Text]",
                         }));

  // Without peel only the results are logged.
  PeelCode(reply, ":insertResponse/code", Forward(false));
  PeelText(job, "m:Job/m:Text", Validation(false));
  LogDescription("Job open");
  EXPECT_EQ(log_.Take(), (Lines{"r                      Result[success]",
                                "r                 Description[Job open]"}));
}

TEST_F(ReplyTest, SplitsListsIntoAtMostFiveItems) {
  const std::pair<const char*, ListItems> kCases[] = {
      {"A,B,C", {"A", "B", "C", "", ""}},
      {"0,,5", {"0", ",5", "", "", ""}},
      {",A", {",A", "", "", "", ""}},
      {"A,B,", {"A", "B", "", "", ""}},
      {" 0 , 1", {" 0 ", " 1", "", "", ""}},
      {"1,2,3,4,5,6,7", {"1", "2", "3", "4", "5"}},
      {"", {}},
  };
  for (const auto& [list, items] : kCases) EXPECT_EQ(SplitList(list, CodeList::kSuccess), items);
  log_.Take();
  SplitList("OK,DONE", CodeList::kSuccess);
  SplitList("", CodeList::kRetryLater);
  SplitList("0,2", CodeList::kValid);
  EXPECT_EQ(log_.Take(), (Lines{
                             "s       Success [1] from .xml[OK]",
                             "s       Success [2] from .xml[DONE]",
                             "s         Retry [1] from .xml[]",
                             "s   Valid result[1] from .xml[0]",
                             "s   Valid result[2] from .xml[2]",
                         }));
}

TEST_F(ReplyTest, MatchFindsTheFirstEqualItemAndLogsEachComparison) {
  ListItems retry = SplitList("E1,,E2", CodeList::kRetryLater);  // "E1", ",E2"
  ListItems success = SplitList("a,b,a,c,d,e,f", CodeList::kSuccess);
  ListItems valid = SplitList("%s%n,2", CodeList::kValid);
  ListItems empty = SplitList("", CodeList::kValid);
  log_.Take();
  EXPECT_EQ(MatchList("E2", retry, CodeList::kRetryLater), 0);
  EXPECT_EQ(MatchList(",E2", retry, CodeList::kRetryLater), 2);
  EXPECT_EQ(log_.Take(), (Lines{
                             "r Compare  reply[E2] with spec[E1] -> (RETRYLATER spec index[1])",
                             "r Compare  reply[E2] with spec[,E2] -> (RETRYLATER spec index[2])",
                             "r Compare  reply[,E2] with spec[E1] -> (RETRYLATER spec index[1])",
                             "r Compare  reply[,E2] with spec[,E2] -> (RETRYLATER spec index[2])",
                         }));

  EXPECT_EQ(MatchList("a", success, CodeList::kSuccess), 1);
  EXPECT_EQ(MatchList("d", success, CodeList::kSuccess), 5);
  EXPECT_EQ(MatchList("f", success, CodeList::kSuccess), 0);
  EXPECT_EQ(MatchList("A", success, CodeList::kSuccess), 0);
  Lines compared = log_.Take();
  ASSERT_EQ(compared.size(), 1u + 5u + 5u + 5u);
  EXPECT_EQ(compared[0], "r Compare  reply[a] with spec[a] -> (SUCCESS spec index[1])");

  // Codes are logged as they are; an empty code matches nothing.
  EXPECT_EQ(MatchList("%d", valid, CodeList::kValid), 0);
  EXPECT_EQ(MatchList("", empty, CodeList::kValid), 0);
  EXPECT_EQ(log_.Take(), (Lines{
                             "r Compare  reply[%d] with spec[%s%n] -> (VALID spec index[1])",
                             "r Compare  reply[%d] with spec[2] -> (VALID spec index[2])",
                         }));
}

TEST_F(ReplyTest, ReadsAndLogsTheResultSettingsOfEachExchange) {
  testing::WriteBytes(
      env_.ModuleFile("xml"),
      testing::OnDisk("<KMR>\n<ForwardTransactionResult>\n<Result>:insertResponse/code</Result>\n"
                      "<Description>:insertResponse/text</Description>\n"
                      "<SuccessResult>success,0</SuccessResult>\n<RetryResult>busy</RetryResult>\n"
                      "</ForwardTransactionResult>\n<IsJobValidResult>\n"
                      "<Result>:validateResponse/code</Result>\n<ValidResult>0,2</ValidResult>\n"
                      "<RetryResult>never read</RetryResult>\n</IsJobValidResult>\n</KMR>\n"));
  ResultSettings forward = ReadResultSettings(ExchangeKind::kForwardTransaction);
  ResultSettings validation = ReadResultSettings(ExchangeKind::kJobValidation);
  EXPECT_EQ(forward.second_list, "busy");
  EXPECT_EQ(validation.second_list, "");
  EXPECT_EQ(log_.Take(), (Lines{
                             "s            Result from .xml[:insertResponse/code]",
                             "s       Description from .xml[:insertResponse/text]",
                             "s   Valid result(s) from .xml[success,0]",
                             "s   Retry result(s) from .xml[busy]",
                             "s            Result from .xml[:validateResponse/code]",
                             "s       Description from .xml[]",
                             "s   Valid result(s) from .xml[0,2]",
                         }));
}

}  // namespace
}  // namespace vornlink
