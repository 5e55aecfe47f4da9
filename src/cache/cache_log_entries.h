// The cache's log entries of a line's life: written by the cache's
// operations, read back by the operator's `vornlink trace`.
#ifndef VORNLINK_CACHE_CACHE_LOG_ENTRIES_H_
#define VORNLINK_CACHE_CACHE_LOG_ENTRIES_H_

#include <string>
#include <string_view>

namespace vornlink {

// "KMRCacheTransaction: Add transaction[T] to cache file with Trid[R] -> SUCCESS"
inline constexpr std::string_view kAddedEntryHead = "KMRCacheTransaction: Add transaction[";
inline constexpr std::string_view kAddedEntryTrid = "] to cache file with Trid[";
inline constexpr std::string_view kAddedEntryEnd = "] -> SUCCESS";
// "KMRCacheTransaction: Delete Trid[R] from cache file -> SUCCESS"
inline constexpr std::string_view kDeletedEntryHead = "KMRCacheTransaction: Delete Trid[";
inline constexpr std::string_view kDeletedEntryEnd = "] from cache file -> SUCCESS";

inline std::string AddedEntry(std::string_view trans_no, std::string_view trid) {
  return std::string(kAddedEntryHead) + std::string(trans_no) + std::string(kAddedEntryTrid) +
         std::string(trid) + std::string(kAddedEntryEnd);
}

inline std::string DeletedEntry(std::string_view trid) {
  return std::string(kDeletedEntryHead) + std::string(trid) + std::string(kDeletedEntryEnd);
}

}  // namespace vornlink

#endif  // VORNLINK_CACHE_CACHE_LOG_ENTRIES_H_
