// The worker's passes in this process, against a DMS on loopback that
// answers each TransNo with the code a test gives it; the Env records the
// worker's pauses and program starts as it asks for them.
#include "delivery/cache_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/stop_signal.h"
#include "cache/cache_file.h"
#include "dms_fixture.h"
#include "testing/log_recorder.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using Lines = std::vector<std::string>;

// Counts the attempts to take a mutex without waiting.
class CountedMutex : public CrossProcessMutex {
 public:
  CountedMutex(std::unique_ptr<CrossProcessMutex> mutex, std::atomic<int>* tries)
      : mutex_(std::move(mutex)), tries_(tries) {}
  bool Lock(std::string* error) override { return mutex_->Lock(error); }
  TryLockResult TryLock(std::string* error) override {
    ++*tries_;
    return mutex_->TryLock(error);
  }
  void Unlock() override { mutex_->Unlock(); }

 private:
  std::unique_ptr<CrossProcessMutex> mutex_;
  std::atomic<int>* tries_;
};

// Fails the rewrites of the cache file while `unwritable` (a full disk, a
// sharing violation), and counts the tries of the delivery lock.
class UnwritableCacheEnv : public testing::FakeEnv {
 public:
  std::unique_ptr<CrossProcessMutex> NewNamedMutex(const std::string& name,
                                                   const std::string& lock_file) override {
    return std::make_unique<CountedMutex>(FakeEnv::NewNamedMutex(name, lock_file),
                                          &delivery_lock_tries);
  }

  ReplaceResult ReplaceTextFile(const std::string& path, const std::string& text,
                                const ReplaceOptions& options, std::string* error) override {
    if (path == cache_path && unwritable.load()) {
      *error = "No space left on device";
      return ReplaceResult::kFailed;
    }
    return FakeEnv::ReplaceTextFile(path, text, options, error);
  }

  std::string cache_path;
  std::atomic<bool> unwritable{false};
  std::atomic<int> delivery_lock_tries{0};
};

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class CacheWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set_module_path(dir_.File("Vornlink.dll"));
    env_.cache_path = dir_.File("Vornlink.$$$");
    testing::DmsSetup setup;
    setup.port = dms_.port_text();
    testing::WriteBytes(dir_.File("Vornlink.xml"), testing::SettingsDocument(setup));
    testing::WriteBytes(dir_.File("Vornlink.ini"), "[CacheThread]\nRetryTime=0\n");
  }
  void TearDown() override { Stop(); }

  void Add(const std::string& trans_no, const std::string& status = "0") {
    TransactionFields transaction = testing::SampleTransaction(trans_no);
    transaction[1] = "123456.A";
    ASSERT_EQ(AddTransaction(transaction, status, "0", ""), 1);
  }
  void Start() {
    stop_.Clear();
    worker_ = std::thread([this] { RunCacheWorker(stop_); });
  }
  void Stop() {
    stop_.Set();
    if (worker_.joinable()) worker_.join();
  }
  // The TransNos sent, in order.
  Lines Sent() {
    Lines sent;
    for (const std::string& request : dms_.requests()) {
      sent.push_back(testing::Between(request, "<trans>", "</trans>"));
    }
    return sent;
  }
  // "TransNo:Status" of each line on disk.
  Lines Disk() {
    Lines lines;
    for (const std::string& line : testing::DiskLines(env_.cache_path)) {
      CacheRecord record;
      ParseCacheLine(line, &record);
      lines.push_back(record.trans_no() + ":" + record.status());
    }
    return lines;
  }
  // The log entries so far, one a line.
  std::string Logged() {
    for (const std::string& line : log_.Take()) logged_ += line + "\n";
    return logged_;
  }

  testing::TempDir dir_;
  UnwritableCacheEnv env_;
  testing::ScopedEnvOverride use_env_{&env_};
  // Each TransNo's reply code ("refused" where none is set), and what the
  // DMS does before it answers.
  std::mutex codes_mutex_;
  std::map<std::string, std::string> codes_ = {{"1", "success"}};
  std::function<void(const std::string& trans_no)> before_answer_ = [](const std::string&) {};
  testing::ScriptedDms dms_{[this](const std::string& request) {
    const std::string trans_no = testing::Between(request, "<trans>", "</trans>");
    before_answer_(trans_no);
    std::lock_guard<std::mutex> lock(codes_mutex_);
    const auto code = codes_.find(trans_no);
    return testing::ForwardReply(code == codes_.end() ? "refused" : code->second,
                                 "tab\tin\x1bthe text");
  }};
  testing::LogRecorder log_{dir_.File("kmr.log"), "+c"};
  std::string logged_;
  StopSignal stop_;
  std::thread worker_;
};

