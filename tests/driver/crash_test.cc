// Hosts killed at random moments while they forward and deliver: after a last start drains the
// cache, every transaction whose forward returned has reached the DMS, at most one twice per kill
// (between answer and removal), and the DMS, which drops repeats of a booking key, has booked each
// once. On a small disk of its own (Linux, as root), full every other ten kills, the reserve's room
// takes the transactions (none waits in a host's memory) and a booked line whose removal is refused
// is marked delivered in place, none sent again after its mark. VORNLINK_CRASH_KILLS: kills
// (default 200; 25 on Windows); VORNLINK_CRASH_SEED: the seed of the kill moments (printed with the
// result, so that a failure can be replayed).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "base/text_lines.h"
#include "cache/cache_record.h"
#include "emulated_dms/dms_repeats.h"
#include "hosted_driver.h"
#include "testing/child_process.h"

#ifdef __linux__
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace vornlink {
namespace {

using testing::Eventually;

#ifdef _WIN32
constexpr int kDefaultKills = 25;
#else
constexpr int kDefaultKills = 200;
#endif
constexpr int kForwardsPerHost = 3;

// A tmpfs of its own (Linux, as root) that a ballast file fills when asked: a real full disk.
class SmallDisk {
 public:
#ifdef __linux__
  SmallDisk() : mounted_(mount("tmpfs", path().c_str(), "tmpfs", 0, "size=64m") == 0) {}
  ~SmallDisk() {
    if (mounted_) umount2(path().c_str(), MNT_DETACH);
  }
  void SetFull(bool full) {
    unlink(folder_.File("ballast").c_str());
    const int fd = full ? open(folder_.File("ballast").c_str(), O_WRONLY | O_CREAT, 0600) : -1;
    static const char kZeros[4096] = {};
    for (size_t piece = sizeof kZeros; fd >= 0 && piece > 0; piece /= 8) {
      while (write(fd, kZeros, piece) == static_cast<ssize_t>(piece)) {
      }
    }
    if (fd >= 0) close(fd);
  }
#else
  void SetFull(bool) {}
#endif
  bool mounted() const { return mounted_; }
  const std::string& path() const { return folder_.path(); }

 private:
  testing::TempDir folder_;
  bool mounted_ = false;
};

TEST(CrashTest, KilledHostsLoseNothingAndBookEachOnceByTheKey) {
  testing::ChildProcess::HideGuiProgramFromChildren();
  std::mutex mutex;
  std::map<std::string, int> received, booked;  // TransNo -> times
  DmsRepeatMemory repeats;
  const std::string reply = testing::ForwardReply("success", "ok");
  testing::ScriptedDms dms([&](const std::string& request) {
    const std::string trans_no = testing::Between(request, "<trans>", "</trans>");
    if (trans_no.empty()) return std::string();  // a host killed while it sent
    std::lock_guard<std::mutex> lock(mutex);
    ++received[trans_no];
    const std::string key = DmsRequestKey(request, "<key>");
    if (const DmsRepeatMemory::FirstAnswer* first = repeats.DropRepeat(key)) return *first->reply;
    ++booked[trans_no];
    repeats.Remember(key, 0, "success", &reply);
    return reply;
  });
  SmallDisk disk;
  testing::HostedDriver host(disk.mounted() ? disk.path() : std::string());
  testing::DmsSetup setup;
  setup.port = dms.port_text();
  setup.forward_query = "<insert><key>%@TK</key><trans>%@01</trans></insert>";
  host.WriteSettings(setup, "0");
  // The log, the session and each host's output lie where there is room.
  testing::TempDir outside;
  setup.log_file = outside.File("drv.log");
  testing::WriteBytes(host.File("xml"), testing::SettingsDocument(setup));

  // A host's session: start, forward, let the worker deliver a while. Each host has an output file
  // of its own: a killed host's may still be open for a moment after its end (Wine).
  const std::string session_file = outside.File("session.txt");
  std::string output;
  auto start_host = [&](int number, int sleep_ms) {
    output = outside.File("out" + std::to_string(number) + ".txt");
    std::string session = "start\n";
    for (int i = 0; i < kForwardsPerHost; ++i) {
      session += "forward " + std::to_string(number * 100 + i) +
                 " 123456.A 240607 081503 17 F04 12 3 Oil OIL-1 1.5 0\n";
    }
    testing::WriteBytes(session_file, session + "sleep " + std::to_string(sleep_ms) + "\nstop\n");
    return testing::ChildProcess::Start(
        VORNLINK_PROGRAM_FILE, {"-m", host.module_path(), "session", session_file}, output);
  };
  // How long one host lives here, start to stop, with a short delivery.
  const auto started = std::chrono::steady_clock::now();
  auto measured = start_host(9999, 200);
  ASSERT_TRUE(measured != nullptr && measured->Wait() == 0);
  const int life_ms = static_cast<int>(testing::MillisecondsSince(started));

  const unsigned seed = static_cast<unsigned>(
      testing::EnvNumber("VORNLINK_CRASH_SEED", static_cast<int>(std::random_device{}() >> 1)));
  SCOPED_TRACE("VORNLINK_CRASH_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  std::set<std::string> acknowledged;
  // Each line seen marked delivered, and how often the DMS had it then.
  std::map<std::string, int> marked;
  const int kills = testing::EnvNumber("VORNLINK_CRASH_KILLS", kDefaultKills);
  for (int kill = 0; kill < kills; ++kill) {
    if (disk.mounted() && kill % 10 == 0) disk.SetFull(kill % 20 != 0);
    auto child = start_host(kill, 60000);
    ASSERT_NE(child, nullptr);
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::uniform_int_distribution<int>(0, life_ms)(random)));
    child->Kill();
    child->Wait();
    // Each answer "handed 1 transaction" is out once its forward returned.
    const size_t handed = testing::Occurrences(testing::ReadBytes(output), "handed 1 transaction");
    for (size_t i = 0; i < handed; ++i) acknowledged.insert(std::to_string(kill * 100 + i));
    for (const std::string& line : host.CacheLines()) {
      CacheRecord record;
      ParseCacheLine(line, &record);
      std::lock_guard<std::mutex> lock(mutex);
      if (record.status() == std::string(1, kDeliveredStatus))
        marked.emplace(record.trans_no(), received[record.trans_no()]);
    }
  }
  disk.SetFull(false);

  // Whatever the kills cut short, the file reads back whole.
  for (const std::string& line : host.CacheLines())
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 15) << line;
  // A last host drains the cache.
  ASSERT_TRUE(host.Load());
  ASSERT_EQ(host.api().execute_service(), 1);
  ASSERT_TRUE(Eventually([&] { return host.CacheLines().empty(); }, std::chrono::seconds(120)))
      << host.CacheState();
  host.api().stop_service();

  std::lock_guard<std::mutex> lock(mutex);
  int lost = 0, doubled = 0, booked_twice = 0, sent_after_mark = 0;
  for (const std::string& trans_no : acknowledged) lost += booked.count(trans_no) == 0 ? 1 : 0;
  for (const auto& [trans_no, times] : received) doubled += times - 1;
  for (const auto& [trans_no, times] : booked) booked_twice += times - 1;
  for (const auto& [trans_no, times] : marked) sent_after_mark += received[trans_no] - times;
  std::printf(
      "kills %d (within %d ms of a start): acknowledged %zu, delivered %zu, lost %d, sent twice "
      "%d, repeats dropped %d, booked twice %d; %s: marked delivered %zu, sent after their mark "
      "%d; seed %u\n",
      kills, life_ms, acknowledged.size(), received.size(), lost, doubled, repeats.dropped(),
      booked_twice, disk.mounted() ? "a full disk now and then" : "no full disk", marked.size(),
      sent_after_mark, seed);
  EXPECT_EQ(lost, 0);
  EXPECT_LE(doubled, kills);
  EXPECT_EQ(repeats.dropped(), doubled);
  EXPECT_EQ(booked_twice, 0);
  EXPECT_EQ(sent_after_mark, 0);
  EXPECT_GT(acknowledged.size(), 0u);
}

}  // namespace
}  // namespace vornlink
