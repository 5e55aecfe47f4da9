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
  int exit_code = 0;    // see status_command.h
  std::string verdict;  // "OK", or what is wrong and what to do
};

// Gathers the facts for the module the driver's code is pointed at (a
// SiteEnv must be in place). A due line older than `stale_minutes` is
// stale.
StatusFacts GatherStatus(int stale_minutes);

// The machine forms; the text form is status_command.cc's.
void PrintStatusJson(const StatusFacts& facts, std::ostream& out);
void PrintStatusPrometheus(const StatusFacts& facts, std::ostream& out);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_STATUS_STATUS_FACTS_H_
