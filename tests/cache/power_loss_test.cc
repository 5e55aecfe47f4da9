// Power cuts at every step of the cache's file calls, dropping what was not durable. A fresh
// process finds each transaction whose add returned once, unless its removal or mark as delivered
// returned (gone) or was under way (at most once); an add under way at most once; every line but
// a torn last one whole with its own Trid; the next add on a line of its own. Adds on a full disk
// take room from the reserve, which the next worker makes whole.
// VORNLINK_POWER_CUTS: cuts (default 500), VORNLINK_POWER_CUT_SEED: the seed.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/text_lines.h"
#include "cache/cache_file.h"
#include "cache/cache_reserve.h"
#include "platform/env.h"
#include "platform/posix/file_calls.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

// One step that the file calls took in the folder, as the kernel got it.
struct Step {
  enum Kind { kCreate, kWrite, kCut, kGrow, kSync, kRename, kRemove, kSyncFolder } kind;
  std::string path{}, to{};  // names in the folder (the folder itself: "")
  uint64_t offset = 0;       // kWrite: where; kCut, kGrow: the size
  std::string data{};
};

// Records every step the file calls take in one folder and tells what a power cut after any of them
// could leave: what was synced, then a file's later content changes in order up to a random one
// (the last perhaps in part), and the name changes since the folder's sync up to a random one, as a
// journal keeps them. `fault` fails a call as a full disk would (a write after 4 more bytes, a
// growth after it grew), or an exclusive open as a folder without write rights would.
class PowerLossEnv : public testing::FakeEnv {
 public:
  enum class Fault { kNone, kWrite, kGrow, kExclusiveOpen };

  // `folder` is empty.
  explicit PowerLossEnv(std::string folder) : folder_(std::move(folder)) {
    recording_ = this;
    SetFileCallsForTesting(&kCalls);
  }
  ~PowerLossEnv() override {
    SetFileCallsForTesting(nullptr);
    recording_ = nullptr;
  }

