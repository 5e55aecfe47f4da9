#include "driver/driver_threads.h"

#include <algorithm>
#include <system_error>

#include "driver/guarded_call.h"
#include "platform/env.h"

namespace vornlink {

thread_local DriverThreads::HostCall* DriverThreads::innermost_call_ = nullptr;
thread_local const std::shared_ptr<DriverThreads::Generation>* DriverThreads::thread_generation_ =
    nullptr;

DriverThreads::DriverThreads() : current_(std::make_shared<Generation>()) {}

DriverThreads::~DriverThreads() {
  // The process-wide object is never destroyed; a test's is, with its
  // threads stopped first.
  StopGeneration(std::chrono::hours(1), std::chrono::hours(1));
}

bool DriverThreads::Start(const char* name, std::function<void(const StopSignal& stop)> body) {
  std::lock_guard<std::mutex> lock(mutex_);
  JoinEnded();
  threads_.emplace_back();
  Thread& entry = threads_.back();
  entry.generation = current_;
  entry.module_hold = GetEnv()->HoldModule();
  try {
    entry.thread = std::thread([this, name, &entry, body = std::move(body)] {
      Generation& generation = *entry.generation;
      thread_generation_ = &entry.generation;
      g_thread_write_gate = &generation.gate;
      RunGuarded(name, 0, [&] {
        body(generation.stop);
        return 0;
      });
      g_thread_write_gate = nullptr;
      thread_generation_ = nullptr;
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

DriverThreads::HostCall::HostCall(DriverThreads* threads, bool stoppable)
    : threads_(threads),
      stoppable_(stoppable),
      outer_(innermost_call_),
      thread_gate_(g_thread_write_gate) {
  g_thread_write_gate = nullptr;
  std::lock_guard<std::mutex> lock(threads_->mutex_);
  generation_ = thread_generation_ != nullptr ? *thread_generation_ : threads_->current_;
  ++threads_->host_calls_;
  if (stoppable_) {
    ++generation_->stoppable_calls;
  } else {
    ++threads_->unstoppable_calls_;
  }
  innermost_call_ = this;
}

DriverThreads::HostCall::~HostCall() {
  g_thread_write_gate = thread_gate_;
  std::lock_guard<std::mutex> lock(threads_->mutex_);
  innermost_call_ = outer_;
  --threads_->host_calls_;
  if (stoppable_) {
    --generation_->stoppable_calls;
  } else {
    --threads_->unstoppable_calls_;
  }
  threads_->ended_.notify_all();
}

const StopSignal& DriverThreads::HostCall::stop() const { return generation_->stop; }

DriverThreads::Left DriverThreads::StopGeneration(std::chrono::milliseconds limit,
                                                  std::chrono::milliseconds cut_before) {
  const auto now = std::chrono::steady_clock::now();
  const auto end = now + limit;
  const auto cut = cut_before < limit ? end - cut_before : now;
  std::shared_ptr<Generation> stopping;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping = current_;
    current_ = std::make_shared<Generation>();
  }
  stopping->stop.Set();
  Left left;
  bool cut_needed = false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const int calls_found = Running(stopping.get()).calls;
    auto all_ended = [&] {
      left = Running(stopping.get());
      return left.threads == 0 && left.calls == 0;
    };
    // An exchange whose query went out has until the cut to bring its reply;
    // the time after it lets the cut work end and say so.
    cut_needed = !ended_.wait_until(lock, cut, all_ended);
    if (cut_needed) {
      stopping->stop.Cut();
      ended_.wait_until(lock, end, all_ended);
    }
    JoinEnded();
    left.calls_ended = std::max(0, calls_found - left.calls);
  }
  // Work that is still on its way may finish what it does, but its threads
  // write nothing more (but for a write already under way at the limit);
  // it keeps the module's code mapped for good.
  left.cut = cut_needed;
  left.writing = !stopping->gate.Close(end);
  if (!left.none()) GetEnv()->KeepModuleLoaded();
  return left;
}

DriverThreads::Left DriverThreads::Running(const Generation* stopping) const {
  Left left;
  // A thread of the driver or a call of the host that stops the service
  // itself (a host's callback may) does not wait for its own end.
  const std::thread::id caller = std::this_thread::get_id();
  left.threads =
      static_cast<int>(std::count_if(threads_.begin(), threads_.end(), [&](const Thread& t) {
        return t.generation.get() == stopping && !t.ended && t.thread.get_id() != caller;
      }));
  left.calls = stopping->stoppable_calls;
  left.unstoppable = unstoppable_calls_;
  for (const HostCall* call = innermost_call_; call != nullptr; call = call->outer_) {
    if (!call->stoppable_) {
      --left.unstoppable;
    } else if (call->generation_.get() == stopping) {
      --left.calls;
    }
  }
  return left;
}

bool DriverThreads::Idle() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return host_calls_ == 0 &&
         std::none_of(threads_.begin(), threads_.end(), [](const Thread& t) { return !t.ended; });
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
