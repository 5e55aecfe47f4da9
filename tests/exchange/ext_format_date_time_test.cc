#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "exchange/ext_format.h"
#include "exchange/failure_text.h"

namespace vornlink {
namespace {

// Sets the process's time zone (TZ) for the life of the object.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    Set(zone);
  }
  ~ScopedTimeZone() { Set(had_old_ ? old_.c_str() : nullptr); }

 private:
  static void Set(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone != nullptr ? zone : "");
    _tzset();
#else
    if (zone != nullptr) {
      setenv("TZ", zone, 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
#endif
  }

  bool had_old_ = false;
  std::string old_;
};

constexpr char kCentralEurope[] = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr char kEastAustralia[] = "AEST-10AEDT,M10.1.0,M4.1.0/3";

// Seconds since 1970 of a local time, or -1.
long long LocalSeconds(int year, int month, int day, int hour, int minute) {
  std::tm moment{};
  moment.tm_year = year - 1900;
  moment.tm_mon = month - 1;
  moment.tm_mday = day;
  moment.tm_hour = hour;
  moment.tm_min = minute;
  moment.tm_isdst = -1;
  return static_cast<long long>(std::mktime(&moment));
}

// Whether the platform follows the rules of the zone that is set: daylight
// saving from the last Sunday of March 2023 (26th) in Europe, up to the
// first Sunday of April 2023 (2nd) in Australia.
bool CentralEuropeRulesApply() {
  return LocalSeconds(2023, 3, 25, 12, 0) - LocalSeconds(2023, 3, 24, 12, 0) == 86400 &&
         LocalSeconds(2023, 3, 27, 12, 0) - LocalSeconds(2023, 3, 26, 0, 0) == 35 * 3600;
}

bool EastAustraliaRulesApply() {
  return LocalSeconds(2023, 4, 3, 0, 0) - LocalSeconds(2023, 4, 1, 0, 0) == 49 * 3600 &&
         LocalSeconds(2023, 7, 2, 0, 0) - LocalSeconds(2023, 7, 1, 0, 0) == 86400;
}

// "YYYY-MM-DD HH:MM:SS td" of the registered ordinals.
std::string Moment(const std::string& date, const std::string& time, int32_t step = 0) {
  ExtFormat ext;
  ext.AddDateTime(date, time, step);
  return ext.Format("%@10-%@12-%@13 %@14:%@15:%@16 %@td");
}

class DateTimeTest : public ::testing::Test {
 protected:
  ScopedTimeZone utc_{"UTC0"};
};

TEST_F(DateTimeTest, RegistersEveryDateAndTimeOrdinal) {
  ExtFormat ext;
  ext.AddDateTime("240607", "081503", 0);
  EXPECT_EQ(ext.Format("%@10|%@11|%@12|%@13|%@14|%@15|%@16|%@td"), "2024|24|06|07|08|15|03|159");
  EXPECT_EQ(ext.Find("td")->type, 'd');
  EXPECT_EQ(ext.Find("10")->type, 's');
  EXPECT_EQ(ext.Format("%03@td"), "159");
}

TEST_F(DateTimeTest, DateAndTimeMustBeSixCharactersEach) {
  ExtFormat ext;
  for (auto [date, time] : {std::pair{"2402", "081503"}, std::pair{"240607", "0815"},
                            std::pair{"2406071", "081503"}, std::pair{"", ""}}) {
    try {
      ext.AddDateTime(date, time, 0);
      ADD_FAILURE() << date << " " << time;
    } catch (const FailureText& failure) {
      EXPECT_EQ(failure.text(), "f[ExtFormat] t[DateAndTime has wrong format]");
    }
  }
  EXPECT_TRUE(ext.entries().empty());
}

TEST_F(DateTimeTest, DayOfYearAtTheEndsOfTheYear) {
  EXPECT_EQ(Moment("230101", "000000"), "2023-01-01 00:00:00 1");
  EXPECT_EQ(Moment("231231", "235959"), "2023-12-31 23:59:59 365");
  EXPECT_EQ(Moment("240101", "120000"), "2024-01-01 12:00:00 1");
  EXPECT_EQ(Moment("241231", "235959"), "2024-12-31 23:59:59 366");
  EXPECT_EQ(Moment("240301", "000000"), "2024-03-01 00:00:00 61");
  EXPECT_EQ(Moment("230301", "000000"), "2023-03-01 00:00:00 60");
}

TEST_F(DateTimeTest, FieldsOutOfRangeRollOver) {
  // 29 February of a year that is not a leap year is 1 March.
  EXPECT_EQ(Moment("230229", "101010"), "2023-03-01 10:10:10 60");
  EXPECT_EQ(Moment("240229", "101010"), "2024-02-29 10:10:10 60");
  EXPECT_EQ(Moment("230431", "000000"), "2023-05-01 00:00:00 121");
  EXPECT_EQ(Moment("231232", "000000"), "2024-01-01 00:00:00 1");
  EXPECT_EQ(Moment("231231", "240000"), "2024-01-01 00:00:00 1");
  EXPECT_EQ(Moment("231231", "235960"), "2024-01-01 00:00:00 1");
  EXPECT_EQ(Moment("231300", "000000"), "2023-12-31 00:00:00 365");
  // Month 0 is December of the year before, day 0 the last of the month
  // before.
  EXPECT_EQ(Moment("000000", "000000"), "1999-11-30 00:00:00 334");
  EXPECT_EQ(Moment("999999", "999999"), "2107-06-11 04:40:39 162");
}

TEST_F(DateTimeTest, PairsAreReadFromTheirLeadingDigits) {
  // Like every number the driver reads: no digits give 0, a sign is read.
  EXPECT_EQ(Moment("24 6x7", "8a1503"), "2024-05-31 08:15:03 152");
  EXPECT_EQ(Moment("2406-1", "-10000"), "2024-05-29 23:00:00 150");
}

TEST_F(DateTimeTest, RoundingStepRoundsDown) {
  EXPECT_EQ(Moment("240607", "101437", 900), "2024-06-07 10:00:00 159");
  EXPECT_EQ(Moment("240607", "101437", 60), "2024-06-07 10:14:00 159");
  EXPECT_EQ(Moment("240101", "000959", 600), "2024-01-01 00:00:00 1");
  EXPECT_EQ(Moment("240607", "101437", 86400), "2024-06-07 00:00:00 159");
}

TEST(DateTimeDaylightSavingTest, ChangeoverDaysGiveValidTimes) {
  ScopedTimeZone zone(kCentralEurope);
  if (!CentralEuropeRulesApply()) GTEST_SKIP() << "the platform does not follow " << kCentralEurope;
  // 02:30 does not exist on 26 March 2023; it becomes a valid time of the
  // same day without a failure.
  std::string moment = Moment("230326", "023000");
  EXPECT_TRUE(moment == "2023-03-26 03:30:00 85" || moment == "2023-03-26 01:30:00 85") << moment;
  EXPECT_EQ(Moment("230326", "013000"), "2023-03-26 01:30:00 85");
  EXPECT_EQ(Moment("230326", "033000"), "2023-03-26 03:30:00 85");
  // The hour that comes twice keeps its fields.
  EXPECT_EQ(Moment("231029", "023000"), "2023-10-29 02:30:00 302");
  EXPECT_EQ(Moment("231029", "235959"), "2023-10-29 23:59:59 302");
}

TEST(DateTimeDaylightSavingTest, DayOfYearIsRightInEverySummerHour) {
  ScopedTimeZone zone(kCentralEurope);
  if (!CentralEuropeRulesApply()) GTEST_SKIP() << "the platform does not follow " << kCentralEurope;
  // One hour less since 1 January than whole days: still 1 July.
  EXPECT_EQ(Moment("230701", "003000"), "2023-07-01 00:30:00 182");
  EXPECT_EQ(Moment("230327", "000000"), "2023-03-27 00:00:00 86");
  EXPECT_EQ(Moment("231231", "235959"), "2023-12-31 23:59:59 365");
}

TEST(DateTimeDaylightSavingTest, DayOfYearIsRightInEveryWinterHourOfTheSouth) {
  ScopedTimeZone zone(kEastAustralia);
  if (!EastAustraliaRulesApply()) GTEST_SKIP() << "the platform does not follow " << kEastAustralia;
  // 1 January lies in summer time: one hour more than whole days by the end
  // of 1 July, which stays 1 July.
  EXPECT_EQ(Moment("230701", "233000"), "2023-07-01 23:30:00 182");
  EXPECT_EQ(Moment("230101", "000000"), "2023-01-01 00:00:00 1");
  EXPECT_EQ(Moment("241231", "235959"), "2024-12-31 23:59:59 366");
}

}  // namespace
}  // namespace vornlink
