// Follows the driver's log from a moment on: the entries written since,
// also across the cuts that keep the file short. A cut keeps the newest
// lines, so the last lines read before it are found again in what it kept
// (whatever carriage returns a rewrite changed at their ends) and reading
// goes on after them. Where they are not found, the file is read from its
// start, but an entry stamped before the follower began never counts as
// new.
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_LOG_FOLLOWER_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_LOG_FOLLOWER_H_

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/env.h"
#include "vornlink/base/site_env.h"

namespace vornlink {

class LogFollower {
 public:
  // Follows the log file `path` from its present end (from its start once
  // it is made, when it is missing now). Reads through the current Env.
  explicit LogFollower(std::string path);

  // The entries written since the last call (or the construction), oldest
  // first: only their first lines, and only lines that are complete. A
  // file that cannot be read gives none, and is tried again at the next
  // call. Not thread-safe.
  std::vector<CapturedEntry> TakeNew();

  // Whether lines may have been missed: a cut took lines before they were
  // read (the log is cut more often than it is read, or it was removed).
  bool missed_lines() const { return missed_lines_; }

 private:
  // Reads the lines at and after `offset_`, after checking that the line
  // read last still ends there; false when the file was cut or replaced.
  bool ReadOn(std::vector<std::string>* lines);
  // After a cut: the lines after the last ones read before it.
  void ReadAfterCut(std::vector<std::string>* lines);
  // Takes `bytes` read at `offset`: its complete lines into `lines`, past
  // them the next read's offset.
  void TakeLines(const std::string& bytes, uint64_t offset, std::vector<std::string>* lines);

  const std::string path_;
  const std::string started_;     // the time stamp of an entry written at the start
  uint64_t offset_ = 0;           // just after the last complete line read
  FileStamp stamp_;               // of the file last read
  std::deque<std::string> tail_;  // the last lines read, without their line feeds
  bool missed_lines_ = false;
};

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_LOG_FOLLOWER_H_
