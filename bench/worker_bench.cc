// The cache worker against a DMS on loopback that answers at once: one
// delivery behind P parked lines, and the draining of a backlog.
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "base/stop_signal.h"
#include "bench_support.h"
#include "cache/cache_file.h"
#include "delivery/cache_worker.h"
#include "dms_fixture.h"
#include "floors.h"
#include "log/log.h"
#include "log/log_test_hooks.h"

namespace vornlink {
namespace bench {
namespace {

// Notes when the cache file is replaced, which is how the worker removes a
// delivered line.
class RemovalClock : public testing::FakeEnv {
 public:
  ReplaceResult ReplaceTextFile(const std::string& path, const std::string& text,
                                const ReplaceOptions& options, std::string* error) override {
    ReplaceResult result = FakeEnv::ReplaceTextFile(path, text, options, error);
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".$$$") == 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++replaces_;
      last_ = Clock::now();
      changed_.notify_all();
    }
    return result;
  }

  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    replaces_ = 0;
  }
  // Waits for `count` replacements; the moment of the last, or nullopt.
  bool WaitFor(int count, Clock::time_point* last) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool done =
        changed_.wait_for(lock, std::chrono::minutes(10), [&] { return replaces_ >= count; });
    *last = last_;
    return done;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int replaces_ = 0;
  Clock::time_point last_;
};

// A module folder for the worker: INI with RetryTime 0, settings of the
// DMS, a log as a site has it.
class WorkerFolder {
 public:
  explicit WorkerFolder(const std::string& port) {
    testing::WriteBytes(dir_.File("Vornlink.ini"), GatesIni(0));
    testing::WriteBytes(dir_.File("Vornlink.xml"), LoopbackSettings(port, "", Log()));
  }
  std::string Module() const { return dir_.File("Vornlink.so"); }
  std::string Cache() const { return dir_.File("Vornlink.$$$"); }
  std::string Log() const { return dir_.File("Vornlink.log"); }

 private:
  testing::TempDir dir_;
};

// Starts a worker over `cache_text` and times it from its start to the
// `removals`-th removal of a line; stops it then. Microseconds, or -1.
double TimeWorker(RemovalClock& env, const WorkerFolder& folder, const std::string& cache_text,
                  int removals) {
  testing::WriteBytes(folder.Cache(), cache_text);
  env.set_module_path(folder.Module());
  ResetLogForTesting();
  LogInit(folder.Log(), 10000, "");
  env.Reset();
  StopSignal stop;
  const Clock::time_point start = Clock::now();
  std::thread worker([&stop] { RunCacheWorker(stop); });
  Clock::time_point last;
  const bool done = env.WaitFor(removals, &last);
  stop.Set();
  worker.join();
  ResetLogForTesting();
  return done ? std::chrono::duration<double, std::micro>(last - start).count() : -1.0;
}

struct WorkerSetup {
  WorkerSetup()
      : dms([](const std::string&) { return testing::ForwardReply("success", "booked"); }),
        folder(dms.port_text()),
        alone(dms.port_text()) {
    SetEnvForTesting(&env);
  }
  ~WorkerSetup() { SetEnvForTesting(nullptr); }

  testing::ScriptedDms dms;
  RemovalClock env;
  WorkerFolder folder;  // the cache under test
  WorkerFolder alone;   // the same delivery with no line before it
};

// One due line behind `parked` lines with Status 1. Beside it, in the same
// loop: the same delivery with nothing parked ("alone"), and one read of
// the file with the parked lines ("read"). The 50 ms pause comes after the
// removal and is not in the figure.
void BM_WorkerDeliveryBehindParked(benchmark::State& state) {
  const int parked = static_cast<int>(state.range(0));
  WorkerSetup setup;
  const std::string due = CacheLineFor(parked, "0") + "\n";
  const std::string cache = CacheLines(parked, "1") + due;
  Series series;
  bool ok = true;
  int n = 0;
  for (auto _ : state) {
    double behind = 0;
    double alone = 0;
    // Each goes first in turn.
    if (++n % 2 == 0) {
      behind = TimeWorker(setup.env, setup.folder, cache, 1);
      alone = TimeWorker(setup.env, setup.alone, due, 1);
    } else {
      alone = TimeWorker(setup.env, setup.alone, due, 1);
      behind = TimeWorker(setup.env, setup.folder, cache, 1);
    }
    testing::WriteBytes(setup.folder.Cache(), cache);
    size_t bytes = 0;
    series.Add("read", TimeUs([&] { ok = ReadWholeFile(setup.folder.Cache(), &bytes) && ok; }));
    ok = ok && behind >= 0 && alone >= 0;
    state.SetIterationTime(behind / 1e6);
    series.Add("op", behind);
    series.Add("alone", alone);
  }
  if (!ok) state.SkipWithError("a delivery did not happen");
  series.Report(state, {"alone"});
  // The goal's floor: the delivery with nothing before it plus one read.
  state.counters["x_alone_read"] =
      series.Median("op") / (series.Median("alone") + series.Median("read"));
}

// A backlog of due lines, drained: deliveries per second against the most
// the 50 ms pause after each allows.
void BM_WorkerDrain(benchmark::State& state) {
  const int backlog = static_cast<int>(state.range(0));
  WorkerSetup setup;
  const std::string cache = CacheLines(backlog, "0");
  double total_us = 0;
  for (auto _ : state) {
    double us = TimeWorker(setup.env, setup.folder, cache, backlog);
    if (us < 0) {
      state.SkipWithError("the backlog was not drained");
      return;
    }
    state.SetIterationTime(us / 1e6);
    total_us += us;
  }
  const double per_second = backlog * static_cast<double>(state.iterations()) / (total_us / 1e6);
  const double bound = 1000.0 / kWorkerPauseMs;
  state.counters["per_second"] = per_second;
  state.counters["bound_per_second"] = bound;
  state.counters["share_of_bound"] = per_second / bound;
  // What each delivery costs besides its pause.
  state.counters["work_us"] =
      total_us / (backlog * static_cast<double>(state.iterations())) - kWorkerPauseMs * 1000.0;
}

BENCHMARK(BM_WorkerDeliveryBehindParked)
    ->Arg(0)
    ->Iterations(60)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WorkerDeliveryBehindParked)
    ->Arg(1000)
    ->Iterations(15)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WorkerDeliveryBehindParked)
    ->Arg(10000)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WorkerDrain)->Arg(1000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bench
}  // namespace vornlink
