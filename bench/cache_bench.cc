// Cost of the cache operations against what the disk costs anyway.
//
// Each write benchmark measures a floor right before its own loop, in the
// same run and folder: plain POSIX calls doing the least a durable append
// (open O_APPEND, write 200 bytes, fdatasync, close) or a durable atomic
// replacement of a file of the same size (temp file, write, fsync, rename,
// fsync of the folder) must do. The counter "x_floor" is the operation's
// time divided by that floor; "floor_us" shows the floor itself.
//
// Run: build/<dir>/bin/cache_bench [--benchmark_filter=...]
// The cache lies in the system's temporary folder; its disk is measured.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "cache/cache_file.h"
#include "platform/env.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFloorRounds = 100;

// About 200 bytes on disk, as the host's lines tend to be.
TransactionFields BenchTransaction(int n) {
  return {std::to_string(100000 + n),
          "WO123456-02",
          "140307",
          "090502",
          "17",
          "Workshop bay 4, left lift",
          "5",
          "K9",
          "Automatic transmission fluid, synthetic, low viscosity",
          "P-100-2000-ATF-SYN",
          "1.5",
          "2.25"};
}

// A module in a fresh folder, and its cache holding `lines` lines.
class BenchCache {
 public:
  explicit BenchCache(int lines) {
    env_.set_module_path(dir_.File("Vornlink.so"));
    SetEnvForTesting(&env_);
    std::string text;
    for (int i = 0; i < lines; ++i) text += LineFor(i);
    Reset(text);
  }
  ~BenchCache() { SetEnvForTesting(nullptr); }

  // A distinct line; its Trid is of 2014-03-07 09:00, one second per
  // thousand lines.
  static std::string LineFor(int n) {
    const TransactionFields fields = BenchTransaction(n);
    std::string line;
    for (const std::string& field : fields) line += field + ",";
    char trid[32];
    std::snprintf(trid, sizeof trid, "201403070900%02d0%03d", n / 1000 % 100, n % 1000);
    return line + "0," + trid + ",0,\n";
  }

  void Reset(const std::string& text) {
    text_ = text;
    testing::WriteBytes(CacheFilePath(), text);
  }
  void Restore() { testing::WriteBytes(CacheFilePath(), text_); }
  const std::string& folder() const { return dir_.path(); }
  const std::string& text() const { return text_; }

 private:
  testing::TempDir dir_;
  testing::FakeEnv env_;
  std::string text_;
};

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

void CheckOk(bool ok, benchmark::State& state, const char* what) {
  if (!ok) state.SkipWithError(what);
}

// open O_APPEND, write 200 bytes, fdatasync, close.
bool FloorAppend(const std::string& path) {
  static const std::string kLine(199, 'x');
  static const std::string kText = kLine + "\n";
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = write(fd, kText.data(), kText.size()) == static_cast<ssize_t>(kText.size()) &&
            fdatasync(fd) == 0;
  return close(fd) == 0 && ok;
}

// Temp file, write, fsync, rename over `path`, fsync of the folder.
bool FloorReplace(const std::string& folder, const std::string& path, const std::string& text) {
  const std::string temp = path + ".floor.tmp";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok =
      write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok && rename(temp.c_str(), path.c_str()) == 0;
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ok = dir >= 0 && fsync(dir) == 0 && ok;
  if (dir >= 0) close(dir);
  return ok;
}

double MeasureAppendFloor(const BenchCache& cache) {
  const std::string path = cache.folder() + "/floor.append";
  Clock::time_point start = Clock::now();
  for (int i = 0; i < kFloorRounds; ++i) FloorAppend(path);
  unlink(path.c_str());
  return Seconds(Clock::now() - start) / kFloorRounds;
}

double MeasureReplaceFloor(const BenchCache& cache) {
  const std::string path = cache.folder() + "/floor.replace";
  Clock::time_point start = Clock::now();
  for (int i = 0; i < kFloorRounds; ++i) FloorReplace(cache.folder(), path, cache.text());
  unlink(path.c_str());
  return Seconds(Clock::now() - start) / kFloorRounds;
}

