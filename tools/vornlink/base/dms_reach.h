// What the driver's log tells of the DMS's reach: the outcome entries of the
// forward exchange say whether its query reached the DMS. The lines wait for
// a DMS that cannot be reached since the first of the entries in a row, up
// to the last outcome logged, that say it could not.
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_DMS_REACH_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_DMS_REACH_H_

#include <string>
#include <string_view>

#include "log/log.h"

namespace vornlink {

// Not thread-safe; never fails: an entry it cannot read is no outcome.
class DmsReachTally {
 public:
  // Takes in one entry of the log, oldest first.
  void Note(const LogEntryView& entry);

  // The time stamp (local, as the log writes it) of the first of the
  // unreachable outcomes that the last outcome ends; empty when the last
  // outcome reached the DMS or none is logged.
  const std::string& unreachable_since() const { return since_; }
  // What the last of them says ("TcpTransport: c[111] t[Connection refused]").
  const std::string& why() const { return why_; }
  // "unreachable since <stamp> (<why>)", or empty.
  std::string State() const;

 private:
  std::string since_;
  std::string why_;
};

// The tally of the log of the module the driver's code is pointed at (a
// SiteEnv in place, see site_env.h); an empty one where the log is
// not set, not trusted or cannot be read. Reads through GetEnv(), so on
// the thread that runs the command while its SiteEnv is in place.
DmsReachTally ReadDmsReach();

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_DMS_REACH_H_
