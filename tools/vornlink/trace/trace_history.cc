#include "vornlink/trace/trace_history.h"

#include <set>

#include "base/text_lines.h"
#include "cache/cache_log_entries.h"
#include "cache/cache_record.h"
#include "cache/unwritten_entries.h"
#include "delivery/cache_worker.h"
#include "log/log.h"
#include "vornlink/base/operator_entries.h"

namespace vornlink {
namespace {

constexpr std::string_view kTridOpen = "Trid[";
constexpr std::string_view kTransNoOpen = "TransNo[";

bool StartsWith(std::string_view text, std::string_view head) {
  return text.substr(0, head.size()) == head;
}
bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// Every "Trid[...]" the message names, in order.
std::vector<std::string> TridsNamed(std::string_view message) {
  std::vector<std::string> trids;
  for (size_t at = message.find(kTridOpen); at != std::string_view::npos;
       at = message.find(kTridOpen, at + 1)) {
    const size_t start = at + kTridOpen.size();
    const size_t end = message.find(']', start);
    if (end == std::string_view::npos) break;
    trids.emplace_back(message.substr(start, end - start));
  }
  return trids;
}

// One log entry, read for what it says of a transaction.
struct Reading {
  enum class What { kNone, kSending, kAdded, kUnwritten, kReleased, kDropped, kRemoved };
  What what = What::kNone;
  std::string trans_no;
  std::optional<std::string> job_no;  // none where the entry does not name it
  std::string trid;
  std::string new_trid;  // a release: the line's Trid from then on
  std::string key;
  UnwrittenEvent unwritten = UnwrittenEvent::kKept;
};

Reading Read(const LogEntryView& view) {
  const std::string_view message = view.message;
  Reading r;
  SendingEntry sending;
  if (SendingOfLogEntry(view.flag, message, &sending)) {
    r.what = Reading::What::kSending;
    r.trans_no = sending.trans_no;
    r.job_no = sending.job_no;
    r.trid = sending.trid;
    r.key = sending.booking_key;
    return r;
  }
  if (StartsWith(message, kAddedEntryHead) && EndsWith(message, kAddedEntryEnd)) {
    const std::string_view rest = message.substr(0, message.size() - kAddedEntryEnd.size());
    const size_t trid = rest.rfind(kAddedEntryTrid);
    if (trid == std::string_view::npos || trid < kAddedEntryHead.size()) return r;
    r.what = Reading::What::kAdded;
    r.trans_no = std::string(rest.substr(kAddedEntryHead.size(), trid - kAddedEntryHead.size()));
    r.trid = std::string(rest.substr(trid + kAddedEntryTrid.size()));
    return r;
  }
  if (StartsWith(message, kDeletedEntryHead) && EndsWith(message, kDeletedEntryEnd)) {
    r.what = Reading::What::kRemoved;
    r.trid = std::string(
        message.substr(kDeletedEntryHead.size(),
                       message.size() - kDeletedEntryHead.size() - kDeletedEntryEnd.size()));
    return r;
  }
  std::string text;
  if (ParseUnwrittenEntry(message, &r.unwritten, &text)) {
    // The twelve fields, each without commas: the TransNo, then the JobNo.
    const size_t comma = text.find(',');
    const size_t second = comma == std::string::npos ? comma : text.find(',', comma + 1);
    if (second == std::string::npos) return r;
    r.what = Reading::What::kUnwritten;
    r.trans_no = text.substr(0, comma);
    r.job_no = text.substr(comma + 1, second - comma - 1);
    if (r.unwritten == UnwrittenEvent::kWritten) {
      const std::vector<std::string> trids = TridsNamed(message);
      if (!trids.empty()) r.trid = trids.back();
    }
    return r;
  }
  if (!StartsWith(message, kOperatorEntryHead)) return r;
  const std::vector<std::string> trids = TridsNamed(message);
  if (trids.empty()) return r;
  r.trid = trids.front();
  if (const size_t released = message.rfind(kReleasedWords); released != std::string_view::npos) {
    const size_t trans_no = message.rfind(kTransNoOpen, released);
    if (trans_no == std::string_view::npos || trids.size() < 2) return r;
    r.what = Reading::What::kReleased;
    const size_t start = trans_no + kTransNoOpen.size();
    r.trans_no = std::string(message.substr(start, released - start));
    r.new_trid = trids.back();
  } else if (const size_t dropped = message.find(kDroppedWords);
             dropped != std::string_view::npos) {
    CacheRecord record;
    ParseCacheLine(message.substr(dropped + kDroppedWords.size()), &record);
    r.what = Reading::What::kDropped;
    r.trans_no = record.trans_no();
    r.job_no = record.fields[kJobNo];
  }
  return r;
}

class Tracer {
 public:
  Tracer(const TraceQuery& query, TraceHistory* history) : query_(query), history_(*history) {}