void ReportAgainstFloor(benchmark::State& state, double total_seconds, double floor) {
  const double per_iteration =
      state.iterations() > 0 ? total_seconds / static_cast<double>(state.iterations()) : 0.0;
  state.counters["floor_us"] = floor * 1e6;
  state.counters["x_floor"] = floor > 0 ? per_iteration / floor : 0.0;
}

void BM_FloorAppend(benchmark::State& state) {
  BenchCache cache(0);
  const std::string path = cache.folder() + "/floor.append";
  for (auto _ : state) CheckOk(FloorAppend(path), state, "floor append failed");
}

void BM_FloorReplace(benchmark::State& state) {
  BenchCache cache(static_cast<int>(state.range(0)));
  const std::string path = cache.folder() + "/floor.replace";
  for (auto _ : state) {
    CheckOk(FloorReplace(cache.folder(), path, cache.text()), state, "floor replace failed");
  }
}

void BM_AddTransaction(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  BenchCache cache(lines);
  const double floor = MeasureAppendFloor(cache);
  const TransactionFields fields = BenchTransaction(lines);
  // The file grows by one line per add; it goes back to its size now and
  // then so that the size stays within 10 % of the one named.
  const int64_t restore_every = lines / 10 > 10 ? lines / 10 : 10;
  int64_t added = 0;
  double total = 0;
  for (auto _ : state) {
    Clock::time_point start = Clock::now();
    int result = AddTransaction(fields, "0", "0", "");
    double elapsed = Seconds(Clock::now() - start);
    state.SetIterationTime(elapsed);
    total += elapsed;
    CheckOk(result == 1, state, "AddTransaction failed");
    if (++added % restore_every == 0) cache.Restore();
  }
  ReportAgainstFloor(state, total, floor);
}

void BM_DeleteTrid(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  BenchCache cache(lines);
  const double floor = MeasureReplaceFloor(cache);
  // The middle line goes, then comes back at the end (not timed), so the
  // file keeps its size and the next removal searches a little further.
  const std::string line = BenchCache::LineFor(lines / 2);
  CacheRecord record;
  ParseCacheLine(line, &record);
  double total = 0;
  for (auto _ : state) {
    Clock::time_point start = Clock::now();
    int result = DeleteTrid(record.trid());
    double elapsed = Seconds(Clock::now() - start);
    state.SetIterationTime(elapsed);
    total += elapsed;
    CheckOk(result == 1, state, "DeleteTrid failed");
    GetEnv()->AppendTextFile(CacheFilePath(), line, /*durable=*/false, nullptr);
  }
  ReportAgainstFloor(state, total, floor);
}

void BM_RequeueReplacing(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  BenchCache cache(lines);
  const double floor = MeasureReplaceFloor(cache);
  // The first line moves to the end, as the worker moves a line it could
  // not deliver.
  double total = 0;
  CacheRecord record;
  for (auto _ : state) {
    if (GetCacheIndex(0, &record) != 1) {
      state.SkipWithError("GetCacheIndex failed");
      break;
    }
    record.fields[CacheRecord::kStatus] = "2";
    Clock::time_point start = Clock::now();
    int result = RequeueReplacing(record);
    double elapsed = Seconds(Clock::now() - start);
    state.SetIterationTime(elapsed);
    total += elapsed;
    CheckOk(result == 1, state, "RequeueReplacing failed");
  }
  ReportAgainstFloor(state, total, floor);
}

void BM_GetCacheIndex(benchmark::State& state) {
  BenchCache cache(10000);
  const int index = static_cast<int>(state.range(0));
  CacheRecord record;
  for (auto _ : state) CheckOk(GetCacheIndex(index, &record) == 1, state, "no such line");
}

BENCHMARK(BM_FloorAppend)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloorReplace)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AddTransaction)->Arg(100)->Arg(10000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeleteTrid)->Arg(100)->Arg(10000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RequeueReplacing)
    ->Arg(100)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetCacheIndex)->Arg(0)->Arg(9999)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vornlink

BENCHMARK_MAIN();
