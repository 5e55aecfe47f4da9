// Runs a blocking call that has no time-out of its own (a name lookup) on a
// thread of its own, and waits for its result only as long as a WaitLimit
// allows. A call given up on finishes alone in the background and then
// frees what it used; its result is dropped. Since such a thread may still
// run when the host unloads the module, giving up keeps the module mapped
// for good; a call that returns in time is joined.
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

#include "platform/env.h"
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
  std::thread thread;
  try {
    thread = std::thread([shared, work = std::move(work)]() mutable {
      Result value = work();
      std::lock_guard<std::mutex> lock(shared->mutex);
      shared->result = std::move(value);
      shared->done = true;
      shared->done_changed.notify_all();
    });
  } catch (const std::system_error&) {
    return NetStatus::kError;
  }

  NetStatus status = NetStatus::kOk;
  {
    std::unique_lock<std::mutex> lock(shared->mutex);
    while (!shared->done) {
      if (limit.Stopped()) {
        status = NetStatus::kStopped;
        break;
      }
      auto now = std::chrono::steady_clock::now();
      if (now >= limit.deadline) {
        status = NetStatus::kTimedOut;
        break;
      }
      auto slice_end =
          limit.deadline - now > kStopPollInterval ? now + kStopPollInterval : limit.deadline;
      shared->done_changed.wait_until(lock, slice_end);
    }
    if (status == NetStatus::kOk) *result = std::move(shared->result);
  }
  if (status == NetStatus::kOk) {
    thread.join();
  } else {
    thread.detach();
    GetEnv()->KeepModuleLoaded();
  }
  return status;
}

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_BACKGROUND_CALL_H_
