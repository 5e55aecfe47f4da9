#include "vornlink/cache_view.h"

#include <algorithm>
#include <ctime>

#include "cache/trid.h"
#include "platform/env.h"
#include "settings/numbers.h"

namespace vornlink {

bool IsWellFormedTrid(const std::string& trid) {
  return trid.size() == kTridLength &&
         std::all_of(trid.begin(), trid.end(), [](char c) { return c >= '0' && c <= '9'; });
}

LineState StateOf(const CacheRecord& record) {
  if (!IsWellFormedTrid(record.trid())) return LineState::kStuck;
  switch (LeadingInt(record.status())) {
    case 0:
      return LineState::kDue;
    case 2:
      return LineState::kRetryLater;
    case 1:
      return LineState::kParked;
    default:
      return LineState::kStuck;
  }
}

const char* StateName(LineState state) {
  switch (state) {
    case LineState::kDue:
      return "due";
    case LineState::kRetryLater:
      return "retry later";
    case LineState::kParked:
      return "parked";
    case LineState::kStuck:
      break;
  }
  return "stuck";
}

bool TridTime(const std::string& trid, int64_t* unix_time) {
  if (!IsWellFormedTrid(trid)) return false;
  auto number = [&](size_t at, size_t length) { return std::stoi(trid.substr(at, length)); };
  std::tm local{};
  local.tm_year = number(0, 4) - 1900;
  local.tm_mon = number(4, 2) - 1;
  local.tm_mday = number(6, 2);
  local.tm_hour = number(8, 2);
  local.tm_min = number(10, 2);
  local.tm_sec = number(12, 2);
  local.tm_isdst = -1;
  if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday < 1 || local.tm_mday > 31 ||
      local.tm_hour > 23 || local.tm_min > 59 || local.tm_sec > 60) {
    return false;
  }
  return FromLocalTime(&local, unix_time);
}

}  // namespace vornlink
