#include "exchange/ext_format.h"

#include <gtest/gtest.h>

#include <string>

#include "exchange/failure_text.h"

namespace vornlink {
namespace {

constexpr char kIllegal[] = "f[ExtFormat] t[Illegal Format String]";
constexpr char kBadOrdinal[] =
    "f[ExtFormat] t[At least one %@ expresion does not follow by two correct alfanumeric "
    "ordinals]";

// The failure text `format` throws, or "no failure: <result>".
std::string FailureOf(const ExtFormat& ext, const std::string& format) {
  try {
    return "no failure: " + ext.Format(format);
  } catch (const FailureText& failure) {
    return failure.text();
  }
}

class ExtFormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ext_.AddInt("01", 42);
    ext_.AddInt("02", -7);
    ext_.AddString("21", "Motor oil");
    ext_.AddDouble("K9", 1500.0);
    ext_.AddDouble("08", 2.345);
    ext_.AddString("FU", "http://dms.example:8080/ws");
  }
  ExtFormat ext_;
};

TEST_F(ExtFormatTest, TemplateWithoutExpressionsComesBackUnchangedButForDoublePercent) {
  EXPECT_EQ(ext_.Format(""), "");
  EXPECT_EQ(ext_.Format("<a>plain text\n</a>"), "<a>plain text\n</a>");
  EXPECT_EQ(ext_.Format("100%% sure, %%@01 stays"), "100% sure, %@01 stays");
  EXPECT_EQ(ext_.Format("%%%%"), "%%");
}

TEST_F(ExtFormatTest, ExpressionsTakeTheirValuesInTheirTypes) {
  EXPECT_EQ(ext_.Format("<id>%@01</id><n>%@21</n>"), "<id>42</id><n>Motor oil</n>");
  EXPECT_EQ(ext_.Format("%@02|%@K9|%@08"), "-7|1500.000000|2.345000");
  EXPECT_EQ(ext_.Format("%@FU"), "http://dms.example:8080/ws");
  EXPECT_EQ(ext_.Format("%@01%@01"), "4242");
}

TEST_F(ExtFormatTest, WidthPrecisionAndFlagsWorkAsInPrintf) {
  EXPECT_EQ(ext_.Format("[%5@01]"), "[   42]");
  EXPECT_EQ(ext_.Format("[%-5@01]"), "[42   ]");
  EXPECT_EQ(ext_.Format("[%05@01]"), "[00042]");
  EXPECT_EQ(ext_.Format("[%05@02]"), "[-0007]");
  EXPECT_EQ(ext_.Format("[%.4@01]"), "[0042]");
  EXPECT_EQ(ext_.Format("[%-05@01]"), "[42   ]");
  EXPECT_EQ(ext_.Format("[%08.2@K9]"), "[01500.00]");
  EXPECT_EQ(ext_.Format("[%.1@08]"), "[2.3]");
  EXPECT_EQ(ext_.Format("[%.@08]"), "[2]");
  EXPECT_EQ(ext_.Format("[%-10@21]"), "[Motor oil ]");
  EXPECT_EQ(ext_.Format("[%12@21]"), "[   Motor oil]");
  EXPECT_EQ(ext_.Format("[%.5@21]"), "[Motor]");
  EXPECT_EQ(ext_.Format("[%-7.3@21]"), "[Mot    ]");
  // As the C library does: '0' does not pad text with zeros.
  EXPECT_EQ(ext_.Format("[%010@21]"), "[ Motor oil]");
}

TEST_F(ExtFormatTest, TextValuesAreTakenByteForByte) {
  ext_.AddString("TX", std::string("a%sb\0c", 6));
  EXPECT_EQ(ext_.Format("%@TX"), std::string("a%sb\0c", 6));
  EXPECT_EQ(ext_.Format("%.3@TX"), "a%s");
}

TEST_F(ExtFormatTest, PercentWithoutAtSignIsIllegal) {
  EXPECT_EQ(FailureOf(ext_, "%5d"), kIllegal);
  EXPECT_EQ(FailureOf(ext_, "%s"), kIllegal);
  EXPECT_EQ(FailureOf(ext_, "50%"), kIllegal);
  EXPECT_EQ(FailureOf(ext_, "%-5"), kIllegal);
  EXPECT_EQ(FailureOf(ext_, "%+5@01"), kIllegal);
  EXPECT_EQ(FailureOf(ext_, "% 5@01"), kIllegal);
  EXPECT_EQ(FailureOf(ext_, "%#@01"), kIllegal);
  EXPECT_EQ(FailureOf(ext_, "%*@01"), kIllegal);
  EXPECT_EQ(FailureOf(ext_, "%l@01"), kIllegal);
}

