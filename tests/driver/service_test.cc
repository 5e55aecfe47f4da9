// The service's answers where the module itself cannot be made to fail.
#include "driver/service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <thread>

#include "testing/log_recorder.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

class VersionEnv : public testing::FakeEnv {
 public:
  FileVersionResult result = FileVersionResult::kOk;
  FileVersionResult ReadFileVersion(const std::string&, FileVersion* version) override {
    *version = {2, 0, 0, 1};
    return result;
  }
};

TEST(ServiceTest, ServiceNameShowsWhatTheVersionReadGave) {
  VersionEnv env;
  env.set_module_path("/m/Vornlink.so");
  testing::ScopedEnvOverride use_env(&env);
  const char* first = Service::Instance().ServiceName();
  EXPECT_STREQ(first, "Plexa KMR v[2.00RC1]");
  env.result = FileVersionResult::kUnreadable;
  EXPECT_STREQ(Service::Instance().ServiceName(), "Plexa KMR v[]");
  env.result = FileVersionResult::kNoMemory;
  EXPECT_STREQ(Service::Instance().ServiceName(), "Plexa KMR v[Error]");
  // A text handed out earlier is still there, unchanged.
  EXPECT_STREQ(first, "Plexa KMR v[2.00RC1]");
}

class PinCountingEnv : public testing::FakeEnv {
 public:
  void KeepModuleLoaded() override { ++pins; }
  std::atomic<int> pins{0};
};

// A thread whose body throws ends as any other, with the exports' '*' line.
// A stop waits for the host's calls in flight: a call whose query went out
// ends at the cut, ahead of the bound; a dialog, which no stop ends, keeps
// the module mapped.
TEST(DriverThreadsTest, StopWaitsForHostCallsAndThreadsThatThrowEndAsAnyOther) {
  PinCountingEnv env;
  testing::ScopedEnvOverride use_env(&env);
  testing::TempDir dir;
  testing::LogRecorder log(dir.File("kmr.log"), "+");
  DriverThreads threads;
  ASSERT_TRUE(threads.Start("CacheWorker", [](const StopSignal&) { throw std::bad_alloc(); }));
  ASSERT_TRUE(threads.Start("IsJobnoValid", [](const StopSignal&) { throw 7; }));
  ASSERT_TRUE(testing::Eventually([&] { return threads.Idle(); }));
  EXPECT_EQ(log.Take(),
            (std::vector<std::string>{"* CacheWorker: Internal t[std::bad_alloc] -> FAILED",
                                      "* IsJobnoValid: Internal t[unknown failure] -> FAILED"}));

  StopSignal inside;
  std::atomic<bool> cut_seen{false};
  std::thread host([&] {
    DriverThreads::HostCall call(&threads, true);
    inside.Set();
    while (!call.stop().IsCut()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    cut_seen = true;
  });
  ASSERT_TRUE(inside.WaitFor(10000));
  EXPECT_FALSE(threads.Idle());
  DriverThreads::Left left =
      threads.StopGeneration(std::chrono::seconds(30), std::chrono::milliseconds(29500));
  EXPECT_TRUE(left.none());
  EXPECT_TRUE(cut_seen);
  EXPECT_EQ(env.pins, 0);
  host.join();

  inside.Clear();
  StopSignal closed;
  std::thread dialog([&] {
    DriverThreads::HostCall call(&threads, false);
    inside.Set();
    closed.WaitFor(60000);
  });
  ASSERT_TRUE(inside.WaitFor(10000));
  left = threads.StopGeneration(std::chrono::seconds(30), std::chrono::seconds(1));
  EXPECT_EQ(left.unstoppable, 1);
  EXPECT_EQ(env.pins, 1);
  closed.Set();
  dialog.join();
}

}  // namespace
}  // namespace vornlink
