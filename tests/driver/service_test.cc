// The service's answers where the module itself cannot be made to fail.
#include "driver/service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <string>
#include <vector>

#include "base/write_gate.h"
#include "log/log.h"
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

TEST(ServiceTest, AStartShowsTheGuiProgramOnce) {
  testing::ScopedFakeEnv env;
  EXPECT_EQ(Service::Instance().Execute(), 1);
  EXPECT_EQ(Service::Instance().Stop(), 0);
  EXPECT_EQ(env.env().started(), std::vector<std::string>{"kmrgui Vornlink"});
}

// A thread whose body throws ends as any other, with the exports' '*' line.
TEST(DriverThreadsTest, ThreadsThatThrowEndAsAnyOther) {
  testing::ScopedFakeEnv env;
  testing::LogRecorder log(env.dir().File("kmr.log"), "+");
  DriverThreads threads;
  ASSERT_TRUE(threads.Start("CacheWorker", [](const StopSignal&) { throw std::bad_alloc(); }));
  ASSERT_TRUE(threads.Start("IsJobnoValid", [](const StopSignal&) { throw 7; }));
  ASSERT_TRUE(testing::Eventually([&] { return threads.Idle(); }));
  std::vector<std::string> lines = log.Take();
  std::sort(lines.begin(), lines.end());  // the two threads' order is the system's
  EXPECT_EQ(lines,
            (std::vector<std::string>{"* CacheWorker: Internal t[std::bad_alloc] -> FAILED",
                                      "* IsJobnoValid: Internal t[unknown failure] -> FAILED"}));
}

// A stop waits for a write under way (that waits for another process's cache lock) only within its
// bound; a host's call on a driver's thread (a callback) writes as the host's, its stop too.
TEST(DriverThreadsTest, AStopBoundsItsWaitForWritesAndHostCallsStillWrite) {
  testing::ScopedFakeEnv env;
  testing::LogRecorder log(env.dir().File("kmr.log"), "+");
  DriverThreads threads;
  StopSignal writing, release;
  ASSERT_TRUE(threads.Start("CacheWorker", [&](const StopSignal&) {
    WritePermit permit;
    writing.Set();
    release.WaitFor(60000);
  }));
  writing.WaitFor(60000);
  const DriverThreads::Left left = threads.StopGeneration(std::chrono::milliseconds(50), {});
  EXPECT_TRUE(left.threads == 1 && left.writing);
  release.Set();
  ASSERT_TRUE(threads.Start("IsJobnoValid", [&](const StopSignal&) {
    {
      DriverThreads::HostCall callback(&threads, true);
      threads.StopGeneration(std::chrono::seconds(5), std::chrono::seconds(5));
      LogPrint('*', "the host's stop");
    }
    LogPrint('*', "the driver's thread after the stop");
  }));
  ASSERT_TRUE(testing::Eventually([&] { return threads.Idle(); }));
  EXPECT_EQ(log.Take(), std::vector<std::string>{"* the host's stop"});
}

}  // namespace
}  // namespace vornlink
