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
#include "cache/cache_file_internal.h"
#include "cache/cache_index.h"
#include "cache/cache_log_entries.h"
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

CacheFileState& FileStateOf(const std::string& path) {
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

CrossProcessMutex& CacheMutex(const std::string& path) { return *FileStateOf(path).mutex; }

// The TransNo as the line holds it, so that a line break in it cannot split
// the log entry either.
std::string LoggedTransNo(const std::string& trans_no) {
  return FieldAsWritten(trans_no, /*keep_commas=*/false);
}

void LogNotFound(const std::string& trid) {
  LogPrint('c', "KMRCacheTransaction: Delete Trid[%s] from cache file -> NOT FOUND\n",
           trid.c_str());
}

}  // namespace

CacheIndex& IndexOf(const std::string& path) { return FileStateOf(path).index; }

void LogAddTransactionFailed(const std::string& trans_no, const std::string& trid) {
  if (trid.empty()) {
    LogPrint('*',
             "KMRCacheTransaction: Add transaction[%s] to cache file -> Could not take the cache "
             "lock -> FAILED",
             LoggedTransNo(trans_no).c_str());
    return;
  }
  LogPrint('*',
           "KMRCacheTransaction: Add transaction[%s] to cache file with Trid[%s] -> Could not "
           "open cache file -> FAILED",
           LoggedTransNo(trans_no).c_str(), trid.c_str());
}

void LogAdded(const std::string& trans_no, const std::string& trid) {
  // Built only for a log that keeps it: every host call comes here.
  if (IsFlagEnabled('c')) LogWriteLine('c', AddedEntry(LoggedTransNo(trans_no), trid));
}

void LogDeleteFailed(const std::string& trid, const char* reason) {
  LogPrint('*', "KMRCacheTransaction: Delete Trid[%s] from cache file -> Internal t[%s] -> FAILED",
           trid.c_str(), reason);
}

namespace {

void LogLockFailed(const std::string& error) {
  LogPrint('*', "KMRCacheTransaction: Could not take the cache lock t[%s]", error.c_str());
}

}  // namespace

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

// The cache file's content; false with the reason in `error` when it cannot
// be read. A missing file is an empty cache.
bool ReadCacheText(const std::string& path, std::string* contents, std::string* error) {
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

// A Trid that no line of the cache carries: by what `index` knows, or by
// `text` (the file read whole) where the index does not know its lines.
std::string NewTrid(const CacheIndex& index, const std::string* text) {
  return MakeUniqueTrid([&index, text](std::string_view second) {
    if (text != nullptr) return TakenTridsIn(*text, second);
    return index.TakenIn(TridSecondNumber(second));
  });
}

// The line to write for a record; logs what had to be replaced.
std::string CleanLine(const TransactionFields& transaction, const std::string& status,
                      const std::string& trid, const std::string& reserved,
                      const std::string& message) {
  WrittenChanges changes;
  std::string line = FormatCacheLine(transaction, status, trid, reserved, message, &changes);
  if (changes.fields.empty() && !changes.message) return line;
  const std::string trans_no = LoggedTransNo(transaction[0]);
  for (int field : changes.fields) {
    LogPrint('*',
             "KMRCacheTransaction: Add transaction[%s] field[%d] holds a comma or line break "
             "-> replaced by a blank",
             trans_no.c_str(), field);
  }
  if (changes.message) {
    LogPrint('*',
             "KMRCacheTransaction: Add transaction[%s] message holds a line break -> replaced "
             "by a blank",
             trans_no.c_str());
  }
  return line;
}

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
  LogAddTransactionFailed(trans_no, trid);
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
  std::string trid;  // the line's, once the file is known
  auto failed = [&](const std::string& reason) {
    if (added_trid != nullptr) *added_trid = trid;
    AddFailed(transaction[0], trid, reason, failure);
    return 0;
  };
  CacheLock lock(path);
  // Without the lock no Trid is made: none could be known to be free.
  if (!lock.held()) return failed("Could not take the cache lock t[" + lock.error() + "]");
  CacheIndex& index = IndexOf(path);
  std::string error;
  // Its end is read and the line appended through one open of the file.
  std::unique_ptr<AppendingFile> file = GetEnv()->OpenForAppend(path);
  // A full disk gets one more try, with room the reserve gives up.
  for (bool retried = false; index.Refresh(path, &error, file.get()); retried = true) {
    trid = NewTrid(index, nullptr);
    std::string text;
    // A line torn by a crash must not swallow the new one.
    if (!index.EndsWithLineFeed()) text.push_back('\n');
    text.append(CleanLine(transaction, status, trid, reserved, message));
    text.push_back('\n');
    if (file->AppendDurably(text, &error)) {
      // The next operation's Refresh takes the new line in.
      LogAdded(transaction[0], trid);
      if (added_trid != nullptr) *added_trid = trid;
      return 1;
    }
    index.Forget();
    if (retried || !GiveUpReserveFor(path, text.size())) break;
    file = GetEnv()->OpenForAppend(path);
  }
  if (trid.empty()) trid = MakeTrid();
  return failed(FileReason(path, error));
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

int ReadCacheLine(int index, CacheRecord* record) {
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
  const CacheChange change = EditCacheLineLogged(
      trid, [](CacheRecord*) { return LineEdit::kRemove; }, nullptr, &error, EditLog::kRemoval);
  if (change == CacheChange::kNotFound) LogNotFound(trid);
  return change;
}

CacheChange MoveToEnd(const CacheRecord& record, std::string* new_trid) {
  std::string error;
  const CacheChange change = EditCacheLineLogged(
      record.trid(),
      [&record](CacheRecord* found) {
        *found = record;
        return LineEdit::kMoveToEnd;
      },
      new_trid, &error, EditLog::kMove);
  if (change == CacheChange::kNotFound) LogNotFound(record.trid());
  return change;
}

// ---- Operator access ----

bool ReadChangedCacheRecords(std::string* text, std::vector<NumberedRecord>* records, bool* changed,
                             std::string* error) {
  *changed = false;
  const std::string path = CacheFilePath();
  if (path.empty()) {
    *error = "the module's path is unknown";
    return false;
  }
  std::string contents;
  {
    // Held for the read alone: the host's calls wait for it.
    CacheLock lock(path);
    if (!lock.held()) {
      *error = lock.error();
      return false;
    }
    if (!ReadCacheText(path, &contents, error)) {
      *error = path + ": " + *error;
      return false;
    }
  }
  if (contents == *text) return true;
  *changed = true;
  *text = std::move(contents);
  std::vector<std::string_view> lines = SplitLines(*text);
  records->clear();
  records->resize(lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    (*records)[i].line = i + 1;
    ParseCacheLine(lines[i], &(*records)[i].record);
  }
  return true;
}

bool ReadCacheRecords(std::vector<NumberedRecord>* records, std::string* error) {
  std::string text;
  bool changed = false;
  records->clear();
  return ReadChangedCacheRecords(&text, records, &changed, error);
}

}  // namespace vornlink
