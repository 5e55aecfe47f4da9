#include "cache/cache_file.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "base/module_singleton.h"
#include "base/text_lines.h"
#include "base/write_gate.h"
#include "cache/cache_index.h"
#include "cache/trid.h"
#include "log/log.h"
#include "settings/module_files.h"

namespace vornlink {
namespace {

// A rewrite that meets the file held open by another program (a virus
// scanner, an editor) keeps trying this long.
constexpr ReplaceOptions kCacheReplaceOptions{1000};

// What this process keeps of one cache file: its mutex, and what it knows
// of the file's lines (used only while the mutex is held).
struct CacheFileState {
  std::unique_ptr<CrossProcessMutex> mutex;
  CacheIndex index;
};

// The states of the cache files, one per file, made on first use. Never
// destroyed while the module may be used: ReleaseCacheMutexes empties it.
struct CacheMutexes {
  std::mutex mutex;
  std::map<std::string, std::unique_ptr<CacheFileState>> by_path;  // guarded by mutex
};

ModuleSingleton<CacheMutexes> g_cache_mutexes;

CacheMutexes& Registry() { return g_cache_mutexes.Get(); }

CacheFileState& StateOf(const std::string& path) {
  CacheMutexes& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  std::unique_ptr<CacheFileState>& state = registry.by_path[path];
  if (state == nullptr) {
    state = std::make_unique<CacheFileState>();
    // Windows shares one named mutex between all processes; elsewhere the
    // lock file beside the cache file does that, so that every process that
    // shares a cache shares its lock, and only those who may write the
    // cache's folder can make it.
    state->mutex = GetEnv()->NewNamedMutex(kCacheMutexName, CacheLockFilePath(path));
  }
  return *state;
}

CrossProcessMutex& CacheMutex(const std::string& path) { return *StateOf(path).mutex; }

// What is known of the lines of the cache file at `path`; only under its
// CacheLock.
CacheIndex& IndexOf(const std::string& path) { return StateOf(path).index; }

void LogLockFailed(const std::string& error) {
  LogPrint('*', "KMRCacheTransaction: Could not take the cache lock t[%s]", error.c_str());
}

void LogFileError(const std::string& path, const std::string& error) {
  LogPrint('*', "KMRCacheTransaction: Cache file[%s] t[%s]", path.c_str(), error.c_str());
}

// The second line of a failed operation: why the lock or the file failed.
void LogReason(const CacheLock& lock, const std::string& path, const std::string& error) {
  if (!lock.held()) {
    LogLockFailed(lock.error());
  } else {
    LogFileError(path, error);
  }
}

// Replaces the cache file by `text`; logs when it had to be overwritten in
// place. False with the reason in `error` when it failed. The caller tells
// the file's index what became of it.
bool ReplaceCache(const std::string& path, const std::string& text, std::string* error) {
  switch (GetEnv()->ReplaceTextFile(path, text, kCacheReplaceOptions, error)) {
    case ReplaceResult::kReplaced:
      // Done; a folder that could not be flushed is worth a line, since a
      // power cut may still bring the old content back.
      if (!error->empty()) {
        LogPrint('*', "KMRCacheTransaction: Cache file[%s] replaced, %s", path.c_str(),
                 error->c_str());
      }
      return true;
    case ReplaceResult::kRewrittenInPlace:
      LogPrint('*',
               "KMRCacheTransaction: Cache file[%s] rewritten in place: no new file may be made "
               "in its folder%s%s",
               path.c_str(), error->empty() ? "" : "; ", error->c_str());
      return true;
    case ReplaceResult::kFailed:
      break;
  }
  return false;
}

// Field text safe to write into a line (FieldAsWritten); `changed` is set
// when it differs from `value`.
std::string Sanitised(const std::string& value, bool keep_commas, bool* changed) {
  std::string clean = FieldAsWritten(value, keep_commas);
  if (clean != value) *changed = true;
  return clean;
}

// The cache file's content; false with the reason in `error` when it cannot
// be read. A missing file is an empty cache.
bool ReadCache(const std::string& path, std::string* contents, std::string* error) {
  switch (GetEnv()->ReadTextFile(path, contents, kNoSizeLimit, error)) {
    case ReadResult::kOk:
      return true;
    case ReadResult::kMissing:
      contents->clear();
      return true;
    case ReadResult::kError:
      break;
  }
  return false;
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

// A Trid that no line of the cache carries: by what `index` knows, or by
// `text` (the file read whole) where the index does not know its lines.
std::string NewTrid(const CacheIndex& index, const std::string* text = nullptr) {
  return MakeUniqueTrid([&index, text](std::string_view second) {
    if (text != nullptr) return TakenTridsIn(*text, second);
    return index.TakenIn(TridNumber(FormatTrid(second, 0)) / 10000);
  });
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
  if (!ReadCache(path, &found->contents, error)) {
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

// The line to write for a record; logs what had to be replaced.
std::string CleanLine(const TransactionFields& transaction, const std::string& status,
                      const std::string& trid, const std::string& reserved,
                      const std::string& message) {
  TransactionFields clean;
  std::vector<int> changed_fields;
  for (size_t i = 0; i < transaction.size(); ++i) {
    bool changed = false;
    clean[i] = Sanitised(transaction[i], /*keep_commas=*/false, &changed);
    if (changed) changed_fields.push_back(static_cast<int>(i + 1));
  }
  bool message_changed = false;
  bool ignored = false;
  std::string line = FormatCacheLine(clean, Sanitised(status, false, &ignored), trid,
                                     Sanitised(reserved, false, &ignored),
                                     Sanitised(message, /*keep_commas=*/true, &message_changed));
  for (int field : changed_fields) {
    LogPrint('*',
             "KMRCacheTransaction: Add transaction[%s] field[%d] holds a comma or line break "
             "-> replaced by a blank",
             clean[0].c_str(), field);
  }
  if (message_changed) {
    LogPrint('*',
             "KMRCacheTransaction: Add transaction[%s] message holds a line break -> replaced "
             "by a blank",
             clean[0].c_str());
  }
  return line;
}

// The TransNo as the line holds it, so that a line break in it cannot split
// the log entry either.
std::string LoggedTransNo(const std::string& trans_no) {
  bool ignored = false;
  return Sanitised(trans_no, /*keep_commas=*/false, &ignored);
}

void LogAdded(const std::string& trans_no, const std::string& trid) {
  LogPrint('c', "KMRCacheTransaction: Add transaction[%s] to cache file with Trid[%s] -> SUCCESS",
           LoggedTransNo(trans_no).c_str(), trid.c_str());
}

void LogAddFailed(const std::string& trans_no, const std::string& trid) {
  LogPrint('*',
           "KMRCacheTransaction: Add transaction[%s] to cache file with Trid[%s] -> Could not "
           "open cache file -> FAILED",
           LoggedTransNo(trans_no).c_str(), trid.c_str());
}

void LogDeleteFailed(const std::string& trid, const char* reason) {
  LogPrint('*', "KMRCacheTransaction: Delete Trid[%s] from cache file -> Internal t[%s] -> FAILED",
           trid.c_str(), reason);
}

void LogNotFound(const std::string& trid) {
  LogPrint('c', "KMRCacheTransaction: Delete Trid[%s] from cache file -> NOT FOUND\n",
           trid.c_str());
}

}  // namespace

std::string CacheFilePath() { return ModuleFileWithExtension("$$$"); }

void ReleaseCacheMutexes() { g_cache_mutexes.Release(); }

std::string CacheLockFilePath(const std::string& cache_path) {
  return cache_path.empty() ? std::string() : cache_path + ".lock";
}

CacheLock::CacheLock(const std::string& cache_path) : mutex_(&CacheMutex(cache_path)) {
  held_ = mutex_->Lock(&error_);
}

CacheLock::~CacheLock() {
  if (held_) mutex_->Unlock();
}

namespace {

// Logs a failed add, or hands its reason (as the log words it) to a caller
// that reports it itself.
void AddFailed(const std::string& trans_no, const std::string& trid, const std::string& reason,
               std::string* failure) {
  if (failure != nullptr) {
    *failure = reason;
    return;
  }
  LogAddFailed(trans_no, trid);
  LogPrint('*', "KMRCacheTransaction: %s", reason.c_str());
}

std::string FileReason(const std::string& path, const std::string& error) {
  return "Cache file[" + path + "] t[" + error + "]";
}

int AddLine(const TransactionFields& transaction, const std::string& status,
            const std::string& reserved, const std::string& message, std::string* added_trid,
            std::string* failure) {
  const std::string path = CacheFilePath();
  WritePermit permit;
  if (!permit.granted()) {
    if (failure != nullptr) *failure = "the service has stopped";
    return 0;
  }
  CacheLock lock(path);
  if (!lock.held()) {
    AddFailed(transaction[0], MakeTrid(), "Could not take the cache lock t[" + lock.error() + "]",
              failure);
    return 0;
  }
  CacheIndex& index = IndexOf(path);
  std::string error;
  if (!index.Refresh(path, &error)) {
    AddFailed(transaction[0], MakeTrid(), FileReason(path, error), failure);
    return 0;
  }
  const std::string trid = NewTrid(index);
  std::string text;
  // A line torn by a crash must not swallow the new one.
  if (!index.EndsWithLineFeed()) text.push_back('\n');
  text.append(CleanLine(transaction, status, trid, reserved, message));
  text.push_back('\n');
  if (!GetEnv()->AppendTextFile(path, text, /*durable=*/true, &error)) {
    index.Forget();
    AddFailed(transaction[0], trid, FileReason(path, error), failure);
    return 0;
  }
  // The next operation's Refresh takes the new line in.
  LogAdded(transaction[0], trid);
  if (added_trid != nullptr) *added_trid = trid;
  return 1;
}

}  // namespace

int AddTransaction(const TransactionFields& transaction, const std::string& status,
                   const std::string& reserved, const std::string& message) {
  return AddLine(transaction, status, reserved, message, nullptr, nullptr);
}

int AddTransactionQuietly(const TransactionFields& transaction, std::string* trid,
                          std::string* failure) {
  return AddLine(transaction, "0", "0", std::string(), trid, failure);
}

namespace {

// Reads the line that `pick` chooses (from the refreshed index and a line
// to start at; its line_count() for none) into `record`, and its index into
// `*at`. A line that `fits` refuses as read (its Status changed in place,
// unseen by the index) is passed over. 1 when read, else 0; logs failures
// under the name of the `operation`.
template <typename Pick, typename Fits>
int ReadPickedLine(const char* operation, size_t from, CacheRecord* record, size_t* at, Pick pick,
                   Fits fits) {
  const std::string path = CacheFilePath();
  CacheLock lock(path);
  CacheIndex& index = IndexOf(path);
  std::string error;
  std::string line;
  bool read = lock.held() && index.Refresh(path, &error);
  while (read) {
    *at = pick(index, from);
    if (*at >= index.line_count()) return 0;
    read = index.ReadLine(path, *at, &line, &error);
    if (read && fits(line)) {
      ParseCacheLine(line, record);
      return 1;
    }
    from = *at + 1;
  }
  LogPrint('*', "KMRCacheTransaction: %s -- Internal: t[Could not open file]", operation);
  LogReason(lock, path, error);
  return 0;
}

size_t From(int from) { return from < 0 ? 0 : static_cast<size_t>(from); }

// Whether a line read has the state the index gave it.
bool IsDueLine(std::string_view line) {
  std::string_view status;
  std::string_view trid;
  StatusAndTridOfLine(line, &status, &trid);
  return IsDueStatus(status);
}

bool IsDeliveredLine(std::string_view line) {
  std::string_view status;
  std::string_view trid;
  StatusAndTridOfLine(line, &status, &trid);
  return StateOfLine(status, trid) == LineState::kDelivered;
}

}  // namespace

int GetCacheIndex(int index, CacheRecord* record) {
  size_t at = 0;
  return ReadPickedLine(
      "GetCacheIndex", 0, record, &at,
      [index](const CacheIndex& known, size_t) {
        return index < 0 ? known.line_count() : static_cast<size_t>(index);
      },
      [](std::string_view) { return true; });
}

int FindDueLine(int from, CacheRecord* record, int* index, const TridNumbers* passed_over) {
  size_t at = 0;
  const int read = ReadPickedLine(
      "FindDueLine", From(from), record, &at,
      [passed_over](const CacheIndex& known, size_t start) {
        return known.NextDue(start, passed_over);
      },
      IsDueLine);
  if (read == 1) *index = static_cast<int>(at);
  return read;
}

int FindDeliveredLine(int from, CacheRecord* record, int* index) {
  size_t at = 0;
  const int read = ReadPickedLine(
      "FindDeliveredLine", From(from), record, &at,
      [](const CacheIndex& known, size_t start) { return known.NextDelivered(start); },
      IsDeliveredLine);
  if (read == 1) *index = static_cast<int>(at);
  return read;
}

CacheChange RemoveLine(const std::string& trid) {
  std::string error;
  const CacheChange change = EditCacheLine(
      trid, [](CacheRecord*) { return LineEdit::kRemove; }, nullptr, &error);
  if (change == CacheChange::kNotFound) LogNotFound(trid);
  return change;
}

CacheChange MoveToEnd(const CacheRecord& record, std::string* new_trid) {
  std::string error;
  const CacheChange change = EditCacheLine(
      record.trid(),
      [&record](CacheRecord* found) {
        *found = record;
        return LineEdit::kMoveToEnd;
      },
      new_trid, &error);
  if (change == CacheChange::kNotFound) LogNotFound(record.trid());
  return change;
}

namespace {

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
  if (!permit.granted()) {
    *error = "the service has stopped";
    return CacheChange::kFailed;
  }
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

// ---- Operator access ----

bool ReadCacheRecords(std::vector<NumberedRecord>* records, std::string* error) {
  const std::string path = CacheFilePath();
  records->clear();
  if (path.empty()) {
    *error = "the module's path is unknown";
    return false;
  }
  CacheLock lock(path);
  if (!lock.held()) {
    *error = lock.error();
    return false;
  }
  std::string contents;
  if (!ReadCache(path, &contents, error)) {
    *error = path + ": " + *error;
    return false;
  }
  std::vector<std::string_view> lines = SplitLines(contents);
  records->resize(lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    (*records)[i].line = i + 1;
    ParseCacheLine(lines[i], &(*records)[i].record);
  }
  return true;
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
  if (!ReadCache(path, &found->contents, error)) return Lookup::kFailed;
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

// The one rewrite of a line, for the driver (RemoveLine, MoveToEnd) and the
// operator alike; `trid` names the line in the log.
CacheChange EditFoundLine(const std::string& trid, const LineFinder& find,
                          const std::function<LineEdit(CacheRecord*)>& decide,
                          std::string* new_trid, std::string* error) {
  const std::string path = CacheFilePath();
  WritePermit permit;
  if (!permit.granted()) {
    *error = "the service has stopped";
    return CacheChange::kFailed;
  }
  CacheLock lock(path);
  CacheIndex& index = IndexOf(path);
  FoundLine found;
  Lookup lookup = lock.held() ? find(path, index, &found, error) : Lookup::kFailed;
  if (lookup == Lookup::kFailed) {
    if (!lock.held()) *error = lock.error();
    LogDeleteFailed(trid, "Could not open file");
    LogReason(lock, path, *error);
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
    LogDeleteFailed(trid, "Could not write file");
    LogFileError(path, *error);
    return CacheChange::kFailed;
  }
  if (found.known) index.NoteRemoved(path, found.index, line.empty() ? nullptr : &line);
  LogPrint('c', "KMRCacheTransaction: Delete Trid[%s] from cache file -> SUCCESS", trid.c_str());
  if (edit == LineEdit::kMoveToEnd) {
    LogAdded(record.trans_no(), fresh_trid);
    if (new_trid != nullptr) *new_trid = fresh_trid;
  }
  return CacheChange::kDone;
}

}  // namespace

CacheChange EditCacheLine(const std::string& trid,
                          const std::function<LineEdit(CacheRecord*)>& decide,
                          std::string* new_trid, std::string* error) {
  return EditFoundLine(
      trid,
      [&trid](const std::string& path, CacheIndex& index, FoundLine* found, std::string* error) {
        return FindForRewrite(path, index, trid, found, error);
      },
      decide, new_trid, error);
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
      decide, new_trid, error);
}

}  // namespace vornlink
