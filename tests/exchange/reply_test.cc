#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "exchange/reply_peel.h"
#include "exchange/result_list.h"
#include "testing/log_recorder.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using Lines = std::vector<std::string>;

class ReplyTest : public ::testing::Test {
 protected:
  testing::ScopedFakeEnv env_;
  testing::LogRecorder log_{env_.dir().File("kmr.log"), "+cdhinprst"};
};

// A reply in one line, as most SOAP stacks send it, with the prefix "ns2".
constexpr char kInsertReply[] =
    "<?xml version='1.0' encoding='UTF-8'?><S:Envelope "
    "xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\"><S:Body><ns2:insertResponse "
    "xmlns:ns2=\"http://dms.example.com/fluid\"><return><code>success</code><description>"
    "Transaction booked</description></return></ns2:insertResponse></S:Body></S:Envelope>";

// A pretty-printed reply whose elements carry the prefix "m".
constexpr char kValidateReply[] =
    "<?xml version=\"1.0\"?>\n<soapenv:Envelope xmlns:soapenv=\"urn:soap\">\n  <soapenv:Body>\n"
    "    <m:ValidateJobResponse xmlns:m=\"urn:dms:jobs\">\n      <m:RONumber>123456</m:RONumber>\n"
    "      <m:Result>0</m:Result>\n\t\t<m:Description>Job open</m:Description>\n"
    "    </m:ValidateJobResponse>\n  </soapenv:Body>\n</soapenv:Envelope>\n";

constexpr char kNoCode[] = "Reply: c[ ] t[Response has zero length after code peel]";

// A value under its label, right-aligned in 27 columns, as the steps log it.
std::string Entry(char flag, const std::string& label, const std::string& value) {
  return std::string(1, flag) + " " + std::string(27 - label.size(), ' ') + label + "[" + value +
         "]";
}

PeelOptions Forward(bool peel) { return {ExchangeKind::kForwardTransaction, peel}; }
PeelOptions Validation(bool peel) { return {ExchangeKind::kJobValidation, peel}; }

