// The worker's settings of the INI file, read afresh at each use.
#include <algorithm>

#include "base/numbers.h"
#include "delivery/cache_worker.h"
#include "log/log.h"
#include "settings/module_files.h"

namespace vornlink {

RetrySetting ReadRetrySetting() {
  RetrySetting setting;
  setting.text = ReadIniString("CacheThread", "RetryTime", "10");
  const int32_t seconds = LeadingInt(setting.text);
  setting.seconds = std::clamp(seconds, int32_t{0}, kMaxRetrySeconds);
  setting.held = setting.seconds != seconds;
  return setting;
}

ParkUnreachableSetting ReadParkUnreachableSetting() {
  ParkUnreachableSetting setting;
  setting.text = ReadIniString("CacheThread", "ParkUnreachableAfterHours",
                               std::to_string(kDefaultParkUnreachableHours));
  const int32_t hours = LeadingInt(setting.text);
  setting.hours = std::clamp(hours, int32_t{0}, kMaxParkUnreachableHours);
  setting.held = setting.hours != hours;
  return setting;
}

int32_t ReadParkUnreachableHours() {
  const ParkUnreachableSetting setting = ReadParkUnreachableSetting();
  if (setting.held) {
    LogPrint('*', "ForwardTransaction: Cache ParkUnreachableAfterHours [%s] out of range -> %d",
             OneLine(setting.text).c_str(), static_cast<int>(setting.hours));
  }
  LogPrint('.', "ForwardTransaction: Cache ParkUnreachableAfterHours [%d] hours",
           static_cast<int>(setting.hours));
  return setting.hours;
}

int32_t ReadRetrySeconds() {
  const RetrySetting setting = ReadRetrySetting();
  if (setting.held) {
    LogPrint('*', "ForwardTransaction: Cache RetryTime [%s] out of range -> %d seconds",
             OneLine(setting.text).c_str(), static_cast<int>(setting.seconds));
  }
  LogPrint('.', "ForwardTransaction: Cache RetryTime [%d] seconds",
           static_cast<int>(setting.seconds));
  return setting.seconds;
}

uint32_t UnreachableWaitMs(uint32_t retry_ms, int passes) {
  const uint64_t cap = std::max(retry_ms, kMaxUnreachableWaitMs);
  uint64_t wait = retry_ms;
  for (int pass = 1; pass < passes && wait < cap; ++pass) wait *= 2;
  return static_cast<uint32_t>(std::min(wait, cap));
}

}  // namespace vornlink