  // Whether an entry's TransNo and JobNo are the query's; one that names no
  // JobNo counts only by a Trid known to be the transaction's, when the
  // query names one.
  bool Names(const Reading& r) const {
    if (r.trans_no != query_.trans_no) return false;
    if (!query_.job_no.has_value()) return true;
    return r.job_no.has_value() ? *r.job_no == *query_.job_no : Known(r.trid) || Known(r.new_trid);
  }
  bool Known(const std::string& trid) const { return !trid.empty() && trids_.count(trid) != 0; }

  // First the Trids the transaction had, then its story with them.
  void Learn(const Reading& r) {
    if (r.what == Reading::What::kNone || r.what == Reading::What::kRemoved) return;
    if (!Names(r)) return;
    trids_.insert(r.trid);
    if (!r.new_trid.empty()) trids_.insert(r.new_trid);
  }
  void LearnLine(const CacheRecord& record) { trids_.insert(record.trid()); }

  void Tell(const LogEntryView& view, const Reading& r) {
    TraceEvent event;
    event.stamp = std::string(view.stamp);
    event.trid = r.trid;
    using What = Reading::What;
    switch (r.what) {
      case What::kSending:
        pending_ = std::nullopt;
        if (!Names(r)) return;
        event.kind = TraceEvent::Kind::kAttempt;
        event.booking_key = r.key;
        event.text = "attempt " + std::to_string(++history_.attempts) + ": Trid[" + r.trid +
                     "] BookingKey[" + r.key + "] sent";
        pending_ = history_.events.size();
        break;
      case What::kAdded:
      case What::kUnwritten:
        if (!Names(r) || (r.what == What::kAdded && !Known(r.trid))) return;
        if (r.what == What::kAdded && TellAsMove(r.trid)) return;
        if (r.what == What::kUnwritten && r.unwritten != UnwrittenEvent::kWritten) {
          event.kind = TraceEvent::Kind::kUnwritten;
          event.text =
              std::string(view.flag == '*' ? "not written: " : "") + std::string(view.message);
          break;
        }
        event.kind = TraceEvent::Kind::kHandedOver;
        history_.handed_over = true;
        event.text = r.what == What::kAdded
                         ? "handed over: cache line added as Trid[" + r.trid + "]"
                     : EndsWith(view.message, kEnteredWords)
                         ? "entered by an operator (vornlink cache add) as Trid[" + r.trid + "]"
                         : "handed over: written to the cache after waiting in memory, as Trid[" +
                               r.trid + "]";
        break;
      case What::kReleased:
        if (!Known(r.trid)) return;
        event.kind = TraceEvent::Kind::kReleased;
        event.text = "released by an operator (vornlink cache retry): Trid[" + r.trid +
                     "] due again as Trid[" + r.new_trid + "]";
        break;
      case What::kDropped:
        if (!Names(r)) return;
        event.kind = TraceEvent::Kind::kDropped;
        event.text = "dropped by an operator (vornlink cache drop): Trid[" + r.trid + "]";
        break;
      case What::kRemoved:
        if (!Known(r.trid)) return;
        event.kind = TraceEvent::Kind::kRemoved;
        event.text = "removed from the cache: Trid[" + r.trid + "]";
        break;
      case What::kNone:
        if (TellOutcome(view)) return;
        for (const std::string& trid : TridsNamed(view.message)) {
          if (!Known(trid)) continue;
          event.trid = trid;
          event.text = std::string(view.message);
          break;
        }
        if (event.text.empty()) return;
        break;
    }
    history_.events.push_back(std::move(event));
  }

