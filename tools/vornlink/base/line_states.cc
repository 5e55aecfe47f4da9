#include "vornlink/base/line_states.h"

#include <filesystem>
#include <memory>
#include <system_error>

#include "delivery/cache_worker.h"
#include "vornlink/base/json_writer.h"

namespace vornlink {

const char* StateName(LineState state) {
  switch (state) {
    case LineState::kDueNew:
      return "due";
    case LineState::kDueRetry:
      return "retry later";
    case LineState::kParked:
      return "parked";
    case LineState::kDelivered:
      return "delivered";
    case LineState::kOutcomeUnknown:
      return "unknown";
    case LineState::kStuck:
      break;
  }
  return "stuck";
}

const char* StateKey(LineState state) {
  switch (state) {
    case LineState::kDueNew:
      return "due";
    case LineState::kDueRetry:
      return "retry_later";
    case LineState::kParked:
      return "parked";
    case LineState::kDelivered:
      return "delivered_pending";
    case LineState::kOutcomeUnknown:
      return "outcome_unknown";
    case LineState::kStuck:
      break;
  }
  return "stuck";
}

LockProbe ProbeDeliveryLock(const std::string& cache_path, std::string* reason) {
#ifndef _WIN32
  // A lock file this user made would keep a host of another user out: a
  // missing one is left to the worker that makes it.
  std::error_code ignored;
  if (std::filesystem::symlink_status(DeliveryLockFilePath(cache_path), ignored).type() ==
      std::filesystem::file_type::not_found) {
    return LockProbe::kFree;
  }
#endif
  std::unique_ptr<CrossProcessMutex> mutex =
      GetEnv()->NewNamedMutex(DeliveryLockName(cache_path), DeliveryLockFilePath(cache_path));
  switch (mutex->TryLock(reason)) {
    case TryLockResult::kTaken:
      mutex->Unlock();
      return LockProbe::kFree;
    case TryLockResult::kHeld:
      return LockProbe::kHeld;
    case TryLockResult::kUnavailable:
      break;
  }
  // The host's user's lock file (0644, say) refuses this user only.
  if (mutex->RefusedToThisUser()) {
    *reason = "cannot be judged by this user (run as the host's user): " + *reason;
    return LockProbe::kNotJudged;
  }
  return LockProbe::kUnavailable;
}

std::string StateCounts::Summary() const {
  std::string text;
  for (LineState state :
       {LineState::kDueNew, LineState::kDueRetry, LineState::kParked, LineState::kStuck}) {
    if (!text.empty()) text += ", ";
    text += std::to_string((*this)[state]) + " " + StateName(state);
  }
  // Rare (a disk that was full): named only when there are such lines.
  if ((*this)[LineState::kDelivered] > 0) {
    text += ", " + std::to_string((*this)[LineState::kDelivered]) + " " + kDeliveredNote;
  }
  if ((*this)[LineState::kOutcomeUnknown] > 0) {
    text += ", " + std::to_string((*this)[LineState::kOutcomeUnknown]) + " outcome unknown";
  }
  return text;
}

std::string MessageShown(const CacheRecord& record) {
  if (record.message().empty() && StateOf(record) == LineState::kOutcomeUnknown) {
    return kCutMarkNote;
  }
  return record.message();
}

void StateCountsJson(JsonWriter& json, const StateCounts& counts) {
  json.BeginObject();
  for (LineState state : kAllLineStates) json.Key(StateKey(state)).Number(counts[state]);
  json.EndObject();
}

}  // namespace vornlink
