// The cache shared with other processes: processes adding at once, and a
// process killed at random moments while it rewrites the file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cache/cache_file.h"
#include "cache_test_support.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using testing::DiskLines;
using testing::HelperProcess;
using testing::SampleTransaction;

TEST(CacheFileProcessesTest, TwoProcessesAndThisOneAddingAtOnceLoseAndTearNothing) {
  testing::ScopedFakeEnv env;
  const std::string module = env.env().ModulePath();
  constexpr int kCount = 200;

  HelperProcess first;
  HelperProcess second;
  ASSERT_TRUE(first.Start({"add", module, "p1-", std::to_string(kCount)})) << testing::HelperPath();
  ASSERT_TRUE(second.Start({"add", module, "p2-", std::to_string(kCount)}));
  int failures = 0;
  for (int i = 0; i < kCount; ++i) {
    failures +=
        AddTransaction(SampleTransaction("p0-" + std::to_string(i)), "0", "0", "") == 1 ? 0 : 1;
  }
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
  EXPECT_EQ(failures, 0);

  std::vector<std::string> lines = DiskLines(CacheFilePath());
  EXPECT_EQ(lines.size(), 3u * kCount);
  std::set<std::string> trans_nos;
  std::set<std::string> trids;
  for (const std::string& line : lines) {
    CacheRecord record;
    ParseCacheLine(line, &record);
    ASSERT_EQ(testing::FieldCount(line), 16u) << line;
    EXPECT_EQ(record.transaction(), SampleTransaction(record.trans_no())) << line;
    EXPECT_TRUE(testing::IsWellFormedTrid(record.trid())) << line;
    trans_nos.insert(record.trans_no());
    trids.insert(record.trid());
  }
  for (int p = 0; p < 3; ++p) {
    for (int i = 0; i < kCount; ++i) {
      EXPECT_EQ(trans_nos.count("p" + std::to_string(p) + "-" + std::to_string(i)), 1u);
    }
  }
  EXPECT_EQ(trids.size(), lines.size());
}

#ifndef _WIN32

constexpr int kKeeps = 30;
constexpr int kDrops = 20;

// What the cache must hold after a kill: each "keep-" transaction exactly
// once; each "drop-" one at most once, and never again once it was gone;
// nothing else; every line whole, with a Trid of its own.
void CheckCache(const std::string& path, std::map<std::string, bool>* drop_present) {
  const std::string contents = testing::ReadBytes(path);
  ASSERT_TRUE(contents.empty() || contents.back() == '\n') << "torn end";
  std::map<std::string, int> keeps;
  std::map<std::string, int> drops;
  std::set<std::string> trids;
  for (const std::string& line : DiskLines(path)) {
    ASSERT_EQ(testing::FieldCount(line), 16u) << line;
    CacheRecord record;
    ParseCacheLine(line, &record);
    ASSERT_TRUE(testing::IsWellFormedTrid(record.trid())) << line;
    ASSERT_TRUE(trids.insert(record.trid()).second) << "Trid twice: " << line;
    ASSERT_EQ(record.transaction(), SampleTransaction(record.trans_no())) << line;
    if (record.trans_no().rfind("keep-", 0) == 0) {
      ++keeps[record.trans_no()];
    } else {
      auto known = drop_present->find(record.trans_no());
      ASSERT_TRUE(known != drop_present->end()) << "unknown line: " << line;
      ASSERT_TRUE(known->second) << "removed line is back: " << line;
      ++drops[record.trans_no()];
    }
  }
  for (int i = 0; i < kKeeps; ++i) {
    const std::string trans_no = "keep-" + std::to_string(i);
    ASSERT_EQ(keeps[trans_no], 1) << trans_no;
  }
  ASSERT_EQ(keeps.size(), static_cast<size_t>(kKeeps));
  for (auto& [trans_no, present] : *drop_present) {
    auto count = drops.find(trans_no);
    ASSERT_LE(count == drops.end() ? 0 : count->second, 1) << trans_no;
    present = count != drops.end();
  }
}

TEST(CacheFileProcessesTest, KilledWhileRewritingLosesAndDuplicatesNothing) {
  testing::ScopedFakeEnv env;
  const std::string module = env.env().ModulePath();
  const std::string path = CacheFilePath();
  std::map<std::string, bool> drop_present;
  int next_drop = 0;
  auto add_drops = [&] {
    int present = 0;
    for (const auto& entry : drop_present) present += entry.second ? 1 : 0;
    for (; present < kDrops; ++present, ++next_drop) {
      const std::string trans_no = "drop-" + std::to_string(next_drop);
      ASSERT_EQ(AddTransaction(SampleTransaction(trans_no), "0", "0", ""), 1);
      drop_present[trans_no] = true;
    }
  };
  for (int i = 0; i < kKeeps; ++i) {
    ASSERT_EQ(AddTransaction(SampleTransaction("keep-" + std::to_string(i)), "0", "0", ""), 1);
  }
  add_drops();

  constexpr int kRounds = 300;
  std::mt19937 random(20140307);
  int steps = 0;
  int rounds_with_steps = 0;
  for (int round = 0; round < kRounds; ++round) {
    HelperProcess child;
    ASSERT_TRUE(child.Start({"churn", module, std::to_string(round)}, /*capture_output=*/true));
    ASSERT_EQ(child.ReadOutput(1), "R");
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20001));
    child.Kill();
    int done = 0;
    for (std::string output = child.ReadOutput(4096); !output.empty();
         output = child.ReadOutput(4096)) {
      for (char c : output) done += c == '.' ? 1 : 0;
    }
    steps += done;
    rounds_with_steps += done > 0 ? 1 : 0;

    CheckCache(path, &drop_present);
    if (::testing::Test::HasFatalFailure()) {
      ADD_FAILURE() << "after round " << round;
      return;
    }
    add_drops();
  }

  int leftovers = 0;
  for (const auto& entry : std::filesystem::directory_iterator(env.dir().path())) {
    leftovers += entry.path().extension() == ".tmp" ? 1 : 0;
  }
  std::printf("%d kills, %d rounds with finished steps, %d steps, %d temporary files left\n",
              kRounds, rounds_with_steps, steps, leftovers);
}

#else

TEST(CacheFileProcessesTest, KilledWhileRewritingLosesAndDuplicatesNothing) {
  GTEST_SKIP() << "needs fork and SIGKILL";
}

#endif

}  // namespace
}  // namespace vornlink
