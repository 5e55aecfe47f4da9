// What a host's own thread waits for: ForwardTransaction2 through the
// module's export, and one log entry.
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "cache/cache_file.h"
#include "driver/service.h"
#include "floors.h"
#include "log/log.h"
#include "log/log_test_hooks.h"
#include "settings/module_files.h"
#include "vornlink/base/driver_api.h"

namespace vornlink {
namespace bench {
namespace {

constexpr int kHostCalls = 200;

// The module copied into a fresh folder beside its settings and a cache of
// `lines` lines, loaded and started as a host does. The worker sleeps
// (RetryTime of a day), so only the host's calls touch the cache.
class HostedModule {
 public:
  explicit HostedModule(int lines) {
    std::filesystem::copy_file(VORNLINK_MODULE_FILE, File("Vornlink.so"));
    WriteSettledSettings(File("Vornlink.ini"), GatesIni(86400));
    WriteSettledSettings(File("Vornlink.xml"), LoopbackSettings("1", "", File("Vornlink.log")));
    testing::WriteBytes(File("Vornlink.$$$"), CacheLines(lines, "1"));
    std::string error;
    module_ = LoadDriver(File("Vornlink.so"), &api_, &error);
    if (module_ != nullptr) api_.execute_service();
  }
  ~HostedModule() {
    if (module_ != nullptr) api_.stop_service();
  }

  bool loaded() const { return module_ != nullptr; }
  std::string File(const std::string& name) const { return dir_.File(name); }

  void Forward(const TransactionFields& f) {
    api_.forward_transaction2(f[0].c_str(), f[1].c_str(), f[2].c_str(), f[3].c_str(), f[4].c_str(),
                              f[5].c_str(), f[6].c_str(), f[7].c_str(), f[8].c_str(), f[9].c_str(),
                              f[10].c_str(), f[11].c_str());
  }

 private:
  testing::TempDir dir_;
  DriverApi api_;
  std::unique_ptr<LoadedModule> module_;
};

// What a user might pick instead of a text file: an SQLite table in WAL
// mode that syncs every commit, one row per line.
class SqliteLines {
 public:
  SqliteLines(const std::string& path, int lines) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) return;
    ok_ = Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=FULL") &&
          Exec("CREATE TABLE lines(line TEXT NOT NULL)");
    ok_ = ok_ && sqlite3_prepare_v2(db_, "INSERT INTO lines(line) VALUES(?1)", -1, &insert_,
                                    nullptr) == SQLITE_OK;
    ok_ = ok_ && Exec("BEGIN");
    for (int i = 0; ok_ && i < lines; ++i) ok_ = Insert(CacheLineFor(i, "1"));
    ok_ = ok_ && Exec("COMMIT");
  }
  ~SqliteLines() {
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
  }

  bool ok() const { return ok_; }
  bool Insert(const std::string& line) {
    sqlite3_bind_text(insert_, 1, line.data(), static_cast<int>(line.size()), SQLITE_STATIC);
    bool done = sqlite3_step(insert_) == SQLITE_DONE;
    sqlite3_reset(insert_);
    return done;
  }

