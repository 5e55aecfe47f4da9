// Power cuts at every step of the cache's file calls: the host adds
// transactions, the worker removes and moves lines; then the power goes
// after a random step, and whatever was not durable is dropped (see
// power_loss_env.h). On the disk that is left, read by a fresh process:
//  - every transaction whose add returned is there exactly once, unless a
//    removal of it had returned (then it is gone: it must not be sent
//    twice) or was under way (then once at most);
//  - a transaction whose add was under way is there once at most;
//  - the file reads back whole: every line but a torn last one has its 16
//    fields and a Trid no other line has, and the next add lands on a line
//    of its own.
//
// VORNLINK_POWER_CUTS sets the number of cuts (default 500; the long run
// takes thousands), VORNLINK_POWER_CUT_SEED the random seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cache/cache_file.h"
#include "cache/trid.h"
#include "power_loss_env.h"
#include "settings/text_lines.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

constexpr int kOperationsPerRun = 40;

// A scratch folder in memory where there is one: the syncs cost nothing
// there, and what they make durable is the model's business.
class ScratchFolder : public testing::TempDir {
 public:
  ScratchFolder() : TempDir(std::filesystem::exists("/dev/shm") ? "/dev/shm" : "") {}
};

// One operation of the run and the steps it took: [first, end).
struct Operation {
  enum Kind { kAdd, kRemove, kMove } kind;
  std::string trans_no;
  size_t first = 0;
  size_t end = 0;
};

// How many lines a transaction may have after a cut after `steps` steps.
struct Allowed {
  int least = 0;
  int most = 0;
};

std::map<std::string, Allowed> AllowedAfter(const std::vector<Operation>& operations,
                                            size_t steps) {
  std::map<std::string, Allowed> allowed;
  for (const Operation& op : operations) {
    const bool done = op.end <= steps;
    const bool under_way = op.first < steps && !done;
    Allowed& entry = allowed[op.trans_no];
    switch (op.kind) {
      case Operation::kAdd:
        entry = {done ? 1 : 0, done || under_way ? 1 : 0};
        break;
      case Operation::kRemove:
        if (done) entry = {0, 0};
        if (under_way) entry.least = 0;
        break;
      case Operation::kMove:
        break;  // one line before, during and after
    }
  }
  return allowed;
}

class PowerLossTest : public ::testing::Test {
 protected:
  // Adds, removes and moves lines in a fresh folder, recording each step.
  void RecordRun() {
    run_folder_ = std::make_unique<ScratchFolder>();
    env_ = std::make_unique<testing::PowerLossEnv>(run_folder_->path());
    env_->set_module_path(run_folder_->File("Vornlink.so"));
    SetEnvForTesting(env_.get());
    ReleaseCacheMutexes();
    operations_.clear();
    int lines = 0;
    for (int i = 0; i < kOperationsPerRun; ++i) {
      Operation op;
      op.first = env_->event_count();
      const int roll = std::uniform_int_distribution<int>(0, 9)(random_);
      if (lines == 0 || roll < 5) {
        op.kind = Operation::kAdd;
        op.trans_no = std::to_string(++trans_no_);
        ASSERT_EQ(AddTransaction(testing::SampleTransaction(op.trans_no), "0", "0", ""), 1);
        ++lines;
      } else {
        CacheRecord record;
        const int at = std::uniform_int_distribution<int>(0, lines - 1)(random_);
        ASSERT_EQ(GetCacheIndex(at, &record), 1);
        op.trans_no = record.trans_no();
        if (roll < 8) {
          op.kind = Operation::kRemove;
          ASSERT_EQ(RemoveLine(record.trid()), CacheChange::kDone);
          --lines;
        } else {
          op.kind = Operation::kMove;
          record.fields[CacheRecord::kStatus] = roll == 8 ? "2" : "1";
          ASSERT_EQ(MoveToEnd(record), CacheChange::kDone);
        }
      }
      op.end = env_->event_count();
      operations_.push_back(op);
    }
    SetEnvForTesting(nullptr);
  }

