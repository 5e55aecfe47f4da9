// Runs a blocking call that has no time-out of its own (a name lookup) on a
// thread of its own, and waits for its result only as long as a WaitLimit
// allows. A call given up on finishes alone in the background and then
// frees what it used; its result is dropped. The driver module stays loaded
// once it has started a thread (see driver/), so such a thread never runs in
// unmapped code.
//
// Thread-safe; `work` must not touch anything that the caller may destroy
// once this returns (capture by value).
#ifndef VORNLINK_PLATFORM_BACKGROUND_CALL_H_
#define VORNLINK_PLATFORM_BACKGROUND_CALL_H_

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/net.h"

namespace vornlink {

// kOk with `*result` set when `work` returned in time; kTimedOut or kStopped
// when the limit came first; kError (code 0) when no thread could be made.
template <typename Result, typename Work>
NetStatus RunWithinLimit(Work work, const WaitLimit& limit, Result* result) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done_changed;
    bool done = false;
    Result result{};
  };
  auto shared = std::make_shared<Shared>();
  try {
    std::thread([shared, work = std::move(work)]() mutable {
      Result value = work();
      std::lock_guard<std::mutex> lock(shared->mutex);
      shared->result = std::move(value);
      shared->done = true;
      shared->done_changed.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return NetStatus::kError;
  }

  std::unique_lock<std::mutex> lock(shared->mutex);
  for (;;) {
    if (shared->done) {
      *result = std::move(shared->result);
      return NetStatus::kOk;
    }
    if (limit.Stopped()) return NetStatus::kStopped;
    auto now = std::chrono::steady_clock::now();
    if (now >= limit.deadline) return NetStatus::kTimedOut;
    auto slice_end =
        limit.deadline - now > kStopPollInterval ? now + kStopPollInterval : limit.deadline;
    shared->done_changed.wait_until(lock, slice_end);
  }
}

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_BACKGROUND_CALL_H_
