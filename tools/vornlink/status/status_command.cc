#include "vornlink/status/status_command.h"

#include <ostream>

#include "cache/cache_reserve.h"
#include "delivery/cache_worker.h"
#include "platform/env.h"
#include "vornlink/base/exit_codes.h"
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

}  // namespace

const CommandHelp kStatusHelp = {
    "status",
    CommandGroup::kOperator,
    "status [--stale MIN] [--json|--prometheus]",
    "counts, the oldest due transaction, the last\n"
    "delivery and failure in the log",
    "  --stale MIN   a due line waiting longer than MIN minutes (15) since its\n"
    "                dispense is stale\n"
    "  --json        the same as JSON\n"
    "  --prometheus  the same as metrics for a node exporter's textfile\n"
    "                collector\n",
    "(in every form) 0 all well, 1 the driver's files missing, the cache\n"
    "unreadable or the log refused, 3 parked, stuck or unknown lines,\n"
    "transactions the driver could not write to the cache, or the cache's\n"
    "reserve for a full disk given up, 4 a stale due line, 5 the delivery\n"
    "lock cannot be taken; 2 usage error",
    "The health of the site, for a person or a monitoring script.\n"};

int RunStatusCommand(const std::string& module_path, const std::vector<std::string>& args,
                     std::ostream& out, std::ostream& err) {
  int stale_minutes = kDefaultStaleMinutes;
  enum class Form { kText, kJson, kPrometheus } form = Form::kText;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--stale" && i + 1 < args.size() && ParseMinutes(args[i + 1], &stale_minutes)) {
      ++i;
    } else if ((args[i] == "--json" || args[i] == "--prometheus") && form == Form::kText) {
      form = args[i] == "--json" ? Form::kJson : Form::kPrometheus;
    } else {
      err << "vornlink status: takes --stale MINUTES and one of --json and --prometheus\n";
      return kExitUsage;
    }
  }
  SiteEnv site(module_path);
  const StatusFacts facts = GatherStatus(stale_minutes);
  switch (form) {
    case Form::kText:
      PrintStatusText(facts, out);
      break;
    case Form::kJson:
      PrintStatusJson(facts, out);
      break;
    case Form::kPrometheus:
      PrintStatusPrometheus(facts, out);
      break;
  }
  return facts.exit_code;
}

}  // namespace vornlink
