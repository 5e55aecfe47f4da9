#include "exchange/result_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exchange/log_capture.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using testing::LogEntry;

class ResultListTest : public ::testing::Test {
 protected:
  ResultListTest() : log_(env_.dir().File("kmr.log"), "+cdhinprst") {}

  testing::ScopedFakeEnv env_;
  testing::LogCapture log_;
};

TEST_F(ResultListTest, SplitsAtMostFiveItems) {
  EXPECT_EQ(SplitList("A,B,C", CodeList::kSuccess), (ListItems{"A", "B", "C", "", ""}));
  EXPECT_EQ(SplitList("0,,5", CodeList::kSuccess), (ListItems{"0", ",5", "", "", ""}));
  EXPECT_EQ(SplitList(",A", CodeList::kSuccess), (ListItems{",A", "", "", "", ""}));
  EXPECT_EQ(SplitList("A,B,", CodeList::kSuccess), (ListItems{"A", "B", "", "", ""}));
  EXPECT_EQ(SplitList(" 0 , 1", CodeList::kSuccess), (ListItems{" 0 ", " 1", "", "", ""}));
  EXPECT_EQ(SplitList("1,2,3,4,5,6,7", CodeList::kSuccess), (ListItems{"1", "2", "3", "4", "5"}));
  EXPECT_EQ(SplitList("1,2,3,4,5,", CodeList::kSuccess), (ListItems{"1", "2", "3", "4", "5"}));
  EXPECT_EQ(SplitList("", CodeList::kSuccess), ListItems{});
}

TEST_F(ResultListTest, LogsEveryItemItSets) {
  SplitList("OK,DONE", CodeList::kSuccess);
  SplitList("", CodeList::kRetryLater);
  SplitList("0,2", CodeList::kValid);
  EXPECT_EQ(log_.Messages('s'), (std::vector<std::string>{
                                    "      Success [1] from .xml[OK]",
                                    "      Success [2] from .xml[DONE]",
                                    "        Retry [1] from .xml[]",
                                    "  Valid result[1] from .xml[0]",
                                    "  Valid result[2] from .xml[2]",
                                }));
}

TEST_F(ResultListTest, MatchFindsTheFirstEqualItemAndLogsEachComparison) {
  ListItems items = SplitList("E1,,E2", CodeList::kRetryLater);  // "E1", ",E2"
  EXPECT_EQ(MatchList("E2", items, CodeList::kRetryLater), 0);
  EXPECT_EQ(MatchList(",E2", items, CodeList::kRetryLater), 2);

  ListItems five = SplitList("a,b,a,c,d,e,f", CodeList::kSuccess);
  EXPECT_EQ(MatchList("a", five, CodeList::kSuccess), 1);
  EXPECT_EQ(MatchList("d", five, CodeList::kSuccess), 5);
  EXPECT_EQ(MatchList("f", five, CodeList::kSuccess), 0);
  EXPECT_EQ(MatchList("A", five, CodeList::kSuccess), 0);

  std::vector<std::string> compared = log_.Messages('r');
  ASSERT_EQ(compared.size(), 2u + 2u + 1u + 5u + 5u + 5u);
  EXPECT_EQ(compared[0], "Compare  reply[E2] with spec[E1] -> (RETRYLATER spec index[1])");
  EXPECT_EQ(compared[1], "Compare  reply[E2] with spec[,E2] -> (RETRYLATER spec index[2])");
  EXPECT_EQ(compared[4], "Compare  reply[a] with spec[a] -> (SUCCESS spec index[1])");
  EXPECT_EQ(compared[9], "Compare  reply[d] with spec[d] -> (SUCCESS spec index[5])");
}

TEST_F(ResultListTest, EmptyCodeOrEmptyListNeverMatches) {
  ListItems items = SplitList("0,2", CodeList::kValid);
  EXPECT_EQ(MatchList("", items, CodeList::kValid), 0);
  EXPECT_EQ(MatchList("0", ListItems{}, CodeList::kValid), 0);
  EXPECT_EQ(MatchList("0", SplitList("", CodeList::kValid), CodeList::kValid), 0);
  EXPECT_EQ(MatchList("2", items, CodeList::kValid), 2);
  EXPECT_EQ(log_.Messages('r'), (std::vector<std::string>{
                                    "Compare  reply[] with spec[0] -> (VALID spec index[1])",
                                    "Compare  reply[] with spec[2] -> (VALID spec index[2])",
                                    "Compare  reply[2] with spec[0] -> (VALID spec index[1])",
                                    "Compare  reply[2] with spec[2] -> (VALID spec index[2])",
                                }));
}

TEST_F(ResultListTest, CodesWithPercentSignsAreLoggedAsTheyAre) {
  ListItems items = SplitList("%s%n", CodeList::kSuccess);
  EXPECT_EQ(MatchList("%d", items, CodeList::kSuccess), 0);
  EXPECT_EQ(
      log_.Messages('r'),
      (std::vector<std::string>{"Compare  reply[%d] with spec[%s%n] -> (SUCCESS spec index[1])"}));
}

TEST_F(ResultListTest, ReadsAndLogsTheSettingsOfEachExchange) {
  testing::WriteBytes(env_.ModuleFile("xml"),
                      testing::OnDisk("<KMR>\n"
                                      "  <ForwardTransactionResult>\n"
                                      "    <Result>:insertResponse/code</Result>\n"
                                      "    <Description>:insertResponse/text</Description>\n"
                                      "    <SuccessResult>success,0</SuccessResult>\n"
                                      "    <RetryResult>busy</RetryResult>\n"
                                      "  </ForwardTransactionResult>\n"
                                      "  <IsJobValidResult>\n"
                                      "    <Result>:validateResponse/code</Result>\n"
                                      "    <ValidResult>0,2</ValidResult>\n"
                                      "    <RetryResult>never read</RetryResult>\n"
                                      "  </IsJobValidResult>\n"
                                      "</KMR>\n"));
  ResultSettings forward = ReadResultSettings(ExchangeKind::kForwardTransaction);
  EXPECT_EQ(forward.code_spec, ":insertResponse/code");
  EXPECT_EQ(forward.text_spec, ":insertResponse/text");
  EXPECT_EQ(forward.first_list, "success,0");
  EXPECT_EQ(forward.second_list, "busy");
  ResultSettings validation = ReadResultSettings(ExchangeKind::kJobValidation);
  EXPECT_EQ(validation.code_spec, ":validateResponse/code");
  EXPECT_EQ(validation.text_spec, "");
  EXPECT_EQ(validation.first_list, "0,2");
  EXPECT_EQ(validation.second_list, "");
  EXPECT_EQ(log_.Messages('s'), (std::vector<std::string>{
                                    "           Result from .xml[:insertResponse/code]",
                                    "      Description from .xml[:insertResponse/text]",
                                    "  Valid result(s) from .xml[success,0]",
                                    "  Retry result(s) from .xml[busy]",
                                    "           Result from .xml[:validateResponse/code]",
                                    "      Description from .xml[]",
                                    "  Valid result(s) from .xml[0,2]",
                                }));
}

}  // namespace
}  // namespace vornlink
