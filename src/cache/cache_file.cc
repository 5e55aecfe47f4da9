#include "cache/cache_file.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "base/module_singleton.h"
#include "base/write_gate.h"
#include "cache/trid.h"
#include "log/log.h"
#include "settings/module_files.h"
#include "settings/text_lines.h"

namespace vornlink {
namespace {

// A rewrite that meets the file held open by another program (a virus
// scanner, an editor) keeps trying this long.
constexpr ReplaceOptions kCacheReplaceOptions{1000};

// The mutexes of the cache files, one per file, made on first use. Never
// destroyed while the module may be used: ReleaseCacheMutexes empties it.
struct CacheMutexes {
  std::mutex mutex;
  std::map<std::string, std::unique_ptr<CrossProcessMutex>> by_path;  // guarded by mutex
};

ModuleSingleton<CacheMutexes> g_cache_mutexes;

CacheMutexes& Registry() { return g_cache_mutexes.Get(); }

// The mutex of the cache file at `path`. Windows shares one named mutex
// between all processes; elsewhere the lock file beside the cache file does
// that, so that every process that shares a cache shares its lock, and only
// those who may write the cache's folder can make it.
CrossProcessMutex& CacheMutex(const std::string& path) {
  CacheMutexes& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  std::unique_ptr<CrossProcessMutex>& mutex = registry.by_path[path];
  if (mutex == nullptr) mutex = GetEnv()->NewNamedMutex(kCacheMutexName, CacheLockFilePath(path));
  return *mutex;
}

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

// Rewrites the cache file; logs when it had to be overwritten in place.
// False with the reason in `error` when it failed.
bool Rewrite(const std::string& path, const std::string& text, std::string* error) {
  switch (GetEnv()->ReplaceTextFile(path, text, kCacheReplaceOptions, error)) {
    case ReplaceResult::kReplaced:
      return true;
    case ReplaceResult::kRewrittenInPlace:
      LogPrint('*',
               "KMRCacheTransaction: Cache file[%s] rewritten in place: no new file may be made "
               "in its folder",
               path.c_str());
      return true;
    case ReplaceResult::kFailed:
      break;
  }
  return false;
}

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

// Field text safe to write into a line: no comma (that would shift every
// later field) and no line break (that would split the line).
std::string Sanitised(const std::string& value, bool keep_commas, bool* changed) {
  std::string clean = value;
  for (char& c : clean) {
    if (IsLineBreak(c) || (!keep_commas && c == ',')) {
      c = ' ';
      *changed = true;
    }
  }
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

// Index in `lines` (the lines of `contents`) of the first line whose Trid
// equals `trid`, or lines.size(). An empty Trid matches nothing: it would
// pick a short line that somebody else must see.
size_t FindTrid(std::string_view contents, const std::vector<std::string_view>& lines,
                const std::string& trid) {
  if (trid.empty()) return lines.size();
  for (std::string_view line : LinesContaining(contents, trid)) {
    if (TridOfLine(line) != trid) continue;
    // Both views point into `contents`, in order.
    auto same = std::lower_bound(
        lines.begin(), lines.end(), line.data(),
        [](std::string_view candidate, const char* data) { return candidate.data() < data; });
    return static_cast<size_t>(same - lines.begin());
  }
  return lines.size();
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

std::string CacheFilePath() {
  std::string path = ModuleFileWithExtension("$$$");
  // A module file without an extension would otherwise be its own cache
  // file, and the first transaction would be appended to the module.
  if (!path.empty() && path == GetEnv()->ModulePath()) path.append(".$$$");
  return path;
}

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

int AddTransaction(const TransactionFields& transaction, const std::string& status,
                   const std::string& reserved, const std::string& message) {
  const std::string path = CacheFilePath();
  WritePermit permit;
  if (!permit.granted()) return 0;
  CacheLock lock(path);
  if (!lock.held()) {
    LogAddFailed(transaction[0], MakeTrid());
    LogReason(lock, path, std::string());
    return 0;
  }
  std::string contents;
  std::string error;
  if (!ReadCache(path, &contents, &error)) {
    LogAddFailed(transaction[0], MakeTrid());
    LogFileError(path, error);
    return 0;
  }
  const std::string trid = MakeUniqueTrid(contents);
  std::string text;
  // A line torn by a crash must not swallow the new one.
  if (!contents.empty() && contents.back() != '\n') text.push_back('\n');
  text.append(CleanLine(transaction, status, trid, reserved, message));
  text.push_back('\n');
  if (!GetEnv()->AppendTextFile(path, text, /*durable=*/true, &error)) {
    LogAddFailed(transaction[0], trid);
    LogFileError(path, error);
    return 0;
  }
  LogAdded(transaction[0], trid);
  return 1;
}

int GetCacheIndex(int index, CacheRecord* record) {
  const std::string path = CacheFilePath();
  CacheLock lock(path);
  std::string contents;
  std::string error;
  if (!lock.held() || !ReadCache(path, &contents, &error)) {
    LogPrint('*', "KMRCacheTransaction: GetCacheIndex -- Internal: t[Could not open file]");
    LogReason(lock, path, error);
    return 0;
  }
  if (index < 0) return 0;
  std::vector<std::string_view> lines = SplitLines(contents);
  if (static_cast<size_t>(index) >= lines.size()) return 0;
  ParseCacheLine(lines[static_cast<size_t>(index)], record);
  return 1;
}

CacheChange RemoveLine(const std::string& trid) {
  const std::string path = CacheFilePath();
  WritePermit permit;
  if (!permit.granted()) return CacheChange::kFailed;
  CacheLock lock(path);
  std::string contents;
  std::string error;
  if (!lock.held() || !ReadCache(path, &contents, &error)) {
    LogDeleteFailed(trid, "Could not open file");
    LogReason(lock, path, error);
    return CacheChange::kFailed;
  }
  std::vector<std::string_view> lines = SplitLines(contents);
  size_t found = FindTrid(contents, lines, trid);
  if (found == lines.size()) {
    LogNotFound(trid);
    return CacheChange::kNotFound;
  }
  if (!Rewrite(path, JoinLinesExcept(lines, found, 0), &error)) {
    LogDeleteFailed(trid, "Could not write file");
    LogFileError(path, error);
    return CacheChange::kFailed;
  }
  LogPrint('c', "KMRCacheTransaction: Delete Trid[%s] from cache file -> SUCCESS", trid.c_str());
  return CacheChange::kDone;
}

int DeleteTrid(const std::string& trid) {
  return RemoveLine(trid) == CacheChange::kFailed ? 0 : 1;
}

int Requeue(const CacheRecord& record) {
  return AddTransaction(record.transaction(), record.status(), std::string(), record.message());
}

CacheChange MoveToEnd(const CacheRecord& record) {
  const std::string path = CacheFilePath();
  const std::string& old_trid = record.trid();
  WritePermit permit;
  if (!permit.granted()) return CacheChange::kFailed;
  CacheLock lock(path);
  std::string contents;
  std::string error;
  if (!lock.held() || !ReadCache(path, &contents, &error)) {
    LogDeleteFailed(old_trid, "Could not open file");
    LogReason(lock, path, error);
    return CacheChange::kFailed;
  }
  std::vector<std::string_view> lines = SplitLines(contents);
  size_t found = FindTrid(contents, lines, old_trid);
  if (found == lines.size()) {
    LogNotFound(old_trid);
    return CacheChange::kNotFound;
  }
  // The new Trid must differ from every line's, the dropped one's included.
  const std::string trid = MakeUniqueTrid(contents);
  const std::string line =
      CleanLine(record.transaction(), record.status(), trid, std::string(), record.message());
  std::string text = JoinLinesExcept(lines, found, line.size() + 1);
  text.append(line);
  text.push_back('\n');
  if (!Rewrite(path, text, &error)) {
    LogDeleteFailed(old_trid, "Could not write file");
    LogFileError(path, error);
    return CacheChange::kFailed;
  }
  LogPrint('c', "KMRCacheTransaction: Delete Trid[%s] from cache file -> SUCCESS",
           old_trid.c_str());
  LogAdded(record.trans_no(), trid);
  return CacheChange::kDone;
}

int RequeueReplacing(const CacheRecord& record) {
  return MoveToEnd(record) == CacheChange::kDone ? 1 : 0;
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

CacheChange EditCacheLine(const std::string& trid,
                          const std::function<LineEdit(CacheRecord*)>& decide,
                          std::string* new_trid, std::string* error) {
  const std::string path = CacheFilePath();
  WritePermit permit;
  if (!permit.granted()) {
    *error = "the service has stopped";
    return CacheChange::kFailed;
  }
  CacheLock lock(path);
  std::string contents;
  if (!lock.held() || !ReadCache(path, &contents, error)) {
    if (!lock.held()) *error = lock.error();
    LogDeleteFailed(trid, "Could not open file");
    LogReason(lock, path, *error);
    return CacheChange::kFailed;
  }
  std::vector<std::string_view> lines = SplitLines(contents);
  size_t found = FindTrid(contents, lines, trid);
  if (found == lines.size()) return CacheChange::kNotFound;
  CacheRecord record;
  ParseCacheLine(lines[found], &record);
  const LineEdit edit = decide(&record);
  if (edit == LineEdit::kKeep) return CacheChange::kDone;
  std::string text;
  std::string fresh_trid;
  if (edit == LineEdit::kRemove) {
    text = JoinLinesExcept(lines, found, 0);
  } else {
    fresh_trid = MakeUniqueTrid(contents);
    const std::string line = CleanLine(record.transaction(), record.status(), fresh_trid,
                                       std::string(), record.message());
    text = JoinLinesExcept(lines, found, line.size() + 1);
    text.append(line);
    text.push_back('\n');
  }
  if (!Rewrite(path, text, error)) {
    LogDeleteFailed(trid, "Could not write file");
    LogFileError(path, *error);
    return CacheChange::kFailed;
  }
  LogPrint('c', "KMRCacheTransaction: Delete Trid[%s] from cache file -> SUCCESS", trid.c_str());
  if (edit == LineEdit::kMoveToEnd) {
    LogAdded(record.trans_no(), fresh_trid);
    if (new_trid != nullptr) *new_trid = fresh_trid;
  }
  return CacheChange::kDone;
}

}  // namespace vornlink