 private:
  // The cache logs a line moved to the end (retry later, parked, released)
  // as its removal and a line added with a new Trid: told as one move when
  // the removal came last and no delivery before it (after one, the new
  // line is the TransNo handed over again).
  bool TellAsMove(const std::string& new_trid) {
    if (history_.events.empty() || history_.events.back().kind != TraceEvent::Kind::kRemoved) {
      return false;
    }
    for (auto at = history_.events.rbegin(); at != history_.events.rend(); ++at) {
      if (at->kind != TraceEvent::Kind::kAttempt) continue;
      if (at->outcome == ForwardOutcome::kSuccess) return false;
      break;
    }
    TraceEvent& removal = history_.events.back();
    removal.kind = TraceEvent::Kind::kMoved;
    removal.text =
        "moved to the end of the cache: Trid[" + removal.trid + "] -> Trid[" + new_trid + "]";
    return true;
  }

  // The outcome of the exchange last sent, when it is the transaction's.
  bool TellOutcome(const LogEntryView& view) {
    ForwardOutcome outcome;
    if (!ForwardOutcomeOfLogEntry(view.flag, view.message, &outcome)) return false;
    if (!pending_.has_value()) return true;
    TraceEvent& attempt = history_.events[*pending_];
    pending_ = std::nullopt;
    attempt.outcome = outcome;
    attempt.verdict = std::string(ForwardVerdictOfLogEntry(view.message));
    attempt.text += std::string(" -> ") + OutcomeWords(outcome) + " at " + std::string(view.stamp) +
                    ": " + attempt.verdict;
    if (outcome == ForwardOutcome::kSuccess) history_.delivered = true;
    return true;
  }

  const TraceQuery& query_;
  TraceHistory& history_;
  std::set<std::string> trids_;
  std::optional<size_t> pending_;  // the attempt whose outcome the log tells next
};

}  // namespace

const char* OutcomeWords(ForwardOutcome outcome) {
  switch (outcome) {
    case ForwardOutcome::kSuccess:
      return "delivered";
    case ForwardOutcome::kNeedsAttention:
      return "failed, parked for a person";
    case ForwardOutcome::kRetryLater:
      return "retry later";
    case ForwardOutcome::kStopped:
      return "stopped before sending, stays due";
    case ForwardOutcome::kCutAfterSending:
    case ForwardOutcome::kCutRepeatsDropped:
      return "cut by the stop after sending: the DMS may have booked it";
    case ForwardOutcome::kUnreachable:
      return "DMS unreachable, stays due";
    case ForwardOutcome::kOutcomeUnknown:
      return "outcome unknown: the DMS may have booked it";
  }
  return "?";
}

TraceHistory TraceTransaction(const TraceQuery& query, const std::vector<NumberedRecord>& records,
                              std::string_view log_text) {
  TraceHistory history;
  Tracer tracer(query, &history);
  for (const NumberedRecord& line : records) {
    const CacheRecord& record = line.record;
    if (record.trans_no() != query.trans_no) continue;
    if (query.job_no.has_value() && record.fields[kJobNo] != *query.job_no) continue;
    history.cache_lines.push_back(line);
    tracer.LearnLine(record);
  }
  // Read again in each round rather than kept: a log that is never cut may
  // hold millions of entries.
  const std::vector<std::string_view> lines = SplitLines(log_text);
  auto each_entry = [&lines](const auto& take) {
    for (std::string_view line : lines) {
      LogEntryView view;
      if (ParseLogEntry(line, &view)) take(view, Read(view));
    }
  };
  // Twice: a release names a Trid that only a later entry may tie to the
  // JobNo asked for.
  for (int round = 0; round < 2; ++round) {
    each_entry([&](const LogEntryView&, const Reading& reading) { tracer.Learn(reading); });
  }
  each_entry([&](const LogEntryView& view, const Reading& reading) {
    if (history.log_start.empty()) history.log_start = std::string(view.stamp);
    tracer.Tell(view, reading);
  });
  return history;
}

}  // namespace vornlink
