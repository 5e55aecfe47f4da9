#include "cache/trid.h"

#include <bitset>
#include <cstdio>
#include <ctime>

#include "cache/cache_record.h"
#include "platform/env.h"

namespace vornlink {
namespace {

constexpr int kTridsPerSecond = 1000;

bool IsDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

std::string TridSecond(int64_t unix_time) {
  std::tm local{};
  char text[32] = "00000000000000";
  if (ToLocalTime(unix_time, &local)) std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
  return text;
}

std::string FormatTrid(std::string_view second, int sub) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%4.4d", sub);
  std::string trid(second);
  trid.append(digits);
  return trid;
}

std::string MakeTrid() {
  Env* env = GetEnv();
  return FormatTrid(TridSecond(env->UnixTime()), static_cast<int>(env->TickCount() % 1000));
}

std::string MakeUniqueTrid(std::string_view cache_text) {
  Env* env = GetEnv();
  for (;;) {
    const int64_t now = env->UnixTime();
    const std::string second = TridSecond(now);
    std::bitset<kTridsPerSecond> taken;
    for (std::string_view line : LinesContaining(cache_text, second)) {
      std::string_view trid = TridOfLine(line);
      if (trid.size() == kTridLength && trid.substr(0, second.size()) == second &&
          trid[second.size()] == '0' && IsDigits(trid.substr(second.size() + 1))) {
        int sub = (trid[15] - '0') * 100 + (trid[16] - '0') * 10 + (trid[17] - '0');
        taken.set(static_cast<size_t>(sub));
      }
    }
    if (!taken.all()) {
      int sub = static_cast<int>(env->TickCount() % kTridsPerSecond);
      while (taken.test(static_cast<size_t>(sub))) sub = (sub + 1) % kTridsPerSecond;
      return FormatTrid(second, sub);
    }
    // Every value of this second is in use: wait for the next one.
    while (env->UnixTime() == now) env->SleepMs(10);
  }
}

}  // namespace vornlink
