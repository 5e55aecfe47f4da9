#include "exchange/ext_format.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>

#include "testing/test_env.h"

namespace vornlink {
namespace {

constexpr char kIllegal[] = "f[ExtFormat] t[Illegal Format String]";
constexpr char kBadOrdinal[] =
    "f[ExtFormat] t[At least one %@ expresion does not follow by two correct alfanumeric ordinals]";
constexpr char kBadDateTime[] = "f[ExtFormat] t[DateAndTime has wrong format]";

std::string Missing(const std::string& ordinal) {
  return "f[ExtFormat] t[Ordinal does not exist in this context] @[" + ordinal + "]";
}

// The expanded template, or the failure text it throws.
std::string Expand(const ExtFormat& ext, const std::string& format) {
  return testing::TextOrFailure([&] { return ext.Format(format); });
}

TEST(ExtFormatTest, ExpandsTemplatesOrReportsTheirFirstFault) {
  ExtFormat ext;
  ext.AddInt("01", 42);
  ext.AddInt("02", -7);
  ext.AddString("21", "Motor oil");
  ext.AddString("TX", std::string("a%sb\0c", 6));
  ext.AddDouble("K9", 1500.0);
  ext.AddDouble("08", 2.345);
  const struct {
    std::string format;
    std::string expected;
  } kCases[] = {
      // "%%" is one '%' and starts no expression.
      {"100%% sure, %%@01 stays", "100% sure, %@01 stays"},
      // Each value in its type, formatted as printf would.
      {"<id>%@01</id><n>%@21</n>", "<id>42</id><n>Motor oil</n>"},
      {"%@02|%@K9|%@08|%@01%@01", "-7|1500.000000|2.345000|4242"},
      {"[%05@02|%.4@01|%--0-5@01]", "[-0007|0042|42   ]"},
      {"[%08.2@K9|%.@08]", "[01500.00|2]"},
      // As the Windows C runtime does, '0' pads text with zeros; '-' wins.
      {"[%12@21|%.5@21|%-7.3@21|%010@21|%-010@21]",
       "[   Motor oil|Motor|Mot    |0Motor oil|Motor oil ]"},
      // Text is taken byte for byte: no conversion inside, no end at a zero.
      {"%@TX|%.3@TX", std::string("a%sb\0c|a%s", 10)},
      // Ordinals are compared byte for byte.
      {"%@k9", Missing("k9")},
      // The whole template is walked first; a conversion is judged after.
      {"%@XX %5d", Missing("XX")},
      {"%5d %@XX", kIllegal},
      {"%5-@01 %@", kBadOrdinal},
  };
  for (const auto& c : kCases) EXPECT_EQ(Expand(ext, c.format), c.expected) << c.format;
  // Only digits, '.' and '-' in the shape of a conversion stand before '@';
  // width and precision are bounded, so a typing error cannot exhaust memory.
  for (const char* format :
       {"%5d", "50%", "%-5", "%+5@01", "%#@01", "%*@01", "%l@01", "%5-@01", "%1.2.3@01", "%.-2@08",
        "%4097@01", "%.4097@08", "%99999999999999999999@21"}) {
    EXPECT_EQ(Expand(ext, format), kIllegal) << format;
  }
  // '@' needs two ASCII letters or digits.
  for (const char* format : {"%@", "abc %@0", "%@0-", "%@_a", "%@\xc3\xa4"}) {
    EXPECT_EQ(Expand(ext, format), kBadOrdinal) << format;
  }
  // The largest width, and the longest double, still format completely.
  EXPECT_EQ(ext.Format("%4096@01").size(), 4096u);
  ext.AddDouble("BG", 1e308);
  EXPECT_EQ(ext.Format("%@BG").size(), 316u);  // 309 digits, '.', 6 decimals
}

// Sets the process's time zone (TZ); each test of dates sets its own.
void SetTimeZone(const char* zone) {
#ifdef _WIN32
  _putenv_s("TZ", zone);
  _tzset();
#else
  setenv("TZ", zone, 1);
  tzset();
#endif
}

// "YYYY-MM-DD HH:MM:SS td" of the registered ordinals, or the failure text.
std::string Moment(const std::string& date, const std::string& time, int32_t step = 0) {
  return testing::TextOrFailure([&] {
    ExtFormat ext;
    ext.AddDateTime(date, time, step);
    return ext.Format("%@10-%@12-%@13 %@14:%@15:%@16 %@td");
  });
}

TEST(DateTimeTest, RegistersTheLocalMomentRolledOverAndRounded) {
  SetTimeZone("UTC0");
  ExtFormat ext;
  ext.AddDateTime("240607", "081503", 0);
  EXPECT_EQ(ext.Format("%@10|%@11|%@12|%@13|%@14|%@15|%@16|%@td"), "2024|24|06|07|08|15|03|159");
  EXPECT_EQ(Moment("230101", "000000"), "2023-01-01 00:00:00 1");
  EXPECT_EQ(Moment("231231", "235959"), "2023-12-31 23:59:59 365");
  EXPECT_EQ(Moment("241231", "235959"), "2024-12-31 23:59:59 366");
  EXPECT_EQ(Moment("240301", "000000"), "2024-03-01 00:00:00 61");
  // Fields out of range roll over; 0 is the last of the unit before.
  EXPECT_EQ(Moment("230229", "101010"), "2023-03-01 10:10:10 60");
  EXPECT_EQ(Moment("231232", "240000"), "2024-01-02 00:00:00 2");
  EXPECT_EQ(Moment("000000", "000000"), "1999-11-30 00:00:00 334");
  EXPECT_EQ(Moment("999999", "999999"), "2107-06-11 04:40:39 162");
  // Rounded down to a multiple of the step's magnitude.
  EXPECT_EQ(Moment("240607", "101437", 900), "2024-06-07 10:00:00 159");
  EXPECT_EQ(Moment("240607", "101437", -60), "2024-06-07 10:14:00 159");
  for (auto [date, time] :
       {std::pair{"2402", "081503"}, {"240607", "0815"}, {"2406071", "081503"}}) {
    EXPECT_EQ(Moment(date, time), kBadDateTime) << date << " " << time;
  }
}

// The day of the year is that of the local date, also on summer time.
TEST(DateTimeTest, DaylightSaving) {
  SetTimeZone("CET-1CEST,M3.5.0,M10.5.0/3");
  const int64_t changeover =
      testing::LocalUnixTime(2023, 3, 27, 0, 0, 0) - testing::LocalUnixTime(2023, 3, 26, 0, 0, 0);
  if (changeover != 23 * 3600) GTEST_SKIP() << "the platform does not follow the zone's rules";
  EXPECT_EQ(Moment("230701", "003000"), "2023-07-01 00:30:00 182");
  // 02:30 does not exist on 26 March: it becomes a valid time of that day.
  std::string moment = Moment("230326", "023000");
  EXPECT_TRUE(moment == "2023-03-26 03:30:00 85" || moment == "2023-03-26 01:30:00 85") << moment;
  // The hour that comes twice keeps its fields.
  EXPECT_EQ(Moment("231029", "023000"), "2023-10-29 02:30:00 302");
}

}  // namespace
}  // namespace vornlink
