#include "exchange/ext_format.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>

#include "testing/case_file.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

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
  const auto cases = testing::ReadCases(VORNLINK_TEST_DATA_DIR, "ext_format_cases.txt");
  EXPECT_GT(cases.size(), 40u);
  for (const testing::TextCase& c : cases) {
    if (c.fields.at(0) == "moment") continue;
    EXPECT_EQ(Expand(ext, c.fields.at(0)), c.fields.at(1)) << c.where;
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
  for (const testing::TextCase& c :
       testing::ReadCases(VORNLINK_TEST_DATA_DIR, "ext_format_cases.txt")) {
    if (c.fields.at(0) != "moment") continue;
    EXPECT_EQ(Moment(c.fields.at(1), c.fields.at(2), std::stoi(c.fields.at(3))), c.fields.at(4))
        << c.where;
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
