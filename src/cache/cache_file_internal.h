// What the cache file's operations share among the files of this folder
// (cache_file.cc, cache_line_edits.cc); no other folder includes it. Every
// function here is for use under the file's CacheLock unless it says not.
#ifndef VORNLINK_CACHE_CACHE_FILE_INTERNAL_H_
#define VORNLINK_CACHE_CACHE_FILE_INTERNAL_H_

#include <functional>
#include <string>

#include "base/transaction_fields.h"
#include "cache/cache_file.h"
#include "cache/cache_index.h"

namespace vornlink {

// What is known of the lines of the cache file at `path`.
CacheIndex& IndexOf(const std::string& path);

// The log lines of the operations.
void LogAdded(const std::string& trans_no, const std::string& trid);
void LogDeleteFailed(const std::string& trid, const char* reason);

// How a failed change of one line is logged: quiet (the caller says it), as
// the removal or the move to the end it is, or, where the caller's edit is
// not known before the line is read, as a change.
enum class EditLog { kQuiet, kRemoval, kMove, kChange };

// EditCacheLine, its failure logged as `log` says (the edit made, where a
// kChange got as far).
CacheChange EditCacheLineLogged(const std::string& trid,
                                const std::function<LineEdit(CacheRecord*)>& decide,
                                std::string* new_trid, std::string* error, EditLog log);
void LogFileError(const std::string& path, const std::string& error);
// The second line of a failed operation: why the lock or the file failed.
void LogReason(const CacheLock& lock, const std::string& path, const std::string& error);

// Replaces the cache file by `text`; logs when it had to be overwritten in
// place. False with the reason in `error` when it failed. The caller tells
// the file's index what became of it.
bool ReplaceCache(const std::string& path, const std::string& text, std::string* error);

// The cache file's content; false with the reason in `error` when it cannot
// be read. A missing file is an empty cache.
bool ReadCacheText(const std::string& path, std::string* contents, std::string* error);

// A Trid that no line of the cache carries: by what `index` knows, or by
// `text` (the file read whole; may be null) where the index does not know
// its lines.
std::string NewTrid(const CacheIndex& index, const std::string* text);

// The line to write for a record, each field made safe (FieldAsWritten);
// logs what had to be replaced.
std::string CleanLine(const TransactionFields& transaction, const std::string& status,
                      const std::string& trid, const std::string& reserved,
                      const std::string& message);

// After an append of `needed` bytes to the cache file at `cache_path`
// failed: when its disk is full, gives up a step of the cache's reserve
// (cache_reserve.h), synced, and logs it, so that the append may be tried
// once more. False when the disk is not full or the reserve holds nothing.
bool GiveUpReserveFor(const std::string& cache_path, size_t needed);

}  // namespace vornlink

#endif  // VORNLINK_CACHE_CACHE_FILE_INTERNAL_H_
