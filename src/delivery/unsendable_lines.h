// The lines that a worker must not send again, for the life of the module.
#ifndef VORNLINK_DELIVERY_UNSENDABLE_LINES_H_
#define VORNLINK_DELIVERY_UNSENDABLE_LINES_H_

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "cache/cache_record.h"

namespace vornlink {

// What a line waits for whose change failed.
enum class Pending { kRemove, kPark, kSetAside };

// The lines of this process whose change after their exchange failed, by
// cache file and Trid, with the change they wait for: delivered ones the
// disk would not let be removed nor marked in place, and parked or set
// aside ones that wait for their move with their failure line (marked in
// place or not). None of them is sent again. Kept for the life of the
// module, not of one worker: a host that stops and starts the service
// starts a new worker, which must neither send them again nor forget their
// change. Thread-safe: a worker that outlived its stop may still be on its
// way out beside the new one.
class UnsendableLines {
 public:
  using Lines = std::map<std::string, std::pair<CacheRecord, Pending>>;  // by Trid

  void Keep(const std::string& cache_path, const CacheRecord& record, Pending what) {
    std::lock_guard<std::mutex> lock(mutex_);
    by_cache_[cache_path][record.trid()] = {record, what};
  }
  void Forget(const std::string& cache_path, const std::string& trid) {
    std::lock_guard<std::mutex> lock(mutex_);
    by_cache_[cache_path].erase(trid);
  }
  bool Holds(const std::string& cache_path, const std::string& trid) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto lines = by_cache_.find(cache_path);
    return lines != by_cache_.end() && lines->second.count(trid) != 0;
  }
  Lines Of(const std::string& cache_path) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto lines = by_cache_.find(cache_path);
    return lines == by_cache_.end() ? Lines() : lines->second;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, Lines> by_cache_;  // guarded by mutex_
};

}  // namespace vornlink

#endif  // VORNLINK_DELIVERY_UNSENDABLE_LINES_H_
