// Whatever the DMS does, the worker goes on or StopService ends it, by its first step unless a
// query went out: then when its reply comes (its outcome recorded) or at the stop's cut (its line
// kept and a warning logged). The host's own calls in flight end with it, and the host can unload
// the module and load a new file of it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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

// A loopback port whose connect never completes: its listener's queue is full, nobody takes.
struct FullPort {
  FullPort() {
    ListenTcp("127.0.0.1", 0, 0, &listener);
    for (int i = 0; listener && i < 64; ++i) {
      queued.emplace_back();
      WaitLimit limit = WaitLimit::After(std::chrono::milliseconds(300), nullptr);
      if (!ConnectTcp("127.0.0.1", listener->port(), limit, &queued.back()).ok()) break;
    }
  }
  std::unique_ptr<NetListener> listener;
  std::vector<std::unique_ptr<NetConnection>> queued;
};

// What the DMS does with line 1, what becomes of lines 1 and 2, whether the stop comes while the
// DMS holds the query (and a host's thread is inside a synchronous validation meanwhile), whether
// the query carries the booking key of a DMS that drops repeats.
struct Case {
  std::string dms, state;
  bool query_out;
  bool keyed = false;
};

class StopTest : public ::testing::TestWithParam<Case> {};

TEST_P(StopTest, WorkerGoesOnOrStopsAndTheModuleUnloads) {
  const Case& c = GetParam();
  std::atomic<int> forwards_of_1{0};
  testing::TcpTestServer dms([&](NetConnection& connection, const StopSignal& stop) {
    std::string request = dms.ReadRequest(connection);
    WaitLimit limit = WaitLimit::After(std::chrono::seconds(30), &stop);
    // A repeat of line 1 is answered as a DMS answers a repeat it drops.
    const bool repeat =
        request.find("<trans>1</trans>") != std::string::npos && ++forwards_of_1 > 1;
    if (request.find("<trans>2</trans>") != std::string::npos || repeat) {
      connection.SendAll(testing::ForwardReply("success", "ok") + '\0', limit);
    } else if (c.dms.rfind("NeverAnswers", 0) == 0) {
      char byte;
      size_t count = 0;
      connection.Receive(&byte, 1, &count, limit);  // until the driver gives up

    } else if (c.dms == "Trickles") {
      for (char byte : std::string("<S:Envelope>")) {
        if (!connection.SendAll(std::string(1, byte), limit).ok() || stop.WaitFor(1000)) break;
      }
    } else if (c.dms == "Garbage") {
      connection.SendAll(std::string("\x01\xff garbage <<>>\0", 17), limit);
    }
  });
  FullPort full;
  testing::HostedDriver host;
  testing::DmsSetup setup;
  setup.port = c.dms == "ConnectHangs" ? std::to_string(full.listener->port()) : dms.port_text();
  setup.items = {{"FL", "1"}};  // logs the query's length right before the connect
  if (c.keyed) setup.forward_query = "<insert><trans>%@01</trans><key>%@TK</key></insert>";
  host.WriteSettings(setup, "0", c.keyed ? "[ForwardTransaction]\nDmsDropsRepeats=1\n" : "");
  const std::string first = CacheLine("1", "0", "201406041110300001");
  testing::WriteBytes(
      host.File("$$$"),
      testing::OnDisk(first + "\n" + CacheLine("2", "0", "201406041110300002") + "\n"));
  ASSERT_TRUE(host.Load());
  ASSERT_EQ(host.api().execute_service(), 1);
  std::atomic<int> valid{-1};
  std::thread validating;
  if (c.dms == "ConnectHangs") {
    ASSERT_TRUE(Eventually([&] { return host.Logged("Query length is"); }));
  } else if (c.query_out) {
    ASSERT_TRUE(Eventually([&] { return dms.requests().size() >= 1; }));
    // The DMS holds the worker's query; a host's thread asks too.
    validating = std::thread([&] { valid = host.api().is_jobno_valid("123456.A"); });
    ASSERT_TRUE(Eventually([&] { return host.Logged("<job><ro>123456</ro>"); }));  // sent
  } else {
    ASSERT_TRUE(Eventually([&] { return dms.requests().size() >= 1; }));
    ASSERT_TRUE(Eventually([&] { return host.CacheState() == c.state; })) << host.CacheState();
  }

  EXPECT_EQ(host.api().stop_service(), 0);
  // Within the bound (else the stop says so); by its first step unless a query went out (its cut).
  EXPECT_FALSE(host.Logged("did not end within"));
  EXPECT_EQ(host.Logged("ms after the stop -> its waits were cut"), c.query_out);
  EXPECT_EQ(host.Logged("--> STOPPED --> stays in the cache"), c.dms == "ConnectHangs");
  EXPECT_EQ(host.CacheState(), c.state);
  if (c.state == "1:0 2:0 ") {
    EXPECT_EQ(host.CacheLines().front(), first);
  }
  const std::string cut =
      "Trid[201406041110300001] TransNo[1] cut by the stop after its query "
      "went out -> ";
  EXPECT_EQ(host.Logged(cut + "marked outcome unknown in place (Status 4): the DMS may have "
                              "booked it; not sent again until a person releases it"),
            c.query_out && !c.keyed);
  EXPECT_EQ(host.Logged(cut + "stays due: it carried the booking key, and the DMS drops repeats"),
            c.keyed);

  // Nothing of the driver runs: the module goes, and a new file of it loads. But a stop that ended
  // a call on the host's own thread keeps it mapped: that thread may still return through it.
  EXPECT_EQ(host.Logged("1 call(s) of the host ended with the stop"), c.query_out);
  host.Unload();
  EXPECT_EQ(Mapped(host.module_path()), c.query_out);
  if (validating.joinable()) {
    validating.join();
    EXPECT_EQ(valid, 0);
  } else {
    std::filesystem::remove(host.module_path());
    std::filesystem::copy_file(VORNLINK_MODULE_FILE, host.module_path());
  }
  ASSERT_TRUE(host.Load());
  EXPECT_EQ(host.api().get_api_version(), 102);
  EXPECT_EQ(host.CacheState(), c.state);
  if (!c.query_out) return;
  // A new start books the cut line once: kept for a person, or sent to a DMS that drops repeats.
  ASSERT_EQ(host.api().execute_service(), 1);
  EXPECT_TRUE(Eventually([&] { return host.CacheState() == (c.keyed ? "" : "1:4 "); }));
  EXPECT_EQ(host.api().stop_service(), 0);
  EXPECT_EQ(forwards_of_1, c.keyed ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(Dms, StopTest,
                         ::testing::Values(Case{"NeverAnswers", "1:4 2:0 ", true},
                                           Case{"NeverAnswersKeyed", "1:0 2:0 ", true, true},
                                           Case{"ConnectHangs", "1:0 2:0 ", false},
                                           Case{"ClosesAtOnce", "1:1 ", false},
                                           Case{"Trickles", "1:1 ", false},
                                           Case{"Garbage", "1:1 ", false}),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.dms; });

// A DMS that books and answers 2 s after it has the query: a stop meanwhile waits for the answer
// and removes the line, so a new start does not send it again.
TEST(StopWhileBookingTest, TheAnswerIsRecordedAndTheBookingNotSentAgain) {
  testing::TcpTestServer dms([&](NetConnection& connection, const StopSignal& stop) {
    const std::string request = dms.ReadRequest(connection);
    if (request.find("<trans>7201</trans>") != std::string::npos) stop.WaitFor(2000);
    connection.SendAll(testing::ForwardReply("success", "booked") + '\0',
                       WaitLimit::After(std::chrono::seconds(10), &stop));
  });
  testing::HostedDriver host;
  testing::DmsSetup setup;
  setup.port = dms.port_text();
  host.WriteSettings(setup, "0");
  testing::WriteBytes(host.File("$$$"),
                      testing::OnDisk(CacheLine("7201", "0", "201406041110300001") + "\n"));
  ASSERT_TRUE(host.Load());
  ASSERT_EQ(host.api().execute_service(), 1);
  // The DMS has the whole query: a stop now must wait for its answer.
  ASSERT_TRUE(Eventually([&] { return dms.requests().size() >= 1; }));
  EXPECT_EQ(host.api().stop_service(), 0);
  EXPECT_FALSE(host.Logged("its waits were cut"));
  EXPECT_EQ(host.CacheState(), "");

  // A new start delivers the next booking; the first is not sent again.
  ASSERT_EQ(host.api().execute_service(), 1);
  host.Forward("7202");
  ASSERT_TRUE(Eventually([&] { return dms.requests().size() >= 2 && host.CacheState().empty(); }));
  EXPECT_EQ(host.api().stop_service(), 0);
  EXPECT_EQ(dms.requests().size(), 2u);
}

}  // namespace
}  // namespace vornlink
