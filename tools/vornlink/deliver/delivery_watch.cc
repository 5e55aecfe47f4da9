#include "vornlink/deliver/delivery_watch.h"

#include <algorithm>

#include "vornlink/base/line_states.h"

namespace vornlink {
namespace {

bool IsDue(LineState state) { return state == LineState::kDueNew || state == LineState::kDueRetry; }

}  // namespace

const char* FateName(LineFate fate) {
  switch (fate) {
    case LineFate::kDelivered:
      return "delivered";
    case LineFate::kRetryLater:
      return "retry later";
    case LineFate::kParked:
      return "parked";
    case LineFate::kRemoved:
      return "removed";
    case LineFate::kOutcomeUnknown:
      return "unknown";
    case LineFate::kOther:
      break;
  }
  return "not due";
}

DeliveryWatch::DeliveryWatch(const std::vector<NumberedRecord>& records, bool log_followed)
    : log_complete_(log_followed) {
  for (const NumberedRecord& line : records) {
    seen_trids_.insert(line.record.trid());
    if (IsDue(StateOf(line.record))) Track(line, 1);
  }
}

void DeliveryWatch::Track(const NumberedRecord& line, int pass) {
  due_[line.record.trid()] = {line.record.trid(), line.record.transaction(), line.line, pass};
}

bool DeliveryWatch::TakeVerdict(ForwardOutcome outcome, const std::string& job_no,
                                std::string* verdict) {
  std::deque<std::string>& waiting = outcome_entries_[outcome];
  for (auto it = waiting.begin(); it != waiting.end(); ++it) {
    if (ForwardLogEntryNamesJob(*it, job_no)) {
      *verdict = ForwardVerdictOfLogEntry(*it);
      waiting.erase(it);
      return true;
    }
  }
  return false;
}

size_t DeliveryWatch::TakeLogEntries(const std::vector<CapturedEntry>& entries) {
  size_t unreachable_passes = 0;
  for (const CapturedEntry& entry : entries) {
    ForwardOutcome outcome;
    if (!ForwardOutcomeOfLogEntry(entry.flag, entry.message, &outcome)) continue;
    if (outcome == ForwardOutcome::kCutAfterSending) {
      cut_exchanges_.push_back(entry.message);
    } else if (outcome == ForwardOutcome::kUnreachable) {
      unreachable_.emplace_back(ForwardVerdictOfLogEntry(entry.message));
      ++unreachable_passes;
    } else if (outcome != ForwardOutcome::kStopped) {
      outcome_entries_[outcome].push_back(entry.message);
    }
  }
  return unreachable_passes;
}

std::vector<DeliveryWatch::LeftLine> DeliveryWatch::TakeLeftLines(
    const std::vector<NumberedRecord>& records) {
  std::map<std::string, const NumberedRecord*> by_trid;
  for (const NumberedRecord& line : records) by_trid.emplace(line.record.trid(), &line);
  std::vector<LeftLine> left;
  for (auto it = due_.begin(); it != due_.end();) {
    auto found = by_trid.find(it->first);
    if (found != by_trid.end() && IsDue(StateOf(found->second->record))) {
      it->second.line = found->second->line;
      ++it;
      continue;
    }
    left.push_back({it->second, found == by_trid.end() ? nullptr : &found->second->record});
    it = due_.erase(it);
  }
  // The worker sends in file order: so are the lines it has changed since.
  std::sort(left.begin(), left.end(),
            [](const LeftLine& a, const LeftLine& b) { return a.line.line < b.line.line; });
  return left;
}

const CacheRecord* DeliveryWatch::FindMovedLine(const DueLine& gone,
                                                const std::vector<NumberedRecord>& records,
                                                std::set<std::string>* claimed) {
  for (const NumberedRecord& line : records) {
    if (seen_trids_.count(line.record.trid()) == 0 && claimed->count(line.record.trid()) == 0 &&
        line.record.transaction() == gone.transaction) {
      claimed->insert(line.record.trid());
      if (IsDue(StateOf(line.record))) Track(line, gone.pass + 1);
      return &line.record;
    }
  }
  return nullptr;
}

void DeliveryWatch::JudgeFate(const CacheRecord* now, const std::string& job_no,
                              LineOutcome* outcome) {
  const LineState state = now == nullptr ? LineState::kDelivered : StateOf(*now);
  if (state == LineState::kDelivered) {
    const bool logged = TakeVerdict(ForwardOutcome::kSuccess, job_no, &outcome->verdict);
    outcome->fate = logged || !log_complete_ ? LineFate::kDelivered : LineFate::kRemoved;
  } else if (state == LineState::kParked) {
    outcome->fate = LineFate::kParked;
    if (!TakeVerdict(ForwardOutcome::kNeedsAttention, job_no, &outcome->verdict)) {
      outcome->verdict = ForwardVerdictOfLogEntry(now->message());
    }
  } else if (state == LineState::kDueRetry) {
    outcome->fate = LineFate::kRetryLater;
    TakeVerdict(ForwardOutcome::kRetryLater, job_no, &outcome->verdict);
  } else if (state == LineState::kOutcomeUnknown) {
    outcome->fate = LineFate::kOutcomeUnknown;
    if (!TakeVerdict(ForwardOutcome::kOutcomeUnknown, job_no, &outcome->verdict)) {
      outcome->verdict = ForwardVerdictOfLogEntry(MessageShown(*now));
    }
  } else {
    outcome->fate = LineFate::kOther;
  }
}

std::vector<LineOutcome> DeliveryWatch::Update(const std::vector<NumberedRecord>& records,
                                               const std::vector<CapturedEntry>& entries,
                                               bool entries_missed) {
  log_complete_ = log_complete_ && !entries_missed;
  const size_t unreachable_passes = TakeLogEntries(entries);
  std::set<std::string> claimed;  // new Trids of lines moved to the end
  std::vector<LineOutcome> outcomes;
  for (const LeftLine& gone : TakeLeftLines(records)) {
    LineOutcome outcome;
    outcome.trid = gone.line.trid;
    outcome.trans_no = gone.line.transaction[kTransNo];
    outcome.job_no = gone.line.transaction[kJobNo];
    outcome.pass = gone.line.pass;
    const CacheRecord* now = gone.now;
    if (now == nullptr) {
      // Moved to the end: the first new line with the same transaction.
      now = FindMovedLine(gone.line, records, &claimed);
      if (now != nullptr) outcome.trid = now->trid();
    }
    JudgeFate(now, outcome.job_no, &outcome);
    std::pair<int, int>& tally = pass_tally_[outcome.pass];
    ++(outcome.fate == LineFate::kRetryLater ? tally.second : tally.first);
    outcomes.push_back(std::move(outcome));
  }
  // Lines added meanwhile (by a host, or released by a person).
  for (const NumberedRecord& line : records) {
    if (seen_trids_.count(line.record.trid()) == 0 && claimed.count(line.record.trid()) == 0 &&
        IsDue(StateOf(line.record))) {
      Track(line, pass_);
    }
  }
  for (const NumberedRecord& line : records) seen_trids_.insert(line.record.trid());
  for (size_t i = 0; i < unreachable_passes; ++i) EndPassUnreachable();
  EndPasses();
  return outcomes;
}

void DeliveryWatch::EndPassUnreachable() {
  for (auto& [trid, line] : due_) line.pass = std::max(line.pass, pass_ + 1);
  passes_ended_ = pass_;
  last_pass_changed_nothing_ = false;
  last_pass_unreachable_ = true;
  ++pass_;
}

void DeliveryWatch::EndPasses() {
  for (;;) {
    for (const auto& [trid, line] : due_) {
      if (line.pass <= pass_) return;
    }
    auto tally = pass_tally_.find(pass_);
    if (tally != pass_tally_.end()) {
      passes_ended_ = pass_;
      last_pass_changed_nothing_ = tally->second.first == 0 && tally->second.second > 0;
      last_pass_unreachable_ = false;
    }
    if (due_.empty()) return;
    ++pass_;
  }
}

std::vector<DueLine> DeliveryWatch::Due() const {
  std::vector<DueLine> lines;
  for (const auto& [trid, line] : due_) lines.push_back(line);
  std::sort(lines.begin(), lines.end(),
            [](const DueLine& a, const DueLine& b) { return a.line < b.line; });
  return lines;
}

}  // namespace vornlink
