#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "exchange/reply_peel.h"
#include "exchange/result_list.h"
#include "testing/case_file.h"
#include "testing/log_recorder.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

class ReplyTest : public ::testing::Test {
 protected:
  // The entries logged since the last take, each "flag message" and a line feed.
  std::string Taken() {
    std::string entries;
    for (const std::string& entry : log_.Take()) entries += entry + "\n";
    return entries;
  }

  testing::ScopedFakeEnv env_;
  testing::LogRecorder log_{env_.dir().File("kmr.log"), "+cdhinprst"};
};

const std::vector<testing::TextCase> kData =
    testing::ReadCases(VORNLINK_TEST_DATA_DIR, "replies.txt");

// The cases of data/replies.txt of `kind`.
std::vector<testing::TextCase> CasesOf(const std::string& kind) {
  std::vector<testing::TextCase> cases;
  for (const testing::TextCase& c : kData) {
    if (c.fields.at(0) == kind) cases.push_back(c);
  }
  EXPECT_FALSE(cases.empty()) << kind << " in " << VORNLINK_TEST_DATA_DIR;
  return cases;
}

// The body of the case `name`.
std::string Data(const std::string& name) {
  std::vector<testing::TextCase> cases = CasesOf(name);
  return cases.empty() ? "" : cases.front().body;
}

PeelOptions Forward(bool peel) { return {ExchangeKind::kForwardTransaction, peel}; }
PeelOptions Validation(bool peel) { return {ExchangeKind::kJobValidation, peel}; }

TEST_F(ReplyTest, NormaliseThenPeelFindsTheElementOrFails) {
  // Adjacent tags get a line break between them; the result is logged.
  EXPECT_EQ(NormaliseReply("><><"), ">\r\n<>\r\n<");
  EXPECT_EQ(NormaliseReply("<a><b>x</b></a>"), "<a>\r\n<b>x</b>\r\n</a>");
  EXPECT_EQ(log_.Take().back(),
            "r" + std::string(14, ' ') + "Reply from DMS[\r\n<a>\r\n<b>x</b>\r\n</a>]");

  for (const testing::TextCase& c : CasesOf("code")) {
    const std::string reply = c.fields.at(1) == "-" ? "" : NormaliseReply(Data(c.fields.at(1)));
    const PeelOptions options = Forward(c.fields.at(3) == "1");
    EXPECT_EQ(testing::TextOrFailure([&] { return PeelCode(reply, c.fields.at(2), options); }),
              c.fields.at(4))
        << c.where;
  }
  const std::string insert = NormaliseReply(Data("insert"));
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

TEST_F(ReplyTest, ElementTextNeedsTheElementAtTheStartOfAWholeLine) {
  for (const testing::TextCase& c : CasesOf("element"))
    EXPECT_EQ(ElementText(c.fields.at(1), c.fields.at(2)), c.fields.at(3)) << c.where;
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
  EXPECT_EQ(Taken(), Data("peel log"));
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
  EXPECT_EQ(Taken(), Data("split log"));

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
  EXPECT_EQ(Taken(), Data("compare log"));
}

TEST_F(ReplyTest, ReadsAndLogsTheResultSettingsOfEachExchange) {
  testing::WriteBytes(env_.ModuleFile("xml"), testing::OnDisk(Data("result settings")));
  ReadResultSettings(ExchangeKind::kForwardTransaction);
  EXPECT_EQ(ReadResultSettings(ExchangeKind::kJobValidation).second_list, "");
  EXPECT_EQ(Taken(), Data("result settings log"));
}

}  // namespace
}  // namespace vornlink
