#include "cache/trid.h"

#include <cstdio>
#include <ctime>

#include "base/numbers.h"
#include "cache/cache_record.h"
#include "platform/env.h"

namespace vornlink {
namespace {

bool IsDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// `text` as a number when it is `length` digits, else -1.
int64_t NumberOfDigits(std::string_view text, size_t length) {
  if (text.size() != length || !IsDigits(text)) return -1;
  int64_t number = 0;
  for (char c : text) number = number * 10 + (c - '0');
  return number;
}

// The local moment of a year's digits and ten more, MMDDhhmmss. False
// for fields out of their ranges and for a day the month does not have.
bool LocalDigitsUnixTime(std::string_view year, std::string_view rest, int64_t* unix_time) {
  auto number = [&](size_t at) { return LeadingInt(rest.substr(at, 2)); };
  std::tm local{};
  local.tm_year = LeadingInt(year) - 1900;
  local.tm_mon = number(0) - 1;
  local.tm_mday = number(2);
  local.tm_hour = number(4);
  local.tm_min = number(6);
  local.tm_sec = number(8);
  local.tm_isdst = -1;
  if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday < 1 || local.tm_mday > 31 ||
      local.tm_hour > 23 || local.tm_min > 59 || local.tm_sec > 60) {
    return false;
  }
  const int day = local.tm_mday;
  return FromLocalTime(&local, unix_time) && local.tm_mday == day;
}

}  // namespace

std::string TridSecond(int64_t unix_time) {
  std::tm local{};
  char text[32] = "00000000000000";
  if (!ToLocalTime(unix_time, &local)) return text;
  const int year = local.tm_year + 1900;
  if (year < 1000 || year > 9999) {
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
    return text;
  }
  // Every add makes one: the digits without the cost of a format.
  const int parts[] = {year / 100,    year % 100,   local.tm_mon + 1, local.tm_mday,
                       local.tm_hour, local.tm_min, local.tm_sec};
  char* at = text;
  for (int part : parts) {
    *at++ = static_cast<char>('0' + part / 10 % 10);
    *at++ = static_cast<char>('0' + part % 10);
  }
  return std::string(text, static_cast<size_t>(at - text));
}

std::string FormatTrid(std::string_view second, int sub) {
  std::string trid(second);
  if (sub < 0 || sub > 9999) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%4.4d", sub);
    return trid.append(digits);
  }
  // Every add makes one: four digits without the cost of a format.
  const char digits[4] = {
      static_cast<char>('0' + sub / 1000), static_cast<char>('0' + sub / 100 % 10),
      static_cast<char>('0' + sub / 10 % 10), static_cast<char>('0' + sub % 10)};
  return trid.append(digits, sizeof digits);
}

int64_t TridSecondNumber(std::string_view second) {
  return NumberOfDigits(second, kTridLength - 4);
}

std::string MakeTrid() {
  Env* env = GetEnv();
  return FormatTrid(TridSecond(env->UnixTime()), static_cast<int>(env->TickCount() % 1000));
}

std::string PickTrid(std::string_view second, const TakenTrids& taken, uint32_t tick) {
  if (taken.all()) return std::string();
  int sub = static_cast<int>(tick % kTridsPerSecond);
  while (taken.test(static_cast<size_t>(sub))) sub = (sub + 1) % kTridsPerSecond;
  return FormatTrid(second, sub);
}

int64_t TridNumber(std::string_view trid) { return NumberOfDigits(trid, kTridLength); }

bool IsWellFormedTrid(std::string_view trid) { return TridNumber(trid) >= 0; }

bool TridUnixTime(std::string_view trid, int64_t* unix_time) {
  if (!IsWellFormedTrid(trid)) return false;
  return LocalDigitsUnixTime(trid.substr(0, 4), trid.substr(4, 10), unix_time);
}

bool DispenseUnixTime(std::string_view date, std::string_view time, int64_t* unix_time) {
  if (date.size() != 6 || time.size() != 6 || !IsDigits(date) || !IsDigits(time)) return false;
  return LocalDigitsUnixTime("20" + std::string(date.substr(0, 2)),
                             std::string(date.substr(2)) + std::string(time), unix_time);
}

bool SplitTridNumber(int64_t number, int64_t* second, int* value) {
  if (number < 0 || number % 10000 >= kTridsPerSecond) return false;
  *second = number / 10000;
  *value = static_cast<int>(number % 10000);
  return true;
}

TakenTrids TakenTridsIn(std::string_view cache_text, std::string_view second) {
  TakenTrids taken;
  for (std::string_view line : LinesContaining(cache_text, second)) {
    std::string_view trid = TridOfLine(line);
    if (trid.size() == kTridLength && trid.substr(0, second.size()) == second &&
        trid[second.size()] == '0' && IsDigits(trid.substr(second.size() + 1))) {
      int sub = (trid[15] - '0') * 100 + (trid[16] - '0') * 10 + (trid[17] - '0');
      taken.set(static_cast<size_t>(sub));
    }
  }
  return taken;
}

std::string MakeUniqueTrid(const std::function<TakenTrids(std::string_view second)>& taken_in) {
  Env* env = GetEnv();
  for (;;) {
    const int64_t now = env->UnixTime();
    const std::string second = TridSecond(now);
    std::string trid = PickTrid(second, taken_in(second), env->TickCount());
    if (!trid.empty()) return trid;
    // Every value of this second is in use: wait for the next one.
    while (env->UnixTime() == now) env->SleepMs(10);
  }
}

}  // namespace vornlink
