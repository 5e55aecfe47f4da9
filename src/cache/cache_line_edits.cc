// The edits of one line of the cache file found by its Trid: the rewrite
// of the file without it (or with it moved to the end), and the mark of its
// Status in place; and the removal of every line marked delivered.
#include <algorithm>
#include <functional>
#include <string_view>
#include <vector>

#include "base/text_lines.h"
#include "base/write_gate.h"
#include "cache/cache_file.h"
#include "cache/cache_file_internal.h"
#include "cache/cache_index.h"
#include "cache/cache_log_entries.h"
#include "cache/trid.h"
#include "log/log.h"

namespace vornlink {
namespace {

// Whether the stop refused `permit`; then says so in `error`.
bool StopRefuses(const WritePermit& permit, std::string* error) {
  if (permit.granted()) return false;
  *error = "the service has stopped";
  return true;
}

// The file without the line at `skip` (every line ends with "\n"), with
// room for `spare` more bytes.
std::string JoinLinesExcept(const std::vector<std::string_view>& lines, size_t skip, size_t spare) {
  size_t size = spare;
  for (std::string_view line : lines) size += line.size() + 1;
  std::string text;
  text.reserve(size);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i == skip) continue;
    text.append(lines[i]);
    text.push_back('\n');
  }
  return text;
}

// A line of the cache file that a removal or a move found by its Trid, in
// the file read whole.
struct FoundLine {
  std::string contents;  // the file as a text-mode reader sees it
  size_t start = 0;      // where the line stands in `contents`
  size_t length = 0;     // its length, with its line feed when it has one
  size_t index = 0;      // its line number, when `known`
  // Whether the index knows these very lines, all plain, so that it can
  // take in the change without reading the file again.
  bool known = false;
};

enum class Lookup { kFound, kNotFound, kFailed };

// The first line of `contents` whose Trid field is `trid`: its start and
// length with its line feed. An empty Trid matches nothing: it would pick a
// short line that somebody else must see.
bool LocateTrid(std::string_view contents, const std::string& trid, size_t* start, size_t* length) {
  if (trid.empty()) return false;
  for (std::string_view line : LinesContaining(contents, trid)) {
    if (TridOfLine(line) != trid) continue;
    *start = static_cast<size_t>(line.data() - contents.data());
    const size_t feed = contents.find('\n', *start);
    *length = (feed == std::string_view::npos ? contents.size() : feed + 1) - *start;
    return true;
  }
  return false;
}

// Finds the first line whose Trid is `trid` in the file read whole, as its
// rewrite needs it. Where the index knows the file's lines as they are, the
// line it names is taken once the text read shows it there; otherwise the
// text is searched, and the index forgotten. Under the cache lock.
Lookup FindForRewrite(const std::string& path, CacheIndex& index, const std::string& trid,
                      FoundLine* found, std::string* error) {
  if (!index.Refresh(path, error)) return Lookup::kFailed;
  if (!ReadCacheText(path, &found->contents, error)) {
    index.Forget();
    return Lookup::kFailed;
  }
  const std::string_view text = found->contents;
  found->index = index.FindTrid(TridNumber(trid));
  size_t start = 0;
  size_t length = 0;
  size_t text_size = 0;
  found->known = !trid.empty() && index.TextSpan(found->index, &start, &length, &text_size) &&
                 text_size == text.size() && length > 0 && start + length <= text.size() &&
                 TridOfLine(text.substr(start, length - 1)) == trid;
  if (found->known) {
    found->start = start;
    found->length = length;
    return Lookup::kFound;
  }
  index.Forget();
  return LocateTrid(text, trid, &found->start, &found->length) ? Lookup::kFound : Lookup::kNotFound;
}

// The file's text without the found line, each line ended by a line feed,
// with room for `spare` more bytes. Takes the found contents.
std::string TextWithout(FoundLine* found, size_t spare) {
  if (found->known) {
    // Every line is plain: the text as read is the text to write.
    std::string text = std::move(found->contents);
    text.erase(found->start, found->length);
    return text;
  }
  std::vector<std::string_view> lines = SplitLines(found->contents);
  // The line that starts where the found one does.
  auto same = std::lower_bound(
      lines.begin(), lines.end(), found->contents.data() + found->start,
      [](std::string_view candidate, const char* data) { return candidate.data() < data; });
  return JoinLinesExcept(lines, static_cast<size_t>(same - lines.begin()), spare);
}

// Where the Status of `line` starts, when it is one character.
bool OneCharacterStatus(std::string_view line, size_t* at) {
  size_t start = 0;
  for (size_t comma = 0; comma < CacheRecord::kStatus; ++comma) {
    const size_t found = line.find(',', start);
    if (found == std::string_view::npos) return false;
    start = found + 1;
  }
  if (start + 1 >= line.size() || line[start + 1] != ',') return false;
  *at = start;
  return true;
}

}  // namespace

