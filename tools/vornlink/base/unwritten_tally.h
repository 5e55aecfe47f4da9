// What the driver's log tells of transactions it could not write to the
// cache (cache/unwritten_entries.h): each such entry opens one, and a
// later entry that it was written after all closes it. Those still open are
// in danger: in the memory of a host's process at best, in the log only
// once that process has ended. A process that ended between the write and
// its entry, or an operator's entry into a log this tool does not write,
// leaves the log short of the closing entry: the cache's own lines count
// too.
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_UNWRITTEN_TALLY_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_UNWRITTEN_TALLY_H_

#include <map>
#include <string>
#include <vector>

#include "log/log.h"

namespace vornlink {

// Not thread-safe; never fails: an entry it cannot read is none of these.
class UnwrittenTally {
 public:
  // Takes in one entry of the log, oldest first.
  void Note(const LogEntryView& entry);

  struct Open {
    std::string since;        // the time stamp of its first failure
    std::string transaction;  // the twelve fields, as the log names them
  };
  // The open ones, oldest first, but for those a line of the cache holds
  // (see CachedTrid): written after all, though the log does not say so.
  std::vector<Open> Unresolved() const;

 private:
  struct Failure {
    size_t order;  // of the entries noted
    std::string stamp;
  };
  // The open failures by transaction text: two equal bookings that both
  // failed need two entries that they were written.
  std::map<std::string, std::vector<Failure>> open_;
  size_t noted_ = 0;
};

// The transactions of the cache's lines, whatever their state, as
// TransactionText gives them, each with its line's Trid; none when the
// cache cannot be read. Reads through GetEnv(), so on the thread that runs
// the command while its SiteEnv is in place.
std::multimap<std::string, std::string> CachedTransactions();

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_UNWRITTEN_TALLY_H_