  size_t event_count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_.size();
  }
  std::atomic<Fault> fault{Fault::kNone};

  // The files (by name) a power cut right after the first `events` steps
  // could leave; `how` gets what was dropped, for failure messages.
  std::map<std::string, std::string> Survivors(size_t events, std::mt19937* random,
                                               std::string* how) {
    struct Node {
      std::string durable;
      std::vector<const Step*> unsynced;  // content changes since its last sync
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
      const Step& step = events_[i];
      const auto named = names.find(step.path);
      Node* node = named == names.end() ? nullptr : &nodes[static_cast<size_t>(named->second)];
      if (step.kind == Step::kCreate) {
        names[step.path] = static_cast<int>(nodes.size());
        unsynced.push_back({step.path, "", static_cast<int>(nodes.size())});
        nodes.push_back({});
      } else if (step.kind == Step::kSyncFolder) {
        durable_names = names;
        unsynced.clear();
      } else if (node == nullptr) {
        continue;
      } else if (step.kind == Step::kSync) {
        for (const Step* change : node->unsynced) Apply(*change, &node->durable);
        node->unsynced.clear();
      } else if (step.kind == Step::kRename) {
        unsynced.push_back({step.to, step.path, named->second});
        names[step.to] = named->second;
        names.erase(step.path);
      } else if (step.kind == Step::kRemove) {
        unsynced.push_back({step.path, "", -1});
        names.erase(named);
      } else {
        node->unsynced.push_back(&step);
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
      const size_t kept = std::uniform_int_distribution<size_t>(0, node.unsynced.size())(*random);
      for (size_t i = 0; i < kept; ++i) {
        // The last change kept may be a write that got in in part.
        const Step& change = *node.unsynced[i];
        const bool torn = i + 1 == kept && (*random)() % 2 == 0;
        Apply(change, &content, torn ? (*random)() % (change.data.size() + 1) : change.data.size());
      }
      if (kept > 0) *how += "; " + std::to_string(kept) + " unsynced changes of " + name + " kept";
      files[name] = std::move(content);
    }
    return files;
  }

 private:
  static void Apply(const Step& step, std::string* content, size_t part = std::string::npos) {
    if (step.kind == Step::kWrite) {
      const size_t size = std::min(part, step.data.size());
      content->resize(std::max<size_t>(content->size(), step.offset + size));
      content->replace(step.offset, size, step.data, 0, size);
    } else if (step.kind == Step::kCut || content->size() < step.offset) {
      content->resize(step.offset);
    }
  }

  // Notes `step` of the file open as `fd` (or of the name in `step.path`).
  void Note(Step step, int fd = -1) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd >= 0) {
      const auto open = open_names_.find(fd);
      if (open == open_names_.end()) return;
      step.path = open->second;
      if (step.kind == Step::kSync && step.path.empty()) step.kind = Step::kSyncFolder;
    } else if (!InFolder(&step.path) || (step.kind == Step::kRename && !InFolder(&step.to))) {
      return;
    }
    events_.push_back(std::move(step));
  }
  // Makes `path` a name in the folder; false when it lies elsewhere.
  bool InFolder(std::string* path) const {
    if (*path == folder_ || path->empty()) return path->clear(), true;
    if (path->compare(0, folder_.size() + 1, folder_ + "/") != 0) return false;
    return path->erase(0, folder_.size() + 1), true;
  }

  static int Open(const char* path, int flags, mode_t mode) {
    if (recording_->fault == Fault::kExclusiveOpen && (flags & O_EXCL) != 0)
      return errno = EACCES, -1;
    const bool existed = access(path, F_OK) == 0;
    const int fd = open(path, flags, mode);
    if (fd < 0) return fd;
    std::string name = path;
    std::lock_guard<std::mutex> lock(recording_->mutex_);
    if (recording_->InFolder(&name)) {
      recording_->open_names_[fd] = name;
      if (!existed) recording_->events_.push_back({Step::kCreate, name});
    } else {
      recording_->open_names_.erase(fd);
    }
    return fd;
  }
  static ssize_t Write(int fd, const void* data, size_t size) {
    if (recording_->fault == Fault::kWrite) {
      if (recording_->room_ == 0) return errno = ENOSPC, -1;
      size = std::min(size, recording_->room_);
    }
    const ssize_t done = write(fd, data, size);
    if (done <= 0) return done;
    if (recording_->fault == Fault::kWrite) recording_->room_ -= static_cast<size_t>(done);
    NoteWrite(fd, data, done, lseek(fd, 0, SEEK_CUR) - done);
    return done;
  }
  static ssize_t PWrite(int fd, const void* data, size_t size, off_t offset) {
    const ssize_t done = pwrite(fd, data, size, offset);
    if (done > 0) NoteWrite(fd, data, done, offset);
    return done;
  }
  static void NoteWrite(int fd, const void* data, ssize_t size, off_t offset) {
    recording_->Note({Step::kWrite, "", "", static_cast<uint64_t>(offset),
                      std::string(static_cast<const char*>(data), static_cast<size_t>(size))},
                     fd);
  }
  // `code`, the result of a call that took `step` when it is 0.
  static int Noted(int code, Step step, int fd = -1) {
    if (code == 0) recording_->Note(std::move(step), fd);
    return code;
  }
  static int Cut(int fd, off_t size) {
    return Noted(ftruncate(fd, size), {Step::kCut, "", "", static_cast<uint64_t>(size)}, fd);
  }
  static int Grow(int fd, off_t at, off_t size) {
    const int code = Noted(posix_fallocate(fd, at, size),
                           {Step::kGrow, "", "", static_cast<uint64_t>(at + size)}, fd);
    return code == 0 && recording_->fault == Fault::kGrow ? ENOSPC : code;
  }
  static int Sync(int fd) { return Noted(fsync(fd), {Step::kSync}, fd); }
  static int DataSync(int fd) { return Noted(fdatasync(fd), {Step::kSync}, fd); }
  static int Rename(const char* from, const char* to) {
    return Noted(rename(from, to), {Step::kRename, from, to});
  }
  static int Unlink(int folder_fd, const char* name, int flags) {
    std::error_code none;  // with AT_FDCWD, `name` is the whole path
    const std::string folder =
        std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(folder_fd), none);
    return Noted(unlinkat(folder_fd, name, flags),
                 {Step::kRemove, folder_fd == AT_FDCWD ? name : folder + "/" + name});
  }

  static constexpr FileCallTable kCalls = {&Open, &Write,    &PWrite, &Cut,   &Grow,
                                           &Sync, &DataSync, &Rename, &Unlink};
  static inline PowerLossEnv* recording_ = nullptr;

  const std::string folder_;
  std::mutex mutex_;
  std::vector<Step> events_;               // guarded by mutex_
  std::map<int, std::string> open_names_;  // guarded by mutex_
  size_t room_ = 4;                        // what the full disk takes yet
};

