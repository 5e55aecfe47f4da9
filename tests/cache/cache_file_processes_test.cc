// The cache shared by threads and processes adding at once. (Kills in the
// middle of a rewrite: CrashTest; power cuts at every step: PowerLossTest.)
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cache/cache_file.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using testing::SampleTransaction;

TEST(CacheFileProcessesTest, ThreadsAndTwoProcessesAddingAtOnceLoseAndTearNothing) {
  // The real clocks, so that Trids come from many seconds and ticks.
  testing::ScopedFakeEnv env;
  constexpr int kCount = 200;
  // Adders 0 to 7 are threads, 8 and 9 processes.
  auto prefix = [](int adder) { return "a" + std::to_string(adder) + "-"; };
  std::vector<std::unique_ptr<testing::ChildProcess>> processes;
  for (int adder : {8, 9}) {
    processes.push_back(testing::StartBeside(
        "test_helper", {"add", env.env().ModulePath(), prefix(adder), std::to_string(kCount)}));
  }
  std::atomic<int> added{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCount; ++i)
        added += AddTransaction(SampleTransaction(prefix(t) + std::to_string(i)), "0", "0", "");
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (auto& process : processes) EXPECT_EQ(process->Wait(), 0);
  EXPECT_EQ(added, 8 * kCount);

  // Every line whole, with a Trid of its own (18 digits, the 15th "0"); each transaction once.
  std::map<std::string, int> expected, found;
  for (int adder = 0; adder < 10; ++adder) {
    for (int i = 0; i < kCount; ++i) expected[prefix(adder) + std::to_string(i)] = 1;
  }
  std::set<std::string> trids;
  for (const std::string& line : testing::DiskLines(CacheFilePath())) {
    CacheRecord record;
    ParseCacheLine(line, &record);
    const std::string& trid = record.trid();
    EXPECT_TRUE(std::count(line.begin(), line.end(), ',') == 15 &&
                record.transaction() == SampleTransaction(record.trans_no()) && trid.size() == 18 &&
                trid[14] == '0' && trid.find_first_not_of("0123456789") == std::string::npos &&
                trids.insert(trid).second)
        << line;
    ++found[record.trans_no()];
  }
  EXPECT_EQ(found, expected);
}

}  // namespace
}  // namespace vornlink