 private:
  bool Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  bool ok_ = false;
};

// The five INI reads of the gates (enabled, zero quantity, validation,
// fluid name, part number) and one durable append under the lock.
bool HostFloor(const std::string& ini, FloorLock* lock, const std::string& target,
               const std::string& line) {
  size_t bytes = 0;
  for (int i = 0; i < 5; ++i) {
    if (!ReadWholeFile(ini, &bytes)) return false;
  }
  return LockedDurableAppend(lock, target, line);
}

void BM_ForwardTransaction2(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  HostedModule host(lines);
  SqliteLines sqlite(host.File("alternative.sqlite"), lines);
  if (!host.loaded() || !sqlite.ok()) {
    state.SkipWithError("module or SQLite could not be set up");
    return;
  }
  FloorLock lock(host.File("floor.lock"));
  const std::string floor_file = host.File("floor.$$$");
  const std::string ini = host.File("Vornlink.ini");
  Series series;
  int n = lines;
  bool ok = true;
  for (auto _ : state) {
    const TransactionFields fields = SampleTransaction(n);
    const std::string line = CacheLineFor(n, "0") + "\n";
    ++n;
    // Each goes first in turn, so that none always meets a warmer cache.
    for (int step = 0; step < 3; ++step) {
      switch ((n + step) % 3) {
        case 0:
          TimeOp(state, &series, [&] { host.Forward(fields); });
          break;
        case 1:
          series.Add("floor", TimeUs([&] { ok = HostFloor(ini, &lock, floor_file, line) && ok; }));
          break;
        case 2:
          series.Add("sqlite", TimeUs([&] { ok = sqlite.Insert(line) && ok; }));
          break;
      }
    }
  }
  if (!ok) state.SkipWithError("a floor failed");
  series.Report(state, {"floor", "sqlite"});
}

// The parts of the host's call, in process, each beside its part of the
// floor: the five INI values of the gates and the fluid, read as the
// driver reads them (two looks at the file), beside five reads of it...
void BM_HostCallGateReads(benchmark::State& state) {
  DriverFolder folder;
  const std::string ini = folder.Sibling("ini");
  WriteSettledSettings(ini, GatesIni(86400));
  TransactionFields fields = testing::SampleTransaction("1");
  fields[kFluidKey] = "K9";
  Series series;
  bool ok = true;
  size_t bytes = 0;
  for (auto _ : state) {
    TimeOp(state, &series, [&] {
      FluidNames fluid;
      benchmark::DoNotOptimize(ReadForwardGatesAndFluid(fields, &fluid));
      UseFluidNames(std::move(fluid), &fields);
    });
    series.Add("floor", TimeUs([&] {
                 for (int i = 0; i < 5; ++i) ok = ReadWholeFile(ini, &bytes) && ok;
               }));
  }
  if (!ok) state.SkipWithError("the floor failed");
  series.Report(state, {"floor"});
}

// ... and AddTransaction beside one durable append under a lock.
void BM_HostCallAddTransaction(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  DriverFolder folder;
  testing::WriteBytes(folder.Sibling("$$$"), CacheLines(lines, "1"));
  FloorLock lock(folder.File("floor.lock"));
  const std::string floor_file = folder.File("floor.$$$");
  Series series;
  bool ok = true;
  int n = lines;
  for (auto _ : state) {
    const TransactionFields fields = SampleTransaction(n);
    const std::string line = CacheLineFor(n++, "0") + "\n";
    TimeOp(state, &series, [&] { ok = AddTransaction(fields, "0", "0", "") == 1 && ok; });
    series.Add("floor", TimeUs([&] { ok = LockedDurableAppend(&lock, floor_file, line) && ok; }));
  }
  if (!ok) state.SkipWithError("an append failed");
  series.Report(state, {"floor"});
}

// AddTransaction while `vornlink deliver` looks at the same cache without a
// pause (it looks every 100 ms; a host's call meets a look the more often
// the longer the look holds the cache lock), beside one durable append
// under a lock. "look_us": a whole look (the cache read and its lines
// parsed); "op_max_us": the longest call but the first (which builds the
// index).
void BM_HostCallBesideDeliver(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  DriverFolder folder;
  testing::WriteBytes(folder.Sibling("$$$"), CacheLines(lines, "1"));
  FloorLock lock(folder.File("floor.lock"));
  const std::string floor_file = folder.File("floor.$$$");
  std::atomic<bool> stop{false};
  std::mutex looks_mutex;
  std::vector<double> looks;
  std::thread looker([&] {
    while (!stop) {
      std::vector<NumberedRecord> records;
      std::string error;
      const double us = TimeUs([&] { ReadCacheRecords(&records, &error); });
      std::lock_guard<std::mutex> hold(looks_mutex);
      looks.push_back(us);
    }
  });
  Series series;
  bool ok = true;
  int n = lines;
  double longest = 0;
  for (auto _ : state) {
    const TransactionFields fields = SampleTransaction(n);
    const std::string line = CacheLineFor(n++, "0") + "\n";
    const double us = TimeUs([&] { ok = AddTransaction(fields, "0", "0", "") == 1 && ok; });
    state.SetIterationTime(us / 1e6);
    series.Add("op", us);
    // The first add reads the whole file for the index.
    if (n > lines + 1) longest = std::max(longest, us);
    series.Add("floor", TimeUs([&] { ok = LockedDurableAppend(&lock, floor_file, line) && ok; }));
  }
  stop = true;
  looker.join();
  if (!ok) state.SkipWithError("an append failed");
  series.Report(state, {"floor"});
  state.counters["op_max_us"] = longest;
  state.counters["look_us"] = MedianOf(looks);
}

void BM_LogEntry(benchmark::State& state) {
  testing::TempDir dir;
  const std::string log_file = dir.File("Vornlink.log");
  const std::string floor_file = dir.File("floor.log");
  ResetLogForTesting();
  LogInit(log_file, 10000, "+c");
  // The entry a cached transaction writes when its detail is on.
  const char* format =
      "KMRCacheTransaction: Add transaction[%s] to cache file with Trid[%s] -> SUCCESS";
  const std::string floor_entry =
      "2014-03-07 09:05:02-c-KMRCacheTransaction: Add transaction[100001] to cache file with "
      "Trid[201403070905020789] -> SUCCESS\n";
  Series series;
  bool ok = true;
  int n = 0;
  for (auto _ : state) {
    if (++n % 2 == 0) {
      TimeOp(state, &series, [&] { LogPrint('c', format, "100001", "201403070905020789"); });
      series.Add("floor",
                 TimeUs([&] { ok = AppendAndCheckLastByte(floor_file, floor_entry) && ok; }));
    } else {
      series.Add("floor",
                 TimeUs([&] { ok = AppendAndCheckLastByte(floor_file, floor_entry) && ok; }));
      TimeOp(state, &series, [&] { LogPrint('c', format, "100001", "201403070905020789"); });
    }
  }
  ResetLogForTesting();
  if (!ok) state.SkipWithError("the floor failed");
  series.Report(state, {"floor"});
}

BENCHMARK(BM_ForwardTransaction2)
    ->Arg(0)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(kHostCalls)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HostCallGateReads)
    ->Iterations(kHostCalls)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HostCallAddTransaction)
    ->Arg(10000)
    ->Iterations(kHostCalls)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HostCallBesideDeliver)
    ->Arg(10000)
    ->Iterations(kHostCalls)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LogEntry)->Iterations(2000)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace bench
}  // namespace vornlink
