#include "exchange/reply_peel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exchange/failure_text.h"
#include "exchange/log_capture.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using testing::LogEntry;

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

std::string WithCrLf(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
}

PeelOptions Forward(bool peel) { return {ExchangeKind::kForwardTransaction, peel}; }
PeelOptions Validation(bool peel) { return {ExchangeKind::kJobValidation, peel}; }

// The failure text of a peel, or "no failure: <result>".
template <typename Peel>
std::string FailureOf(Peel peel) {
  try {
    return "no failure: " + peel();
  } catch (const FailureText& failure) {
    return failure.text();
  }
}

class ReplyPeelTest : public ::testing::Test {
 protected:
  ReplyPeelTest() : log_(env_.dir().File("kmr.log"), "+cdhinprst") {}

  testing::ScopedFakeEnv env_;
  testing::LogCapture log_;
};

TEST_F(ReplyPeelTest, NormaliseBreaksBetweenAdjacentTagsAndLogsTheResult) {
  EXPECT_EQ(NormaliseReply("<a><b>x</b></a>"), "<a>\r\n<b>x</b>\r\n</a>");
  EXPECT_EQ(NormaliseReply("><><"), ">\r\n<>\r\n<");
  EXPECT_EQ(NormaliseReply("> <\n>x<"), "> <\n>x<");
  EXPECT_EQ(NormaliseReply(""), "");
  std::vector<std::string> lines = log_.Messages('r');
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "             Reply from DMS[\r\n<a>\r\n<b>x</b>\r\n</a>]");
  EXPECT_EQ(lines[3], "             Reply from DMS[\r\n]");
}

TEST_F(ReplyPeelTest, WithoutPeelTheElementIsFoundInTheWholeReply) {
  std::string reply = NormaliseReply(kInsertReply);
  for (const char* spec : {":insertResponse/code", "/code", "whatever/code"}) {
    EXPECT_EQ(PeelCode(reply, spec, Forward(false)), "success") << spec;
  }
  EXPECT_EQ(PeelText(reply, "x/description", Forward(false)), "Transaction booked");
  // Element names are compared exactly.
  EXPECT_EQ(PeelCode(reply, "x/Code", Forward(false)), "");
  EXPECT_EQ(PeelCode(reply, "x/missing", Forward(false)), "");
}

TEST_F(ReplyPeelTest, PeelFindsTheLevelByTheServersPrefix) {
  std::string reply = NormaliseReply(kInsertReply);
  EXPECT_EQ(PeelCode(reply, ":insertResponse/code", Forward(true)), "success");
  EXPECT_EQ(PeelText(reply, ":insertResponse/description", Forward(true)), "Transaction booked");
  EXPECT_EQ(PeelCode(reply, "return/code", Forward(true)), "success");

  // Another server, another prefix, and prefixed inner elements.
  std::string other = NormaliseReply(
      "<soap:Envelope xmlns:soap=\"urn:e\"><soap:Body><dms7:insertResponse "
      "xmlns:dms7=\"urn:d\"><dms7:code>RETRY</dms7:code><dms7:text>Busy"
      "</dms7:text></dms7:insertResponse></soap:Body></soap:Envelope>");
  EXPECT_EQ(PeelCode(other, ":insertResponse/:code", Forward(true)), "RETRY");
  EXPECT_EQ(PeelText(other, ":insertResponse/:text", Forward(true)), "Busy");
  EXPECT_EQ(PeelCode(other, ":insertResponse/code", Forward(true)), "");
}

TEST_F(ReplyPeelTest, PrettyPrintedRepliesWithEitherLineEnd) {
  for (const std::string& raw : {std::string(kValidateReply), WithCrLf(kValidateReply)}) {
    std::string reply = NormaliseReply(raw);
    EXPECT_EQ(PeelCode(reply, ":ValidateJobResponse/:Result", Validation(true)), "0");
    EXPECT_EQ(PeelText(reply, ":ValidateJobResponse/:Description", Validation(true)), "Job open");
    EXPECT_EQ(PeelCode(reply, "x/m:Result", Validation(false)), "0");
    EXPECT_EQ(PeelText(reply, "x/m:Description", Validation(false)), "Job open");
  }
}