CacheChange MarkLineInPlace(const std::string& trid, char status, std::string* error) {
  const std::string path = CacheFilePath();
  WritePermit permit;
  if (StopRefuses(permit, error)) return CacheChange::kFailed;
  CacheLock lock(path);
  CacheIndex& index = IndexOf(path);
  std::string line;
  size_t at = 0;
  bool read = lock.held() && index.Refresh(path, error);
  if (read) {
    at = index.FindTrid(TridNumber(trid));
    if (at >= index.line_count()) return CacheChange::kNotFound;
    read = index.ReadLine(path, at, &line, error);
  }
  size_t status_at = 0;
  if (read && TridOfLine(line) != trid) {
    *error = "the cache file changed while it was read";
    read = false;
  } else if (read && !OneCharacterStatus(line, &status_at)) {
    *error = "its Status is not one character";
    read = false;
  }
  if (read && !GetEnv()->OverwriteFileBytes(path, index.LineOffset(at) + status_at,
                                            std::string(1, status), error)) {
    read = false;
  }
  // The file's stamp changed: the next operation reads it again.
  index.Forget();
  if (!read) {
    if (!lock.held()) *error = lock.error();
    LogPrint('*', "KMRCacheTransaction: Mark Trid[%s] in cache file with Status[%c] -> FAILED",
             trid.c_str(), status);
    LogReason(lock, path, *error);
    return CacheChange::kFailed;
  }
  LogPrint('c', "KMRCacheTransaction: Mark Trid[%s] in cache file with Status[%c] -> SUCCESS",
           trid.c_str(), status);
  return CacheChange::kDone;
}

namespace {

// Finds the line to rewrite in the file read whole: FindForRewrite, or
// FindRecordForRewrite.
using LineFinder = std::function<Lookup(const std::string& path, CacheIndex& index,
                                        FoundLine* found, std::string* error)>;

// The line at `line` (1-based) of the file read whole, when it still reads
// as `expected`; else the first line that does: lines before it went
// meanwhile, and two equal lines are one transaction in one state, so
// either may go. Forgets the index, which does not learn of the rewrite.
// Under the cache lock.
Lookup FindRecordForRewrite(const std::string& path, CacheIndex& index, size_t line,
                            const CacheRecord& expected, FoundLine* found, std::string* error) {
  index.Forget();
  if (!ReadCacheText(path, &found->contents, error)) return Lookup::kFailed;
  const std::vector<std::string_view> lines = SplitLines(found->contents);
  auto reads_as_expected = [&](size_t at) {
    CacheRecord record;
    ParseCacheLine(lines[at], &record);
    return record.fields == expected.fields;
  };
  size_t at = line - 1;
  if (line == 0 || at >= lines.size() || !reads_as_expected(at)) {
    at = 0;
    while (at < lines.size() && !reads_as_expected(at)) ++at;
    if (at == lines.size()) return Lookup::kNotFound;
  }
  found->start = static_cast<size_t>(lines[at].data() - found->contents.data());
  const size_t feed = found->contents.find('\n', found->start);
  found->length = (feed == std::string::npos ? found->contents.size() : feed + 1) - found->start;
  found->known = false;
  return Lookup::kFound;
}

// Logs a failed change of the line `trid` as `log` names it, with the
// reason in the words of the log's lines ("Could not open file", ...).
void LogEditFailed(EditLog log, const std::string& trid, const char* reason) {
  switch (log) {
    case EditLog::kQuiet:
      return;
    case EditLog::kRemoval:
      return LogDeleteFailed(trid, reason);
    case EditLog::kMove:
      LogPrint('*',
               "KMRCacheTransaction: Move Trid[%s] to the end of the cache file -> Internal t[%s] "
               "-> FAILED",
               trid.c_str(), reason);
      return;
    case EditLog::kChange:
      LogPrint('*',
               "KMRCacheTransaction: Change Trid[%s] in cache file -> Internal t[%s] -> FAILED",
               trid.c_str(), reason);
      return;
  }
}

// The one rewrite of a line, for the driver (RemoveLine, MoveToEnd) and the
// operator alike; `trid` names the line in the log.
CacheChange EditFoundLine(const std::string& trid, const LineFinder& find,
                          const std::function<LineEdit(CacheRecord*)>& decide,
                          std::string* new_trid, std::string* error, EditLog log) {
  const std::string path = CacheFilePath();
  WritePermit permit;
  if (StopRefuses(permit, error)) return CacheChange::kFailed;
  CacheLock lock(path);
  CacheIndex& index = IndexOf(path);
  FoundLine found;
  Lookup lookup = lock.held() ? find(path, index, &found, error) : Lookup::kFailed;
  if (lookup == Lookup::kFailed) {
    if (!lock.held()) *error = lock.error();
    if (log != EditLog::kQuiet) {
      LogEditFailed(log, trid,
                    lock.held() ? "Could not open file" : "Could not take the cache lock");
      LogReason(lock, path, *error);
    }
    return CacheChange::kFailed;
  }
  if (lookup == Lookup::kNotFound) return CacheChange::kNotFound;
  CacheRecord record;
  ParseCacheLine(std::string_view(found.contents).substr(found.start, found.length), &record);
  // The line feed, and a carriage return before it, are no part of the
  // message.
  std::string& message = record.fields[CacheRecord::kMessage];
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  const LineEdit edit = decide(&record);
  if (edit == LineEdit::kKeep) return CacheChange::kDone;
  std::string fresh_trid;
  std::string line;  // the moved line, without its line end
  if (edit == LineEdit::kMoveToEnd) {
    // The new Trid must differ from every line's, the dropped one's included.
    fresh_trid = NewTrid(index, found.known ? nullptr : &found.contents);
    line = CleanLine(record.transaction(), record.status(), fresh_trid, std::string(),
                     record.message());
  }
  std::string text = TextWithout(&found, line.size() + 1);
  if (!line.empty()) {
    text.append(line);
    text.push_back('\n');
  }
  if (!ReplaceCache(path, text, error)) {
    index.Forget();
    if (log != EditLog::kQuiet) {
      const bool moved = edit == LineEdit::kMoveToEnd;
      LogEditFailed(moved ? EditLog::kMove : EditLog::kRemoval, trid, "Could not write file");
      LogFileError(path, *error);
    }
    return CacheChange::kFailed;
  }
  if (found.known) index.NoteRemoved(path, found.index, line.empty() ? nullptr : &line);
  LogWriteLine('c', DeletedEntry(trid));
  if (edit == LineEdit::kMoveToEnd) {
    LogAdded(record.trans_no(), fresh_trid);
    if (new_trid != nullptr) *new_trid = fresh_trid;
  }
  return CacheChange::kDone;
}

}  // namespace

