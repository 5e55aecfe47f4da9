// What `vornlink status` finds at a site, gathered in one step and then
// shown as text for a person, as JSON for a script, or in the text format
// of monitoring agents: the three show the same facts, and the exit code
// is the same whatever the form.
#ifndef VORNLINK_TOOLS_VORNLINK_STATUS_STATUS_FACTS_H_
#define VORNLINK_TOOLS_VORNLINK_STATUS_STATUS_FACTS_H_

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "log/log.h"
#include "platform/env.h"
#include "vornlink/base/line_states.h"
#include "vornlink/base/unwritten_tally.h"

namespace vornlink {

// One of the driver's files that status looks for.
struct DriverFile {
  DriverFile(const char* role, const char* key, std::string path, bool needed)
      : role(role), key(key), path(std::move(path)), needed(needed) {}

  const char* role;  // "module", "settings", "INI file"
  const char* key;   // the same for scripts: "module", "settings", "ini"
  std::string path;
  bool needed;  // a site without it is no site (the INI file is not)
  ReadResult read = ReadResult::kOk;
  std::string error;  // why it cannot be read
};

// The last log entry of a kind.
struct LoggedEvent {
  std::string stamp;      // as the log writes it, local time; empty: none in the log
  int64_t unix_time = 0;  // 0: none, or the stamp names no moment
  std::string message;
};

// A due line and how far its dispense lies from now.
struct DueLine {
  std::string trid;
  std::string trans_no;
  int64_t seconds = 0;
};

// The exit status of `status`, as monitoring plugins report theirs: what a
// site's findings ask of a person (status_command.h says which gives
// which).
enum StatusExit : int {
  kStatusOk = 0,
  kStatusWarning = 1,
  kStatusCritical = 2,
  kStatusUnknown = 3,  // the site cannot be judged, or a usage error
};

// The one finding that decides the verdict and the exit status: the first
// that holds, in this order.
enum class Finding {
  kNoSite,           // the module or its settings document is missing
  kCacheUnreadable,  // this user cannot read the cache
  kLogRefused,       // the driver would write no log entries
  kNoDelivery,       // the delivery lock cannot be taken
  kUnwritten,        // transactions the driver could not write to the cache
  kReserveGivenUp,   // the cache's reserve for a full disk is short of whole
  kReserveUnusable,  // ... or cannot be used
  kWaitForAPerson,   // parked, stuck or of unknown outcome
  kStale,            // a due line waited too long, or is dated ahead
  kAllWell,
};

// The exit status a finding gives.
StatusExit ExitOf(Finding finding);
// "OK", "WARNING", "CRITICAL", "UNKNOWN".
const char* ExitName(StatusExit code);

enum class LogState {
  kNotSet,      // KMR/Log/FileName is empty: no log
  kRefused,     // a link another user could have planted: the driver writes nothing
  kMissing,     // not there yet
  kUnreadable,  // there, but this user cannot read it
  kRead,
};

struct StatusFacts {
  std::string module_path;
  std::vector<DriverFile> files;
  bool files_there = true;  // every needed file is there

  std::string cache_path;
  bool cache_read = false;
  std::string cache_error;
  StateCounts counts;
  std::optional<DueLine> oldest_due;   // the due line that has waited longest
  std::optional<DueLine> dated_ahead;  // the due line dated farthest in the future

  LockProbe delivery_lock = LockProbe::kFree;  // kHeld: a worker delivers now
  std::string delivery_lock_reason;            // why it is unavailable

  // The cache's reserve for a full disk (cache/cache_reserve.h): missing
  // until a host's service made it; shorter than kCacheReserveBytes while
  // given up to a full disk.
  std::string reserve_path;
  ReadResult reserve_read = ReadResult::kMissing;
  uint64_t reserve_bytes = 0;
  std::string reserve_error;  // why it cannot be read

  std::string log_path;
  LogState log_state = LogState::kNotSet;
  std::string log_error;
  LoggedEvent last_delivery;
  LoggedEvent last_retry;
  LoggedEvent last_failure;
  // The first of the outcomes in a row, up to the last, that could not
  // reach the DMS (its message: what the last of them said); none while the
  // last outcome reached it.
  LoggedEvent dms_unreachable_since;
  // Transactions the log says the driver could not write to the cache and
  // has not written since.
  std::vector<UnwrittenTally::Open> unwritten;
  // The module's version text: its file's own, or (where the file carries
  // none, as on Linux) what the driver logged when it was last loaded.
  std::string module_version;

  int stale_minutes = 0;
  Finding finding = Finding::kAllWell;
  StatusExit exit_code = kStatusOk;  // ExitOf(finding)
  std::string verdict;               // "OK", or what is wrong and what to do
};

// Gathers the facts for the module the driver's code is pointed at (a
// SiteEnv must be in place). A due line older than `stale_minutes` is
// stale.
StatusFacts GatherStatus(int stale_minutes);

// The version in the driver's own entry that it was loaded
// ("PATH is loaded at [0x...] v[VERSION] logflags[...] maxlines[N]", flag
// '.') when PATH names a file of the name of `module_path`; nullopt for any
// other entry, a DMS's reply that quotes such a text included.
std::optional<std::string> LoadedVersion(const LogEntryView& entry, const std::string& module_path);

// The machine forms; the text form is status_command.cc's. The Nagios form
// is one line: "VORNLINK <state> - <verdict> | <performance data>", the
// verdict without a '|' or a line break.
void PrintStatusJson(const StatusFacts& facts, std::ostream& out);
void PrintStatusPrometheus(const StatusFacts& facts, std::ostream& out);
void PrintStatusNagios(const StatusFacts& facts, std::ostream& out);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_STATUS_STATUS_FACTS_H_
