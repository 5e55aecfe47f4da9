// The cache operations of the worker on a cache of N lines: reading the
// last line, removing a line, moving a line to the end. Floors: reading
// the file once; reading it and writing a temporary copy with fdatasync and
// a rename; the same with the folder synced after the rename.
#include <string>

#include "bench_support.h"
#include "cache/cache_file.h"
#include "floors.h"

namespace vornlink {
namespace bench {
namespace {

constexpr int kCacheOps = 200;

// A cache of `lines` parked lines beside a module in a fresh folder.
struct CacheSetup {
  explicit CacheSetup(int lines) {
    testing::WriteBytes(folder.Sibling("$$$"), CacheLines(lines, "1"));
  }
  DriverFolder folder;
};

// The floor of a rewrite, measured on the cache file itself.
bool RewriteFloor(CacheSetup& setup) {
  return CopyAndReplace(setup.folder.Sibling("$$$"), setup.folder.File("floor.$$$"));
}

// The same with the folder synced after the rename, so that the removal
// itself is durable, as the driver's must be.
bool DurableRewriteFloor(CacheSetup& setup) {
  return CopyAndReplaceDurably(setup.folder.Sibling("$$$"), setup.folder.File("floor.$$$"));
}

bool ReadFloor(CacheSetup& setup) {
  size_t bytes = 0;
  return ReadWholeFile(setup.folder.Sibling("$$$"), &bytes) && bytes > 0;
}

// Runs `op` beside `floor`, each first in turn.
template <typename Op, typename Floor>
void Alternate(benchmark::State& state, Series* series, int n, bool* ok, Op op, Floor floor) {
  if (n % 2 == 0) {
    TimeOp(state, series, [&] { *ok = op() && *ok; });
    series->Add("floor", TimeUs([&] { *ok = floor() && *ok; }));
  } else {
    series->Add("floor", TimeUs([&] { *ok = floor() && *ok; }));
    TimeOp(state, series, [&] { *ok = op() && *ok; });
  }
}

// Runs a rewrite `op` beside both rewrite floors, each first in turn.
template <typename Op>
void RewriteBesideFloors(benchmark::State& state, Series* series, int n, bool* ok,
                         CacheSetup& setup, Op op) {
  for (int step = 0; step < 3; ++step) {
    switch ((n + step) % 3) {
      case 0:
        TimeOp(state, series, [&] { *ok = op() && *ok; });
        break;
      case 1:
        series->Add("floor", TimeUs([&] { *ok = RewriteFloor(setup) && *ok; }));
        break;
      default:
        series->Add("durable", TimeUs([&] { *ok = DurableRewriteFloor(setup) && *ok; }));
        break;
    }
  }
}

void BM_CacheReadLast(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  CacheSetup setup(lines);
  Series series;
  CacheRecord record;
  bool ok = true;
  int n = 0;
  for (auto _ : state) {
    Alternate(
        state, &series, ++n, &ok, [&] { return ReadCacheLine(lines - 1, &record) == 1; },
        [&] { return ReadFloor(setup); });
  }
  if (!ok) state.SkipWithError("a read failed");
  series.Report(state, {"floor"});
}

void BM_CacheRemove(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  CacheSetup setup(lines);
  Series series;
  CacheRecord record;
  bool ok = true;
  int n = 0;
  for (auto _ : state) {
    // The middle line goes; a new one keeps the size (neither timed).
    ok = ReadCacheLine(lines / 2, &record) == 1 && ok;
    RewriteBesideFloors(state, &series, ++n, &ok, setup,
                        [&] { return RemoveLine(record.trid()) == CacheChange::kDone; });
    ok = AddTransaction(record.transaction(), "1", "0", "") == 1 && ok;
  }
  if (!ok) state.SkipWithError("a cache operation failed");
  series.Report(state, {"floor", "durable"});
}

void BM_CacheMoveToEnd(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  CacheSetup setup(lines);
  Series series;
  CacheRecord record;
  bool ok = true;
  int n = 0;
  for (auto _ : state) {
    ok = ReadCacheLine(lines / 2, &record) == 1 && ok;
    record.fields[CacheRecord::kStatus] = "2";
    RewriteBesideFloors(state, &series, ++n, &ok, setup,
                        [&] { return MoveToEnd(record) == CacheChange::kDone; });
  }
  if (!ok) state.SkipWithError("a cache operation failed");
  series.Report(state, {"floor", "durable"});
}

// The cache sizes each operation runs at, timed by hand.
void AtCacheSizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(100)->Arg(1000)->Arg(10000)->Iterations(kCacheOps)->UseManualTime()->Unit(
      benchmark::kMicrosecond);
}

BENCHMARK(BM_CacheReadLast)->Apply(AtCacheSizes);
BENCHMARK(BM_CacheRemove)->Apply(AtCacheSizes);
BENCHMARK(BM_CacheMoveToEnd)->Apply(AtCacheSizes);

}  // namespace
}  // namespace bench
}  // namespace vornlink
