#include "vornlink/check/check_cache.h"

#include <filesystem>
#include <string>
#include <vector>

#include "base/numbers.h"
#include "base/text_lines.h"
#include "cache/cache_file.h"
#include "delivery/cache_worker.h"
#include "platform/env.h"
#include "vornlink/base/line_states.h"
#include "vornlink/check/site_files.h"

namespace vornlink {
namespace {

// The cache file: its lines by state, and whether this user may write it
// and make files beside it.
void CacheFile(CheckReport* report, const std::string& path) {
  std::string contents, reason;
  switch (GetEnv()->ReadTextFile(path, &contents, kNoSizeLimit, &reason)) {
    case ReadResult::kOk: {
      StateCounts counts;
      std::vector<std::string_view> lines = SplitLines(contents);
      for (std::string_view line : lines) {
        CacheRecord record;
        ParseCacheLine(line, &record);
        counts.Add(StateOf(record));
      }
      report->Value(
          "file", path + " (" + std::to_string(lines.size()) + " lines: " + counts.Summary() + ")");
      CheckWritable(report, "cache file", path, true);
      break;
    }
    case ReadResult::kMissing:
      report->Value("file", path + " (not there yet: the first transaction makes it)");
      CheckWritable(report, "cache file", path, true);
      break;
    case ReadResult::kError:
      report->Value("file", path);
      report->Problem("the cache file cannot be read (" + reason + ")");
      break;
  }
  std::string error;
  std::error_code ignored;
  if (std::filesystem::exists(path, ignored) && !MayMakeFilesBeside(path, &error)) {
    report->Warning("no new file may be made in the cache's folder (" + error +
                    "): removals rewrite the cache in place, which a crash can tear");
  }
}

// The cache's lock and the delivery lock: taken and given back.
void CacheLocks(CheckReport* report, const std::string& path) {
#ifdef _WIN32
  report->Value("cache mutex", std::string("the named mutex \"") + kCacheMutexName + "\"");
#else
  report->Value("cache lock", CacheLockFilePath(path));
#endif
  {
    CacheLock lock(path);
    if (lock.held()) {
      report->Value("", "taken and given back: this user may use it");
    } else {
      report->Problem("the cache lock cannot be taken: " + lock.error());
    }
  }
#ifdef _WIN32
  const std::string delivery = DeliveryLockName(path);
  report->Value("delivery lock", "the named mutex \"" + delivery + "\"");
#else
  const std::string delivery = DeliveryLockFilePath(path);
  report->Value("delivery lock", delivery);
#endif
  std::string lock_reason;
  switch (ProbeDeliveryLock(path, &lock_reason)) {
    case LockProbe::kFree:
      report->Value("", "free: no service delivers from this cache now");
      break;
    case LockProbe::kHeld:
      report->Value("", "held: a service (a host's) delivers from this cache now");
      break;
    case LockProbe::kNotJudged:
      report->Warning("the delivery lock " + lock_reason);
      break;
    case LockProbe::kUnavailable:
      report->Problem("the delivery lock cannot be taken (" + lock_reason +
                      "): no worker can deliver from this cache");
      break;
  }
}

// How the worker paces its passes and when it parks for an unreachable
// DMS ([CacheThread] in the INI file).
void CacheThreadSettings(CheckReport* report) {
  const RetrySetting retry = ReadRetrySetting();
  report->Value("RetryTime", Bracketed(retry.text) + " " + std::to_string(retry.seconds) +
                                 " seconds between passes ([CacheThread] in the INI file)");
  if (retry.held) {
    report->Warning("[CacheThread] RetryTime " + Bracketed(retry.text) + " is held at " +
                    std::to_string(retry.seconds) + " seconds");
  } else if (retry.seconds == 0) {
    report->Warning("[CacheThread] RetryTime " + Bracketed(retry.text) +
                    " reads as 0: no pause between passes while transactions are due");
  }
  const ParkUnreachableSetting park = ReadParkUnreachableSetting();
  report->Value("unreachable DMS",
                Bracketed(park.text) + " " +
                    (park.hours == 0 ? std::string("each line that meets it is parked at once")
                                     : "the lines wait for it, and are parked once one has "
                                       "waited " +
                                           std::to_string(park.hours) + " h") +
                    " ([CacheThread] ParkUnreachableAfterHours)");
  if (park.held) {
    report->Warning("[CacheThread] ParkUnreachableAfterHours " + Bracketed(park.text) +
                    " is held at " + std::to_string(park.hours) + " hours");
  }
}

}  // namespace

void CheckCache(CheckReport* report) {
  report->Heading("Cache");
  const std::string path = CacheFilePath();
  CacheFile(report, path);
  CacheLocks(report, path);
  CacheThreadSettings(report);
}

}  // namespace vornlink
