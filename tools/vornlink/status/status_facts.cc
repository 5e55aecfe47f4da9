#include "vornlink/status/status_facts.h"

#include <cstdio>
#include <ctime>
#include <regex>
#include <string_view>

#include "base/text_lines.h"
#include "cache/cache_file.h"
#include "cache/cache_record.h"
#include "cache/cache_reserve.h"
#include "driver/service.h"
#include "exchange/forward_transaction.h"
#include "log/log.h"
#include "settings/module_files.h"
#include "settings/version_text.h"
#include "vornlink/base/dms_reach.h"

namespace vornlink {
namespace {

// The most of a log file read: far more than MaxLines keeps.
constexpr size_t kMaxLogBytes = size_t{256} << 20;

// The moment a log time stamp names, or 0.
int64_t UnixTimeOfStamp(const std::string& stamp) {
  std::tm local{};
  if (std::sscanf(stamp.c_str(), "%d-%d-%d %d:%d:%d", &local.tm_year, &local.tm_mon, &local.tm_mday,
                  &local.tm_hour, &local.tm_min, &local.tm_sec) != 6) {
    return 0;
  }
  local.tm_year -= 1900;
  local.tm_mon -= 1;
  local.tm_isdst = -1;
  int64_t then = 0;
  return FromLocalTime(&local, &then) ? then : 0;
}

LoggedEvent EventOf(const LogEntryView& view) {
  const std::string stamp(view.stamp);
  return {stamp, UnixTimeOfStamp(stamp), std::string(view.message)};
}

// Reads what the log tells, unless the driver would not write it at all.
void ScanLog(StatusFacts* facts, std::string* logged_version) {
  facts->log_path = ReadLogSettings().file_name;
  const std::string& name = facts->log_path;
  if (name.empty()) {
    facts->log_state = LogState::kNotSet;
    return;
  }
  std::string text, error;
  if (!GetEnv()->IsTrustedPath(name, &error)) {
    facts->log_state = LogState::kRefused;
    facts->log_error = error;
    return;
  }
  const ReadResult read = GetEnv()->ReadTextFile(name, &text, kMaxLogBytes, &error);
  if (read != ReadResult::kOk) {
    facts->log_state = read == ReadResult::kMissing ? LogState::kMissing : LogState::kUnreadable;
    facts->log_error = error;
    return;
  }
  facts->log_state = LogState::kRead;
  UnwrittenTally unwritten;
  DmsReachTally reach;
  for (std::string_view line : SplitLines(text)) {
    LogEntryView view;
    if (!ParseLogEntry(line, &view)) continue;
    unwritten.Note(view);
    reach.Note(view);
    if (auto version = LoadedVersion(view, facts->module_path)) *logged_version = *version;
    if (view.flag == '*') facts->last_failure = EventOf(view);
    ForwardOutcome outcome;
    if (!ForwardOutcomeOfLogEntry(view.flag, view.message, &outcome)) continue;
    if (outcome == ForwardOutcome::kSuccess) facts->last_delivery = EventOf(view);
    if (outcome == ForwardOutcome::kRetryLater) facts->last_retry = EventOf(view);
  }
  facts->unwritten = unwritten.Unresolved();
  const std::string& since = reach.unreachable_since();
  if (!since.empty()) facts->dms_unreachable_since = {since, UnixTimeOfStamp(since), reach.why()};
}

// Looks for the module, its settings document and its INI file.
void LookForFiles(StatusFacts* facts) {
  facts->files.push_back({"module", "module", facts->module_path, true});
  facts->files.push_back({"settings", "settings", ModuleFileWithExtension("xml"), true});
  facts->files.push_back({"INI file", "ini", IniFilePath(), false});
  for (DriverFile& file : facts->files) {
    std::string bytes;
    FileStamp stamp;
    file.read = GetEnv()->ReadFileBytes(file.path, 0, 0, &bytes, &stamp, &file.error);
    if (file.read != ReadResult::kOk && file.needed) facts->files_there = false;
  }
}

// Counts the cache's lines and finds the due ones that waited longest.
void ReadCache(StatusFacts* facts) {
  facts->cache_path = CacheFilePath();
  std::vector<NumberedRecord> records;
  facts->cache_read = ReadCacheRecords(&records, &facts->cache_error);
  const int64_t now = GetEnv()->UnixTime();
  for (const NumberedRecord& line : records) {
    const LineState state = StateOf(line.record);
    facts->counts.Add(state);
    if (state != LineState::kDueNew && state != LineState::kDueRetry) continue;
    const LineAge age = AgeOfLine(line.record, now);
    std::optional<DueLine>* slot = age.kind == LineAge::Kind::kFuture  ? &facts->dated_ahead
                                   : age.kind == LineAge::Kind::kKnown ? &facts->oldest_due
                                                                       : nullptr;
    if (slot != nullptr && (!slot->has_value() || age.seconds > (*slot)->seconds)) {
      *slot = DueLine{line.record.trid(), line.record.trans_no(), age.seconds};
    }
  }
}

// How much room the cache's reserve holds.
void ReadReserve(StatusFacts* facts) {
  facts->reserve_path = CacheReserveFilePath(facts->cache_path);
  std::string none;
  FileStamp stamp;
  facts->reserve_read =
      GetEnv()->ReadFileBytes(facts->reserve_path, 0, 0, &none, &stamp, &facts->reserve_error);
  facts->reserve_bytes = facts->reserve_read == ReadResult::kOk ? stamp.size : 0;
}

// Lines that only a person can move on: parked, stuck, of unknown outcome.
int WaitingForAPerson(const StateCounts& counts) {
  return counts[LineState::kParked] + counts[LineState::kStuck] +
         counts[LineState::kOutcomeUnknown];
}

// The first finding that holds, in the order of Finding.
Finding FindWorst(const StatusFacts& facts) {
  if (!facts.files_there) return Finding::kNoSite;
  if (!facts.cache_read) return Finding::kCacheUnreadable;
  if (facts.log_state == LogState::kRefused) return Finding::kLogRefused;
  if (facts.delivery_lock == LockProbe::kUnavailable) return Finding::kNoDelivery;
  if (!facts.unwritten.empty()) return Finding::kUnwritten;
  if (facts.reserve_read == ReadResult::kError) return Finding::kReserveUnusable;
  if (facts.reserve_read == ReadResult::kOk && facts.reserve_bytes < kCacheReserveBytes) {
    return Finding::kReserveGivenUp;
  }
  if (WaitingForAPerson(facts.counts) > 0) return Finding::kWaitForAPerson;
  const bool stale = facts.dated_ahead.has_value() ||
                     (facts.oldest_due.has_value() &&
                      facts.oldest_due->seconds > int64_t{facts.stale_minutes} * 60);
  return stale ? Finding::kStale : Finding::kAllWell;
}

// What the finding means and what to do: the verdict line.
std::string VerdictOf(const StatusFacts& facts) {
  switch (facts.finding) {
    case Finding::kNoSite:
      return "PROBLEM: the driver's files are not in this folder (is it the right one?)";
    case Finding::kCacheUnreadable:
      return "PROBLEM: the cache cannot be read: " + facts.cache_error;
    case Finding::kLogRefused:
      return "PROBLEM: the driver writes no log entries: " + facts.log_path + " is " +
             facts.log_error;
    case Finding::kNoDelivery:
      return "NOT DELIVERING: the delivery lock cannot be taken, so no worker sends anything";
    case Finding::kUnwritten:
      return "ATTENTION: " + std::to_string(facts.unwritten.size()) +
             " transaction(s) could not be written to the cache: make room or mend the cache "
             "file; the host's driver writes them then, or enter them again (vornlink cache add) "
             "once its process has ended";
    case Finding::kReserveUnusable:
      return "ATTENTION: the cache's reserve for a full disk cannot be used: remove what stands "
             "in its place";
    case Finding::kReserveGivenUp:
      return "ATTENTION: the cache's disk ran full and its reserve was given up to take "
             "transactions: make room on the disk; the driver makes the reserve whole again";
    case Finding::kWaitForAPerson:
      return "ATTENTION: " + std::to_string(WaitingForAPerson(facts.counts)) +
             " transaction(s) wait for a person (vornlink cache list)";
    case Finding::kStale:
      return "STALE: a due transaction has waited longer than " +
             std::to_string(facts.stale_minutes) + " min since its dispense" +
             (facts.dated_ahead.has_value() ? " (or is dated ahead)" : "") +
             (facts.dms_unreachable_since.stamp.empty()
                  ? ": is the host running, does its driver deliver, does the DMS keep asking to "
                    "retry?"
                  : ": the DMS is unreachable since " + facts.dms_unreachable_since.stamp +
                        " (its address, port, name, the network?)");
    case Finding::kAllWell:
      break;
  }
  return "OK";
}

// A file name's last part, after the last '/' or '\\'.
std::string_view FileNameOf(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

StatusFacts GatherStatus(int stale_minutes) {
  StatusFacts facts;
  facts.stale_minutes = stale_minutes;
  facts.module_path = GetEnv()->ModulePath();
  LookForFiles(&facts);
  ReadCache(&facts);
  ReadReserve(&facts);
  facts.delivery_lock = ProbeDeliveryLock(facts.cache_path, &facts.delivery_lock_reason);
  std::string logged_version;
  ScanLog(&facts, &logged_version);
  facts.module_version = VersionText();
  if (facts.module_version.empty()) facts.module_version = logged_version;
  facts.finding = FindWorst(facts);
  facts.exit_code = ExitOf(facts.finding);
  facts.verdict = VerdictOf(facts);
  return facts;
}

StatusExit ExitOf(Finding finding) {
  switch (finding) {
    case Finding::kNoSite:
    case Finding::kCacheUnreadable:
      return kStatusUnknown;
    case Finding::kLogRefused:
    case Finding::kNoDelivery:
    case Finding::kUnwritten:
    case Finding::kReserveGivenUp:
    case Finding::kReserveUnusable:
    case Finding::kWaitForAPerson:
      return kStatusCritical;
    case Finding::kStale:
      return kStatusWarning;
    case Finding::kAllWell:
      break;
  }
  return kStatusOk;
}

const char* ExitName(StatusExit code) {
  switch (code) {
    case kStatusOk:
      return "OK";
    case kStatusWarning:
      return "WARNING";
    case kStatusCritical:
      return "CRITICAL";
    case kStatusUnknown:
      break;
  }
  return "UNKNOWN";
}

std::optional<std::string> LoadedVersion(const LogEntryView& entry,
                                         const std::string& module_path) {
  static constexpr std::string_view kLoaded = " is loaded at [0x";
  if (entry.flag != '.' || entry.message.find(kLoaded) == std::string_view::npos) {
    return std::nullopt;
  }
  static const std::regex kShape(
      R"((.+) is loaded at \[0x[0-9A-F]{8}\] v\[([^\]]*)\] logflags\[[^\]]*\] maxlines\[-?[0-9]+\])");
  std::match_results<std::string_view::const_iterator> match;
  if (!std::regex_match(entry.message.begin(), entry.message.end(), match, kShape) ||
      FileNameOf(std::string_view(&*match[1].first, match[1].length())) !=
          FileNameOf(module_path)) {
    return std::nullopt;
  }
  return match[2].str();
}

}  // namespace vornlink
