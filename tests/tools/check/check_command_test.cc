// `vornlink check` on the samples adapted to a site, and on broken variants of them.
#include "vornlink/check/check_command.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "command_test.h"
#include "exchange/booking_key.h"
#include "testing/case_file.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

void Replace(std::string* text, const std::string& from, const std::string& to) {
  size_t at = text->find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text->replace(at, from.size(), to);
}

// A site: the module file and one of the samples beside it, its log in the site's folder.
class CheckTest : public testing::CommandTest {
 protected:
  void UseSample(const std::string& sample) {
    xml_ = testing::ReadBytes(VORNLINK_EXAMPLES_DIR "/" + sample + "/Vornlink.xml");
    ini_ = testing::ReadBytes(VORNLINK_EXAMPLES_DIR "/" + sample + "/Vornlink.ini");
    ASSERT_FALSE(xml_.empty());
    Replace(&xml_, "C:\\Fluid\\Vornlink.log", env_.ModuleFile("log"));
    testing::WriteBytes(env_.env().ModulePath(), "");
  }

  int Check(const std::vector<std::string>& args = {}) {
    testing::WriteBytes(env_.ModuleFile("xml"), xml_);
    testing::WriteBytes(env_.ModuleFile("ini"), ini_);
    return Run(RunCheckCommand, env_.env().ModulePath(), args);
  }

  testing::ScopedFakeEnv env_;
  std::string xml_, ini_;
};

TEST_F(CheckTest, TheSamplesAdaptedToASitePassWithoutAWord) {
  for (const char* sample : {"tcp", "soap-https"}) {
    UseSample(sample);
    for (size_t at; (at = xml_.find("dms.example.com")) != std::string::npos;)
      xml_.replace(at, 15, "dms.garage.lan");
    for (size_t at; (at = xml_.find(">change-me<")) != std::string::npos;)
      xml_.replace(at, 11, ">s3cret-pw<");
    EXPECT_TRUE(Gave(Check({"--strict"}), 0,
                     {"0 problems, 0 warnings: the driver can work with these settings",
                      "!s3cret-pw"}));  // passwords are masked
  }
  EXPECT_EQ(
      testing::Missing(out_, testing::ReadTexts(VORNLINK_TOOLS_TEST_DATA, "check_samples.txt")),
      "");
}

// Placeholders left in place (not in a comment), a sample the gates drop, passwords over HTTP.
TEST_F(CheckTest, WhatASiteForgotToAdaptIsWarnedOf) {
  UseSample("soap-https");
  xml_ = "<!-- the host lies in C:\\Fluid -->\n" + xml_;
  EXPECT_TRUE(Gave(Check({"--transaction", "1,118739.A,240607,081503,9,F04,12,3,Oil,OIL-1,0.0,0"}),
                   0,
                   {"warning: Vornlink.xml line 120: the sample's DMS address "
                    "dms.example.com is still in place",
                    "Vornlink.xml line 129: the sample's placeholder password",
                    "DMS user (%@03)        [9] the host's user number itself",
                    "quantity [0.0] reads as 0: the driver drops it", "!C:\\Fluid"}));
  // Warnings fail a strict check.
  EXPECT_TRUE(Gave(Check({"--strict"}), 1, {"; --strict: the warnings fail the check"}));
  Replace(&xml_, "<Value>HTTPS</Value>", "<Value>HTTP</Value>");
  EXPECT_TRUE(Gave(Check(), 0,
                   {"the job validation sends <JN> and <JP> as Basic authorization over plain HTTP",
                    "the forward transaction offers <FN> and <FP> over plain HTTP"}));
}

// Each variant of data/check_breakages.txt fails the check and is named.
TEST_F(CheckTest, EachBrokenVariantIsFoundAndFailsTheCheck) {
  const auto cases = testing::ReadCases(VORNLINK_TOOLS_TEST_DATA, "check_breakages.txt");
  EXPECT_EQ(cases.size(), 11u);
  for (const testing::TextCase& c : cases) {
    UseSample(c.fields.at(0));
    Replace(&xml_, c.fields.at(1), c.fields.at(2));
    EXPECT_TRUE(Gave(Check(), 1, {c.fields.at(3)})) << c.where;
  }
}

TEST_F(CheckTest, ValidationProblemsFailOnlyWhereValidationIsUsed) {
  UseSample("tcp");
  Replace(&xml_, "<JS>", "<ZS>");
  EXPECT_TRUE(Gave(Check(), 0, {"warning: job validation: the Setup item <JS> is missing"}));
  Replace(&ini_, "Validation=0", "Validation=1");
  EXPECT_TRUE(Gave(Check(), 1, {"PROBLEM: job validation: the Setup item <JS> is missing"}));
}

