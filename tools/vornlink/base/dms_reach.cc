#include "vornlink/base/dms_reach.h"

#include "base/text_lines.h"
#include "driver/service.h"
#include "exchange/forward_transaction.h"
#include "platform/env.h"

namespace vornlink {

namespace {

// The most of a log file read, as status reads it.
constexpr size_t kMaxReachLogBytes = size_t{256} << 20;

}  // namespace

void DmsReachTally::Note(const LogEntryView& entry) {
  ForwardOutcome outcome;
  bool unreachable = false;
  if (!ForwardOutcomeOfLogEntry(entry.flag, entry.message, &outcome, &unreachable)) return;
  // A stop before anything went out tells nothing either way.
  if (outcome == ForwardOutcome::kStopped) return;
  if (!unreachable) {
    since_.clear();
    why_.clear();
    return;
  }
  if (since_.empty()) since_ = std::string(entry.stamp);
  why_ = std::string(ForwardVerdictOfLogEntry(entry.message));
}

std::string DmsReachTally::State() const {
  if (since_.empty()) return std::string();
  return "unreachable since " + since_ + (why_.empty() ? "" : " (" + why_ + ")");
}

DmsReachTally ReadDmsReach() {
  DmsReachTally tally;
  const std::string name = ReadLogSettings().file_name;
  std::string text, error;
  if (name.empty() || !GetEnv()->IsTrustedPath(name, &error) ||
      GetEnv()->ReadTextFile(name, &text, kMaxReachLogBytes, &error) != ReadResult::kOk) {
    return tally;
  }
  for (std::string_view line : SplitLines(text)) {
    LogEntryView view;
    if (ParseLogEntry(line, &view)) tally.Note(view);
  }
  return tally;
}

}  // namespace vornlink
