// `vornlink check` on the samples adapted to a site, and on broken variants of
// them.
#include "vornlink/check/check_command.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "command_test.h"
#include "exchange/booking_key.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

void Replace(std::string* text, const std::string& from, const std::string& to) {
  size_t at = text->find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text->replace(at, from.size(), to);
}

// A site: the module file and one of the samples beside it, its log in the
// site's folder.
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
  std::string xml_;
  std::string ini_;
};

TEST_F(CheckTest, TheSamplesAdaptedToASitePassWithoutAWord) {
  for (const char* sample : {"tcp", "soap-https"}) {
    UseSample(sample);
    for (size_t at; (at = xml_.find("dms.example.com")) != std::string::npos;) {
      xml_.replace(at, 15, "dms.garage.lan");
    }
    for (size_t at; (at = xml_.find(">change-me<")) != std::string::npos;) {
      xml_.replace(at, 11, ">s3cret-pw<");
    }
    EXPECT_EQ(Check(), 0) << out_;
    EXPECT_TRUE(Says("0 problems, 0 warnings: the driver can work with these settings")) << out_;
    EXPECT_FALSE(Says("s3cret-pw")) << "passwords are masked";
  }
  EXPECT_EQ(
      testing::Missing(out_, {"<fillQty>4.50</fillQty>", "<RONumber>118739</RONumber>",
                              "Authorization: Basic ********", "password (FP)          [********]",
                              "DMS user (%@03)        [SVC-ADVISOR-07] for host user [7]"}),
      "");
}

// The samples' placeholders left in place (not in a comment), a sample the gates drop, and
// passwords over plain HTTP.
TEST_F(CheckTest, WhatASiteForgotToAdaptIsWarnedOf) {
  UseSample("soap-https");
  xml_ = "<!-- the host lies in C:\\Fluid -->\n" + xml_;
  EXPECT_EQ(Check({"--transaction", "1,118739.A,240607,081503,9,F04,12,3,Oil,OIL-1,0.0,0"}), 0);
  EXPECT_EQ(testing::Missing(out_, {"warning: Vornlink.xml line 120: the sample's DMS address "
                                    "dms.example.com is still in place",
                                    "Vornlink.xml line 129: the sample's placeholder password",
                                    "DMS user (%@03)        [9] the host's user number itself",
                                    "quantity [0.0] reads as 0: the driver drops it"}),
            "");
  EXPECT_FALSE(Says("C:\\Fluid")) << out_;
  Replace(&xml_, "<Value>HTTPS</Value>", "<Value>HTTP</Value>");
  EXPECT_EQ(Check(), 0);
  EXPECT_EQ(
      testing::Missing(out_, {"the job validation sends <JN> and <JP> as Basic "
                              "authorization over plain HTTP",
                              "the forward transaction offers <FN> and <FP> over plain HTTP"}),
      "");
}

struct Breakage {
  const char* sample;
  const char* from;
  const char* to;
  const char* expected;
};

TEST_F(CheckTest, EachBrokenVariantIsFoundAndFailsTheCheck) {
  const Breakage breakages[] = {
      {"tcp", "    <PO>\n      <Value>9123</Value>\n", "    <XX>\n      <Value>9123</Value>\n",
       "forward transaction: the Setup item <PO> is missing"},
      {"soap-https", "<FU>", "<XU>", "forward transaction: the Setup item <FU> is missing"},
      {"tcp", "<transaction>%@01</transaction>", "<transaction>%@X1</transaction>",
       "the forward query template uses %@X1, which no transaction value or Setup item"},
      {"soap-https", "  <System>\n", "  <System version=\"2\">\n",
       "the driver does not see the section tag <System> here (an attribute in the tag)"},
      {"tcp", ":insertResponse/returnCode", ":insertResponse.returnCode",
       "Result [:insertResponse.returnCode] must hold exactly one \"/\""},
      {"soap-https", ":insertResponse/errorText", "Body/:insertResponse/errorText",
       "must hold exactly one \"/\""},
      {"tcp", "<Value>TCP</Value>", "<Value>tcp</Value>",
       "the Setup item <TP> [tcp] is not HTTP, HTTPS or TCP"},
      {"tcp", "<Value>9123</Value>", "<Value>91234</Value>", "is no port from 1 to 65535"},
      {"soap-https", "<SuccessResult>0</SuccessResult>", "<SuccessResult></SuccessResult>",
       "SuccessResult is empty: every transaction is parked"},
      {"tcp", "<WoSplit>6</WoSplit>", "<WoSplit>six</WoSplit>", "reads as width 0"},
      {"soap-https", "https://dms.example.com:8443/ws/RepairOrderParts", "dms.example.com/parts",
       "is no URL the driver can use: no scheme"},
  };
  for (const Breakage& breakage : breakages) {
    UseSample(breakage.sample);
    Replace(&xml_, breakage.from, breakage.to);
    EXPECT_TRUE(Check() == 1 && Says(breakage.expected)) << breakage.expected << "\n" << out_;
  }
}

