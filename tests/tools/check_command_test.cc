// `vornlink check` on the sample settings, adapted as a site adapts them,
// and on broken variants of them: each problem found, nothing on the good
// ones.
#include "vornlink/check_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "testing/test_env.h"
#include "vornlink/pem_certificates.h"

namespace vornlink {
namespace {

// A test authority, valid until 2126.
constexpr char kAuthority[] =
    "-----BEGIN CERTIFICATE-----\n"
    "MIICVDCCAb2gAwIBAgIUd4/RxssEZMdKI+OgwEEupeNp9JAwDQYJKoZIhvcNAQEL\n"
    "BQAwOzEXMBUGA1UECgwOVm9ybmxpbmsgVGVzdHMxIDAeBgNVBAMMF1Zvcm5saW5r\n"
    "IFRlc3QgQXV0aG9yaXR5MCAXDTI2MTIwNjIyMjEwMloYDzIxMjYxMTEyMjIyMTAy\n"
    "WjA7MRcwFQYDVQQKDA5Wb3JubGluayBUZXN0czEgMB4GA1UEAwwXVm9ybmxpbmsg\n"
    "VGVzdCBBdXRob3JpdHkwgZ8wDQYJKoZIhvcNAQEBBQADgY0AMIGJAoGBAOwzHbbA\n"
    "uR+5qUZb8GjlFlK+B1Ke4ibq1XrvppJLDS9poUNHfZUqu+stAR7GBM3GMcxLI5JW\n"
    "lIWVLPLOVzw2gmSEGo0o9RabeprG66K64CSObpxCWxAVZDTniU9nR/dKZVCXkpxQ\n"
    "QqQr5Aaly6Qmcbl5qKgvmpmZQzv+waeGuSBZAgMBAAGjUzBRMB0GA1UdDgQWBBS2\n"
    "ZK5KzWIOhoOxBkmWdOKWeymekzAfBgNVHSMEGDAWgBS2ZK5KzWIOhoOxBkmWdOKW\n"
    "eymekzAPBgNVHRMBAf8EBTADAQH/MA0GCSqGSIb3DQEBCwUAA4GBAE+uoR8+Oiqv\n"
    "fNfRp7y/eE3d59nZFE4E0VLq7p2zjfhkA7qPHFFMCt4BHlRmOSbyMndpvjfwi1A5\n"
    "XOsNi2fJWBXiANSRPMZOKk4FP4pv3dP/zBzWucnkAFyGkD/bFxnpwg3f3PslJaP8\n"
    "tgiHPJw8l9E5p9ayGAFPV8wPqk4tPabB\n"
    "-----END CERTIFICATE-----\n";

std::string ReadExample(const std::string& name) {
  return testing::ReadBytes(std::string(VORNLINK_EXAMPLES_DIR) + "/" + name);
}

void Replace(std::string* text, const std::string& from, const std::string& to) {
  size_t at = text->find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text->replace(at, from.size(), to);
}

// A site: the module file and one of the samples beside it, its log in the
// site's folder, as the README tells a site to adapt them.
class CheckTest : public ::testing::Test {
 protected:
  void UseSample(const std::string& sample) {
    xml_ = ReadExample(sample + "/Vornlink.xml");
    ini_ = ReadExample(sample + "/Vornlink.ini");
    ASSERT_FALSE(xml_.empty());
    Replace(&xml_, "C:\\Fluid\\Vornlink.log", env_.ModuleFile("log"));
    testing::WriteBytes(env_.env().ModulePath(), "");
  }

  // Runs check; its output in out_.
  int Check(const std::vector<std::string>& args = {}) {
    testing::WriteBytes(env_.ModuleFile("xml"), xml_);
    testing::WriteBytes(env_.ModuleFile("ini"), ini_);
    std::ostringstream out, err;
    int status = RunCheckCommand(env_.env().ModulePath(), args, out, err);
    out_ = out.str() + err.str();
    return status;
  }

  bool Says(const std::string& text) const { return out_.find(text) != std::string::npos; }