// The limit every wait gets, and a warning where it is not the one written.
TEST_F(CheckTest, TheTimeLimitAsTheTransportsTakeIt) {
  UseSample("tcp");
  for (const auto& [value, shown] :
       {std::pair{"-5", "[-5] 120 seconds"}, {"90000", "[90000] 86400"}}) {
    Replace(&ini_, "TimeoutSeconds=60", std::string("TimeoutSeconds=") + value);
    EXPECT_TRUE(Gave(Check(), 0, {shown, "warning: [Transport] TimeoutSeconds"}));
    Replace(&ini_, std::string("TimeoutSeconds=") + value, "TimeoutSeconds=60");
  }
}

TEST_F(CheckTest, SamplesGivenOnTheCommandLine) {
  UseSample("tcp");
  EXPECT_TRUE(Gave(Check({"--job", "12345.B"}), 0,
                   {"warning: the sample job number [12345.B] is rejected: Internal: "
                    "WorkOrder[12345] c[WrongLength]"}));
  EXPECT_TRUE(
      Gave(Check({"--transaction", "9,654321.C,240607,081503,7,F04,12,3,Oil,OIL-1,2.5,0"}), 0,
           {"<orderNumber>654321</orderNumber>", "<dispensed>2024-06-07T08:15:03</dispensed>",
            "not sent: the DMS cannot tell"}));
  EXPECT_EQ(Check({"--transaction", "1,2,3"}), 2);
  EXPECT_EQ(Check({"--frobnicate"}), 2);
  // The booking key as sent, of the fields as the cache line holds them.
  Replace(&xml_, "<partDesc>%@21</partDesc>", "<partDesc>%@21 %@TK</partDesc>");
  Replace(&ini_, "1=5W30 Engine Oil", "1=Engine Oil, 5W30");
  const std::string key = BookingKey({"9", "654321.C", "240607", "081503", "7", "F04", "12", "1",
                                      "Engine Oil  5W30", "OIL-5W30-BULK", "2.5", "0"});
  EXPECT_TRUE(Gave(Check({"--transaction", "9,654321.C,240607,081503,7,F04,12,1,x,y,2.5,0"}), 0,
                   {"<partDesc>Engine Oil  5W30 " + key + "</partDesc>",
                    "sent: the DMS can drop a booking sent again"}));
}

#ifndef _WIN32
TEST_F(CheckTest, TheTrustFileIsReadAndItsAuthoritiesListed) {
  UseSample("soap-https");
  const std::string pem = env_.dir().File("dms-ca.pem");
  // A test authority (Ed25519), valid until 2126.
  const std::string authority = testing::ReadBytes(VORNLINK_TOOLS_TEST_DATA "/test_authority.pem");
  ASSERT_FALSE(authority.empty());
  // Text around the certificates, and one that cannot be read beside a good one.
  testing::WriteBytes(pem,
                      "junk\n" + authority +
                          "-----BEGIN CERTIFICATE-----\nnot base64!\n-----END CERTIFICATE-----\n");
  Replace(&ini_, ";CAFile=/etc/vornlink/dms-ca.pem", "CAFile=" + pem);
  EXPECT_TRUE(
      Gave(Check(), 0,
           {"authority              O=Vornlink Tests, CN=Vornlink Test "
            "Authority, valid until 2126-11-13 03:50:16 UTC",
            "warning: [HTTPS] CAFile " + pem + " holds a certificate that cannot be read\n"}));
  testing::WriteBytes(pem, "-----BEGIN CERTIFICATE-----\n");
  EXPECT_TRUE(Gave(Check(), 1, {"holds a certificate that cannot be read, and no other"}));
  testing::WriteBytes(pem, "nothing");
  EXPECT_TRUE(Gave(Check(), 1, {"holds no PEM certificate: every HTTPS exchange fails"}));
  std::filesystem::remove(pem);
  EXPECT_TRUE(Gave(Check(), 1, {"cannot be read ("}));
  testing::WriteBytes(pem + ".real", authority);
  std::filesystem::create_symlink(pem + ".real", pem);
  EXPECT_TRUE(Gave(Check(), 1, {"is a link, and the driver reads only a regular file"}));
}
#endif

}  // namespace
}  // namespace vornlink