  // Cuts the power after `steps` steps and checks what a fresh process
  // finds. `add_after` also adds a transaction to what was left.
  void CutAndCheck(size_t steps, bool add_after) {
    std::string how;
    const std::map<std::string, std::string> files = env_->Survivors(steps, &random_, &how);
    SCOPED_TRACE(how);
    ScratchFolder folder;
    for (const auto& [name, content] : files) testing::WriteBytes(folder.File(name), content);
    testing::FakeEnv fresh;
    fresh.set_module_path(folder.File("Vornlink.so"));
    SetEnvForTesting(&fresh);
    ReleaseCacheMutexes();  // a process that knows nothing of the file yet

    const std::string cache = folder.File("Vornlink.$$$");
    const std::string text = testing::ReadBytes(cache);
    const std::vector<std::string_view> lines = SplitLines(text);
    std::map<std::string, int> found;
    std::set<std::string> trids;
    for (size_t i = 0; i < lines.size(); ++i) {
      const bool torn_last = i + 1 == lines.size() && text.back() != '\n';
      const bool whole = std::count(lines[i].begin(), lines[i].end(), ',') == 15;
      if (!whole) {
        EXPECT_TRUE(torn_last) << "line " << i << " is not whole: " << lines[i];
        continue;
      }
      CacheRecord record;
      ParseCacheLine(lines[i], &record);
      EXPECT_TRUE(trids.insert(record.trid()).second) << "Trid twice: " << record.trid();
      ++found[record.trans_no()];
      CacheRecord read;
      EXPECT_EQ(GetCacheIndex(static_cast<int>(i), &read), 1);
      EXPECT_EQ(read.fields, record.fields);
    }
    for (const auto& [trans_no, allowed] : AllowedAfter(operations_, steps)) {
      const int count = found.count(trans_no) != 0 ? found[trans_no] : 0;
      EXPECT_TRUE(count >= allowed.least && count <= allowed.most)
          << "transaction " << trans_no << " is there " << count << " times, allowed "
          << allowed.least << " to " << allowed.most;
      ++checked_;
    }
    if (add_after) {
      ASSERT_EQ(AddTransaction(testing::SampleTransaction("after"), "0", "0", ""), 1);
      const std::vector<std::string> now = testing::DiskLines(cache);
      ASSERT_FALSE(now.empty());
      EXPECT_EQ(now.back().substr(0, 6), "after,");
    }
    SetEnvForTesting(nullptr);
    ReleaseCacheMutexes();
  }

  std::mt19937 random_;
  std::unique_ptr<ScratchFolder> run_folder_;
  std::unique_ptr<testing::PowerLossEnv> env_;
  std::vector<Operation> operations_;
  int trans_no_ = 0;
  size_t checked_ = 0;
};

TEST_F(PowerLossTest, WhatReturnedSurvivesOnceAndTheFileReadsBackWhole) {
  const int cuts = testing::EnvNumber("VORNLINK_POWER_CUTS", 500);
  const unsigned seed = static_cast<unsigned>(
      testing::EnvNumber("VORNLINK_POWER_CUT_SEED", static_cast<int>(std::random_device{}() >> 1)));
  SCOPED_TRACE("VORNLINK_POWER_CUT_SEED=" + std::to_string(seed));
  random_.seed(seed);
  int done = 0;
  int runs = 0;
  while (done < cuts && !HasFailure()) {
    RecordRun();
    ++runs;
    // Every step of the run, in random order, as far as the count goes.
    std::vector<size_t> steps(env_->event_count() + 1);
    for (size_t i = 0; i < steps.size(); ++i) steps[i] = i;
    std::shuffle(steps.begin(), steps.end(), random_);
    for (size_t i = 0; i < steps.size() && done < cuts && !HasFailure(); ++i, ++done) {
      SCOPED_TRACE("run " + std::to_string(runs));
      CutAndCheck(steps[i], done % 10 == 0);
    }
    env_.reset();
    run_folder_.reset();
  }
  std::printf("power cuts %d in %d runs, transactions checked %zu, seed %u\n", done, runs, checked_,
              seed);
}

}  // namespace
}  // namespace vornlink
