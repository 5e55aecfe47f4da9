// The worker when the cache file cannot be rewritten (a full disk, a
// sharing violation): a line it delivered or parked is not sent again; each
// pass tries the change once more, until the file can be written.
#include "delivery/cache_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "base/stop_signal.h"
#include "cache/cache_file.h"
#include "dms_fixture.h"
#include "testing/log_recorder.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

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
  std::atomic<bool> unwritable{true};
};

TEST(CacheWorkerTest, LinesThatCannotBeChangedAreNotSentAgain) {
  testing::TempDir dir;
  UnwritableCacheEnv env;
  env.set_module_path(dir.File("Vornlink.dll"));
  env.cache_path = dir.File("Vornlink.$$$");
  SetEnvForTesting(&env);
  {
    // Transaction 1 is booked, transaction 2 refused for good.
    testing::ScriptedDms dms([](const std::string& request) {
      return testing::ForwardReply(
          request.find("<trans>1</trans>") != std::string::npos ? "success" : "refused",
          "tab\tin\x1bthe text");
    });
    testing::DmsSetup setup;
    setup.port = dms.port_text();
    testing::WriteBytes(dir.File("Vornlink.xml"), testing::SettingsDocument(setup));
    testing::WriteBytes(dir.File("Vornlink.ini"), "[CacheThread]\nRetryTime=0\n");
    testing::LogRecorder log(dir.File("kmr.log"), "+c");
    for (const char* trans_no : {"1", "2"}) {
      TransactionFields transaction = testing::SampleTransaction(trans_no);
      transaction[1] = "123456.A";
      ASSERT_EQ(AddTransaction(transaction, "0", "0", ""), 1);
    }

    StopSignal stop;
    std::thread worker([&] { RunCacheWorker(stop); });
    std::string lines;
    const auto count = [&](const std::string& text) {
      size_t n = 0;
      for (size_t at = lines.find(text); at != std::string::npos; at = lines.find(text, at + 1))
        ++n;
      return n;
    };
    // Several passes, each trying both changes again.
    EXPECT_TRUE(testing::Eventually([&] {
      for (const std::string& line : log.Take()) lines += line + "\n";
      return count("removal again -> FAILED") >= 3 && count("move again -> FAILED") >= 3;
    }));
    EXPECT_EQ(dms.requests().size(), 2u);
    EXPECT_EQ(count("delivered, but its line could not be removed -> not sent again"), 1u);
    EXPECT_EQ(count("failed, but its line could not be moved -> not sent again"), 1u);

    env.unwritable = false;
    EXPECT_TRUE(testing::Eventually([&] {
      const auto disk = testing::DiskLines(env.cache_path);
      return disk.size() == 1 && disk[0].rfind("2,", 0) == 0;
    }));
    stop.Set();
    worker.join();
    EXPECT_EQ(dms.requests().size(), 2u);
    CacheRecord parked;
    ASSERT_EQ(GetCacheIndex(0, &parked), 1);
    EXPECT_EQ(parked.status(), "1");
    // The failure line, without the control bytes of the reply (a tab, an escape).
    EXPECT_NE(parked.message().find("tab in the text"), std::string::npos) << parked.message();
  }
  SetEnvForTesting(nullptr);
}

}  // namespace
}  // namespace vornlink
