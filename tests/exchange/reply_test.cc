#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "exchange/reply_peel.h"
#include "exchange/result_list.h"
#include "testing/case_file.h"
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

// The body of the case `name` of data/replies.txt.
std::string Data(const std::string& name) {
  for (const testing::TextCase& c : testing::ReadCases(VORNLINK_TEST_DATA_DIR, "replies.txt")) {
    if (c.fields.at(0) == name) return c.body;
  }
  ADD_FAILURE() << "no " << name << " in " << VORNLINK_TEST_DATA_DIR;
  return "";
}

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

  const std::string insert = NormaliseReply(Data("insert"));
  const std::string other = NormaliseReply(Data("other"));
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

  for (const std::string& raw : {Data("validate"), testing::WithCrLf(Data("validate"))}) {
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
  const std::string reply = NormaliseReply(Data("insert"));
  const std::string job =
      "<m:Job>\r\n<m:Result>0</m:Result>\r\n<m:Text>Job open</m:Text>\r\n</m:Job>";
  log_.Take();
  // Each step with its flag: the prefix found, the cut, the path used.
  LogPeelSwitch(ExchangeKind::kForwardTransaction, "1");
  PeelCode(reply, ":insertResponse/code", Forward(true));
  PeelText(reply, "return/description", Forward(true));
  // The job validation logs its description itself.
  LogPeelSwitch(ExchangeKind::kJobValidation, "1");
  PeelCode(job, "m:Job/m:Result", Validation(true));
  PeelText(job, "m:Job/:Text", Validation(true));
  // Without peel only the results are logged.
  PeelCode(reply, ":insertResponse/code", Forward(false));
  PeelText(job, "m:Job/m:Text", Validation(false));
  LogDescription("Job open");
  std::string entries;
  for (const std::string& entry : log_.Take()) entries += entry + "\n";
  EXPECT_EQ(entries, Data("peel log"));
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
  testing::WriteBytes(env_.ModuleFile("xml"), testing::OnDisk(Data("result settings")));
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
