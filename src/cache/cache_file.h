// The transaction cache: a text file beside the module (extension "$$$"),
// one transaction per line (see cache_record.h), the only queue between the
// host's call and delivery to the DMS.
//
// Every operation holds the cache mutex for its whole length (Windows: the
// named mutex "KMR CacheMutex"; elsewhere a lock on "<cache file>.lock"), so
// the host's threads, the cache worker and other processes that load the
// driver never meet inside the file. An operation that cannot have the
// mutex fails and logs why. An appended line is on disk
// before AddTransaction returns (on a full disk, in room that the cache's
// reserve gives up: cache_reserve.h), and every removal replaces the file in one
// atomic step, so a crash at any moment leaves each transaction in the file
// exactly once. Lines keep their order; new ones go to the end.
//
// Each operation opens and closes the file, but reads only what changed
// since the process's last operation on it (see cache_index.h): adding a
// line and reading one cost the same whatever the length of the cache,
// unless another process rewrote the file meanwhile. A removal or a move
// reads and writes the whole file, as replacing it takes.
//
// All functions are thread-safe. None throws.
#ifndef VORNLINK_CACHE_CACHE_FILE_H_
#define VORNLINK_CACHE_CACHE_FILE_H_

#include <functional>
#include <string>
#include <vector>

#include "cache/cache_record.h"
#include "cache/trid.h"
#include "platform/env.h"

namespace vornlink {

// The cache file's path: the module's with the extension "$$$" (Name.$$$
// beside Name.dll); a module file without an extension gets ".$$$" added,
// so that the module itself is never written to. Empty when the module's
// path is unknown: nothing is read or written then.
std::string CacheFilePath();

// The name of the cache mutex on Windows, shared by every process.
inline constexpr const char* kCacheMutexName = "KMR CacheMutex";

// The lock file of the cache at `cache_path` on systems without named
// mutexes: "<cache file>.lock" beside it.
std::string CacheLockFilePath(const std::string& cache_path);

// Gives back what the cache mutexes hold (lock files, system mutexes), for
// when the module is unloaded. Only when no cache operation runs or can
// start any more.
void ReleaseCacheMutexes();

// Holds the mutex of the cache file at `cache_path` from construction to
// destruction, if it could be had: an operation that finds `held()` false
// must fail, never go on without it.
class CacheLock {
 public:
  explicit CacheLock(const std::string& cache_path);
  ~CacheLock();
  CacheLock(const CacheLock&) = delete;
  CacheLock& operator=(const CacheLock&) = delete;

  bool held() const { return held_; }
  // Why the mutex could not be had (naming the lock file and the system's
  // reason).
  const std::string& error() const { return error_; }

