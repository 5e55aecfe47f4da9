// The worker's passes in this process, against a DMS on loopback that books
// transaction 1 and refuses every other one for good; the Env records the
// worker's pauses and program starts as it asks for them.
#include "delivery/cache_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
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

// Fails the rewrites of the cache file while `unwritable` (a full disk, a
// sharing violation).
class UnwritableCacheEnv : public testing::FakeEnv {
 public:
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

  void Add(const std::string& trans_no, const std::string& status) {
    TransactionFields transaction = testing::SampleTransaction(trans_no);
    transaction[1] = "123456.A";
    ASSERT_EQ(AddTransaction(transaction, status, "0", ""), 1);
  }
  // The log entries since the last call, one a line.
  std::string Logged() {
    for (const std::string& line : log_.Take()) logged_ += line + "\n";
    return logged_;
  }

  testing::TempDir dir_;
  UnwritableCacheEnv env_;
  testing::ScopedEnvOverride use_env_{&env_};
  testing::ScriptedDms dms_{[](const std::string& request) {
    return testing::ForwardReply(
        request.find("<trans>1</trans>") != std::string::npos ? "success" : "refused",
        "tab\tin\x1bthe text");
  }};
  testing::LogRecorder log_{dir_.File("kmr.log"), "+c"};
  std::string logged_;
  StopSignal stop_;
};

// One pass books 1 and parks 2 and 3 (the lines not due between them are
// passed over): a pause of 50 ms on the Env's clock after each of the three,
// and one start of the GUI for the pass.
TEST_F(CacheWorkerTest, APassPausesAfterEachLineAndStartsTheGuiOnce) {
  const std::pair<const char*, const char*> lines[] = {
      {"1", "0"}, {"a", "1"}, {"2", "0"}, {"b", "1"}, {"3", "0"}};
  for (const auto& [trans_no, status] : lines) Add(trans_no, status);
  std::thread worker([&] { RunCacheWorker(stop_); });
  EXPECT_TRUE(testing::Eventually([&] {
    const Lines disk = testing::DiskLines(env_.cache_path);
    return disk.size() == 4 && disk[2].rfind("2,", 0) == 0 && disk[3].rfind("3,", 0) == 0;
  }));
  stop_.Set();
  worker.join();
  EXPECT_EQ(dms_.requests().size(), 3u);
  EXPECT_EQ(env_.slept(), (std::vector<uint32_t>{50, 50, 50}));
  EXPECT_EQ(env_.started(), Lines{"kmrgui Vornlink"});
}

// A line delivered or parked whose change the full disk refuses is not sent
// again; each pass tries the change once more, until the file can be written.
TEST_F(CacheWorkerTest, LinesThatCannotBeChangedAreNotSentAgain) {
  env_.unwritable = true;
  Add("1", "0");
  Add("2", "0");
  std::thread worker([&] { RunCacheWorker(stop_); });
  // Several passes, each trying both changes again.
  EXPECT_TRUE(testing::Eventually([&] {
    return Count(Logged(), "removal again -> FAILED") >= 3 &&
           Count(Logged(), "move again -> FAILED") >= 3;
  }));
  EXPECT_EQ(dms_.requests().size(), 2u);
  EXPECT_EQ(Count(Logged(), "delivered, but its line could not be removed -> not sent again"), 1u);
  EXPECT_EQ(Count(Logged(), "failed, but its line could not be moved -> not sent again"), 1u);

  env_.unwritable = false;
  EXPECT_TRUE(testing::Eventually([&] {
    const Lines disk = testing::DiskLines(env_.cache_path);
    return disk.size() == 1 && disk[0].rfind("2,", 0) == 0;
  }));
  stop_.Set();
  worker.join();
  EXPECT_EQ(dms_.requests().size(), 2u);
  CacheRecord parked;
  ASSERT_EQ(GetCacheIndex(0, &parked), 1);
  EXPECT_EQ(parked.status(), "1");
  // The failure line, without the control bytes of the reply (a tab, an escape).
  EXPECT_NE(parked.message().find("tab in the text"), std::string::npos) << parked.message();
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

// The RetryTime reader that `vornlink check` shares with the worker holds
// the value within a day and only reads.
TEST_F(CacheWorkerTest, RetryTimeReaderHoldsWithinADayAndLogsNothing) {
  for (auto [value, seconds, held] :
       {std::tuple{"RetryTime=7x", 7, false}, {"RetryTime=90000", 86400, true}}) {
    testing::WriteBytes(dir_.File("Vornlink.ini"), std::string("[CacheThread]\n") + value + "\n");
    const RetrySetting setting = ReadRetrySetting();
    EXPECT_EQ(setting.seconds, seconds) << value;
    EXPECT_EQ(setting.held, held) << value;
  }
  EXPECT_EQ(Logged(), "");
}

}  // namespace
}  // namespace vornlink