// A scratch folder in memory where there is one: the syncs cost nothing.
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

  // Cuts the power after `steps` steps, checks what a fresh process finds; `add_after` adds one.
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
    std::iota(steps.begin(), steps.end(), 0);
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

// A cut right after a file call keeps what it reported: its change, or after a failure the file.
TEST(PowerLossCallTest, WhatACallReportedSurvivesACutRightAfterIt) {
  using Fault = PowerLossEnv::Fault;
  enum Call { kAppend, kReplace, kOverwrite, kAllocate };
  const int replaced = static_cast<int>(ReplaceResult::kReplaced);
  const int in_place = static_cast<int>(ReplaceResult::kRewrittenInPlace);
  const std::string old = "4711,old line\n";
  const struct {
    const char* what;
    bool existed;
    Fault fault;
    Call call;
    uint64_t size;      // kAllocate's
    int result;         // what the call returns (a bool as 0 or 1)
    std::string after;  // the file after the cut
  } kCases[] = {
      {"durable append", true, Fault::kNone, kAppend, 0, 1, old + "new line\n"},
      {"durable append that makes the file", false, Fault::kNone, kAppend, 0, 1, "new line\n"},
      {"append on a full disk", true, Fault::kWrite, kAppend, 0, 0, old},
      {"replace", true, Fault::kNone, kReplace, 0, replaced, "new\n"},
      {"replace in place", true, Fault::kExclusiveOpen, kReplace, 0, in_place, "new\n"},
      {"overwrite", true, Fault::kNone, kOverwrite, 0, 1, "0815,old line\n"},
      {"growth", true, Fault::kNone, kAllocate, 20, 1, old + std::string(6, '\0')},
      {"allocation that makes the file", false, Fault::kNone, kAllocate, 3, 1,
       std::string(3, '\0')},
      {"growth on a full disk", true, Fault::kGrow, kAllocate, 4096, 0, old},
  };
  std::mt19937 random(4711);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::unique_ptr<testing::TempDir> folder = ScratchFolder();
    PowerLossEnv recorder(folder->path());
    Env* env = DefaultEnv();
    const std::string path = folder->File("Vornlink.$$$");
    if (c.existed) {
      ASSERT_EQ(env->ReplaceTextFile(path, old, {}, nullptr), ReplaceResult::kReplaced);
    }
    recorder.fault = c.fault;
    const int result = c.call == kAppend ? env->AppendTextFile(path, "new line\n", true, nullptr)
                       : c.call == kReplace
                           ? static_cast<int>(env->ReplaceTextFile(path, "new\n", {}, nullptr))
                       : c.call == kOverwrite ? env->OverwriteFileBytes(path, 0, "0815", nullptr)
                                              : env->SetAllocatedFileSize(path, c.size, nullptr);
    ASSERT_EQ(result, c.result);
    for (int cut = 0; cut < 50 && !::testing::Test::HasFailure(); ++cut) {
      std::string how;
      EXPECT_EQ(recorder.Survivors(recorder.event_count(), &random, &how)["Vornlink.$$$"], c.after)
          << how;
    }
  }
}

}  // namespace
}  // namespace vornlink
