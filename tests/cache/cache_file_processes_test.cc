// The cache shared by threads and processes adding at once, and by a
// process killed at random moments while it rewrites the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cache/cache_file.h"
#include "testing/test_env.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vornlink {
namespace {

using testing::SampleTransaction;

// Fails the test unless every line of the cache file is whole (16 fields,
// SampleTransaction of its TransNo) with a Trid of its own (18 digits, the
// fifteenth "0"). Returns how often each TransNo occurs.
std::map<std::string, int> CheckCacheLines() {
  std::map<std::string, int> trans_nos;
  std::set<std::string> trids;
  for (const std::string& line : testing::DiskLines(CacheFilePath())) {
    CacheRecord record;
    ParseCacheLine(line, &record);
    const std::string& trid = record.trid();
    EXPECT_TRUE(std::count(line.begin(), line.end(), ',') == 15 &&
                record.transaction() == SampleTransaction(record.trans_no()) && trid.size() == 18 &&
                trid[14] == '0' && trid.find_first_not_of("0123456789") == std::string::npos)
        << line;
    EXPECT_TRUE(trids.insert(trid).second) << "Trid twice: " << line;
    ++trans_nos[record.trans_no()];
  }
  return trans_nos;
}

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
      for (int i = 0; i < kCount; ++i) {
        added += AddTransaction(SampleTransaction(prefix(t) + std::to_string(i)), "0", "0", "");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (auto& process : processes) EXPECT_EQ(process->Wait(), 0);
  EXPECT_EQ(added, 8 * kCount);

  std::map<std::string, int> expected;
  for (int adder = 0; adder < 10; ++adder) {
    for (int i = 0; i < kCount; ++i) expected[prefix(adder) + std::to_string(i)] = 1;
  }
  EXPECT_EQ(CheckCacheLines(), expected);
}

#ifndef _WIN32

// Writes a byte to `fd`, then loops until killed: removes a line whose
// TransNo starts with "drop-" (RemoveLine) or moves any other line to the
// end (MoveToEnd with Status "2" and Message "moved").
void Churn(unsigned seed, int fd) {
  std::mt19937 random(seed);
  for (bool started = write(fd, "R", 1) == 1; started;) {
    std::vector<CacheRecord> drops, keeps;
    CacheRecord record;
    for (int i = 0; GetCacheIndex(i, &record) == 1; ++i) {
      (record.trans_no().rfind("drop-", 0) == 0 ? drops : keeps).push_back(record);
    }
    if (!drops.empty() && random() % 2 == 0) {
      RemoveLine(drops[random() % drops.size()].trid());
    } else if (!keeps.empty()) {
      record = keeps[random() % keeps.size()];
      record.fields[CacheRecord::kStatus] = "2";
      record.fields[CacheRecord::kMessage] = "moved";
      MoveToEnd(record);
    }
  }
}

TEST(CacheFileProcessesTest, KilledWhileRewritingLosesAndDuplicatesNothing) {
  testing::ScopedFakeEnv env;
  std::set<std::string> keeps, drops;  // drops: those not seen removed yet
  auto add = [](std::set<std::string>* added, const std::string& trans_no) {
    EXPECT_EQ(AddTransaction(SampleTransaction(trans_no), "0", "0", ""), 1);
    added->insert(trans_no);
  };
  for (int i = 0; i < 30; ++i) add(&keeps, "keep-" + std::to_string(i));

  constexpr int kRounds = 300;
  std::mt19937 random(20140307);
  int next_drop = 0;
  for (int round = 0; round < kRounds && !::testing::Test::HasFailure(); ++round) {
    while (drops.size() < 20) add(&drops, "drop-" + std::to_string(next_drop++));
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    const pid_t child = fork();
    if (child == 0) {
      close(pipe_fds[0]);
      Churn(static_cast<unsigned>(round), pipe_fds[1]);
      _exit(0);
    }
    close(pipe_fds[1]);
    char byte;
    ASSERT_TRUE(child > 0 && read(pipe_fds[0], &byte, 1) == 1);  // it has started
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20001));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(pipe_fds[0]);

    // Every line whole with a Trid of its own; each keep line exactly once,
    // moved or not; each drop line at most once, and never again once gone;
    // nothing else.
    SCOPED_TRACE("after round " + std::to_string(round));
    const std::string contents = testing::ReadBytes(CacheFilePath());
    EXPECT_TRUE(contents.empty() || contents.back() == '\n') << "torn end";
    size_t kept = 0;
    std::set<std::string> still_there;
    for (const auto& [trans_no, count] : CheckCacheLines()) {
      EXPECT_EQ(count, 1) << trans_no;
      EXPECT_EQ(keeps.count(trans_no) + drops.count(trans_no), 1u) << "unknown: " << trans_no;
      kept += keeps.count(trans_no);
      if (drops.count(trans_no) == 1) still_there.insert(trans_no);
    }
    EXPECT_EQ(kept, keeps.size());
    drops.swap(still_there);
  }
}

#endif

}  // namespace
}  // namespace vornlink
