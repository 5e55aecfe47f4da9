// What the driver knows of one cache file between two operations: where
// each line starts, whether it is due (Status 0 or 2), its Trid, and which
// values of the newest second are taken; so that an operation reads what
// changed since the last one instead of the whole file.
//
// The knowledge is trusted only while the file is provably the one it was
// made from. Before every use, `Refresh` takes the file's stamp (identity,
// size, modification time) together with the bytes from the start of its
// last known line to the end, in one open:
//  - stamp and those bytes as they were: unchanged, nothing more is read;
//  - the same file, larger, the last known line still where it stood:
//    lines were appended, and only they are read;
//  - anything else (another process's rewrite, a file cut, replaced, or
//    touched in place): the whole file is read again.
// An append or a rewrite by the driver changes the file's size or puts a
// line with a new Trid last, so none passes for "unchanged" even within the
// resolution of the file system's clock. A mark of a Status in place
// (MarkLineInPlace) keeps both: the marking process forgets its knowledge,
// but another process's mark within that resolution may pass for
// "unchanged". So the state of a line the driver acts on is taken from the
// line as read (ReadLine), never from the knowledge alone: a line marked
// meanwhile is passed over, not sent; at worst a line marked delivered
// waits for the next change to be removed. The driver's own appends and
// rewrites are taken in without reading the file again.
//
// Ownership and threading: one object per cache file, used only under that
// file's cache mutex, which keeps threads and processes apart; the object
// itself is not thread-safe. No method throws.
#ifndef VORNLINK_CACHE_CACHE_INDEX_H_
#define VORNLINK_CACHE_CACHE_INDEX_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cache/trid.h"
#include "platform/env.h"

namespace vornlink {

class CacheIndex {
 public:
  // Brings the knowledge up to date with the file at `path`. False, with
  // the reason in `error`, when the file is there but cannot be read; a
  // missing file is an empty cache. With `file` (that file, opened for an
  // add under the same lock; may be null) it is read through that open.
  bool Refresh(const std::string& path, std::string* error, AppendingFile* file = nullptr);
  // Forgets everything: the next Refresh reads the whole file.
  void Forget();

  size_t line_count() const { return offsets_.size(); }
  // False when the file's last line has no line feed (a torn write).
  bool EndsWithLineFeed() const;
  // The first line at or after `from` whose Status is 0 or 2 and whose Trid
  // (as TridNumber reads it) is not in `passed_over` (may be null);
  // line_count() when there is none.
  size_t NextDue(size_t from, const TridNumbers* passed_over = nullptr) const;
  // The first line at or after `from` marked delivered (kDeliveredStatus)
  // with a well-formed Trid; line_count() when there is none.
  size_t NextDelivered(size_t from) const;
  // Where line `index` starts in the file, in bytes.
  uint64_t LineOffset(size_t index) const { return offsets_[index]; }
  // The first line whose Trid field is the 18 digits of `trid_number`;
  // line_count() when there is none.
  size_t FindTrid(int64_t trid_number) const;
  // The values of `second` (the 14 date-time digits as a number) that lines
  // carry. Costs nothing for the newest second in the file and any later
  // one; an earlier second (the clock went back) looks at every line.
  TakenTrids TakenIn(int64_t second) const;

  // Line `index` as a text-mode reader sees it, without its line end; right
  // after a Refresh, under the same lock. False when it could not be read as
  // known (the file changed without the lock): the knowledge is forgotten
  // then.
  // The line's state is taken from what was read: a Status changed in place
  // by another process within the clock's resolution is seen here.
  bool ReadLine(const std::string& path, size_t index, std::string* line, std::string* error);

  // Where line `index` stands in the file's text as a text-mode reader
  // sees it (`start`, and `length` with its line feed), and the length of
  // that whole text. False unless every line is plain: written as the
  // driver writes lines, ended by the platform's line end with no carriage
  // return of its own before it, so that a rewrite of the text keeps every
  // other line byte for byte.
  bool TextSpan(size_t index, size_t* start, size_t* length, size_t* text_size) const;

  // After the file at `path` was replaced by its text without line
  // `removed` (see TextSpan) and with `appended` (a line without its line
  // end) added last when not null. Takes the new file's stamp; forgets
  // everything when the file is not what that makes.
  void NoteRemoved(const std::string& path, size_t removed, const std::string* appended);

 private:
  // Adds the line (as on disk, line feed included when it has one) that
  // starts at `offset`.
  void AddLine(uint64_t offset, std::string_view raw);
  // What the worker may do with a line of this Status and Trid (LineKind).
  static uint8_t KindOf(std::string_view status, std::string_view trid);
  void EraseLine(size_t index);
  void NoteTrid(int64_t trid, int step);
  void Clear();
  // Reads from `offset` (where a line starts) to the end of the file, the
  // first `first` bytes of it given, and adds its lines; through `file`
  // as in Refresh.
  bool ReadLinesFrom(AppendingFile* file, const std::string& path, uint64_t offset,
                     std::string first, const FileStamp& first_stamp, std::string* error);

  bool known_ = false;
  FileStamp stamp_;        // of the file the lines were read from
  std::string last_line_;  // the last line as on disk, line end included
  std::vector<uint64_t> offsets_;
  std::vector<int64_t> trids_;  // TridNumber of each line's Trid field
  std::vector<uint8_t> kinds_;  // LineKind of each line
  bool plain_ = true;           // every line as the driver writes them (see TextSpan)
  // The newest second any line's Trid carries (an upper bound once such
  // lines are gone), and how many lines carry each value of it.
  int64_t newest_second_ = -1;
  std::array<uint32_t, kTridsPerSecond> at_newest_{};
  TakenTrids taken_at_newest_;  // the values whose count is above 0
};

}  // namespace vornlink

#endif  // VORNLINK_CACHE_CACHE_INDEX_H_
