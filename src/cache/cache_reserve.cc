#include "cache/cache_reserve.h"

#include <atomic>

#include "base/write_gate.h"
#include "cache/cache_file.h"
#include "cache/cache_file_internal.h"
#include "log/log.h"
#include "platform/env.h"

namespace vornlink {
namespace {

// What the disk keeps free beyond a reserve made whole again.
constexpr uint64_t kHeadroomBytes = kCacheReserveBytes / 4;

// Whether the last failure to make the reserve whole is logged: a full
// disk must not add a line at every pass of the worker.
std::atomic<bool> g_failure_logged{false};

std::string ReserveEntry(const std::string& reserve, const std::string& rest) {
  return "KMRCacheTransaction: Reserve[" + reserve + "] " + rest;
}

void LogFailureOnce(const std::string& reserve, const std::string& error) {
  if (!g_failure_logged.exchange(true)) {
    LogWriteLine('*', ReserveEntry(reserve, "t[" + error + "] -> FAILED -> not made whole"));
  }
}

// What the reserve holds: kOk with its size in `bytes`, kMissing, or
// kError (something else in its place) with the reason in `error`.
ReadResult HeldBytes(const std::string& reserve, uint64_t* bytes, std::string* error) {
  std::string none;
  FileStamp stamp;
  const ReadResult read = GetEnv()->ReadFileBytes(reserve, 0, 0, &none, &stamp, error);
  *bytes = read == ReadResult::kOk ? stamp.size : 0;
  return read;
}

}  // namespace

std::string CacheReserveFilePath(const std::string& cache_path) {
  return cache_path.empty() ? std::string() : cache_path + ".reserve";
}

bool GiveUpReserveFor(const std::string& cache_path, size_t needed) {
  Env* env = GetEnv();
  const std::string reserve = CacheReserveFilePath(cache_path);
  uint64_t free = 0;
  uint64_t held = 0;
  std::string error;
  // Any other failure (a read-only file, something else in its place) is
  // none of the reserve's business.
  if (!env->FreeDiskSpace(cache_path, &free, &error) || free >= needed + kCacheReserveStepBytes ||
      HeldBytes(reserve, &held, &error) != ReadResult::kOk || held == 0) {
    return false;
  }
  const uint64_t step =
      (needed + kCacheReserveStepBytes - 1) / kCacheReserveStepBytes * kCacheReserveStepBytes;
  const uint64_t left = held > step ? held - step : 0;
  const std::string head = "KMRCacheTransaction: Cache file[" + cache_path +
                           "] has no room -> Reserve[" + reserve + "] ";
  if (!env->SetAllocatedFileSize(reserve, left, &error)) {
    LogWriteLine('*', head + "t[" + error + "] -> FAILED");
    return false;
  }
  LogWriteLine('*', head + "gives up " + std::to_string(held - left) + " bytes -> " +
                        std::to_string(left) + " bytes left");
  return true;
}

void KeepCacheReserve() {
  const std::string cache = CacheFilePath();
  WritePermit permit;
  if (cache.empty() || !permit.granted()) return;
  CacheLock lock(cache);
  if (!lock.held()) return;  // every operation on the cache says why
  Env* env = GetEnv();
  const std::string reserve = CacheReserveFilePath(cache);
  uint64_t held = 0;
  uint64_t free = 0;
  std::string error;
  const ReadResult read = HeldBytes(reserve, &held, &error);
  if (read == ReadResult::kOk && held >= kCacheReserveBytes) return;
  if (read == ReadResult::kError || !env->FreeDiskSpace(cache, &free, &error)) {
    LogFailureOnce(reserve, error);
    return;
  }
  uint64_t size = kCacheReserveBytes;
  if (free < kCacheReserveBytes - held + kHeadroomBytes) {
    if (read == ReadResult::kOk) return;  // short until the disk has room
    size = 0;                             // made all the same, so that it shows as used up
  }
  if (!env->SetAllocatedFileSize(reserve, size, &error)) {
    LogFailureOnce(reserve, error);
    return;
  }
  g_failure_logged.store(false);
  if (size == 0) {
    LogWriteLine('*', ReserveEntry(reserve, "t[only " + std::to_string(free) +
                                                " bytes free on its disk] -> made empty"));
  } else {
    LogWriteLine(
        read == ReadResult::kMissing ? 'c' : '.',
        ReserveEntry(reserve, std::string(read == ReadResult::kMissing ? "made with "
                                                                       : "made whole again with ") +
                                  std::to_string(size) + " bytes -> SUCCESS"));
  }
}

}  // namespace vornlink
