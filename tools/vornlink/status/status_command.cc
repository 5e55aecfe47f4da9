#include "vornlink/status/status_command.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <ostream>
#include <sstream>

#include "cache/cache_file.h"
#include "cache/cache_reserve.h"
#include "delivery/cache_worker.h"
#include "platform/env.h"
#include "vornlink/base/site_env.h"
#include "vornlink/base/text_output.h"
#include "vornlink/status/status_facts.h"

namespace vornlink {
namespace {

void Show(std::ostream& out, const std::string& label, const std::string& value) {
  out << "  " << Padded(label, 17) << " " << value << "\n";
}

void ShowEvent(std::ostream& out, const std::string& label, const LoggedEvent& event) {
  if (event.stamp.empty()) {
    Show(out, label, "none in the log");
    return;
  }
  const std::string ago = event.unix_time == 0
                              ? std::string()
                              : " (" + FormatAge(GetEnv()->UnixTime() - event.unix_time) + " ago)";
  Show(out, label, event.stamp + ago + " " + event.message);
}

void ShowLog(std::ostream& out, const StatusFacts& facts) {
  const std::string& name = facts.log_path;
  switch (facts.log_state) {
    case LogState::kNotSet:
      Show(out, "log", "none (KMR/Log/FileName is empty)");
      return;
    case LogState::kRefused:
      Show(out, "log", name + " is not written: " + facts.log_error);
      return;
    case LogState::kMissing:
      Show(out, "log", name + " (not there yet: the driver has written nothing)");
      return;
    case LogState::kUnreadable:
      Show(out, "log", name + " cannot be read (" + facts.log_error + ")");
      return;
    case LogState::kRead:
      break;
  }
  Show(out, "log", name);
  ShowEvent(out, "last delivery", facts.last_delivery);
  ShowEvent(out, "last retry later", facts.last_retry);
  ShowEvent(out, "last failure", facts.last_failure);
  Show(out, "unwritten",
       std::to_string(facts.unwritten.size()) +
           " (transactions the driver could not write to the cache and has not written since)");
  for (const UnwrittenTally::Open& one : facts.unwritten) {
    Show(out, "", one.since + " " + one.transaction);
  }
}

void ShowFiles(std::ostream& out, const StatusFacts& facts) {
  for (const DriverFile& file : facts.files) {
    if (file.read == ReadResult::kOk) continue;
    if (file.read == ReadResult::kMissing && !file.needed) {
      Show(out, file.role, file.path + " is missing: every INI value takes its default");
    } else {
      Show(out, file.role,
           file.path + (file.read == ReadResult::kMissing ? " is missing"
                                                          : " cannot be read: " + file.error));
    }
  }
}

void ShowCache(std::ostream& out, const StatusFacts& facts) {
  const StateCounts& counts = facts.counts;
  Show(out, "cache", facts.cache_path);
  Show(out, "due",
       std::to_string(counts[LineState::kDueNew]) + " new, " +
           std::to_string(counts[LineState::kDueRetry]) + " to retry (the DMS asked to try again)");
  if (const auto& oldest = facts.oldest_due) {
    Show(out, "oldest due",
         "waits " + FormatAge(oldest->seconds) + " since its dispense: Trid " + oldest->trid +
             ", TransNo " + oldest->trans_no);
  }
  if (const auto& ahead = facts.dated_ahead) {
    Show(out, "dated ahead",
         "Trid " + ahead->trid + ", TransNo " + ahead->trans_no + " is dated " +
             FormatAge(ahead->seconds) +
             " in the future: the clock was set back, so its wait cannot be told");
  }
  Show(out, "parked", std::to_string(counts[LineState::kParked]));
  Show(out, "stuck",
       std::to_string(counts[LineState::kStuck]) + " (a Status or Trid the worker does not send)");
  Show(out, "outcome unknown",
       std::to_string(counts[LineState::kOutcomeUnknown]) +
           " (the DMS may have booked them: look there, then vornlink cache retry --yes or drop)");
  if (const LoggedEvent& since = facts.dms_unreachable_since; !since.stamp.empty()) {
    const std::string ago = since.unix_time == 0
                                ? std::string()
                                : " (" + FormatAge(GetEnv()->UnixTime() - since.unix_time) + ")";
    Show(out, "DMS",
         "unreachable since " + since.stamp + ago + ": " + since.message +
             "; the due lines wait for it, and are parked once one has waited " +
             std::to_string(ReadParkUnreachableSetting().hours) + " h (ParkUnreachableAfterHours)");
  }
  if (counts[LineState::kDelivered] > 0) {
    Show(out, "delivered",
         std::to_string(counts[LineState::kDelivered]) +
             " (booked, never sent again; removed once the cache file can be rewritten)");
  }
  const std::string whole = std::to_string(kCacheReserveBytes);
  switch (facts.reserve_read) {
    case ReadResult::kMissing:
      Show(out, "reserve", "missing: the driver makes it when a host starts its service");
      break;
    case ReadResult::kError:
      Show(out, "reserve", facts.reserve_path + " cannot be used: " + facts.reserve_error);
      break;
    case ReadResult::kOk:
      Show(out, "reserve",
           std::to_string(facts.reserve_bytes) + " of " + whole + " bytes for a full disk" +
               (facts.reserve_bytes < kCacheReserveBytes
                    ? " (given up to a full disk: make room on it)"
                    : ""));
      break;
  }
  if (facts.delivery_lock == LockProbe::kUnavailable) {
    Show(out, "delivery lock", "cannot be taken: " + facts.delivery_lock_reason);
  } else if (facts.delivery_lock == LockProbe::kNotJudged) {
    Show(out, "delivery lock", facts.delivery_lock_reason);
  }
}

void PrintStatusText(const StatusFacts& facts, std::ostream& out) {
  out << "vornlink status: " << facts.module_path << "\n";
  ShowFiles(out, facts);
  if (facts.cache_read) {
    ShowCache(out, facts);
  } else {
    Show(out, "cache", facts.cache_path + " cannot be read: " + facts.cache_error);
  }
  ShowLog(out, facts);
  Show(out, "verdict", facts.verdict);
}

bool ParseMinutes(const std::string& text, int* minutes) {
  if (text.empty() || text.size() > 6 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *minutes = std::stoi(text);
  return true;
}

enum class Form { kText, kJson, kPrometheus, kNagios };

// The form an option names.
std::optional<Form> FormNamed(const std::string& option) {
  if (option == "--json") return Form::kJson;
  if (option == "--prometheus") return Form::kPrometheus;
  if (option == "--nagios") return Form::kNagios;
  return std::nullopt;
}

// Whether `path` (absolute) names one of the driver's own files, which
// --output must never replace: a slip of the hand would put metrics in the
// place of the cache or the settings. Letter case counts as one.
bool IsDriversFile(const std::string& path, const StatusFacts& facts) {
  std::vector<std::string> own = {facts.cache_path, facts.reserve_path, facts.log_path,
                                  CacheLockFilePath(facts.cache_path),
                                  DeliveryLockFilePath(facts.cache_path)};
  for (const DriverFile& file : facts.files) own.push_back(file.path);
  const auto same = [&path](const std::string& file) {
    if (file.empty()) return false;
    const std::string other = AbsolutePath(file);
    return std::equal(path.begin(), path.end(), other.begin(), other.end(), [](char a, char b) {
      return std::tolower(static_cast<unsigned char>(a)) ==
             std::tolower(static_cast<unsigned char>(b));
    });
  };
  return std::any_of(own.begin(), own.end(), same);
}

// Puts `text` in the place of `path` in one step (Env::ReplaceTextFile: a
// temporary file made exclusively beside it, then renamed), so that a
// collector never reads half of it.
bool WriteWhole(const std::string& path, const std::string& text, std::ostream& err) {
  std::string error;
  ReplaceOptions whole_only;
  whole_only.may_rewrite_in_place = false;  // a collector must never read half of it
  if (GetEnv()->ReplaceTextFile(path, text, whole_only, &error) == ReplaceResult::kFailed) {
    err << "vornlink status: cannot write " << path << ": " << error << "\n";
    return false;
  }
  if (!error.empty()) err << "vornlink status: " << path << ": " << error << "\n";
  return true;
}

}  // namespace

const CommandHelp kStatusHelp = {
    "status",
    CommandGroup::kOperator,
    "status [--stale MIN] [--json|--prometheus|--nagios] [--output FILE]",
    "counts, the oldest due transaction, the last\n"
    "delivery and failure in the log",
    "  --stale MIN    a due line waiting longer than MIN minutes (15) since its\n"
    "                 dispense is stale\n"
    "  --json         the same as JSON\n"
    "  --prometheus   the same as metrics for a node exporter's textfile\n"
    "                 collector\n"
    "  --nagios       one line for a monitoring plugin, with performance data\n"
    "  --output FILE  (with --json or --prometheus) writes FILE instead, in one\n"
    "                 step: a reader never sees half of it\n",
    "(in every form, as monitoring plugins report) 0 OK; 1 WARNING: a\n"
    "stale due line; 2 CRITICAL: parked, stuck or unknown lines, transactions\n"
    "the driver could not write to the cache, the cache's reserve for a full\n"
    "disk given up, the delivery lock that cannot be taken, or the log\n"
    "refused; 3 UNKNOWN: the driver's files missing, the cache unreadable,\n"
    "FILE not written, or a usage error",
    "The health of the site, for a person or a monitoring script; its exit\n"
    "status follows the monitoring plugins' rule (0 OK, 1 WARNING,\n"
    "2 CRITICAL, 3 UNKNOWN).\n"};

int RunStatusCommand(const std::string& module_path, const std::vector<std::string>& args,
                     std::ostream& out, std::ostream& err) {
  int stale_minutes = kDefaultStaleMinutes;
  Form form = Form::kText;
  std::string output;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool has_value = i + 1 < args.size();
    if (args[i] == "--stale" && has_value && ParseMinutes(args[i + 1], &stale_minutes)) {
      ++i;
    } else if (args[i] == "--output" && has_value && output.empty() && !args[i + 1].empty()) {
      output = args[++i];
    } else if (const auto named = FormNamed(args[i]); named && form == Form::kText) {
      form = *named;
    } else {
      err << "vornlink status: takes --stale MINUTES, one of --json, --prometheus and --nagios, "
             "and --output FILE\n";
      return kStatusUnknown;
    }
  }
  if (!output.empty() && form != Form::kJson && form != Form::kPrometheus) {
    err << "vornlink status: --output takes --json or --prometheus\n";
    return kStatusUnknown;
  }
  SiteEnv site(module_path);
  const StatusFacts facts = GatherStatus(stale_minutes);
  if (!output.empty() && IsDriversFile(AbsolutePath(output), facts)) {
    err << "vornlink status: --output " << output << " is one of the driver's own files\n";
    return kStatusUnknown;
  }
  std::ostringstream text;
  std::ostream& to = output.empty() ? out : text;
  switch (form) {
    case Form::kText:
      PrintStatusText(facts, to);
      break;
    case Form::kJson:
      PrintStatusJson(facts, to);
      break;
    case Form::kPrometheus:
      PrintStatusPrometheus(facts, to);
      break;
    case Form::kNagios:
      PrintStatusNagios(facts, to);
      break;
  }
  if (!output.empty() && !WriteWhole(AbsolutePath(output), text.str(), err)) return kStatusUnknown;
  return facts.exit_code;
}

}  // namespace vornlink
