// What the benchmarks share: an operation timed beside its floor in the
// same loop, a folder that holds a driver's files, and sample transactions.
//
// Every benchmark measures its floor (plain system calls doing the least
// the operation must do) in the same run, on the same files, interleaved
// with the operation itself: a disk or a neighbour that slows down then
// slows both alike, and the ratio of the two medians stays meaningful on a
// busy machine. The counters of each benchmark are medians in microseconds
// ("op_us", "<floor>_us") and their ratios ("x_<floor>"); scripts/bench.sh
// turns them into the table of docs/performance.md.
#ifndef VORNLINK_BENCH_BENCH_SUPPORT_H_
#define VORNLINK_BENCH_BENCH_SUPPORT_H_

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "base/transaction_fields.h"
#include "testing/test_env.h"

namespace vornlink {
namespace bench {

using Clock = std::chrono::steady_clock;

// Microseconds that `work` takes once.
template <typename Work>
double TimeUs(Work&& work) {
  const Clock::time_point start = Clock::now();
  work();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double MedianOf(std::vector<double> values);

// Writes a settings file and waits until its stamp has settled (a few
// seconds: FileStamp::settled), as a site's settings files have: the
// driver then knows an unchanged file without reading it again.
void WriteSettledSettings(const std::string& path, const std::string& text);

// Named series of samples (microseconds) collected over the iterations of
// one benchmark.
class Series {
 public:
  void Add(const std::string& name, double us) { samples_[name].push_back(us); }
  double Median(const std::string& name) const;
  // "<name>_us" for every series, and "x_<floor>" = median of "op" / median
  // of each floor named.
  void Report(benchmark::State& state, const std::vector<std::string>& floors) const;

 private:
  std::map<std::string, std::vector<double>> samples_;
};

// Times `op` as the benchmark's own time and adds it to `series` as "op".
template <typename Work>
void TimeOp(benchmark::State& state, Series* series, Work&& op) {
  const double us = TimeUs(op);
  state.SetIterationTime(us / 1e6);
  series->Add("op", us);
}

// The transaction of a host's call, about 200 bytes as a cache line.
TransactionFields SampleTransaction(int n);
// A cache line of that transaction with `status` and a Trid of 2014-03-07
// that differs for every `n` below 3,600,000.
std::string CacheLineFor(int n, const std::string& status);
// `count` such lines, each ended by a line feed.
std::string CacheLines(int count, const std::string& status);

// The real platform with the module where a benchmark puts it; counts the
// file calls, so that a benchmark can show what an operation asks of the
// disk.
class CountingEnv : public testing::FakeEnv {
 public:
  ReadResult ReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                          std::string* error) override {
    ++reads;
    return FakeEnv::ReadTextFile(path, contents, max_size, error);
  }
  std::string ReadProfileString(const std::string& section, const std::string& key,
                                const std::string& default_value,
                                const std::string& path) override {
    ++reads;
    return FakeEnv::ReadProfileString(section, key, default_value, path);
  }
  std::vector<std::string> ReadProfileStrings(const std::vector<ProfileQuery>& queries,
                                              const std::string& path) override {
    reads += static_cast<int>(queries.size());
    return FakeEnv::ReadProfileStrings(queries, path);
  }
  bool AppendTextFile(const std::string& path, const std::string& text, bool durable,
                      std::string* error) override {
    ++appends;
    return FakeEnv::AppendTextFile(path, text, durable, error);
  }

  std::atomic<int> reads{0};
  std::atomic<int> appends{0};
};

// A fresh folder that holds a module's files as a site has them, with the
// in-process driver code pointed at it through a FakeEnv (installed for the
// life of the object).
class DriverFolder {
 public:
  DriverFolder();
  ~DriverFolder();

  CountingEnv& env() { return env_; }
  const std::string& path() const { return dir_.path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }
  // The module's file and its sibling with `extension` ("ini", "$$$").
  std::string ModuleFile() const { return dir_.File("Vornlink.so"); }
  std::string Sibling(const std::string& extension) const {
    return dir_.File("Vornlink." + extension);
  }

 private:
  testing::TempDir dir_;
  CountingEnv env_;
};

// An INI file with every gate in front of the cache on (forwarding enabled,
// zero quantities dropped, job numbers not checked with the DMS, fluid
// name and part number looked up) and the worker's RetryTime.
std::string GatesIni(int retry_seconds);

// Settings that point the exchanges at a DMS on loopback (TCP when `url` is
// empty, else HTTP to `url`), with a log file that has no detail flags on,
// as a site runs.
std::string LoopbackSettings(const std::string& tcp_port, const std::string& url,
                             const std::string& log_file);

}  // namespace bench
}  // namespace vornlink

#endif  // VORNLINK_BENCH_BENCH_SUPPORT_H_
