#include "vornlink/status_command.h"

#include <cstdio>
#include <ctime>
#include <ostream>

#include "cache/cache_file.h"
#include "cache/trid.h"
#include "driver/service.h"
#include "exchange/forward_transaction.h"
#include "log/log.h"
#include "platform/env.h"
#include "settings/text_lines.h"
#include "vornlink/cache_view.h"
#include "vornlink/commands.h"
#include "vornlink/module_site.h"
#include "vornlink/text_output.h"

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
};

LogFindings ScanLog(const std::string& text) {
  LogFindings found;
  for (std::string_view line : SplitLines(text)) {
    LogEntryView view;
    if (!ParseLogEntry(line, &view)) continue;
    const LogEntry entry{std::string(view.stamp), std::string(view.message)};
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

void ShowLog(std::ostream& out) {
  const std::string name = ReadLogSettings().file_name;
  if (name.empty()) {
    Show(out, "log", "none (KMR/Log/FileName is empty)");
    return;
  }
  std::string text, error;
  ReadResult read = GetEnv()->ReadTextFile(name, &text, kMaxLogBytes, &error);
  if (read != ReadResult::kOk) {
    Show(out, "log",
         name + (read == ReadResult::kMissing ? " (not there yet: the driver has written nothing)"
                                              : " cannot be read (" + error + ")"));
    return;
  }
  Show(out, "log", name);
  LogFindings found = ScanLog(text);
  ShowEntry(out, "last delivery", found.delivered);
  ShowEntry(out, "last retry later", found.retry);
  ShowEntry(out, "last failure", found.failure);
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
  std::vector<NumberedRecord> records;
  std::string error;
  if (!ReadCacheRecords(&records, &error)) {
    Show(out, "cache", CacheFilePath() + " cannot be read: " + error);
    ShowLog(out);
    return kExitFailed;
  }
  StateCounts counts;
  const CacheRecord* oldest = nullptr;
  int64_t oldest_time = 0;
  for (const NumberedRecord& line : records) {
    const LineState state = StateOf(line.record);
    counts.Add(state);
    int64_t made = 0;
    if ((state == LineState::kDueNew || state == LineState::kDueRetry) &&
        TridUnixTime(line.record.trid(), &made) && (oldest == nullptr || made < oldest_time)) {
      oldest = &line.record;
      oldest_time = made;
    }
  }
  const int64_t now = GetEnv()->UnixTime();
  const int due = counts[LineState::kDueNew];
  const int retry = counts[LineState::kDueRetry];
  const int parked = counts[LineState::kParked];
  const int stuck = counts[LineState::kStuck];
  Show(out, "cache", CacheFilePath());
  std::string oldest_text;
  if (oldest != nullptr) {
    oldest_text = "waits " + FormatAge(now - oldest_time) + ": Trid " + oldest->trid() +
                  ", TransNo " + oldest->trans_no();
  }
  Show(out, "due",
       std::to_string(due) + " new, " + std::to_string(retry) +
           " to retry (the DMS asked to try again; such a Trid is renewed with each "
           "try)");
  if (oldest != nullptr) Show(out, "oldest due", oldest_text);
  Show(out, "parked", std::to_string(parked));
  Show(out, "stuck", std::to_string(stuck) + " (a Status or Trid the worker does not send)");
  if (counts[LineState::kDelivered] > 0) {
    Show(out, "delivered",
         std::to_string(counts[LineState::kDelivered]) +
             " (booked, never sent again; removed once the cache file can be rewritten)");
  }
  std::string lock_reason;
  const bool lock_unavailable =
      ProbeDeliveryLock(CacheFilePath(), &lock_reason) == TryLockResult::kUnavailable;
  if (lock_unavailable) Show(out, "delivery lock", "cannot be taken: " + lock_reason);
  ShowLog(out);

  int status = kExitOk;
  std::string verdict = "OK";
  if (lock_unavailable) {
    status = kExitNoDelivery;
    verdict = "NOT DELIVERING: the delivery lock cannot be taken, so no worker sends anything";
  } else if (parked + stuck > 0) {
    status = kExitParked;
    verdict = "ATTENTION: " + std::to_string(parked + stuck) +
              " transaction(s) wait for a person (vornlink cache list)";
  } else if (oldest != nullptr && now - oldest_time > int64_t{stale_minutes} * 60) {
    status = kExitStale;
    verdict = "STALE: a due transaction has waited longer than " + std::to_string(stale_minutes) +
              " min: is the host running, and does its driver deliver?";
  }
  Show(out, "verdict", verdict);
  return status;
}

}  // namespace vornlink
