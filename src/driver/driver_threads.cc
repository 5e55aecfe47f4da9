#include "driver/driver_threads.h"

#include <algorithm>
#include <system_error>

#include "platform/env.h"

namespace vornlink {

DriverThreads::DriverThreads() : current_(std::make_shared<Generation>()) {}

DriverThreads::~DriverThreads() {
  // The process-wide object is never destroyed; a test's is, with its
  // threads stopped first.
  StopGeneration(std::chrono::hours(1));
}

bool DriverThreads::Start(std::function<void(const StopSignal& stop)> body) {
  std::lock_guard<std::mutex> lock(mutex_);
  JoinEnded();
  threads_.emplace_back();
  Thread& entry = threads_.back();
  entry.generation = current_;
  entry.module_hold = GetEnv()->HoldModule();
  try {
    entry.thread = std::thread([this, &entry, body = std::move(body)] {
      Generation& generation = *entry.generation;
      g_thread_write_gate = &generation.gate;
      body(generation.stop);
      g_thread_write_gate = nullptr;
      std::lock_guard<std::mutex> lock(mutex_);
      entry.ended = true;
      ended_.notify_all();
    });
  } catch (const std::system_error&) {
    GetEnv()->ReleaseModule(entry.module_hold);
    threads_.pop_back();
    return false;
  }
  return true;
}

bool DriverThreads::StopGeneration(std::chrono::milliseconds limit) {
  std::shared_ptr<Generation> stopping;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping = current_;
    current_ = std::make_shared<Generation>();
  }
  stopping->stop.Set();
  bool all_ended;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    // A thread of the driver that stops the service itself (a host's
    // callback may) does not wait for its own end.
    const std::thread::id caller = std::this_thread::get_id();
    all_ended = ended_.wait_for(lock, limit, [&] {
      return std::none_of(threads_.begin(), threads_.end(), [&](const Thread& thread) {
        return thread.generation == stopping && !thread.ended && thread.thread.get_id() != caller;
      });
    });
    JoinEnded();
  }
  // Threads that are still on their way may finish what they do, but write
  // nothing more; they keep the module's code mapped for good.
  stopping->gate.Close();
  if (!all_ended) GetEnv()->KeepModuleLoaded();
  return all_ended;
}

int DriverThreads::running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(
      std::count_if(threads_.begin(), threads_.end(), [](const Thread& t) { return !t.ended; }));
}

void DriverThreads::JoinEnded() {
  for (auto it = threads_.begin(); it != threads_.end();) {
    if (!it->ended) {
      ++it;
      continue;
    }
    it->thread.join();
    GetEnv()->ReleaseModule(it->module_hold);
    it = threads_.erase(it);
  }
}

}  // namespace vornlink