TEST_F(CheckTest, ValidationProblemsFailOnlyWhereValidationIsUsed) {
  UseSample("tcp");
  Replace(&xml_, "<JS>", "<ZS>");
  EXPECT_TRUE(Check() == 0 && Says("warning: job validation: the Setup item <JS> is missing"))
      << out_;
  Replace(&ini_, "Validation=0", "Validation=1");
  EXPECT_TRUE(Check() == 1 && Says("PROBLEM: job validation: the Setup item <JS> is missing"))
      << out_;
}

TEST_F(CheckTest, SamplesGivenOnTheCommandLine) {
  UseSample("tcp");
  EXPECT_TRUE(Check({"--job", "12345.B"}) == 0 &&
              Says("warning: the sample job number [12345.B] is rejected: Internal: "
                   "WorkOrder[12345] c[WrongLength]"))
      << out_;
  EXPECT_EQ(Check({"--transaction", "9,654321.C,240607,081503,7,F04,12,3,Oil,OIL-1,2.5,0"}), 0);
  EXPECT_EQ(testing::Missing(out_, {"<orderNumber>654321</orderNumber>",
                                    "<dispensed>2024-06-07T08:15:03</dispensed>",
                                    "not sent: the DMS cannot tell"}),
            "");
  EXPECT_EQ(Check({"--transaction", "1,2,3"}), 2);
  EXPECT_EQ(Check({"--frobnicate"}), 2);
  // The booking key as sent, of the fields as the cache line holds them.
  Replace(&xml_, "<partDesc>%@21</partDesc>", "<partDesc>%@21 %@TK</partDesc>");
  Replace(&ini_, "1=5W30 Engine Oil", "1=Engine Oil, 5W30");
  EXPECT_EQ(Check({"--transaction", "9,654321.C,240607,081503,7,F04,12,1,x,y,2.5,0"}), 0);
  const std::string key = BookingKey({"9", "654321.C", "240607", "081503", "7", "F04", "12", "1",
                                      "Engine Oil  5W30", "OIL-5W30-BULK", "2.5", "0"});
  EXPECT_EQ(testing::Missing(out_, {"<partDesc>Engine Oil  5W30 " + key + "</partDesc>",
                                    "sent: the DMS can drop a booking sent again"}),
            "");
}

#ifndef _WIN32
TEST_F(CheckTest, TheTrustFileIsReadAndItsAuthoritiesListed) {
  UseSample("soap-https");
  const std::string pem = env_.dir().File("dms-ca.pem");
  // A test authority (Ed25519), valid until 2126.
  const std::string authority = testing::ReadBytes(VORNLINK_TEST_AUTHORITY_FILE);
  ASSERT_FALSE(authority.empty());
  // Text around the certificates, and one that cannot be read beside a good one.
  testing::WriteBytes(pem,
                      "junk\n" + authority +
                          "-----BEGIN CERTIFICATE-----\nnot base64!\n-----END CERTIFICATE-----\n");
  Replace(&ini_, ";CAFile=/etc/vornlink/dms-ca.pem", "CAFile=" + pem);
  EXPECT_TRUE(Check() == 0 &&
              Says("authority              O=Vornlink Tests, CN=Vornlink Test "
                   "Authority, valid until 2126-11-13 03:50:16 UTC") &&
              Says("warning: [HTTPS] CAFile " + pem + " holds a certificate that cannot be read\n"))
      << out_;

  testing::WriteBytes(pem, "-----BEGIN CERTIFICATE-----\n");
  EXPECT_TRUE(Check() == 1 && Says("holds a certificate that cannot be read, and no other"))
      << out_;
  testing::WriteBytes(pem, "nothing");
  EXPECT_TRUE(Check() == 1 && Says("holds no PEM certificate: every HTTPS exchange fails")) << out_;
  std::filesystem::remove(pem);
  EXPECT_TRUE(Check() == 1 && Says("cannot be read (")) << out_;
  testing::WriteBytes(pem + ".real", authority);
  std::filesystem::create_symlink(pem + ".real", pem);
  EXPECT_TRUE(Check() == 1 && Says("is a link, and the driver reads only a regular file")) << out_;
}
#endif

}  // namespace
}  // namespace vornlink
