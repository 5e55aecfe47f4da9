// What the cache worker does with the due lines of a cache, learned from the
// outside: from the cache file as it changes (a delivered line is removed, a
// line to retry or a parked one moves to the end with a new Trid and its
// Status) and from the outcome entries of the driver's log (what the DMS
// said). `vornlink deliver` watches a worker of a loaded module with it.
//
// Passes are counted by the lines: a pass ends once every line that was due
// for it has been sent (those that are due again after it belong to the
// next). Lines that a host adds meanwhile belong to the pass under way.
#ifndef VORNLINK_TOOLS_VORNLINK_DELIVER_DELIVERY_WATCH_H_
#define VORNLINK_TOOLS_VORNLINK_DELIVER_DELIVERY_WATCH_H_

#include <deque>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cache/cache_file.h"
#include "exchange/forward_transaction.h"
#include "vornlink/base/site_env.h"

namespace vornlink {

enum class LineFate {
  kDelivered,       // booked: removed, or marked delivered in place
  kRetryLater,      // the DMS asked to send it again: still due
  kParked,          // failed: waits for a person
  kRemoved,         // left the cache, but the log tells of no delivery (dropped by hand?)
  kOther,           // no longer due for another reason (its Status was changed)
  kOutcomeUnknown,  // the DMS may have booked it: kept for a person (Status 4)
};
inline constexpr size_t kLineFateCount = 6;

// "delivered", "retry later", "parked", "removed", "not due", "unknown".
const char* FateName(LineFate fate);

struct LineOutcome {
  LineFate fate = LineFate::kDelivered;
  std::string trid;  // the line's Trid now (a moved line has a new one), or the removed line's
  std::string trans_no;
  std::string job_no;
  // What the DMS said or what went wrong ("Reply: c[0] t[OK]"); empty when
  // neither the log nor the line tells.
  std::string verdict;
  int pass = 0;
};

struct DueLine {
  std::string trid;
  TransactionFields transaction;
  size_t line = 0;  // where it was last seen, 1-based
  int pass = 0;     // the pass that is to send it
};

class DeliveryWatch {
 public:
  // Takes the due lines of `records` as those of the first pass.
  // `log_followed`: whether the log's outcome entries are handed in (else
  // a removed line counts as delivered and no verdict is known).
  DeliveryWatch(const std::vector<NumberedRecord>& records, bool log_followed);

  // Takes the cache as it is now and the log's entries since the last call
  // (read after the cache: the worker writes its outcome entry before it
  // changes the line); `entries_missed`: some entries may be missing (from
  // then on a removed line counts as delivered). Returns what became of
  // lines since, in the order the worker sent them.
  std::vector<LineOutcome> Update(const std::vector<NumberedRecord>& records,
                                  const std::vector<CapturedEntry>& entries, bool entries_missed);

  // The lines still due, in file order.
  std::vector<DueLine> Due() const;
  // How many passes have ended, and whether the last of them delivered,
  // parked or removed nothing (the DMS only asked to retry), or ended
  // because the DMS could not be reached (the worker ends a pass there).
  int passes_ended() const { return passes_ended_; }
  bool last_pass_changed_nothing() const { return last_pass_changed_nothing_; }
  bool last_pass_unreachable() const { return last_pass_unreachable_; }
  // What the outcome entries that could not reach the DMS said, since the
  // last call.
  std::vector<std::string> TakeUnreachable() { return std::exchange(unreachable_, {}); }
  // The outcome entries of exchanges that the stop cut after their query
  // had gone out: the DMS may have booked those lines, which stay due.
  const std::vector<std::string>& cut_exchanges() const { return cut_exchanges_; }

 private:
  // A line that is no longer due where it was, and what carries its Trid
  // now (null: no line).
  struct LeftLine {
    DueLine line;
    const CacheRecord* now = nullptr;
  };

  // Keeps what the log's outcome entries say; returns how many passes the
  // DMS ended unreachable.
  size_t TakeLogEntries(const std::vector<CapturedEntry>& entries);
  // Takes the lines that are no longer due where they were out of due_, in
  // the order of the file.
  std::vector<LeftLine> TakeLeftLines(const std::vector<NumberedRecord>& records);
  // The line a retried or parked line became at the end of the file: the
  // first new one with the same transaction that no other claimed; tracked
  // for the next pass when it is due again.
  const CacheRecord* FindMovedLine(const DueLine& gone, const std::vector<NumberedRecord>& records,
                                   std::set<std::string>* claimed);
  // The fate of a line that left, by what carries its Trid now, and the
  // verdict that goes with it.
  void JudgeFate(const CacheRecord* now, const std::string& job_no, LineOutcome* outcome);
  // The verdict of the oldest outcome entry with `outcome` that tells of
  // the job `job_no` and is not yet matched to a line; false when there is
  // none (a line removed meanwhile by hand never takes another's).
  bool TakeVerdict(ForwardOutcome outcome, const std::string& job_no, std::string* verdict);
  void Track(const NumberedRecord& line, int pass);
  void EndPasses();
  // The worker met the DMS unreachable: its pass ended there.
  void EndPassUnreachable();

  bool log_complete_;                   // the log's outcome entries are all handed in
  std::map<std::string, DueLine> due_;  // by Trid
  std::set<std::string> seen_trids_;
  std::map<ForwardOutcome, std::deque<std::string>> outcome_entries_;  // not yet matched
  std::map<int, std::pair<int, int>> pass_tally_;  // pass: lines changed, lines to retry
  int pass_ = 1;
  int passes_ended_ = 0;
  bool last_pass_changed_nothing_ = false;
  bool last_pass_unreachable_ = false;
  std::vector<std::string> cut_exchanges_;
  std::vector<std::string> unreachable_;
};

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_DELIVER_DELIVERY_WATCH_H_
