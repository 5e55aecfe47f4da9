// Power cuts at every step of the cache's file calls, dropping what was not
// durable. A fresh process finds each transaction whose add returned once,
// unless its removal or its mark as delivered returned (gone, or no longer
// due) or was under way (at most once); an add under way at most once;
// every line but a torn last one whole with a Trid of its own; the next add
// on a line of its own. The run fills the disk for a while, so that adds
// take room from the reserve, and makes the reserve whole again; whatever
// a cut leaves of it, the next worker makes it whole. VORNLINK_POWER_CUTS: cuts
// (default 500; the long run thousands), VORNLINK_POWER_CUT_SEED: the seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/text_lines.h"
#include "cache/cache_file.h"
#include "cache/cache_reserve.h"
#include "platform/file_events.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

// Records every step the platform's file calls take in one folder and tells
// what a power cut after any of them could leave on the disk. What was
// synced stays; a file's content falls back to what its last sync made
// durable (an unsynced append may survive in part, as a torn tail), and the
// names made, renamed or removed since the folder's last sync survive only
// as far as a random prefix of those changes, in order, as a journal keeps
// them. That is all POSIX promises; a file system may keep more, never
// less.
class PowerLossEnv : public testing::FakeEnv, public FileEventSink {
 public:
  // `folder` is empty.
  explicit PowerLossEnv(std::string folder) : folder_(std::move(folder)) {
    SetFileEventSinkForTesting(this);
  }
  ~PowerLossEnv() override { SetFileEventSinkForTesting(nullptr); }

  size_t event_count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_.size();
  }

  void OnFileEvent(const FileEvent& event) override {
    const std::string prefix = folder_ + "/";
    if (event.path != folder_ && event.path.compare(0, prefix.size(), prefix) != 0) return;
    FileEvent local = event;  // names without the folder
    if (local.path != folder_) local.path.erase(0, prefix.size());
    if (!local.to.empty()) local.to.erase(0, prefix.size());
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(local));
  }

  // The files (by name) a power cut right after the first `events` steps
  // could leave; `how` gets what was dropped, for failure messages.
  std::map<std::string, std::string> Survivors(size_t events, std::mt19937* random,
                                               std::string* how) {
    struct Node {
      std::string current, durable;
    };
    // A change of the names since the folder's last sync: `to` takes `node`
    // (-1: `to` is removed); a rename's old name `from` goes with it.
    struct NameChange {
      std::string to, from;
      int node;
    };
    std::vector<Node> nodes;
    std::map<std::string, int> names, durable_names;
    std::vector<NameChange> unsynced;
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < events; ++i) {
      const FileEvent& step = events_[i];
      const auto named = names.find(step.path);
      Node* node = named == names.end() ? nullptr : &nodes[static_cast<size_t>(named->second)];
      using Kind = FileEvent::Kind;
      if (step.kind == Kind::kCreate) {
        names[step.path] = static_cast<int>(nodes.size());
        unsynced.push_back({step.path, "", static_cast<int>(nodes.size())});
        nodes.push_back({});
      } else if (step.kind == Kind::kSyncFolder) {
        durable_names = names;
        unsynced.clear();
      } else if (node == nullptr) {
        continue;
      } else if (step.kind == Kind::kWrite) {
        node->current.resize(std::max(node->current.size(), step.offset + step.data.size()));
        node->current.replace(step.offset, step.data.size(), step.data);
      } else if (step.kind == Kind::kTruncate) {
        node->current.resize(step.offset);
      } else if (step.kind == Kind::kSync) {
        node->durable = node->current;
      } else if (step.kind == Kind::kRename) {
        unsynced.push_back({step.to, step.path, named->second});
        names[step.to] = named->second;
        names.erase(step.path);
      } else if (step.kind == Kind::kRemove) {
        unsynced.push_back({step.path, "", -1});
        names.erase(named);
      }
    }
    // The names of the last sync, then a random part of the changes since.
    const size_t kept_changes = std::uniform_int_distribution<size_t>(0, unsynced.size())(*random);
    for (size_t i = 0; i < kept_changes; ++i) {
      const NameChange& change = unsynced[i];
      durable_names.erase(change.from);
      if (change.node < 0) {
        durable_names.erase(change.to);
      } else {
        durable_names[change.to] = change.node;
      }
    }
    *how = "after step " + std::to_string(events) + ": " + std::to_string(kept_changes) + " of " +
           std::to_string(unsynced.size()) + " unsynced name changes kept";
    std::map<std::string, std::string> files;
    for (const auto& [name, index] : durable_names) {
      const Node& node = nodes[static_cast<size_t>(index)];
      std::string content = node.durable;
      // An unsynced append may have reached the disk: none, all or a part.
      if (node.current.size() > node.durable.size() &&
          node.current.compare(0, node.durable.size(), node.durable) == 0) {
        const size_t tail = node.current.size() - node.durable.size();
        const int pick = std::uniform_int_distribution<int>(0, 2)(*random);
        const size_t kept = pick == 0   ? 0
                            : pick == 1 ? tail
                                        : std::uniform_int_distribution<size_t>(0, tail)(*random);
        content.append(node.current, node.durable.size(), kept);
        if (kept > 0) *how += "; " + std::to_string(kept) + " unsynced bytes of " + name + " kept";
      }
      files[name] = std::move(content);
    }
    return files;
  }

 private:
  const std::string folder_;
  std::mutex mutex_;
  std::vector<FileEvent> events_;  // guarded by mutex_
};

