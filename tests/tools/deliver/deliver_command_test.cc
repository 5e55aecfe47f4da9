// `vornlink deliver` on a module as a host has it, against a DMS that books what it gets.
#include "vornlink/deliver/deliver_command.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "command_test.h"
#include "hosted_driver.h"
#include "platform/process.h"
#include "platform/terminal.h"
#include "vornlink/base/exit_codes.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vornlink {
namespace {

using testing::Eventually;

class DeliverTest : public testing::CommandTest {
 protected:
  void SetUp() override {
    testing::DmsSetup setup;
    setup.port = dms_.port_text();
    host_.WriteSettings(setup, "3600");
  }

  void Due(int first, int last) {  // due lines of these TransNos
    std::string lines;
    for (int n = first; n <= last; ++n) {
      lines += testing::CacheLine(std::to_string(n), "0", std::to_string(201406041111000000 + n));
      lines += "\n";
    }
    testing::WriteBytes(host_.File("$$$"), testing::OnDisk(lines));
  }
  int Deliver(const std::vector<std::string>& args) {  // in this process
    Driver driver;
    driver.api = host_.api();
    driver.module_path = host_.module_path();
    std::ostringstream out;
    const int status = RunDeliverCommand(driver, args, out, out);
    out_ = out.str();
    return status;
  }
  std::unique_ptr<testing::ChildProcess> Program(std::vector<std::string> args,
                                                 const std::string& output) {
    args.insert(args.begin(), {"-m", host_.module_path()});
    return testing::ChildProcess::Start(VORNLINK_PROGRAM_FILE, args, output);
  }

  testing::HostedDriver host_;
  StopSignal released_;  // a held answer goes out once it is set
  bool hold_ = false;
  testing::TcpTestServer dms_{[this](NetConnection& connection, const StopSignal& stop) {
    dms_.ReadRequest(connection);
    while (hold_ && !released_.WaitFor(100) && !stop.IsSet()) {
    }
    connection.SendAll(testing::ForwardReply("success", "booked\r\nfor you") + '\0',
                       WaitLimit::After(std::chrono::seconds(10), &stop));
  }};
};

// A host's service holds the delivery lock from its start to its stop, also while its worker
// waits for a pass: deliver is kept out all the while.
TEST_F(DeliverTest, AHostsRunningServiceKeepsItOut) {
  Due(100, 100);
  testing::WriteBytes(host_.dir().File("session.txt"), "start\nsleep 120000\n");
  auto host = Program({"session", host_.dir().File("session.txt")}, host_.dir().File("host.txt"));
  ASSERT_TRUE(Eventually([&] { return host_.Logged("Cache RetryTime [3600] seconds"); }));
  EXPECT_TRUE(Eventually([&] { return host_.Logged("delivery lock taken -> this worker"); }));
  ASSERT_TRUE(host_.Load());
  EXPECT_TRUE(Gave(Deliver({"--for", "5"}), kExitOtherWorker,
                   {"NOT STARTED: another worker delivers this cache"}));
}

// After cuts of a log with dumps (a reply's CR LF) that held old entries of workers that found the
// lock held (one of this very process), deliver delivers everything.
TEST_F(DeliverTest, OldLockEntriesOfACutLogDoNotStopIt) {
  Due(1, 30);
  testing::WriteBytes(host_.File("ini"), "[CacheThread]\nRetryTime=1\n");
  const std::string head = "2000-01-01 00:00:00-.-ForwardTransaction: Cache[" + host_.File("$$$");
  std::string old;
  for (int i = 0; i < 2000; ++i) {
    old += i < 1960 ? "2000-01-01 00:00:00-.-old\n"
                    : head + "] Process[" + std::to_string(CurrentProcessId()) + "] delivery " +
                          "lock held by another worker -> this worker waits\n" + head +
                          "] is delivered by another worker -> this one waits\n";
  }
  testing::WriteBytes(host_.dir().File("drv.log"), testing::OnDisk(old));
  std::string xml = testing::ReadBytes(host_.File("xml"));
  testing::WriteBytes(host_.File("xml"), xml.replace(xml.find("100000</MaxLines>"), 6, "2000"));
  ASSERT_TRUE(host_.Load());
  EXPECT_TRUE(Gave(Deliver({"--for", "60"}), kExitOk, {"30 delivered, 0 retry later, 0 parked\n"}));
  EXPECT_EQ(dms_.requests().size(), 30u);
}

#ifndef _WIN32
// SIGHUP (a terminal that closes), and Ctrl+C after the output (a pipe) closed, while the DMS
// holds its answer to the first pass (at once, whatever the RetryTime): deliver waits for it and
// records it, so that a second run books nothing.
TEST_F(DeliverTest, AClosingTerminalOrPipeLetsTheExchangeInHandEnd) {
  hold_ = true;
  for (const auto& [signal, close_output] : {std::pair{SIGHUP, false}, {SIGINT, true}}) {
    SCOPED_TRACE(signal);
    Due(300 + signal, 300 + signal);
    testing::WriteBytes(host_.dir().File("drv.log"), "");
    const size_t booked = dms_.requests().size();
    const std::string fifo = host_.dir().File("out" + std::to_string(signal));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    released_.Clear();
    auto deliver = Program({"deliver"}, fifo);
    ASSERT_TRUE(Eventually([&] { return dms_.requests().size() > booked; }));
    if (close_output) close(reader);
    deliver->Signal(signal);
    EXPECT_TRUE(
        Eventually([&] { return host_.Logged("StopService: the driver's work is asked"); }));
    released_.Set();
    EXPECT_EQ(deliver->Wait(), 0);
    if (!close_output) close(reader);
    EXPECT_EQ(Program({"deliver"}, host_.dir().File("again.txt"))->Wait(), 0);
    EXPECT_EQ(dms_.requests().size(), booked + 1);
    EXPECT_EQ(host_.CacheState(), "");
  }
}
#else
// A console that closes leaves the program seconds: the stop cuts the exchange whose answer is
// late, marks its line of unknown outcome and says so, before the system ends the process.
TEST_F(DeliverTest, AClosingConsoleStopsWithinTheTimeWindowsLeaves) {
  hold_ = true;
  Due(400, 400);
  ASSERT_TRUE(host_.Load());
  std::thread deliver([this] { Deliver({}); });
  ASSERT_TRUE(Eventually([&] { return dms_.requests().size() == 1; }));
  EXPECT_TRUE(DeliverEndRequestForTesting(EndRequest::kClose));
  EXPECT_TRUE(host_.Logged("cut by the stop after its query went out")) << host_.Log();
  EXPECT_TRUE(host_.Logged("marked outcome unknown in place (Status 4)")) << host_.Log();
  released_.Set();
  deliver.join();
  EXPECT_TRUE(Says("the console closes")) << out_;
}
#endif

}  // namespace
}  // namespace vornlink
