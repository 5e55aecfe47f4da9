// `vornlink try` against a DMS on loopback: both exchanges through the
// driver's code, shown step by step, with neither the cache nor the site's
// log touched.
#include "vornlink/try_command.h"

#include <gtest/gtest.h>

#include <sstream>

#include "dms_fixture.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

class TryTest : public ::testing::Test {
 protected:
  TryTest()
      : dms_([this](const std::string& request) {
          if (request.find("<job>") != std::string::npos) {
            return testing::ValidationReply(testing::Between(request, "<ro>", "</ro>"),
                                            testing::Between(request, "<line>", "</line>"), "0");
          }
          return testing::ForwardReply(forward_code_, "booked");
        }) {
    testing::DmsSetup setup;
    setup.port = dms_.port_text();
    setup.log_file = env_.ModuleFile("log");
    testing::WriteBytes(env_.ModuleFile("xml"), testing::SettingsDocument(setup));
  }

  int Try(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int status = RunTryCommand(env_.env().ModulePath(), args, out, err);
    out_ = out.str() + err.str();
    return status;
  }

  bool Says(const std::string& text) const { return out_.find(text) != std::string::npos; }

  testing::ScopedFakeEnv env_;
  std::string forward_code_ = "success";
  testing::ScriptedDms dms_;
  std::string out_;
};

TEST_F(TryTest, BothExchangesShownStepByStepAndNothingOfTheSiteWritten) {
  EXPECT_EQ(Try({"--transaction", "4711,654321.B,240607,081503,7,F04,12,3,Oil,OIL-1,2.5,0"}), 0)
      << out_;
  // The job number comes from the transaction.
  EXPECT_TRUE(Says("== Job validation of 654321.B")) << out_;
  EXPECT_TRUE(Says("connection       TCP 127.0.0.1 port " + dms_.port_text())) << out_;
  EXPECT_TRUE(Says("    | <job><ro>654321</ro><line>B</line></job>")) << out_;
  EXPECT_TRUE(Says("outcome          VALID")) << out_;
  EXPECT_TRUE(Says("    | <insert><trans>4711</trans><ro>654321</ro><line>B</line><qty>2.50</qty>"))
      << out_;
  EXPECT_TRUE(Says("<ns2:insertResponse xmlns:ns2=\"urn:parts\">")) << "the reply: " << out_;
  EXPECT_TRUE(Says("code and text    c[success] t[booked]")) << out_;
  EXPECT_TRUE(Says("outcome          SUCCESS: the worker would remove the line")) << out_;
  EXPECT_TRUE(
      Says("driver's line    FWT: WorkOrder[654321] LineCode[B] --> Reply: c[success] "
           "t[booked] --> SUCCESS"))
      << out_;
  EXPECT_EQ(dms_.requests().size(), 2u);
  EXPECT_FALSE(testing::FileExists(env_.ModuleFile("$$$")));
  EXPECT_FALSE(testing::FileExists(env_.ModuleFile("log")));
}

TEST_F(TryTest, OutcomesOtherThanSuccessFailTheTry) {
  forward_code_ = "locked";
  EXPECT_EQ(Try({"--only", "forward", "--verbose"}), 1) << out_;
  EXPECT_FALSE(Says("== Job validation")) << out_;
  EXPECT_TRUE(Says("outcome          RETRY LATER")) << out_;
  EXPECT_TRUE(Says("    r Compare  reply[locked] with spec[locked] -> (RETRYLATER spec index[1])"))
      << "every log line with --verbose: " << out_;
  forward_code_ = "rejected";
  EXPECT_EQ(Try({"--only", "forward"}), 1) << out_;
  EXPECT_TRUE(Says("outcome          FAILED: the worker would park the line")) << out_;
  // A job number of the wrong width never reaches the DMS.
  const size_t sent = dms_.requests().size();
  EXPECT_EQ(Try({"--only", "validate", "--job", "12.A"}), 1) << out_;
  EXPECT_TRUE(Says("request          nothing was sent")) << out_;
  EXPECT_TRUE(Says("c[WrongLength]")) << out_;
  EXPECT_EQ(dms_.requests().size(), sent);
  EXPECT_EQ(Try({"--only", "everything"}), 2);
}

}  // namespace
}  // namespace vornlink
