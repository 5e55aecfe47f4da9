#include "vornlink/base/log_follower.h"

#include <algorithm>
#include <ctime>
#include <string_view>
#include <utility>

#include "log/log.h"

namespace vornlink {
namespace {

// How many of the last lines read are looked for after a cut: enough to
// tell them from the same lines written again. The exchanges of one second
// log the same lines but for a few that name their transaction: these
// lines span several exchanges.
constexpr size_t kTailLines = 64;
// The most read at once: far more than a cut keeps.
constexpr size_t kMaxReadBytes = size_t{64} << 20;

// Whether two lines are one, whatever carriage returns a rewrite of the file
// (an older cut, an editor) added or took at their ends.
bool SameLine(std::string_view a, std::string_view b) {
  while (!a.empty() && a.back() == '\r') a.remove_suffix(1);
  while (!b.empty() && b.back() == '\r') b.remove_suffix(1);
  return a == b;
}

// The time stamp an entry written now gets.
std::string StampNow() {
  std::tm local{};
  char text[32] = "";
  if (ToLocalTime(GetEnv()->UnixTime(), &local)) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  }
  return text;
}

}  // namespace

LogFollower::LogFollower(std::string path) : path_(std::move(path)), started_(StampNow()) {
  std::vector<std::string> lines;
  if (!ReadOn(&lines)) ReadAfterCut(&lines);
}

std::vector<CapturedEntry> LogFollower::TakeNew() {
  std::vector<std::string> lines;
  if (!ReadOn(&lines)) ReadAfterCut(&lines);
  std::vector<CapturedEntry> entries;
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    LogEntryView view;
    if (ParseLogEntry(line, &view)) entries.push_back({view.flag, std::string(view.message)});
  }
  return entries;
}

bool LogFollower::ReadOn(std::vector<std::string>* lines) {
  if (path_.empty()) return true;
  // The line read last, with its line feed, must still end at the offset.
  const std::string last = tail_.empty() ? std::string() : tail_.back() + "\n";
  const uint64_t from = offset_ - last.size();
  std::string bytes, error;
  FileStamp stamp;
  const ReadResult read =
      GetEnv()->ReadFileBytes(path_, from, kMaxReadBytes, &bytes, &stamp, &error);
  if (read == ReadResult::kMissing) return offset_ == 0;  // a missing file is cut too
  if (read != ReadResult::kOk) return true;               // tried again next time
  if (offset_ > 0 && (!stamp.SameFile(stamp_) || bytes.compare(0, last.size(), last) != 0)) {
    return false;
  }
  stamp_ = stamp;
  TakeLines(bytes.substr(last.size()), offset_, lines);
  return true;
}

void LogFollower::ReadAfterCut(std::vector<std::string>* lines) {
  std::string bytes, error;
  FileStamp stamp;
  const ReadResult read = GetEnv()->ReadFileBytes(path_, 0, kMaxReadBytes, &bytes, &stamp, &error);
  if (read == ReadResult::kMissing) {
    missed_lines_ = missed_lines_ || !tail_.empty();
    offset_ = 0;
    tail_.clear();
    return;
  }
  if (read != ReadResult::kOk) return;
  stamp_ = stamp;
  // The file's complete lines and where each begins.
  std::vector<std::string> file_lines;
  std::vector<uint64_t> starts;
  for (size_t at = 0, end; (end = bytes.find('\n', at)) != std::string::npos; at = end + 1) {
    starts.push_back(at);
    file_lines.push_back(bytes.substr(at, end - at));
  }
  starts.push_back(bytes.rfind('\n') == std::string::npos ? 0 : bytes.rfind('\n') + 1);
  const std::vector<std::string> tail(tail_.begin(), tail_.end());
  // Where the lines read before end in the file: after the last place that
  // holds all of them, or after as many of their last ones as the file
  // begins with (the cut kept fewer), or nowhere (it kept none).
  size_t next = 0;
  bool lost = false;
  auto found =
      std::find_end(file_lines.begin(), file_lines.end(), tail.begin(), tail.end(), SameLine);
  if (!tail.empty() && found != file_lines.end()) {
    next = static_cast<size_t>(found - file_lines.begin()) + tail.size();
  } else {
    for (size_t kept = std::min(tail.size(), file_lines.size()); kept > 0 && next == 0; --kept) {
      if (std::equal(tail.end() - kept, tail.end(), file_lines.begin(), SameLine)) next = kept;
    }
    lost = !tail.empty() && next == 0;
    missed_lines_ = missed_lines_ || lost;
  }
  offset_ = 0;
  tail_.clear();
  for (size_t i = 0; i < next; ++i) tail_.push_back(file_lines[i]);
  while (tail_.size() > kTailLines) tail_.pop_front();
  const size_t taken = lines->size();
  TakeLines(bytes.substr(starts[next]), starts[next], lines);
  if (!lost) return;
  // Where reading stopped is not known: the file is read again from its
  // start, but only entries written since the follower began count.
  LogEntryView entry;
  lines->erase(std::remove_if(lines->begin() + static_cast<ptrdiff_t>(taken), lines->end(),
                              [this, &entry](const std::string& line) {
                                return ParseLogEntry(line, &entry) && entry.stamp < started_;
                              }),
               lines->end());
}

void LogFollower::TakeLines(const std::string& bytes, uint64_t offset,
                            std::vector<std::string>* lines) {
  size_t at = 0;
  for (size_t end; (end = bytes.find('\n', at)) != std::string::npos; at = end + 1) {
    lines->push_back(bytes.substr(at, end - at));
    tail_.push_back(lines->back());
    if (tail_.size() > kTailLines) tail_.pop_front();
  }
  offset_ = offset + at;
}

}  // namespace vornlink