TEST_F(ExtFormatTest, AtSignNeedsTwoLettersOrDigits) {
  EXPECT_EQ(FailureOf(ext_, "%@"), kBadOrdinal);
  EXPECT_EQ(FailureOf(ext_, "abc %@0"), kBadOrdinal);
  EXPECT_EQ(FailureOf(ext_, "%@0-"), kBadOrdinal);
  EXPECT_EQ(FailureOf(ext_, "%@ 1"), kBadOrdinal);
  EXPECT_EQ(FailureOf(ext_, "%@_a"), kBadOrdinal);
  EXPECT_EQ(FailureOf(ext_, "%@\xc3\xa4"), kBadOrdinal);
}

TEST_F(ExtFormatTest, UnknownOrdinalNamesItself) {
  EXPECT_EQ(FailureOf(ext_, "x%@TPy"),
            "f[ExtFormat] t[Ordinal does not exist in this context] @[TP]");
  // Compared byte for byte: case matters.
  EXPECT_EQ(FailureOf(ext_, "%@fu"),
            "f[ExtFormat] t[Ordinal does not exist in this context] @[fu]");
}

TEST_F(ExtFormatTest, FirstFaultOfTheWalkIsReported) {
  EXPECT_EQ(FailureOf(ext_, "%@XX %5d"),
            "f[ExtFormat] t[Ordinal does not exist in this context] @[XX]");
  EXPECT_EQ(FailureOf(ext_, "%5d %@XX"), kIllegal);
  // A conversion the C library would not understand is only judged after
  // the walk, so the walk's own fault comes first.
  EXPECT_EQ(FailureOf(ext_, "%5-@01 %@"), kBadOrdinal);
}

TEST_F(ExtFormatTest, RunsOfDigitsDotsAndDashesThatAreNoConversionAreIllegal) {
  EXPECT_EQ(FailureOf(ext_, "%5-@01"), kIllegal);
  EXPECT_EQ(FailureOf(ext_, "%1.2.3@01"), kIllegal);
  EXPECT_EQ(FailureOf(ext_, "%.-2@08"), kIllegal);
  EXPECT_EQ(FailureOf(ext_, "%--0-5@01"), "no failure: 42   ");
}

TEST_F(ExtFormatTest, HugeWidthOrPrecisionIsIllegalInsteadOfExhaustingMemory) {
  EXPECT_EQ(FailureOf(ext_, "%999999999@01"), kIllegal);
  EXPECT_EQ(FailureOf(ext_, "%.999999999@08"), kIllegal);
  EXPECT_EQ(FailureOf(ext_, "%99999999999999999999@21"), kIllegal);
  EXPECT_EQ(FailureOf(ext_, "%4097@01"), kIllegal);
  EXPECT_EQ(ext_.Format("%4096@01").size(), 4096u);
  EXPECT_EQ(ext_.Format("%.4096@08").size(), 4098u);
  // Extreme values still format completely.
  ext_.AddDouble("BG", 1e308);
  ext_.AddInt("MN", INT32_MIN);
  EXPECT_EQ(ext_.Format("%@BG").size(), 316u);  // 309 digits, ".", 6 decimals
  EXPECT_EQ(ext_.Format("%@MN"), "-2147483648");
}

TEST(ExtFormatRegistrationTest, OrdinalsMustBeTwoCharacters) {
  ExtFormat ext;
  ext.AddString("ABC", "three");
  ext.AddString("A", "one");
  ext.AddInt("", 1);
  ext.AddDouble("ABCD", 1.0);
  EXPECT_TRUE(ext.entries().empty());
  EXPECT_EQ(FailureOf(ext, "%@AB"), "f[ExtFormat] t[Ordinal does not exist in this context] @[AB]");
}

TEST(ExtFormatRegistrationTest, RegisteringAgainReplacesAndMovesToTheEnd) {
  ExtFormat ext;
  ext.AddString("FU", "first");
  ext.AddInt("01", 1);
  ext.AddString("FU", "second");
  ASSERT_EQ(ext.entries().size(), 2u);
  EXPECT_EQ(ext.entries()[0].ordinal, "01");
  EXPECT_EQ(ext.entries()[1].ordinal, "FU");
  EXPECT_EQ(ext.Format("%@FU"), "second");

  // Another type under the same ordinal.
  ext.AddDouble("FU", 0.5);
  EXPECT_EQ(ext.Format("%.1@FU"), "0.5");
  ext.Clear();
  EXPECT_TRUE(ext.entries().empty());
}

}  // namespace
}  // namespace vornlink
