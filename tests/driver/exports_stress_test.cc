// Eight host threads on the exports at once: first each thread on one kind of call (so that no lock
// of the log or the cache hides a race between calls of one kind), then all kinds mixed. Run under
// ThreadSanitizer and AddressSanitizer by the sanitizer stage of the test command.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cache/cache_record.h"
#include "hosted_driver.h"

namespace vornlink {
namespace {

// Reads what it is given, for the sanitizers to see.
void VORNLINK_CDECL TakeAnswer(int32_t, const char* job_no) { (void)std::string(job_no); }

TEST(ExportsStressTest, EightThreadsEachKindThenMixed) {
  testing::HostedDriver host;
  const DriverApi& api = host.api();
  // A short log, so that it is cut again and again meanwhile.
  testing::WriteBytes(host.File("xml"), "<KMR>\n<Log>\n<FileName>" + host.dir().File("drv.log") +
                                            "</FileName>\n<MaxLines>300</MaxLines>\n"
                                            "<Flags>+ci</Flags>\n</Log>\n</KMR>\n");
  ASSERT_TRUE(host.Load());
  std::atomic<int> forwarded{0}, bad_answers{0};
  // One call of kind `kind` (0 to 7) by thread `thread`.
  auto call = [&](int kind, int thread, int i) {
    if (kind == 0 || kind == 7) {
      if (std::string(api.get_service_name()) != "Plexa KMR v[1.00]") bad_answers += 1;
    } else if (kind == 1) {
      if (api.get_api_version() != 102) bad_answers += 1;
    } else if (kind == 2) {
      const std::string trans_no = std::to_string(thread * 100000 + i);
      api.forward_transaction2(trans_no.c_str(), "123456.A", "140604", "111030", "7", "F04", "12",
                               "4", "Oil", "PN", "1.5", "0");
      forwarded += 1;
    } else if (kind == 3) {
      api.forward_transaction("0", "123456.A", "140604", "111030", "7", "F04", "12", "4", "Oil",
                              "0", "0");
    } else if (kind == 4 || kind == 5) {
      if (kind == 5) api.set_callback(i % 2 == 0 ? &TakeAnswer : nullptr);
      api.is_jobno_valid("123456.A");
    } else if (i % 25 == 0) {
      api.execute_service();
      api.stop_service();
    }
  };
  auto run_threads = [&](const std::function<int(int thread, int i)>& kind_of) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 150; ++i) call(kind_of(t, i), t, i);
      });
    }
    for (std::thread& thread : threads) thread.join();
  };
  run_threads([](int thread, int) { return thread; });
  run_threads([](int thread, int i) { return (thread * 7 + i * 13) % 8; });
  api.set_callback(nullptr);
  api.stop_service();

  EXPECT_EQ(bad_answers.load(), 0);
  // Every forwarded transaction is one whole line with its own Trid.
  const std::vector<std::string> lines = host.CacheLines();
  EXPECT_EQ(lines.size(), static_cast<size_t>(forwarded.load()));
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