TEST_F(ReplyPeelTest, MissingLevelFailsThePeel) {
  std::string reply = NormaliseReply(kInsertReply);
  EXPECT_EQ(FailureOf([&] { return PeelCode(reply, ":updateResponse/code", Forward(true)); }),
            "Reply: c[ ] t[Response has zero length after code peel]");
  EXPECT_EQ(FailureOf([&] { return PeelText(reply, "nothing/description", Validation(true)); }),
            "Reply: c[ ] t[Response has zero length after description peel]");
  // A spec without '/' has an empty Level, whose closing tag "</>" is not there.
  EXPECT_EQ(FailureOf([&] { return PeelCode(reply, "code", Forward(true)); }),
            "Reply: c[ ] t[Response has zero length after code peel]");
  EXPECT_EQ(FailureOf([&] { return PeelCode("", ":insertResponse/code", Forward(true)); }),
            "Reply: c[ ] t[Response has zero length after code peel]");
  // Without peel nothing fails: the code is just empty.
  EXPECT_EQ(FailureOf([&] { return PeelCode(reply, ":updateResponse/x", Forward(false)); }),
            "no failure: ");
}

TEST_F(ReplyPeelTest, ElementTextNeedsTheElementAtTheStartOfAWholeLine) {
  EXPECT_EQ(ElementText("a/code", "<code>7</code>\r\n"), "7");
  EXPECT_EQ(ElementText("a/code", "  \t<code>7</code>\n"), "7");
  // The last line, without a line feed, is never looked at.
  EXPECT_EQ(ElementText("a/code", "<r>\r\n<code>7</code>"), "");
  // The first line that holds the tag decides, even when it gives nothing.
  EXPECT_EQ(ElementText("a/code", "<code>\r\n7\r\n</code>\r\n<code>8</code>\r\n"), "");
  // Lines shorter than the cuts give an empty text.
  EXPECT_EQ(ElementText("a/code", "<code>\n"), "");
  EXPECT_EQ(ElementText("a/code", "<code></code>\n"), "");
  EXPECT_EQ(ElementText("a/code", "<code>x\n"), "");
  // Tags are cut by length: what else stands on the line stays in.
  EXPECT_EQ(ElementText("a/code", "<code>7</code> \r\n"), "7<");
  // An opening tag with attributes is not the opening tag.
  EXPECT_EQ(ElementText("a/code", "<code attr=\"1\">7</code>\r\n"), "");
  // Only the part after the first '/' up to a second one names the element.
  EXPECT_EQ(ElementText("a/code/text", "<code>7</code>\r\n"), "7");
  EXPECT_EQ(ElementText("code", "<code>7</code>\r\n"), "");
  EXPECT_EQ(ElementText("", ""), "");
}

TEST_F(ReplyPeelTest, NamespacePrefixIsWhatStandsAfterTheLastAngleBracket) {
  EXPECT_EQ(NamespacePrefix("<a><ns2:insertResponse x=\"1\">", ":insertResponse"), "ns2");
  EXPECT_EQ(NamespacePrefix("<insertResponse>", ":insertResponse"), "");
  EXPECT_EQ(NamespacePrefix("ns2:insertResponse", ":insertResponse"), "");
  EXPECT_EQ(NamespacePrefix("<a xmlns:insertResponse=\"u\">", ":insertResponse"), "a xmlns");
  EXPECT_EQ(NamespacePrefix("<x:y>", ""), "");
}

TEST_F(ReplyPeelTest, CutToElementKeepsTheFirstElementWhole) {
  EXPECT_EQ(CutToElement("x<a k=\"v\">1</a><a>2</a>", "a"), "<a k=\"v\">1</a>");
  EXPECT_EQ(CutToElement("no opening</a>tail", "a"), "no opening</a>");
  EXPECT_EQ(CutToElement("<a>no closing", "a"), "");
  EXPECT_EQ(CutToElement("<abc>1</abc></a>", "a"), "<abc>1</abc></a>");
}

