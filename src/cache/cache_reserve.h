// Room kept in reserve for the cache file, for when its disk is full.
//
// A transaction that a full disk refuses would wait in the memory of the
// host's process (unwritten_queue.h), and a host killed meanwhile would
// lose it; the log, often on the same disk, cannot hold it either. So a
// file beside the cache, "<cache file>.reserve", holds kCacheReserveBytes
// of real blocks while the disk has room. When an add finds the disk full,
// the reserve is cut by a step and synced, and the add tries once more: the
// line is on disk before the host's call returns. Only once the reserve is
// used up do transactions wait in memory. The cache worker makes the
// reserve and makes it whole again once the disk has room for it and some
// more; until then `vornlink status` warns.
//
// The reserve holds nothing but room: nothing reads its content, and no
// crash at any step touches what the cache file's own rules promise. A
// reserve left short or missing by a crash is made whole by the next
// worker. It is changed only under the cache mutex, so the processes that
// share a cache share its reserve. Thread-safe; none throws.
#ifndef VORNLINK_CACHE_CACHE_RESERVE_H_
#define VORNLINK_CACHE_CACHE_RESERVE_H_

#include <cstdint>
#include <string>

namespace vornlink {

// Enough for thousands of ordinary lines (about 110 bytes each) with their
// log entries on the same disk, given up in steps that fit the largest
// blocks of common file systems; made in a few milliseconds.
inline constexpr uint64_t kCacheReserveBytes = uint64_t{1} << 20;
inline constexpr uint64_t kCacheReserveStepBytes = uint64_t{64} << 10;

// The reserve of the cache file at `cache_path`: "<cache file>.reserve"
// beside it (empty for an empty path).
std::string CacheReserveFilePath(const std::string& cache_path);

// Makes the reserve of the cache file whole where it is missing or short
// and the disk has room for what it lacks and a quarter of its size more,
// so that the disk is not full again at once. Where there is no room, a
// missing reserve is made empty, so that it shows as used up. Logs what it
// made, and a failure once until it succeeds again. Making it whole syncs
// up to kCacheReserveBytes: for the cache worker, not for a host's call.
void KeepCacheReserve();

}  // namespace vornlink

#endif  // VORNLINK_CACHE_CACHE_RESERVE_H_
