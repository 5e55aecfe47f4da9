#include "exchange/transaction_ordinals.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "exchange/failure_text.h"
#include "exchange/setup_ordinals.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

constexpr char kSettings[] =
    "<KMR>\n"
    "  <UserID>\n"
    "    <E17>MECH-17</E17>\n"
    "    <E1>FIRST</E1>\n"
    "    <E>NOBODY</E>\n"
    "  </UserID>\n"
    "</KMR>\n";

TransactionFields Fields() {
  return {"00042", "123456.01", "240607",    "081503",  "17",  "F04 text",
          "12",    "3",         "Motor oil", "MO-5W30", "1.5", "-2.5"};
}

class TransactionOrdinalsTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::WriteBytes(env_.ModuleFile("xml"), testing::OnDisk(kSettings)); }

  std::string Format(const TransactionFields& fields, const std::string& format) {
    ExtFormat ext;
    RegisterTransactionOrdinals(fields, "123456", "01", &ext);
    return ext.Format(format);
  }

  testing::ScopedFakeEnv env_;
};

TEST_F(TransactionOrdinalsTest, RegistersEveryOrdinalInOrder) {
  ExtFormat ext;
  RegisterTransactionOrdinals(Fields(), "123456", "01", &ext);
  std::string order, types;
  for (const ExtFormat::Entry& entry : ext.entries()) {
    order += entry.ordinal + " ";
    types += entry.type;
  }
  EXPECT_EQ(order,
            "01 03 04 05 06 07 17 21 23 08 D8 C8 K8 k8 09 D9 C9 K9 k9 10 11 12 13 14 15 16 td ");
  EXPECT_EQ(types, "dssddssssffffsffffssssssssd");
}

TEST_F(TransactionOrdinalsTest, ValuesComeFromTheirFields) {
  TransactionFields fields = Fields();
  EXPECT_EQ(Format(fields, "%@01|%05@01|%@03|%@04|%@05|%@06|%@07|%@17|%@21|%@23"),
            "42|00042|MECH-17|F04 text|12|3|123456|01|Motor oil|MO-5W30");
  EXPECT_EQ(Format(fields, "%@09|%.1@D9|%.0@C9|%08.2@K9|%@k9"), "1.500000|15.0|150|01500.00|1,50");
  EXPECT_EQ(Format(fields, "%.2@08|%.1@D8|%.0@C8|%.0@K8|%@k8"), "-2.50|-25.0|-250|-2500|-2,50");
  EXPECT_EQ(Format(fields, "%@10%@12%@13 %@14%@15%@16 %@11 %@td"), "20240607 081503 24 159");
}

TEST_F(TransactionOrdinalsTest, NumbersAreReadFromTheirLeadingPart) {
  TransactionFields fields = Fields();
  fields[0] = "T-1";
  fields[6] = " 7x";
  fields[7] = "";
  fields[10] = "2,75";
  fields[11] = "abc";
  EXPECT_EQ(Format(fields, "%@01|%@05|%@06|%@k9|%@k8|%.0@K9"), "0|7|0|2,00|0,00|2000");
  fields[10] = "1e300";
  EXPECT_EQ(Format(fields, "%@k9").size(), 304u);  // 301 digits, ',' and 2 decimals
}

TEST_F(TransactionOrdinalsTest, UserIsMappedWhenTheSettingIsThere) {
  TransactionFields fields = Fields();
  fields[4] = "99";
  EXPECT_EQ(Format(fields, "%@03"), "99");
  fields[4] = "";
  EXPECT_EQ(Format(fields, "%@03"), "NOBODY");
  // A user number with "/" cannot name a mapping; it must not read the
  // mapping of user 1.
  fields[4] = "1/7";
  EXPECT_EQ(Format(fields, "%@03"), "1/7");
  fields[4] = "1";
  EXPECT_EQ(Format(fields, "%@03"), "FIRST");
}

TEST_F(TransactionOrdinalsTest, BadDateFailsAfterTheFieldOrdinals) {
  TransactionFields fields = Fields();
  fields[2] = "2406";
  ExtFormat ext;
  try {
    RegisterTransactionOrdinals(fields, "123456", "01", &ext);
    ADD_FAILURE() << "no failure";
  } catch (const FailureText& failure) {
    EXPECT_EQ(failure.text(), "f[ExtFormat] t[DateAndTime has wrong format]");
  }
}

TEST_F(TransactionOrdinalsTest, SetupItemsLoadedAfterwardsReplaceTransactionValues) {
  ExtFormat ext;
  RegisterTransactionOrdinals(Fields(), "123456", "01", &ext);
  LoadSetupOrdinalsFromText("<Setup>\n<07>\n<Value>FIXED</Value>\n<td>\n<Value>x</Value>\n", &ext);
  EXPECT_EQ(ext.Format("%@07 %@17 %@td"), "FIXED 01 x");
}

}  // namespace
}  // namespace vornlink
