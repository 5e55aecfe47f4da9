// A host whose cache lies on a disk that is full: the lines the DMS booked
// (or refused) cannot be removed (or moved), and no host started later sends
// them again; once there is room, they go.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "hosted_driver.h"
#include "small_disk.h"
#include "testing/child_process.h"

namespace vornlink {
namespace {

using testing::Eventually;

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(FullDiskTest, LinesThatCannotBeRemovedAreNotSentAgainByTheNextHost) {
  testing::SmallDisk disk(size_t{32} << 20);
  if (!disk.mounted()) GTEST_SKIP() << disk.error();
  std::mutex mutex;
  std::map<std::string, int> received;  // TransNo -> times
  testing::ScriptedDms dms([&](const std::string& request) {
    const std::string trans_no = testing::Between(request, "<trans>", "</trans>");
    std::lock_guard<std::mutex> lock(mutex);
    ++received[trans_no];
    return testing::ForwardReply(trans_no == "9" ? "refused" : "success", "ok");
  });
  auto sent = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    std::string text;
    for (const auto& [trans_no, times] : received)
      text += trans_no + "x" + std::to_string(times) + " ";
    return text;
  };
  // The log and the hosts' output lie where there is room.
  testing::TempDir outside;
  const std::string log = outside.File("drv.log");
  testing::HostedDriver host(disk.path());
  testing::DmsSetup setup;
  setup.port = dms.port_text();
  host.WriteSettings(setup, "0");
  setup.log_file = log;
  testing::WriteBytes(host.File("xml"), testing::SettingsDocument(setup));
  ASSERT_TRUE(host.Load());
  for (const char* trans_no : {"1", "2", "3", "4", "5", "9"}) host.Forward(trans_no);

  disk.Fill();
  ASSERT_EQ(host.api().execute_service(), 1);
  const std::string marked = "1:3 2:3 3:3 4:3 5:3 9:1 ";
  ASSERT_TRUE(Eventually([&] { return host.CacheState() == marked; })) << host.CacheState();
  host.Unload();
  const std::string delivered_once = "1x1 2x1 3x1 4x1 5x1 9x1 ";
  EXPECT_EQ(sent(), delivered_once);

  // Other host processes: one on the disk still full, one after it was freed.
  const std::string session = outside.File("session.txt");
  testing::WriteBytes(session, "start\nsleep 60000\nstop\n");
  auto run_host_until = [&](const std::function<bool()>& done) {
    auto child = testing::ChildProcess::Start(VORNLINK_PROGRAM_FILE,
                                              {"-m", host.module_path(), "session", session},
                                              outside.File("out.txt"));
    ASSERT_NE(child, nullptr);
    EXPECT_TRUE(Eventually(done)) << host.CacheState() << testing::ReadBytes(log);
    child->Kill();
    child->Wait();
  };
  const size_t failed_before = Count(testing::ReadBytes(log), "delivered: removal again -> FAILED");
  run_host_until([&] {
    return Count(testing::ReadBytes(log), "delivered: removal again -> FAILED") >=
           failed_before + 10;
  });
  EXPECT_EQ(host.CacheState(), marked);
  disk.Free();
  run_host_until([&] { return host.CacheState() == "9:1 "; });
  EXPECT_EQ(sent(), delivered_once);
}

}  // namespace
}  // namespace vornlink
