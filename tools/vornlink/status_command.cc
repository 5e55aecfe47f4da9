#include "vornlink/status_command.h"

#include <cstdio>
#include <ctime>
#include <ostream>

#include "base/text_lines.h"
#include "cache/cache_file.h"
#include "cache/cache_record.h"
#include "driver/service.h"
#include "exchange/forward_transaction.h"
#include "log/log.h"
#include "platform/env.h"
#include "settings/module_files.h"
#include "vornlink/cache_view.h"
#include "vornlink/commands.h"
#include "vornlink/module_site.h"
#include "vornlink/text_output.h"
#include "vornlink/unwritten_tally.h"

namespace vornlink {
namespace {

// The most of a log file read: far more than MaxLines keeps.
constexpr size_t kMaxLogBytes = size_t{256} << 20;

struct LogEntry {
  std::string stamp;  // empty: none found
  std::string message;
};

struct LogFindings {
  LogEntry delivered;
  LogEntry retry;
  LogEntry failure;
  UnwrittenTally unwritten;
};

LogFindings ScanLog(const std::string& text) {
  LogFindings found;
  for (std::string_view line : SplitLines(text)) {
    LogEntryView view;
    if (!ParseLogEntry(line, &view)) continue;
    const LogEntry entry{std::string(view.stamp), std::string(view.message)};
    found.unwritten.Note(view);
    if (view.flag == '*') found.failure = entry;
    ForwardOutcome outcome;
    if (!ForwardOutcomeOfLogEntry(view.flag, view.message, &outcome)) continue;
    if (outcome == ForwardOutcome::kSuccess) found.delivered = entry;
    if (outcome == ForwardOutcome::kRetryLater) found.retry = entry;
  }
  return found;
}

// How long ago a log time stamp was.
std::string Ago(const std::string& stamp) {
  std::tm local{};
  if (std::sscanf(stamp.c_str(), "%d-%d-%d %d:%d:%d", &local.tm_year, &local.tm_mon, &local.tm_mday,
                  &local.tm_hour, &local.tm_min, &local.tm_sec) != 6) {
    return std::string();
  }
  local.tm_year -= 1900;
  local.tm_mon -= 1;
  local.tm_isdst = -1;
  int64_t then = 0;
  if (!FromLocalTime(&local, &then)) return std::string();
  return " (" + FormatAge(GetEnv()->UnixTime() - then) + " ago)";
}

void Show(std::ostream& out, const std::string& label, const std::string& value) {
  out << "  " << Padded(label, 17) << " " << value << "\n";
}

void ShowEntry(std::ostream& out, const std::string& label, const LogEntry& entry) {
  if (entry.stamp.empty()) {
    Show(out, label, "none in the log");
    return;
  }
  Show(out, label, entry.stamp + Ago(entry.stamp) + " " + entry.message);
}

// The transactions the log says could not be written to the cache; how many.
size_t ShowUnwritten(std::ostream& out, const UnwrittenTally& tally) {
  const std::vector<UnwrittenTally::Open> open = tally.Unresolved();
  Show(out, "unwritten",
       std::to_string(open.size()) +
           " (transactions the driver could not write to the cache and has not written since)");
  for (const UnwrittenTally::Open& one : open) Show(out, "", one.since + " " + one.transaction);
  return open.size();
}

// Shows the log's path and what it tells, with the number of transactions
// it says are unwritten in `unwritten`; false when the driver would not
// write it at all (a link another user could have planted), with the
// problem in `problem`.
bool ShowLog(std::ostream& out, std::string* problem, size_t* unwritten) {
  *unwritten = 0;
  const std::string name = ReadLogSettings().file_name;
  if (name.empty()) {
    Show(out, "log", "none (KMR/Log/FileName is empty)");
    return true;
  }
  std::string text, error;
  if (!GetEnv()->IsTrustedPath(name, &error)) {
    Show(out, "log", name + " is not written: " + error);
    *problem = "PROBLEM: the driver writes no log entries: " + name + " is " + error;
    return false;
  }
  ReadResult read = GetEnv()->ReadTextFile(name, &text, kMaxLogBytes, &error);
  if (read != ReadResult::kOk) {
    Show(out, "log",
         name + (read == ReadResult::kMissing ? " (not there yet: the driver has written nothing)"
                                              : " cannot be read (" + error + ")"));
    return true;
  }
  Show(out, "log", name);
  LogFindings found = ScanLog(text);
  ShowEntry(out, "last delivery", found.delivered);
  ShowEntry(out, "last retry later", found.retry);
  ShowEntry(out, "last failure", found.failure);
  *unwritten = ShowUnwritten(out, found.unwritten);
  return true;
}

// Shows the module, its settings document and its INI file; false when the
// module or the settings document is missing: a folder without them is no
// site, and a monitoring job pointed at it must not stay green. A missing
// INI file is none of that: every value takes its default.
bool ShowDriverFiles(std::ostream& out, const std::string& module) {
  const struct {
    const char* label;
    std::string path;
    bool needed;
  } kFiles[] = {{"module", module, true},
                {"settings", ModuleFileWithExtension("xml"), true},
                {"INI file", IniFilePath(), false}};
  bool all_there = true;
  for (const auto& file : kFiles) {
    std::string bytes, error;
    FileStamp stamp;
    const ReadResult read = GetEnv()->ReadFileBytes(file.path, 0, 0, &bytes, &stamp, &error);
    if (read == ReadResult::kOk) continue;
    if (read == ReadResult::kMissing && !file.needed) {
      Show(out, file.label, file.path + " is missing: every INI value takes its default");
      continue;
    }
    Show(out, file.label,
         file.path + (read == ReadResult::kMissing ? " is missing" : " cannot be read: " + error));
    all_there = false;
  }
  return all_there;
}

bool ParseMinutes(const std::string& text, int* minutes) {
  if (text.empty() || text.size() > 6 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *minutes = std::stoi(text);
  return true;
}

}  // namespace

int RunStatusCommand(const std::string& module_path, const std::vector<std::string>& args,
                     std::ostream& out, std::ostream& err) {
  int stale_minutes = kDefaultStaleMinutes;
  if (!args.empty() &&
      !(args.size() == 2 && args[0] == "--stale" && ParseMinutes(args[1], &stale_minutes))) {
    err << "vornlink status: takes only --stale MINUTES\n";
    return kExitUsage;
  }
  ModuleSite site(module_path);
  out << "vornlink status: " << site.ModulePath() << "\n";
  const bool files_there = ShowDriverFiles(out, site.ModulePath());
  std::vector<NumberedRecord> records;
  std::string error;
  std::string log_problem;
  if (!ReadCacheRecords(&records, &error)) {
    Show(out, "cache", CacheFilePath() + " cannot be read: " + error);
    size_t unwritten = 0;
    ShowLog(out, &log_problem, &unwritten);
    return kExitFailed;
  }
  const int64_t now = GetEnv()->UnixTime();
  StateCounts counts;
  const CacheRecord* oldest = nullptr;  // the due line that has waited longest
  LineAge oldest_age;
  const CacheRecord* ahead = nullptr;  // the due line dated farthest in the future
  LineAge ahead_age;
  for (const NumberedRecord& line : records) {
    const LineState state = StateOf(line.record);
    counts.Add(state);
    if (state != LineState::kDueNew && state != LineState::kDueRetry) continue;
    const LineAge age = AgeOfLine(line.record, now);
    if (age.kind == LineAge::Kind::kFuture &&
        (ahead == nullptr || age.seconds > ahead_age.seconds)) {
      ahead = &line.record;
      ahead_age = age;
    } else if (age.kind == LineAge::Kind::kKnown &&
               (oldest == nullptr || age.seconds > oldest_age.seconds)) {
      oldest = &line.record;
      oldest_age = age;
    }
  }
  const int due = counts[LineState::kDueNew];
  const int retry = counts[LineState::kDueRetry];
  const int parked = counts[LineState::kParked];
  const int stuck = counts[LineState::kStuck];
  Show(out, "cache", CacheFilePath());
  Show(out, "due",
       std::to_string(due) + " new, " + std::to_string(retry) +
           " to retry (the DMS asked to try again)");
  if (oldest != nullptr) {
    Show(out, "oldest due",
         "waits " + FormatAge(oldest_age.seconds) + " since its dispense: Trid " + oldest->trid() +
             ", TransNo " + oldest->trans_no());
  }
  if (ahead != nullptr) {
    Show(out, "dated ahead",
         "Trid " + ahead->trid() + ", TransNo " + ahead->trans_no() + " is dated " +
             FormatAge(ahead_age.seconds) +
             " in the future: the clock was set back, so its wait cannot be told");
  }
  Show(out, "parked", std::to_string(parked));
  Show(out, "stuck", std::to_string(stuck) + " (a Status or Trid the worker does not send)");
  if (counts[LineState::kDelivered] > 0) {
    Show(out, "delivered",
         std::to_string(counts[LineState::kDelivered]) +
             " (booked, never sent again; removed once the cache file can be rewritten)");
  }
  std::string lock_reason;
  const LockProbe lock = ProbeDeliveryLock(CacheFilePath(), &lock_reason);
  const bool lock_unavailable = lock == LockProbe::kUnavailable;
  if (lock_unavailable) Show(out, "delivery lock", "cannot be taken: " + lock_reason);
  if (lock == LockProbe::kNotJudged) Show(out, "delivery lock", lock_reason);
  size_t unwritten = 0;
  const bool log_written = ShowLog(out, &log_problem, &unwritten);

  const int64_t limit = int64_t{stale_minutes} * 60;
  int status = kExitOk;
  std::string verdict = "OK";
  if (!files_there) {
    status = kExitFailed;
    verdict = "PROBLEM: the driver's files are not in this folder (is it the right one?)";
  } else if (!log_written) {
    status = kExitFailed;
    verdict = log_problem;
  } else if (lock_unavailable) {
    status = kExitNoDelivery;
    verdict = "NOT DELIVERING: the delivery lock cannot be taken, so no worker sends anything";
  } else if (unwritten > 0) {
    status = kExitParked;
    verdict = "ATTENTION: " + std::to_string(unwritten) +
              " transaction(s) could not be written to the cache: make room or mend the cache "
              "file; the host's driver writes them then, or enter them again (vornlink cache "
              "add) once its process has ended";
  } else if (parked + stuck > 0) {
    status = kExitParked;
    verdict = "ATTENTION: " + std::to_string(parked + stuck) +
              " transaction(s) wait for a person (vornlink cache list)";
  } else if (ahead != nullptr || (oldest != nullptr && oldest_age.Exceeds(limit))) {
    status = kExitStale;
    verdict = "STALE: a due transaction has waited longer than " + std::to_string(stale_minutes) +
              " min since its dispense" + (ahead != nullptr ? " (or is dated ahead)" : "") +
              ": is the host running, does its driver deliver, does the DMS keep asking to "
              "retry?";
  }
  Show(out, "verdict", verdict);
  return status;
}

}  // namespace vornlink