  testing::ScopedFakeEnv env_;
  std::string xml_;
  std::string ini_;
  std::string out_;
};

TEST_F(CheckTest, TheSamplesAdaptedToASitePassWithoutAWord) {
  for (const char* sample : {"tcp", "soap-https"}) {
    UseSample(sample);
    EXPECT_EQ(Check(), 0) << out_;
    EXPECT_TRUE(Says("0 problems, 0 warnings: the driver can work with these settings")) << out_;
    EXPECT_FALSE(Says("change-me")) << "passwords are masked";
  }
  // The query the sample transaction renders to, and the masked headers.
  EXPECT_TRUE(Says("<fillQty>4.50</fillQty>")) << out_;
  EXPECT_TRUE(Says("<RONumber>118739</RONumber>")) << out_;
  EXPECT_TRUE(Says("Authorization: Basic ********")) << out_;
  EXPECT_TRUE(Says("password (FP)          [********]")) << out_;
}

struct Breakage {
  const char* sample;
  const char* from;
  const char* to;
  const char* expected;  // in a PROBLEM line
};

TEST_F(CheckTest, EachBrokenVariantIsFoundAndFailsTheCheck) {
  const Breakage breakages[] = {
      // A Setup item that the chosen transport needs.
      {"tcp", "    <PO>\n      <Value>9123</Value>\n", "    <XX>\n      <Value>9123</Value>\n",
       "forward transaction: the Setup item <PO> is missing"},
      {"soap-https", "<FU>", "<XU>", "forward transaction: the Setup item <FU> is missing"},
      // An ordinal that nothing registers.
      {"tcp", "<transaction>%@01</transaction>", "<transaction>%@X1</transaction>",
       "the forward query template uses %@X1, which no transaction value or Setup item "
       "registers"},
      // What the settings' reader would miss (the lint's findings).
      {"soap-https", "  <System>\n", "  <System version=\"2\">\n",
       "the driver does not see the section tag <System> here (an attribute in the tag)"},
      // Reply paths (element/child) without exactly one "/".
      {"tcp", ":insertResponse/returnCode", ":insertResponse.returnCode",
       "KMR/ForwardTransactionResult/Result [:insertResponse.returnCode] must hold exactly one "
       "\"/\""},
      {"soap-https", ":insertResponse/errorText", "Body/:insertResponse/errorText",
       "must hold exactly one \"/\""},
      // Values the driver cannot use.
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
    EXPECT_EQ(Check(), 1) << breakage.expected << "\n" << out_;
    EXPECT_TRUE(Says(std::string("PROBLEM: ")) && Says(breakage.expected))
        << breakage.expected << "\n"
        << out_;
  }
}

TEST_F(CheckTest, ValidationProblemsFailOnlyWhereValidationIsUsed) {
  UseSample("tcp");
  Replace(&xml_, "<JS>", "<ZS>");
  EXPECT_EQ(Check(), 0) << out_;
  EXPECT_TRUE(Says("warning: job validation: the Setup item <JS> is missing")) << out_;
  Replace(&ini_, "Validation=0", "Validation=1");
  EXPECT_EQ(Check(), 1) << out_;
  EXPECT_TRUE(Says("PROBLEM: job validation: the Setup item <JS> is missing")) << out_;
}

TEST_F(CheckTest, SamplesGivenOnTheCommandLine) {
  UseSample("tcp");
  EXPECT_EQ(Check({"--job", "12345.B"}), 0) << out_;
  EXPECT_TRUE(
      Says("warning: the sample job number [12345.B] is rejected: Internal: "
           "WorkOrder[12345] c[WrongLength]"))
      << out_;
  EXPECT_EQ(Check({"--transaction", "9,654321.C,240607,081503,7,F04,12,3,Oil,OIL-1,2.5,0"}), 0);
  EXPECT_TRUE(Says("<orderNumber>654321</orderNumber>")) << out_;
  EXPECT_TRUE(Says("<dispensed>2024-06-07T08:15:03</dispensed>")) << out_;
  EXPECT_EQ(Check({"--transaction", "1,2,3"}), 2);
  EXPECT_EQ(Check({"--frobnicate"}), 2);
}

TEST(PemCertificatesTest, SubjectAndEndOfEachCertificate) {
  std::vector<CertificateSummary> certificates =
      ReadPemCertificates(std::string("junk\n") + kAuthority +
                          "-----BEGIN CERTIFICATE-----\nnot base64!\n-----END CERTIFICATE-----\n");
  ASSERT_EQ(certificates.size(), 2u);
  EXPECT_TRUE(certificates[0].readable);
  EXPECT_EQ(certificates[0].subject, "O=Vornlink Tests, CN=Vornlink Test Authority");
  EXPECT_EQ(certificates[0].not_after, "2126-11-12 22:21:02 UTC");
  EXPECT_FALSE(certificates[1].readable);
  EXPECT_TRUE(ReadPemCertificates("no certificate here").empty());
}

#ifndef _WIN32
TEST_F(CheckTest, TheTrustFileIsReadAndItsAuthoritiesListed) {
  UseSample("soap-https");
  const std::string pem = env_.dir().File("dms-ca.pem");
  testing::WriteBytes(pem, kAuthority);
  Replace(&ini_, ";CAFile=/etc/vornlink/dms-ca.pem", "CAFile=" + pem);
  EXPECT_EQ(Check(), 0) << out_;
  EXPECT_TRUE(
      Says("authority              O=Vornlink Tests, CN=Vornlink Test Authority, valid "
           "until 2126-11-12 22:21:02 UTC"))
      << out_;

  testing::WriteBytes(pem, "-----BEGIN CERTIFICATE-----\n");
  EXPECT_EQ(Check(), 1);
  EXPECT_TRUE(Says("holds a certificate that cannot be read")) << out_;
  testing::WriteBytes(pem, "nothing");
  EXPECT_EQ(Check(), 1);
  EXPECT_TRUE(Says("holds no PEM certificate: every HTTPS exchange fails")) << out_;
  std::filesystem::remove(pem);
  EXPECT_EQ(Check(), 1);
  EXPECT_TRUE(Says("cannot be read (")) << out_;
  EXPECT_TRUE(Says("): every HTTPS exchange fails")) << out_;
  testing::WriteBytes(pem + ".real", kAuthority);
  std::filesystem::create_symlink(pem + ".real", pem);
  EXPECT_EQ(Check(), 1);
  EXPECT_TRUE(Says("is a link, and the driver reads only a regular file")) << out_;
}
#endif

}  // namespace
}  // namespace vornlink
