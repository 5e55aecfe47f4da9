// Whatever the DMS does, the worker goes on or StopService ends it within a
// second, the line in flight stays as it was, and the host can unload the
// module and load a new file of it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "hosted_driver.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vornlink {
namespace {

using testing::CacheLine;
using testing::Eventually;

// Whether the process has the module file mapped.
bool Mapped(const std::string& module_path) {
#ifdef _WIN32
  return GetModuleHandleA(module_path.c_str()) != nullptr;
#else
  return testing::ReadBytes("/proc/self/maps").find(module_path) != std::string::npos;
#endif
}

// What the DMS does with line 1, and what becomes of lines 1 and 2.
struct Case {
  std::string dms, state;
};

class StopTest : public ::testing::TestWithParam<Case> {};

TEST_P(StopTest, WorkerGoesOnOrStopsAndTheModuleUnloads) {
  const Case& c = GetParam();
  testing::TcpTestServer dms([&](NetConnection& connection, const StopSignal& stop) {
    std::string request = dms.ReadRequest(connection);
    WaitLimit limit = WaitLimit::After(std::chrono::seconds(30), &stop);
    if (request.find("<trans>2</trans>") != std::string::npos) {
      connection.SendAll(testing::ForwardReply("success", "ok") + '\0', limit);
    } else if (c.dms == "NeverAnswers") {
      stop.WaitFor(30000);
    } else if (c.dms == "Trickles") {
      for (char byte : std::string("<S:Envelope>")) {
        if (!connection.SendAll(std::string(1, byte), limit).ok() || stop.WaitFor(1000)) break;
      }
    } else if (c.dms == "Garbage") {
      connection.SendAll(std::string("\x01\xff garbage <<>>\0", 17), limit);
    }
  });
  testing::HostedDriver host;
  testing::DmsSetup setup;
  setup.port = dms.port_text();
  host.WriteSettings(setup, "0");
  const std::string first = CacheLine("1", "0", "201406041110300001");
  testing::WriteBytes(
      host.File("$$$"),
      testing::OnDisk(first + "\n" + CacheLine("2", "0", "201406041110300002") + "\n"));
  ASSERT_TRUE(host.Load());
  ASSERT_EQ(host.api().execute_service(), 1);
  ASSERT_TRUE(Eventually([&] { return dms.requests().size() >= 1; }));
  if (c.dms != "NeverAnswers") {
    ASSERT_TRUE(Eventually([&] { return host.CacheState() == c.state; })) << host.CacheState();
  }

  const auto asked = std::chrono::steady_clock::now();
  EXPECT_EQ(host.api().stop_service(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
  EXPECT_EQ(host.CacheState(), c.state);
  // The line in flight stays as it was.
  if (c.dms == "NeverAnswers") {
    EXPECT_EQ(host.CacheLines().front(), first);
  }

  // Nothing of the driver runs: the module goes, and a new file of it loads.
  host.Unload();
  EXPECT_FALSE(Mapped(host.module_path()));
  std::filesystem::remove(host.module_path());
  std::filesystem::copy_file(VORNLINK_MODULE_FILE, host.module_path());
  ASSERT_TRUE(host.Load());
  EXPECT_EQ(host.api().get_api_version(), 102);
  EXPECT_EQ(host.CacheState(), c.state);
}

INSTANTIATE_TEST_SUITE_P(Dms, StopTest,
                         ::testing::Values(Case{"NeverAnswers", "1:0 2:0 "},
                                           Case{"ClosesAtOnce", "1:1 "}, Case{"Trickles", "1:1 "},
                                           Case{"Garbage", "1:1 "}),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.dms; });

}  // namespace
}  // namespace vornlink