TEST_F(ReplyPeelTest, ForwardPeelLogsEachStep) {
  std::string reply = NormaliseReply(kInsertReply);
  std::string peeled =
      "<ns2:insertResponse xmlns:ns2=\"http://dms.example.com/fluid\">\r\n<return>\r\n"
      "<code>success</code>\r\n<description>Transaction booked</description>\r\n</return>\r\n"
      "</ns2:insertResponse>";
  size_t before = log_.Entries().size();
  LogPeelSwitch(ExchangeKind::kForwardTransaction, "1");
  PeelCode(reply, ":insertResponse/code", Forward(true));
  PeelText(reply, ":insertResponse/description", Forward(true));
  std::vector<LogEntry> entries = log_.Entries();
  entries.erase(entries.begin(), entries.begin() + before);
  std::vector<LogEntry> expected = {
      {'r', "            FWT enable peel[1]"},
      {'p', "                      Level[:insertResponse]"},
      {'n', "               Name space: [ns2]"},
      {'n', "      Level with name space[ns2:insertResponse]"},
      {'p', "      Lable length to use: [21]"},
      {'p', "           Reply after peel[\r\n" + peeled + "]"},
      {'p', "                  Parameter[code]"},
      {'n', "       Parameter with level[ns2:insertResponse/code]"},
      {'r', "                     Result[success]"},
      {'p', "                      Level[:insertResponse]"},
      {'n', "               Name space: [ns2]"},
      {'n', "      Level with name space[ns2:insertResponse]"},
      {'p', "      Lable length to use: [21]"},
      {'p', "           Reply after peel[\r\n" + peeled + "]"},
      {'p', "                  Parameter[description]"},
      {'p', "       Parameter with level[ns2:insertResponse/description]"},
      {'r', "                Description[Transaction booked]"},
  };
  EXPECT_EQ(entries, expected);
}

TEST_F(ReplyPeelTest, ValidationPeelLogsItsOwnWay) {
  std::string reply = NormaliseReply(WithCrLf(kValidateReply));
  size_t before = log_.Entries().size();
  LogPeelSwitch(ExchangeKind::kJobValidation, "1");
  PeelCode(reply, "m:ValidateJobResponse/m:Result", Validation(true));
  PeelText(reply, "m:ValidateJobResponse/:Description", Validation(true));
  LogDescription("Job open");
  std::vector<LogEntry> entries = log_.Entries();
  entries.erase(entries.begin(), entries.begin() + before);
  std::vector<std::string> lines;
  for (const LogEntry& entry : entries) {
    if (entry.message.find("Reply after peel") == std::string::npos) {
      lines.push_back(std::string(1, entry.flag) + " " + entry.message);
    }
  }
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "p             IJV enable peel[1]",
                       "p                       Level[m:ValidateJobResponse]",
                       "p       Lable length to use: [24]",
                       "p                   Parameter[m:Result]",
                       "p        Parameter with level[m:ValidateJobResponse/m:Result]",
                       "r                      Result[0]",
                       "p                       Level[m:ValidateJobResponse]",
                       "p       Lable length to use: [24]",
                       "p                   Parameter[:Description]",
                       "n                Name space: [m]",
                       "n   Parameter with name space[m:ValidateJobResponse/m:Description]",
                       "r                 Description[Job open]",
                   }));
}

TEST_F(ReplyPeelTest, WithoutPeelOnlyTheResultsAreLogged) {
  std::string reply = NormaliseReply(kInsertReply);
  size_t before = log_.Entries().size();
  PeelCode(reply, ":insertResponse/code", Forward(false));
  PeelText(reply, ":insertResponse/description", Forward(false));
  PeelText(reply, ":insertResponse/description", Validation(false));
  std::vector<LogEntry> entries = log_.Entries();
  entries.erase(entries.begin(), entries.begin() + before);
  EXPECT_EQ(entries,
            (std::vector<LogEntry>{{'r', "                     Result[success]"},
                                   {'r', "                Description[Transaction booked]"}}));
}

TEST(ReplyPeelQuietTest, SwitchedOffFlagsWriteNothing) {
  testing::ScopedFakeEnv env;
  testing::LogCapture log(env.dir().File("kmr.log"), "+cdhist");
  std::string reply = NormaliseReply(kInsertReply);
  LogPeelSwitch(ExchangeKind::kJobValidation, "1");
  EXPECT_EQ(PeelCode(reply, ":insertResponse/code", Forward(true)), "success");
  EXPECT_TRUE(log.Entries().empty());
}

}  // namespace
}  // namespace vornlink