CacheChange EditCacheLineLogged(const std::string& trid,
                                const std::function<LineEdit(CacheRecord*)>& decide,
                                std::string* new_trid, std::string* error, EditLog log) {
  return EditFoundLine(
      trid,
      [&trid](const std::string& path, CacheIndex& index, FoundLine* found, std::string* error) {
        return FindForRewrite(path, index, trid, found, error);
      },
      decide, new_trid, error, log);
}

CacheChange EditCacheLine(const std::string& trid,
                          const std::function<LineEdit(CacheRecord*)>& decide,
                          std::string* new_trid, std::string* error, bool log_failure) {
  return EditCacheLineLogged(trid, decide, new_trid, error,
                             log_failure ? EditLog::kChange : EditLog::kQuiet);
}

CacheChange EditCacheLineAt(size_t line, const CacheRecord& expected,
                            const std::function<LineEdit(CacheRecord*)>& decide,
                            std::string* new_trid, std::string* error) {
  return EditFoundLine(
      expected.trid(),
      [line, &expected](const std::string& path, CacheIndex& index, FoundLine* found,
                        std::string* error) {
        return FindRecordForRewrite(path, index, line, expected, found, error);
      },
      decide, new_trid, error, EditLog::kChange);
}

CacheChange RemoveDeliveredLines(std::vector<CacheRecord>* removed, std::string* error) {
  removed->clear();
  const std::string path = CacheFilePath();
  WritePermit permit;
  if (StopRefuses(permit, error)) return CacheChange::kFailed;
  CacheLock lock(path);
  if (!lock.held()) {
    *error = lock.error();
    return CacheChange::kFailed;
  }
  CacheIndex& index = IndexOf(path);
  if (!index.Refresh(path, error)) return CacheChange::kFailed;
  if (index.NextDelivered(0) >= index.line_count()) return CacheChange::kNotFound;
  // Every line is judged as read, and the rewrite changes the whole file.
  index.Forget();
  std::string contents;
  if (!ReadCacheText(path, &contents, error)) return CacheChange::kFailed;
  std::string text;
  text.reserve(contents.size());
  for (std::string_view line : SplitLines(contents)) {
    std::string_view status;
    std::string_view trid;
    StatusAndTridOfLine(line, &status, &trid);
    if (StateOfLine(status, trid) == LineState::kDelivered) {
      ParseCacheLine(line, &removed->emplace_back());
      continue;
    }
    text.append(line);
    text.push_back('\n');
  }
  if (removed->empty()) return CacheChange::kNotFound;
  if (!ReplaceCache(path, text, error)) return CacheChange::kFailed;
  for (const CacheRecord& record : *removed) {
    LogWriteLine('c', DeletedEntry(record.trid()));
  }
  return CacheChange::kDone;
}

}  // namespace vornlink