// One pass treats every due line once, in file order, whatever the
// outcomes (each of which moves or removes the line): none is passed over,
// the lines it moved to the end are not met again, a line added meanwhile
// is. A pause of 50 ms on the Env's clock follows each line, and the GUI
// starts once for the pass. Later passes send only the lines to retry.
TEST_F(CacheWorkerTest, APassTreatsEachDueLineOnceInFileOrder) {
  codes_ = {{"5001", "locked"},
            {"5003", "success"},
            {"5004", "locked"},
            {"5005", "success"},
            {"5006", "locked"}};
  before_answer_ = [this](const std::string& trans_no) {
    if (trans_no == "5003") Add("5007");
  };
  const std::pair<const char*, const char*> lines[] = {{"5001", "0"}, {"a", "1"},    {"5002", "0"},
                                                       {"5003", "2"}, {"5004", "0"}, {"b", "1"},
                                                       {"5005", "0"}, {"5006", "0"}};
  for (const auto& [trans_no, status] : lines) Add(trans_no, status);
  Start();
  // The second pass sends the three lines to retry again.
  ASSERT_TRUE(testing::Eventually([&] { return Sent().size() >= 10; })) << Sent().size();
  Stop();
  const Lines sent = Sent();
  EXPECT_EQ(
      Lines(sent.begin(), sent.begin() + 10),
      (Lines{"5001", "5002", "5003", "5004", "5005", "5006", "5007", "5001", "5004", "5006"}));
  // A pause after each line sent (none after one the stop cut short).
  const std::vector<uint32_t> slept = env_.slept();
  EXPECT_TRUE(slept.size() + 1 >= sent.size() && slept.size() <= sent.size()) << slept.size();
  EXPECT_EQ(slept, std::vector<uint32_t>(slept.size(), 50));
  EXPECT_EQ(env_.started(), Lines{"kmrgui Vornlink"});
  const Lines disk = Disk();
  ASSERT_GE(disk.size(), 4u);
  EXPECT_EQ(Lines(disk.begin(), disk.begin() + 4), (Lines{"a:1", "b:1", "5002:1", "5007:1"}));
  CacheRecord parked;
  ASSERT_EQ(GetCacheIndex(2, &parked), 1);
  // The failure line, without the control bytes of the reply (a tab, an escape).
  EXPECT_NE(parked.message().find("tab in the text"), std::string::npos) << parked.message();
}

// A line delivered or parked whose removal or move a full disk refuses is
// marked in place, so that neither this worker nor one started later sends
// it again; the delivered one goes once the file can be written.
TEST_F(CacheWorkerTest, LinesThatCannotBeChangedAreNeverSentAgain) {
  env_.unwritable = true;
  Add("1");
  Add("2");
  Start();
  EXPECT_TRUE(testing::Eventually([&] {
    return Count(Logged(), "removal again -> FAILED") >= 3 &&
           Count(Logged(), "move again -> FAILED") >= 3;
  }));
  EXPECT_EQ(Disk(), (Lines{"1:3", "2:1"}));
  EXPECT_EQ(Count(Logged(),
                  "delivered, but its line could not be removed -> not sent again: "
                  "marked delivered in place (Status 3)"),
            1u);
  EXPECT_EQ(Count(Logged(),
                  "failed, but its line could not be moved -> not sent again: marked "
                  "parked in place (Status 1)"),
            1u);

  // Another worker, as after a restart of the host, knows only the file.
  Stop();
  ReleaseCacheMutexes();
  const size_t failed_before = Count(Logged(), "removal again -> FAILED");
  Start();
  EXPECT_TRUE(testing::Eventually(
      [&] { return Count(Logged(), "removal again -> FAILED") >= failed_before + 3; }));
  env_.unwritable = false;
  EXPECT_TRUE(testing::Eventually([&] { return Disk() == Lines{"2:1"}; })) << Logged();
  Stop();
  EXPECT_EQ(Sent(), (Lines{"1", "2"}));
}

// Without the module's path there is no cache file: the worker says so once
// and ends by itself.
TEST_F(CacheWorkerTest, WithoutTheModulePathItSaysWhyOnceAndEnds) {
  env_.set_module_path("");
  std::atomic<bool> ended{false};
  std::thread worker([&] { RunCacheWorker(stop_), ended = true; });
  EXPECT_TRUE(testing::Eventually([&] { return ended.load(); }));
  stop_.Set();
  worker.join();
  EXPECT_EQ(Count(Logged(),
                  "Cache file unknown: the module's path is unknown -> nothing is "
                  "delivered"),
            1u);
}

#ifndef _WIN32
// A delivery lock that cannot be had (a folder or a link in its place) is no
// other worker: its reason is logged once, and again when it changes, and
// delivery starts once the lock can be had.
TEST_F(CacheWorkerTest, ADeliveryLockThatCannotBeHadIsReportedWithItsReason) {
  const std::string lock = DeliveryLockFilePath(env_.cache_path);
  const std::string cannot = "] delivery lock cannot be taken t[" + lock + ": ";
  std::filesystem::create_directory(lock);
  Add("1");
  Start();
  EXPECT_TRUE(testing::Eventually([&] { return env_.delivery_lock_tries >= 3; }));
  std::filesystem::remove(lock);
  std::filesystem::create_symlink(dir_.File("elsewhere"), lock);
  const int tries = env_.delivery_lock_tries;
  EXPECT_TRUE(testing::Eventually([&] { return env_.delivery_lock_tries >= tries + 3; }));
  EXPECT_EQ(Sent(), Lines{});
  std::filesystem::remove(lock);
  EXPECT_TRUE(testing::Eventually([&] { return Disk().empty(); }));
  Stop();
  EXPECT_EQ(Count(Logged(), cannot), 2u) << Logged();
  EXPECT_EQ(Count(Logged(), cannot + "Is a directory] -> nothing is delivered until it can"), 1u);
  EXPECT_EQ(Count(Logged(), "delivery lock taken -> delivering again"), 1u);
  EXPECT_EQ(Count(Logged(), "is delivered by another worker"), 0u);
  EXPECT_EQ(Sent(), Lines{"1"});
}
#endif

}  // namespace
}  // namespace vornlink
