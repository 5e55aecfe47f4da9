// Eight host threads on the exports at once: first each thread on one kind
// of call (so that no lock of the log or the cache hides a race between
// calls of one kind), then all kinds mixed. Run under ThreadSanitizer and
// AddressSanitizer by the sanitizer stage of the test command.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cache/cache_record.h"
#include "hosted_driver.h"

namespace vornlink {
namespace {

constexpr int kThreads = 8;
constexpr int kCallsEach = 150;

std::atomic<int> g_callbacks{0};
void VORNLINK_CDECL CountAnswer(int32_t, const char* job_no) {
  if (std::string(job_no) == "123456.A") ++g_callbacks;
}

class ExportsStressTest : public ::testing::Test {
 protected:
  // A short log, so that it is cut again and again meanwhile.
  void SetUp() override {
    testing::WriteBytes(host_.File("xml"), "<KMR>\n<Log>\n<FileName>" +
                                               host_.dir().File("drv.log") +
                                               "</FileName>\n<MaxLines>300</MaxLines>\n"
                                               "<Flags>+ci</Flags>\n</Log>\n</KMR>\n");
    ASSERT_TRUE(host_.Load());
  }

  // One call of kind `kind` (0 to 7) by thread `thread`.
  void Call(int kind, int thread, int i) {
    switch (kind) {
      case 0:
      case 7: {
        const char* name = api_.get_service_name();
        names_seen_.fetch_add(1);
        if (std::string(name) != "Plexa KMR v[1.00]") bad_names_.fetch_add(1);
        break;
      }
      case 1:
        if (api_.get_api_version() != 102) bad_names_.fetch_add(1);
        break;
      case 2: {
        std::string trans_no = std::to_string(thread * 100000 + i);
        api_.forward_transaction2(trans_no.c_str(), "123456.A", "140604", "111030", "7", "F04",
                                  "12", "4", "Oil", "PN", "1.5", "0");
        forwarded_.fetch_add(1);
        break;
      }
      case 3:
        api_.forward_transaction("0", "123456.A", "140604", "111030", "7", "F04", "12", "4", "Oil",
                                 "0", "0");
        break;
      case 4:
        api_.is_jobno_valid("123456.A");
        break;
      case 5:
        api_.set_callback(i % 2 == 0 ? &CountAnswer : nullptr);
        api_.is_jobno_valid("123456.A");
        break;
      case 6:
        if (i % 25 == 0) {
          api_.execute_service();
          api_.stop_service();
        }
        break;
    }
  }

  void RunThreads(const std::function<int(int thread, int i)>& kind_of) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kCallsEach; ++i) Call(kind_of(t, i), t, i);
      });
    }
    for (std::thread& thread : threads) thread.join();
  }

  testing::HostedDriver host_;
  const DriverApi& api_ = host_.api();
  std::atomic<int> forwarded_{0};
  std::atomic<int> names_seen_{0};
  std::atomic<int> bad_names_{0};
};

TEST_F(ExportsStressTest, EightThreadsEachKindThenMixed) {
  RunThreads([](int thread, int) { return thread; });
  RunThreads([](int thread, int i) { return static_cast<int>((thread * 7 + i * 13) % 8); });
  api_.set_callback(nullptr);
  api_.stop_service();

  EXPECT_EQ(bad_names_.load(), 0);
  EXPECT_GT(names_seen_.load(), 0);
  // Every forwarded transaction is one whole line with its own Trid.
  const std::vector<std::string> lines = host_.CacheLines();
  EXPECT_EQ(lines.size(), static_cast<size_t>(forwarded_.load()));
  std::set<std::string> trids;
  for (const std::string& line : lines) {
    ASSERT_EQ(std::count(line.begin(), line.end(), ','), 15) << line;
    CacheRecord record;
    ParseCacheLine(line, &record);
    trids.insert(record.trid());
  }
  EXPECT_EQ(trids.size(), lines.size());
}

}  // namespace
}  // namespace vornlink