TEST_F(ReplyTest, NormaliseThenPeelFindsTheElementOrFails) {
  // Adjacent tags get a line break between them; the result is logged.
  EXPECT_EQ(NormaliseReply("><><"), ">\r\n<>\r\n<");
  EXPECT_EQ(NormaliseReply("<a><b>x</b></a>"), "<a>\r\n<b>x</b>\r\n</a>");
  EXPECT_EQ(log_.Take().back(), Entry('r', "Reply from DMS", "\r\n<a>\r\n<b>x</b>\r\n</a>"));

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
      // Without peel the first line with the element decides; nothing fails.
      {insert, ":insertResponse/code", false, "success"},
      {insert, "whatever/code", false, "success"},
      // With peel the reply is cut to the level, with the reply's own prefix.
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

// The first whole line (with a line feed) that holds the tag decides. Tags
// are cut by length: all else on the line stays in; a short line gives "".
TEST_F(ReplyTest, ElementTextNeedsTheElementAtTheStartOfAWholeLine) {
  using Case = std::tuple<const char*, const char*, const char*>;
  for (auto [spec, text, expected] :
       {Case{"a/code", "<code>7</code>\r\n", "7"}, Case{"a/code", "  \t<code>7</code>\n", "7"},
        Case{"a/code", "<r>\r\n<code>7</code>", ""},
        Case{"a/code", "<code>\r\n7\r\n</code>\r\n<code>8</code>\r\n", ""},
        Case{"a/code", "<code>x\n", ""}, Case{"a/code", "<code>7</code> \r\n", "7<"},
        Case{"a/code", "<code attr=\"1\">7</code>\r\n", ""},
        // Only the part after the first '/' up to a second one names the element.
        Case{"a/code/text", "<code>7</code>\r\n", "7"}, Case{"code", "<code>7</code>\r\n", ""}}) {
    EXPECT_EQ(ElementText(spec, text), expected) << spec << " " << text;
  }
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
  // The steps that show the prefix found, the cut and which flag each line has.
  const Lines forward = log_.Take();
  ASSERT_EQ(forward.size(), 15u);
  EXPECT_EQ(forward[0], Entry('r', "FWT enable peel", "1"));
  EXPECT_EQ(forward[2], Entry('n', "Name space: ", "ns2"));
  EXPECT_EQ(forward[3], Entry('n', "Level with name space", "ns2:insertResponse"));
  EXPECT_EQ(forward[4], Entry('p', "Lable length to use: ", "21"));
  EXPECT_EQ(forward[5],
            Entry('p', "Reply after peel",
                  "\r\n<ns2:insertResponse xmlns:ns2=\"http://dms.example.com/fluid\">\r\n" +
                      inner + "\r\n</ns2:insertResponse>"));
  EXPECT_EQ(forward[7], Entry('n', "Parameter with level", "ns2:insertResponse/code"));
  EXPECT_EQ(forward[13], Entry('p', "Parameter with level", "return/description"));
  EXPECT_EQ(forward[14], Entry('r', "Description", "Transaction booked"));
  // The job validation logs its description itself.
  const std::string job =
      "<m:Job>\r\n<m:Result>0</m:Result>\r\n<m:Text>Job open</m:Text>\r\n</m:Job>";
  LogPeelSwitch(ExchangeKind::kJobValidation, "1");
  PeelCode(job, "m:Job/m:Result", Validation(true));
  PeelText(job, "m:Job/:Text", Validation(true));
  const Lines validation = log_.Take();
  ASSERT_EQ(validation.size(), 13u);
  EXPECT_EQ(validation[0], Entry('p', "IJV enable peel", "1"));
  EXPECT_EQ(validation[5], Entry('p', "Parameter with level", "m:Job/m:Result"));
  EXPECT_EQ(validation[12], Entry('n', "Parameter with name space", "m:Job/m:Text"));
  // Without peel only the results are logged.
  PeelCode(reply, ":insertResponse/code", Forward(false));
  PeelText(job, "m:Job/m:Text", Validation(false));
  LogDescription("Job open");
  EXPECT_EQ(log_.Take(),
            (Lines{Entry('r', "Result", "success"), Entry('r', "Description", "Job open")}));
}

TEST_F(ReplyTest, ListsSplitIntoAtMostFiveItemsAndMatchTheFirstEqualOne) {
  const std::pair<const char*, ListItems> kCases[] = {
      {"A,B,C", {"A", "B", "C", "", ""}},
      {"0,,5", {"0", ",5", "", "", ""}},
      {",A", {",A", "", "", "", ""}},
      {"A,B,", {"A", "B", "", "", ""}},
      {"1,2,3,4,5,6,7", {"1", "2", "3", "4", "5"}},
      {"", {}},
  };
  for (const auto& [list, items] : kCases) EXPECT_EQ(SplitList(list, CodeList::kSuccess), items);
  log_.Take();
  SplitList("OK,DONE", CodeList::kSuccess);
  SplitList("", CodeList::kRetryLater);
  SplitList("0,2", CodeList::kValid);
  EXPECT_EQ(
      log_.Take(),
      (Lines{Entry('s', "Success [1] from .xml", "OK"), Entry('s', "Success [2] from .xml", "DONE"),
             Entry('s', "Retry [1] from .xml", ""), Entry('s', "Valid result[1] from .xml", "0"),
             Entry('s', "Valid result[2] from .xml", "2")}));

  // A match is the number of the first equal item; each comparison is logged.
  ListItems retry = SplitList("E1,,E2", CodeList::kRetryLater);  // "E1", ",E2"
  ListItems success = SplitList("a,b,a,c,d,e,f", CodeList::kSuccess);
  ListItems valid = SplitList("%s%n,2", CodeList::kValid);
  EXPECT_EQ(MatchList("E2", retry, CodeList::kRetryLater), 0);
  EXPECT_EQ(MatchList("d", success, CodeList::kSuccess), 5);
  log_.Take();
  EXPECT_EQ(MatchList(",E2", retry, CodeList::kRetryLater), 2);
  EXPECT_EQ(MatchList("a", success, CodeList::kSuccess), 1);
  // Codes are logged as they are; an empty code matches nothing.
  EXPECT_EQ(MatchList("%d", valid, CodeList::kValid), 0);
  EXPECT_EQ(MatchList("", ListItems{}, CodeList::kValid), 0);
  EXPECT_EQ(log_.Take(), (Lines{
                             "r Compare  reply[,E2] with spec[E1] -> (RETRYLATER spec index[1])",
                             "r Compare  reply[,E2] with spec[,E2] -> (RETRYLATER spec index[2])",
                             "r Compare  reply[a] with spec[a] -> (SUCCESS spec index[1])",
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
  ReadResultSettings(ExchangeKind::kForwardTransaction);
  EXPECT_EQ(ReadResultSettings(ExchangeKind::kJobValidation).second_list, "");
  EXPECT_EQ(log_.Take(), (Lines{Entry('s', "Result from .xml", ":insertResponse/code"),
                                Entry('s', "Description from .xml", ":insertResponse/text"),
                                Entry('s', "Valid result(s) from .xml", "success,0"),
                                Entry('s', "Retry result(s) from .xml", "busy"),
                                Entry('s', "Result from .xml", ":validateResponse/code"),
                                Entry('s', "Description from .xml", ""),
                                Entry('s', "Valid result(s) from .xml", "0,2")}));
}

}  // namespace
}  // namespace vornlink