// A scratch folder in memory where there is one: the syncs cost nothing
// there, and what they make durable is the model's business.
std::unique_ptr<testing::TempDir> ScratchFolder() {
  return std::make_unique<testing::TempDir>(std::filesystem::exists("/dev/shm") ? "/dev/shm" : "");
}

// One operation of the run and the steps it took: [first, end).
struct Operation {
  enum Kind { kAdd, kRemove, kMove, kMark } kind;
  std::string trans_no;
  size_t first = 0, end = 0;
};

// How many lines each transaction may have after a cut after `steps` steps.
std::map<std::string, std::pair<int, int>> AllowedAfter(const std::vector<Operation>& operations,
                                                        size_t steps) {
  std::map<std::string, std::pair<int, int>> allowed;  // least, most
  for (const Operation& op : operations) {
    const bool done = op.end <= steps;
    const bool under_way = op.first < steps && !done;
    auto& [least, most] = allowed[op.trans_no];
    if (op.kind == Operation::kAdd) {
      least = done ? 1 : 0;
      most = done || under_way ? 1 : 0;
    } else if (op.kind == Operation::kRemove || op.kind == Operation::kMark) {
      if (done) least = most = 0;
      if (under_way) least = 0;
    }  // a move: one line before, during and after
  }
  return allowed;
}

