#include "vornlink/trace/trace_command.h"

#include <optional>
#include <ostream>

#include "cache/cache_file.h"
#include "driver/service.h"
#include "log/log.h"
#include "platform/env.h"
#include "vornlink/base/exit_codes.h"
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

void ShowNow(const TraceHistory& history, std::ostream& out) {
  for (const NumberedRecord& line : history.cache_lines) {
    const std::string message = MessageShown(line.record);
    Show(out, "now",
         "cache line " + std::to_string(line.line) + ", Trid " + line.record.trid() + ", " +
             StateName(StateOf(line.record)) + (message.empty() ? "" : ": " + message));
  }
  if (!history.cache_lines.empty()) return;
  const TraceEvent* dropped = Last(history, TraceEvent::Kind::kDropped);
  const TraceEvent* removed = Last(history, TraceEvent::Kind::kRemoved);
  std::string now;
  if (history.delivered) {
    now = "delivered: the DMS booked it";
    for (const TraceEvent& event : history.events) {
      if (event.outcome == ForwardOutcome::kSuccess) now += " (" + event.verdict + ")";
    }
  } else if (dropped != nullptr) {
    now = "dropped by an operator at " + dropped->stamp + ": never delivered by the driver";
  } else if (removed != nullptr) {
    now = "removed from the cache at " + removed->stamp;
  } else {
    now = "not in the cache";
  }
  Show(out, "now", now);
}

// What the log cannot tell of it, plainly.
void ShowGaps(const TraceHistory& history, const std::string& flags, std::ostream& out) {
  const bool cache_entries = ParseLogFlags(flags).Passes('c');
  if (!cache_entries) {
    Show(out, "note",
         "the log's flags (\"" + flags +
             "\") leave out the cache's entries (flag c): the hand-over and the removal are "
             "not in it");
  }
  if (!history.handed_over && cache_entries) {
    Show(out, "note",
         "the log does not show the hand-over: it begins at " + history.log_start +
             ", so it was cut past this transaction's start (or its flags left out the cache's "
             "entries then)");
  }
}

}  // namespace

const CommandHelp kTraceHelp = {
    "trace",
    CommandGroup::kOperator,
    "trace TRANSNO [JOBNO]",
    "one transaction from the hand-over to the DMS:\n"
    "where it is now, each attempt and its outcome",
    "  TRANSNO       the transaction's number, as the host gave it\n"
    "  JOBNO         only the transaction of this job (a TransNo used again)\n",
    "0 found in the cache or the log, 1 in neither, or the cache\n"
    "unreadable, 2 usage error",
    "Where one transaction is now, and its story in the driver's log.\n"};

int RunTraceCommand(const std::string& module_path, const std::vector<std::string>& args,
                    std::ostream& out, std::ostream& err) {
  if (args.empty() || args.size() > 2 || args[0].empty() || args[0][0] == '-') {
    err << "vornlink trace: takes a TransNo, and a JobNo where the TransNo was used again\n";
    return kExitUsage;
  }
  SiteEnv site(module_path);
  TraceQuery query{args[0], std::nullopt};
  if (args.size() == 2) query.job_no = args[1];
  std::vector<NumberedRecord> records;
  std::string error;
  if (!ReadCacheRecords(&records, &error)) {
    err << "vornlink trace: cannot read the cache " << CacheFilePath() << ": " << error << "\n";
    return kExitFailed;
  }
  const LogSettings log = ReadLogSettings();
  std::string text, why;
  const bool log_read = ReadLog(log.file_name, &text, &why);
  const TraceHistory history = TraceTransaction(query, records, text);
  const std::string name =
      "TransNo " + query.trans_no + (query.job_no.has_value() ? ", JobNo " + *query.job_no : "");
  if (history.cache_lines.empty() && history.events.empty()) {
    out << "vornlink trace: " << name << " is neither in the cache nor in the log"
        << (log_read ? " (which begins at " + history.log_start + ")" : ": " + why) << "\n";
    return kExitFailed;
  }
  out << "vornlink trace: " << name << "\n";
  ShowNow(history, out);
  if (!log_read) {
    Show(out, "log", why);
    return kExitOk;
  }
  Show(out, "log", log.file_name);
  for (const TraceEvent& event : history.events) Show(out, "", event.stamp + " " + event.text);
  ShowGaps(history, log.flags, out);
  return kExitOk;
}

}  // namespace vornlink
