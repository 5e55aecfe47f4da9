#include "vornlink/trace/trace_command.h"

#include <optional>
#include <ostream>

#include "cache/cache_file.h"
#include "driver/service.h"
#include "log/log.h"
#include "platform/env.h"
#include "vornlink/base/exit_codes.h"
#include "vornlink/base/json_writer.h"
#include "vornlink/base/line_states.h"
#include "vornlink/base/site_env.h"
#include "vornlink/base/text_output.h"
#include "vornlink/trace/trace_history.h"

namespace vornlink {
namespace {

// The most of a log file read, as `status` reads it.
constexpr size_t kMaxLogBytes = size_t{256} << 20;

void Show(std::ostream& out, const std::string& label, const std::string& value) {
  out << "  " << Padded(label, 9) << " " << value << "\n";
}

// The log's text, or why there is none (in `why`).
bool ReadLog(const std::string& name, std::string* text, std::string* why) {
  std::string error;
  if (name.empty()) {
    *why = "none (KMR/Log/FileName is empty)";
  } else if (!GetEnv()->IsTrustedPath(name, &error)) {
    *why = name + " is not written: " + error;
  } else {
    switch (GetEnv()->ReadTextFile(name, text, kMaxLogBytes, &error)) {
      case ReadResult::kOk:
        return true;
      case ReadResult::kMissing:
        *why = name + " (not there yet: the driver has written nothing)";
        break;
      default:
        *why = name + " cannot be read (" + error + ")";
        break;
    }
  }
  return false;
}

// The last event of `kind`, or null.
const TraceEvent* Last(const TraceHistory& history, TraceEvent::Kind kind) {
  const TraceEvent* last = nullptr;
  for (const TraceEvent& event : history.events) {
    if (event.kind == kind) last = &event;
  }
  return last;
}

// Where it is now: its cache lines, or what became of it.
std::vector<std::string> NowLines(const TraceHistory& history) {
  std::vector<std::string> now;
  for (const NumberedRecord& line : history.cache_lines) {
    const std::string message = MessageShown(line.record);
    now.push_back("cache line " + std::to_string(line.line) + ", Trid " + line.record.trid() +
                  ", " + StateName(StateOf(line.record)) + (message.empty() ? "" : ": " + message));
  }
  if (!now.empty()) return now;
  const TraceEvent* dropped = Last(history, TraceEvent::Kind::kDropped);
  const TraceEvent* removed = Last(history, TraceEvent::Kind::kRemoved);
  if (history.delivered) {
    std::string booked = "delivered: the DMS booked it";
    for (const TraceEvent& event : history.events) {
      if (event.outcome == ForwardOutcome::kSuccess) booked += " (" + event.verdict + ")";
    }
    now.push_back(booked);
  } else if (dropped != nullptr) {
    now.push_back("dropped by an operator at " + dropped->stamp +
                  ": never delivered by the driver");
  } else if (removed != nullptr) {
    now.push_back("removed from the cache at " + removed->stamp);
  } else {
    now.push_back("not in the cache");
  }
  return now;
}

// What the log cannot tell of it, plainly.
std::vector<std::string> Gaps(const TraceHistory& history, const std::string& flags) {
  std::vector<std::string> gaps;
  const bool cache_entries = ParseLogFlags(flags).Passes('c');
  if (!cache_entries) {
    gaps.push_back("the log's flags (\"" + flags +
                   "\") leave out the cache's entries (flag c): the hand-over and the removal "
                   "are not in it");
  } else if (history.log_start.empty()) {
    gaps.push_back("the log holds no entry yet");
  } else if (!history.handed_over) {
    gaps.push_back("the log does not show the hand-over: it begins at " + history.log_start +
                   ", so it was cut past this transaction's start (or its flags left out the "
                   "cache's entries then)");
  }
  return gaps;
}

const char* KindKey(TraceEvent::Kind kind) {
  switch (kind) {
    case TraceEvent::Kind::kHandedOver:
      return "handed_over";
    case TraceEvent::Kind::kUnwritten:
      return "unwritten";
    case TraceEvent::Kind::kAttempt:
      return "attempt";
    case TraceEvent::Kind::kReleased:
      return "released";
    case TraceEvent::Kind::kDropped:
      return "dropped";
    case TraceEvent::Kind::kMoved:
      return "moved";
    case TraceEvent::Kind::kRemoved:
      return "removed";
    case TraceEvent::Kind::kOther:
      break;
  }
  return "other";
}

const char* OutcomeKey(ForwardOutcome outcome) {
  switch (outcome) {
    case ForwardOutcome::kSuccess:
      return "delivered";
    case ForwardOutcome::kNeedsAttention:
      return "parked";
    case ForwardOutcome::kRetryLater:
      return "retry_later";
    case ForwardOutcome::kStopped:
      return "stopped";
    case ForwardOutcome::kCutAfterSending:
    case ForwardOutcome::kCutRepeatsDropped:
      return "cut_after_sending";
    case ForwardOutcome::kUnreachable:
      return "unreachable";
    case ForwardOutcome::kOutcomeUnknown:
      break;
  }
  return "outcome_unknown";
}

// What `trace` found, in both forms.
struct TraceReport {
  TraceQuery query;
  TraceHistory history;
  std::string log_path;
  bool log_read = false;
  std::string log_why;  // why it was not read
  std::vector<std::string> gaps;
};

void PrintText(const TraceReport& report, std::ostream& out) {
  const TraceHistory& history = report.history;
  out << "vornlink trace: TransNo " << report.query.trans_no
      << (report.query.job_no.has_value() ? ", JobNo " + *report.query.job_no : "") << "\n";
  for (const std::string& now : NowLines(history)) Show(out, "now", now);
  Show(out, "log", report.log_read ? report.log_path : report.log_why);
  for (const TraceEvent& event : history.events) Show(out, "", event.stamp + " " + event.text);
  for (const std::string& gap : report.gaps) Show(out, "note", gap);
}

void PrintJson(const TraceReport& report, std::ostream& out) {
  const TraceHistory& history = report.history;
  JsonWriter json(out);
  json.BeginObject().Key("trans_no").String(report.query.trans_no).Key("job_no");
  report.query.job_no.has_value() ? json.String(*report.query.job_no) : json.Null();
  json.Key("cache_lines").BeginArray();
  for (const NumberedRecord& line : history.cache_lines) {
    json.BeginObject().Key("line").Number(static_cast<int64_t>(line.line));
    json.Key("trid").String(line.record.trid());
    json.Key("state").String(StateKey(StateOf(line.record)));
    json.Key("message").String(MessageShown(line.record)).EndObject();
  }
  json.EndArray().Key("delivered").Bool(history.delivered).Key("now").String(NowLines(history)[0]);
  json.Key("log").String(report.log_path).Key("log_read").Bool(report.log_read);
  json.Key("log_start").String(history.log_start).Key("events").BeginArray();
  for (const TraceEvent& event : history.events) {
    json.BeginObject().Key("stamp").String(event.stamp).Key("kind").String(KindKey(event.kind));
    json.Key("trid").String(event.trid).Key("text").String(event.text);
    if (event.kind == TraceEvent::Kind::kAttempt) {
      json.Key("booking_key").String(event.booking_key).Key("outcome");
      event.outcome.has_value() ? json.String(OutcomeKey(*event.outcome)) : json.Null();
      json.Key("verdict").String(event.verdict);
    }
    json.EndObject();
  }
  json.EndArray().Key("notes").BeginArray();
  for (const std::string& gap : report.gaps) json.String(gap);
  json.EndArray().EndObject();
}

}  // namespace

const CommandHelp kTraceHelp = {
    "trace",
    CommandGroup::kOperator,
    "trace TRANSNO [JOBNO] [--json]",
    "one transaction from the hand-over to the DMS:\n"
    "where it is now, each attempt and its outcome",
    "  TRANSNO       the transaction's number, as the host gave it\n"
    "  JOBNO         only the transaction of this job (a TransNo used again)\n"
    "  --json        the same as JSON\n",
    "0 found in the cache or the log, 1 in neither, or the cache\n"
    "unreadable, 2 usage error",
    "Where one transaction is now, and its story in the driver's log.\n"};

int RunTraceCommand(const std::string& module_path, const std::vector<std::string>& args,
                    std::ostream& out, std::ostream& err) {
  TraceReport report;
  std::vector<std::string> words;
  bool as_json = false;
  for (const std::string& arg : args) {
    if (arg == "--json" && !as_json) {
      as_json = true;
    } else if (!arg.empty() && arg[0] != '-') {
      words.push_back(arg);
    } else {
      words.clear();
      break;
    }
  }
  if (words.empty() || words.size() > 2) {
    err << "vornlink trace: takes a TransNo, a JobNo where the TransNo was used again, and "
           "--json\n";
    return kExitUsage;
  }
  SiteEnv site(module_path);
  report.query.trans_no = words[0];
  if (words.size() == 2) report.query.job_no = words[1];
  std::vector<NumberedRecord> records;
  std::string error;
  if (!ReadCacheRecords(&records, &error)) {
    err << "vornlink trace: cannot read the cache " << CacheFilePath() << ": " << error << "\n";
    return kExitFailed;
  }
  const LogSettings log = ReadLogSettings();
  std::string text;
  report.log_path = log.file_name;
  report.log_read = ReadLog(log.file_name, &text, &report.log_why);
  report.history = TraceTransaction(report.query, records, text);
  if (report.log_read) report.gaps = Gaps(report.history, log.flags);
  const bool found = !report.history.cache_lines.empty() || !report.history.events.empty();
  if (as_json) {
    PrintJson(report, out);
  } else if (found) {
    PrintText(report, out);
  } else {
    out << "vornlink trace: TransNo " << report.query.trans_no
        << (report.query.job_no.has_value() ? ", JobNo " + *report.query.job_no : "")
        << " is neither in the cache nor in the log"
        << (report.log_read ? " (which begins at " + report.history.log_start + ")"
                            : ": " + report.log_why)
        << "\n";
  }
  return found ? kExitOk : kExitFailed;
}

}  // namespace vornlink