 private:
  CrossProcessMutex* mutex_;
  bool held_ = false;
  std::string error_;
};

// Appends a transaction with a fresh Trid. A comma or line break inside
// fields 1 to 12 is replaced by a blank (and logged), a line break inside
// `message` too. Returns 1 when the line is on disk, 0 when the lock could
// not be had (logged as such, without a Trid) or the file could not be read
// or written (logged with the Trid made for the line).
int AddTransaction(const TransactionFields& transaction, const std::string& status,
                   const std::string& reserved, const std::string& message);

// AddTransaction of a new line (Status "0", reserved "0", no message) for a
// caller that reports a failure itself: nothing is logged when the line
// could not be written, and `failure` gets the reason as the log would word
// it. `trid` gets the written line's Trid, or the one made for a line that
// could not be written; none (empty) when the cache lock could not be had.
int AddTransactionQuietly(const TransactionFields& transaction, std::string* trid,
                          std::string* failure);

// The line that an add of the transaction `trans_no` that could not be
// written logs first (with the Trid made for it), for callers of
// AddTransactionQuietly; with an empty `trid`, the line of an add that
// could not have the cache lock (and made no Trid).
void LogAddTransactionFailed(const std::string& trans_no, const std::string& trid);

// Reads the line at `index` (0-based) into `record`. Returns 1 when there is
// such a line, else 0 and `record` is left as it was; a file that cannot be
// read is logged as the operation "GetCacheIndex", the name a site's
// monitor knows.
int ReadCacheLine(int index, CacheRecord* record);

// Reads the first line at or after `from` (0-based) whose Status is 0 or 2
// (read as a decimal integer; empty counts as 0) into `record` and its
// index into `*index`: what reading line after line with ReadCacheLine and
// passing over the others would come to, in one operation. Lines whose Trid
// (as TridNumber reads it) is in `passed_over` (may be null) are passed over
// too. Returns 1 when there is such a line, else 0 and `record` is left as
// it was.
int FindDueLine(int from, CacheRecord* record, int* index,
                const TridNumbers* passed_over = nullptr);

// The same for the first line marked delivered (kDeliveredStatus) with a
// well-formed Trid: a line whose removal is pending.
int FindDeliveredLine(int from, CacheRecord* record, int* index);

// What a change of a line found by its Trid came to.
enum class CacheChange {
  kDone,
  kNotFound,  // no line carries that Trid (any more): nothing was written
  kFailed,    // the lock, the file or its rewrite failed (logged)
};

// What EditCacheLine does with the line it found.
enum class LineEdit {
  kKeep,       // nothing: the file is not written
  kRemove,     // the line goes
  kMoveToEnd,  // the line goes and the edited record is appended with a
               // fresh Trid and an empty reserved field
};

// Under the cache mutex, finds the first line whose Trid equals `trid` (an
// empty Trid matches none), reads it into a record and hands it to
// `decide`, which may edit it and says what becomes of the line; the
// change is one replacement of the file, so no crash can lose or double
// the line. `decide` runs with the mutex held: it must be quick and must
// not touch the cache. `new_trid` (may be null) gets the fresh Trid of a
// kMoveToEnd. Returns kNotFound when no line carries `trid`, kFailed (with
// the reason in `error`, and logged unless `log_failure` is false: as the
// removal or move it was, or as a change when it failed before `decide`
// ran) when the mutex, the file or the rewrite failed, else kDone (also for
// kKeep).
CacheChange EditCacheLine(const std::string& trid,
                          const std::function<LineEdit(CacheRecord*)>& decide,
                          std::string* new_trid, std::string* error, bool log_failure = true);

// EditCacheLine for the line that ReadCacheRecords read as `expected` at
// `line` (1-based): for a line without a Trid, or one of several with the
// same Trid. The line is taken only while it still reads so; when lines
// before it went meanwhile, the first line that reads so (an equal line is
// the same transaction in the same state). kNotFound when none does any
// more: a line edited or moved meanwhile is never mistaken for another.
CacheChange EditCacheLineAt(size_t line, const CacheRecord& expected,
                            const std::function<LineEdit(CacheRecord*)>& decide,
                            std::string* new_trid, std::string* error);

// Removes the first line whose Trid equals `trid` (EditCacheLine with
// kRemove); logs when there is none.
CacheChange RemoveLine(const std::string& trid);

// Moves a record to the end in one step: drops the line whose Trid is
// `record.trid()` and appends the record (with its status and message) with
// a fresh Trid (into `new_trid`, may be null), in one replacement of the
// file, so that no crash can lose it between the two (EditCacheLine with
// kMoveToEnd); logs when the line is gone. There is no plain append of a
// record again: it would leave the old line in place until its removal, and
// a crash between the two would send the transaction twice.
CacheChange MoveToEnd(const CacheRecord& record, std::string* new_trid = nullptr);

// For a line that could not be removed or moved (a full disk): overwrites
// its Status, which must be one character, with `status` in place and
// flushes it, so that the file keeps its size and no free space is needed
// (see kDeliveredStatus). kNotFound when no line carries `trid`, kFailed
// with the reason in `error` (and logged) when the line's Status is longer
// or the file cannot be written.
CacheChange MarkLineInPlace(const std::string& trid, char status, std::string* error);

// Removes every line marked delivered (as FindDeliveredLine finds them) in
// one replacement of the file; `removed` gets those lines, also when the
// replacement failed. kNotFound when there is none; kFailed with the reason
// in `error` when the mutex, the file or the replacement failed: not logged,
// the caller says it (once, not at every try).
CacheChange RemoveDeliveredLines(std::vector<CacheRecord>* removed, std::string* error);

// ---- Operator access: what the host program's "cache" commands need ----

// One line of the cache file and its place.
struct NumberedRecord {
  size_t line = 0;  // 1-based line number
  CacheRecord record;
};

// Every line of the cache file in order, read under the cache mutex (a
// missing file is an empty cache) and parsed after it is released. False
// with the reason in `error` when the mutex or the file cannot be had.
bool ReadCacheRecords(std::vector<NumberedRecord>* records, std::string* error);

// ReadCacheRecords for a caller that looks again and again: `*text` holds
// the file's content as `*records` were parsed from it (empty both at
// first); when the file still holds that content, `*records` stay as they
// are and nothing is parsed. `*changed` tells which.
bool ReadChangedCacheRecords(std::string* text, std::vector<NumberedRecord>* records, bool* changed,
                             std::string* error);

}  // namespace vornlink

#endif  // VORNLINK_CACHE_CACHE_FILE_H_