class PowerLossTest : public ::testing::Test {
 protected:
  // Adds, removes and moves lines in a fresh folder, recording each step.
  void RecordRun() {
    run_folder_ = ScratchFolder();
    env_ = std::make_unique<PowerLossEnv>(run_folder_->path());
    env_->set_module_path(run_folder_->File("Vornlink.so"));
    testing::ScopedEnvOverride use_env(env_.get());
    ReleaseCacheMutexes();
    operations_.clear();
    int lines = 0;
    for (int i = 0; i < 40; ++i) {
      // The disk is full for a while; the worker keeps the reserve now and then.
      env_->room = i >= 10 && i < 25 ? 0 : -1;
      if (i % 15 == 0) KeepCacheReserve();
      Operation op;
      op.first = env_->event_count();
      const int roll = std::uniform_int_distribution<int>(0, 10)(random_);
      if (lines == 0 || roll < 5) {
        op.kind = Operation::kAdd;
        op.trans_no = std::to_string(++trans_no_);
        ASSERT_EQ(AddTransaction(testing::SampleTransaction(op.trans_no), "0", "0", ""), 1);
        ++lines;
      } else {
        CacheRecord record;
        ASSERT_EQ(ReadCacheLine(std::uniform_int_distribution<int>(0, lines - 1)(random_), &record),
                  1);
        op.trans_no = record.trans_no();
        // As the worker does: a line marked delivered is only ever removed.
        const bool marked = record.status() == std::string(1, kDeliveredStatus);
        op.kind = roll < 8 || marked ? Operation::kRemove
                  : roll == 10       ? Operation::kMark
                                     : Operation::kMove;
        std::string error;
        record.fields[CacheRecord::kStatus] = roll == 8 ? "2" : "1";
        ASSERT_EQ(op.kind == Operation::kRemove ? RemoveLine(record.trid())
                  : op.kind == Operation::kMark
                      ? MarkLineInPlace(record.trid(), kDeliveredStatus, &error)
                      : MoveToEnd(record),
                  CacheChange::kDone)
            << error;
        lines -= op.kind == Operation::kRemove ? 1 : 0;
      }
      op.end = env_->event_count();
      operations_.push_back(op);
    }
  }

  // Cuts the power after `steps` steps and checks what a fresh process
  // finds. `add_after` also adds a transaction to what was left.
  void CutAndCheck(size_t steps, bool add_after) {
    std::string how;
    const std::map<std::string, std::string> files = env_->Survivors(steps, &random_, &how);
    SCOPED_TRACE(how);
    const std::unique_ptr<testing::TempDir> folder = ScratchFolder();
    for (const auto& [name, content] : files) testing::WriteBytes(folder->File(name), content);
    testing::FakeEnv fresh;
    fresh.set_module_path(folder->File("Vornlink.so"));
    testing::ScopedEnvOverride use_fresh(&fresh);
    ReleaseCacheMutexes();  // a process that knows nothing of the file yet

    const std::string cache = folder->File("Vornlink.$$$");
    const std::string text = testing::ReadBytes(cache);
    const std::vector<std::string_view> lines = SplitLines(text);
    std::map<std::string, int> found;
    std::set<std::string> trids;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (std::count(lines[i].begin(), lines[i].end(), ',') != 15) {
        EXPECT_TRUE(i + 1 == lines.size() && text.back() != '\n')
            << "line " << i << " is not whole: " << lines[i];
        continue;
      }
      CacheRecord record, read;
      ParseCacheLine(lines[i], &record);
      EXPECT_TRUE(trids.insert(record.trid()).second) << "Trid twice: " << record.trid();
      // A line marked delivered is never sent again: it counts as gone.
      if (record.status() != std::string(1, kDeliveredStatus)) ++found[record.trans_no()];
      EXPECT_EQ(ReadCacheLine(static_cast<int>(i), &read), 1);
      EXPECT_EQ(read.fields, record.fields);
    }
    for (const auto& [trans_no, allowed] : AllowedAfter(operations_, steps)) {
      const int count = found[trans_no];
      EXPECT_TRUE(count >= allowed.first && count <= allowed.second)
          << "transaction " << trans_no << " is there " << count << " times, allowed "
          << allowed.first << " to " << allowed.second;
      ++checked_;
    }
    if (add_after) {
      ASSERT_EQ(AddTransaction(testing::SampleTransaction("after"), "0", "0", ""), 1);
      const std::vector<std::string> now = testing::DiskLines(cache);
      ASSERT_FALSE(now.empty());
      EXPECT_EQ(now.back().substr(0, 6), "after,");
      KeepCacheReserve();
      EXPECT_EQ(std::filesystem::file_size(CacheReserveFilePath(cache)), kCacheReserveBytes);
    }
    ReleaseCacheMutexes();
  }

  std::mt19937 random_;
  std::unique_ptr<testing::TempDir> run_folder_;
  std::unique_ptr<PowerLossEnv> env_;
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
  int done = 0, runs = 0;
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
