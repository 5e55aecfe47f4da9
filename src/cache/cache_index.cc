#include "cache/cache_index.h"

#include <cstring>

#include "cache/cache_record.h"

namespace vornlink {
namespace {

// A whole file is read in pieces of this size, so that a long cache never
// sits in memory at once just to be indexed.
constexpr size_t kReadChunk = size_t{1} << 20;

constexpr char kChangedUnderfoot[] = "the cache file changed while it was read";

// What a line is to the worker.
enum LineKind : uint8_t { kOtherLine, kDueLine, kDeliveredLine };

// A line as on disk (its line feed included, when it has one) as a text-mode
// reader sees it: without the line feed and the carriage return before it;
// where the line end on disk is CR LF, the reader has made that pair a line
// feed first, so one more carriage return goes.
std::string_view TextOfDiskLine(std::string_view raw) {
  if (raw.empty() || raw.back() != '\n') return raw;
  raw.remove_suffix(1);
  const int carriage_returns = kFileLineEnd[1] == '\0' ? 1 : 2;
  for (int i = 0; i < carriage_returns && !raw.empty() && raw.back() == '\r'; ++i) {
    raw.remove_suffix(1);
  }
  return raw;
}

// Env::ReadFileBytes of the cache at `path`, through `file` when the
// caller has it open.
ReadResult ReadCache(AppendingFile* file, const std::string& path, uint64_t offset,
                     size_t max_bytes, std::string* bytes, FileStamp* stamp, std::string* error) {
  if (file != nullptr) return file->ReadBytes(offset, max_bytes, bytes, stamp, error);
  return GetEnv()->ReadFileBytes(path, offset, max_bytes, bytes, stamp, error);
}

}  // namespace

bool CacheIndex::Refresh(const std::string& path, std::string* error, AppendingFile* file) {
  const uint64_t from = known_ && !offsets_.empty() ? offsets_.back() : 0;
  std::string bytes;
  FileStamp stamp;
  switch (ReadCache(file, path, from, last_line_.size() + kReadChunk, &bytes, &stamp, error)) {
    case ReadResult::kOk:
      break;
    case ReadResult::kMissing:
      Clear();
      return true;
    case ReadResult::kError:
      Forget();
      return false;
  }
  if (known_ && stamp.SameFile(stamp_) && stamp.size >= stamp_.size &&
      bytes.compare(0, last_line_.size(), last_line_) == 0) {
    if (stamp.size == stamp_.size && stamp.modified == stamp_.modified) return true;
    if (stamp.size > stamp_.size) {
      if (EndsWithLineFeed()) {
        // Appended to after a whole line: only what follows it is new.
        const size_t kept = last_line_.size();
        bytes.erase(0, kept);
        return ReadLinesFrom(file, path, from + kept, std::move(bytes), stamp, error);
      }
      // An append may have ended the torn last line: it is read again with
      // the new ones.
      EraseLine(offsets_.size() - 1);
      return ReadLinesFrom(file, path, from, std::move(bytes), stamp, error);
    }
    // The same size but touched: perhaps rewritten in place.
  }
  Clear();
  if (from != 0) {
    switch (ReadCache(file, path, 0, kReadChunk, &bytes, &stamp, error)) {
      case ReadResult::kOk:
        break;
      case ReadResult::kMissing:
        return true;
      case ReadResult::kError:
        return false;
    }
  }
  return ReadLinesFrom(file, path, 0, std::move(bytes), stamp, error);
}

bool CacheIndex::ReadLinesFrom(AppendingFile* file, const std::string& path, uint64_t offset,
                               std::string first, const FileStamp& first_stamp,
                               std::string* error) {
  FileStamp stamp = first_stamp;
  std::string data = std::move(first);
  uint64_t line_start = offset;
  uint64_t read_to = offset + data.size();
  for (;;) {
    size_t start = 0;
    std::string_view raw;
    for (size_t feed; (feed = data.find('\n', start)) != std::string::npos; start = feed + 1) {
      raw = std::string_view(data.data() + start, feed + 1 - start);
      AddLine(line_start, raw);
      line_start += raw.size();
    }
    if (!raw.empty()) last_line_.assign(raw);
    data.erase(0, start);  // the start of a line that goes on
    if (read_to >= stamp.size) break;
    std::string more;
    FileStamp now;
    if (ReadCache(file, path, read_to, kReadChunk, &more, &now, error) != ReadResult::kOk ||
        !now.SameFile(stamp)) {
      if (error != nullptr && error->empty()) *error = kChangedUnderfoot;
      Forget();
      return false;
    }
    stamp = now;
    if (more.empty()) break;
    read_to += more.size();
    data.append(more);
  }
  if (!data.empty()) {
    // A last line without a line feed, torn by a crash.
    AddLine(line_start, data);
    line_start += data.size();
    last_line_ = std::move(data);
  }
  stamp_ = stamp;
  // What was indexed; a file cut meanwhile is met by the next Refresh.
  stamp_.size = line_start;
  known_ = true;
  return true;
}

void CacheIndex::Forget() { Clear(); }

void CacheIndex::Clear() {
  known_ = false;
  stamp_ = FileStamp();
  last_line_.clear();
  offsets_.clear();
  trids_.clear();
  kinds_.clear();
  newest_second_ = -1;
  at_newest_.fill(0);
  taken_at_newest_.reset();
  plain_ = true;
}

bool CacheIndex::EndsWithLineFeed() const {
  return last_line_.empty() || last_line_.back() == '\n';
}

size_t CacheIndex::NextDue(size_t from, const TridNumbers* passed_over) const {
  for (size_t i = from; i < kinds_.size(); ++i) {
    if (kinds_[i] == kDueLine && (passed_over == nullptr || passed_over->count(trids_[i]) == 0)) {
      return i;
    }
  }
  return kinds_.size();
}

size_t CacheIndex::NextDelivered(size_t from) const {
  for (size_t i = from; i < kinds_.size(); ++i) {
    if (kinds_[i] == kDeliveredLine) return i;
  }
  return kinds_.size();
}

size_t CacheIndex::FindTrid(int64_t trid_number) const {
  if (trid_number < 0) return trids_.size();
  for (size_t i = 0; i < trids_.size(); ++i) {
    if (trids_[i] == trid_number) return i;
  }
  return trids_.size();
}

TakenTrids CacheIndex::TakenIn(int64_t second) const {
  TakenTrids taken;
  if (second > newest_second_) return taken;
  if (second == newest_second_) return taken_at_newest_;
  // The clock went back: lines of this second can stand anywhere.
  for (int64_t trid : trids_) {
    int64_t line_second = 0;
    int value = 0;
    if (SplitTridNumber(trid, &line_second, &value) && line_second == second) {
      taken.set(static_cast<size_t>(value));
    }
  }
  return taken;
}

bool CacheIndex::ReadLine(const std::string& path, size_t index, std::string* line,
                          std::string* error) {
  // The last line was read, and found as known, by the Refresh before.
  if (index + 1 == offsets_.size()) {
    line->assign(TextOfDiskLine(last_line_));
    return true;
  }
  const uint64_t start = offsets_[index];
  const uint64_t end = index + 1 < offsets_.size() ? offsets_[index + 1] : stamp_.size;
  std::string raw;
  FileStamp stamp;
  if (GetEnv()->ReadFileBytes(path, start, static_cast<size_t>(end - start), &raw, &stamp, error) !=
          ReadResult::kOk ||
      stamp != stamp_ || raw.size() != end - start) {
    if (error != nullptr && error->empty()) *error = kChangedUnderfoot;
    Forget();
    return false;
  }
  line->assign(TextOfDiskLine(raw));
  std::string_view status;
  std::string_view trid;
  StatusAndTridOfLine(*line, &status, &trid);
  kinds_[index] = KindOf(status, trid);
  return true;
}

bool CacheIndex::TextSpan(size_t index, size_t* start, size_t* length, size_t* text_size) const {
  if (!known_ || !plain_ || index >= offsets_.size()) return false;
  // Each line end is one line feed in the text.
  const uint64_t shrink = std::strlen(kFileLineEnd) - 1;
  const uint64_t end = index + 1 < offsets_.size() ? offsets_[index + 1] : stamp_.size;
  *start = static_cast<size_t>(offsets_[index] - index * shrink);
  *length = static_cast<size_t>(end - offsets_[index] - shrink);
  *text_size = static_cast<size_t>(stamp_.size - offsets_.size() * shrink);
  return true;
}

void CacheIndex::NoteRemoved(const std::string& path, size_t removed, const std::string* appended) {
  if (!known_ || !plain_ || removed >= offsets_.size()) {
    Forget();
    return;
  }
  const bool removed_last = removed + 1 == offsets_.size();
  const uint64_t gone = (removed_last ? stamp_.size : offsets_[removed + 1]) - offsets_[removed];
  uint64_t size = stamp_.size - gone;
  EraseLine(removed);
  for (size_t i = removed; i < offsets_.size(); ++i) offsets_[i] -= gone;
  std::string expected_last = removed_last ? std::string() : last_line_;
  if (appended != nullptr) {
    expected_last.assign(*appended).append(kFileLineEnd);
    AddLine(size, expected_last);
    size += expected_last.size();
  }
  // The new file's stamp, and a check that it ends as it must.
  const uint64_t from = offsets_.empty() ? 0 : offsets_.back();
  std::string bytes;
  FileStamp stamp;
  if (GetEnv()->ReadFileBytes(path, from, static_cast<size_t>(size - from) + 1, &bytes, &stamp,
                              nullptr) != ReadResult::kOk ||
      stamp.size != size || bytes.size() != size - from ||
      (!expected_last.empty() && bytes != expected_last)) {
    Forget();
    return;
  }
  stamp_ = stamp;
  last_line_ = std::move(bytes);
}

void CacheIndex::AddLine(uint64_t offset, std::string_view raw) {
  std::string_view status;
  std::string_view trid;
  const std::string_view text = TextOfDiskLine(raw);
  const size_t line_end = std::strlen(kFileLineEnd);
  plain_ = plain_ && raw.size() == text.size() + line_end &&
           raw.compare(text.size(), line_end, kFileLineEnd) == 0;
  StatusAndTridOfLine(text, &status, &trid);
  offsets_.push_back(offset);
  trids_.push_back(TridNumber(trid));
  kinds_.push_back(KindOf(status, trid));
  NoteTrid(trids_.back(), +1);
}

uint8_t CacheIndex::KindOf(std::string_view status, std::string_view trid) {
  if (IsDueStatus(status)) return kDueLine;
  return StateOfLine(status, trid) == LineState::kDelivered ? kDeliveredLine : kOtherLine;
}

void CacheIndex::EraseLine(size_t index) {
  NoteTrid(trids_[index], -1);
  offsets_.erase(offsets_.begin() + static_cast<std::ptrdiff_t>(index));
  trids_.erase(trids_.begin() + static_cast<std::ptrdiff_t>(index));
  kinds_.erase(kinds_.begin() + static_cast<std::ptrdiff_t>(index));
}

void CacheIndex::NoteTrid(int64_t trid, int step) {
  int64_t second = 0;
  int value = 0;
  if (!SplitTridNumber(trid, &second, &value)) return;
  if (step > 0 && second > newest_second_) {
    newest_second_ = second;
    at_newest_.fill(0);
    taken_at_newest_.reset();
  }
  if (second != newest_second_) return;
  uint32_t& count = at_newest_[static_cast<size_t>(value)];
  if (step > 0) {
    ++count;
  } else if (count > 0) {
    --count;
  }
  taken_at_newest_.set(static_cast<size_t>(value), count > 0);
}

}  // namespace vornlink
