// Delivery end to end through the real exports, to a scripted DMS on loopback: the booking key, job
// validation both ways, exchanges on several threads. (The worker's passes: CacheWorkerTest.)
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cache/cache_record.h"
#include "exchange/booking_key.h"
#include "hosted_driver.h"
#include "testing/case_file.h"

namespace vornlink {
namespace {

using testing::Eventually;
using testing::Lines;

// The TransNo of a forward query (<trans>N</trans>), or "" for a validation.
std::string TransNoOf(const std::string& request) {
  return testing::Between(request, "<trans>", "</trans>");
}

class DeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setup_.port = dms_.port_text();
    host_.WriteSettings(setup_, "0");
    ASSERT_TRUE(host_.Load());
  }

  // How often the DMS was sent TransNo `trans_no`.
  long Sent(const std::string& trans_no) {
    const Lines requests = dms_.requests();
    return std::count_if(requests.begin(), requests.end(),
                         [&](const std::string& r) { return TransNoOf(r) == trans_no; });
  }

  std::function<void()> before_answer_ = [] {};
  std::string validation_code_ = "0";
  testing::ScriptedDms dms_{[this](const std::string& request) {
    before_answer_();
    if (TransNoOf(request).empty())
      return testing::ValidationReply("123456", "A", validation_code_);
    return testing::ForwardReply(TransNoOf(request) == "41" ? "locked" : "success", "dms text");
  }};
  testing::DmsSetup setup_;
  testing::HostedDriver host_;
  const DriverApi& api_ = host_.api();
};

// The booking key (%@TK) is that of the transaction's cache line through retries, moves to the end
// (each a new Trid) and a new load of the module; another transaction has another. The keys' values
// are pinned: a DMS that drops repeats must know a line in flight across an upgrade of the driver.
TEST_F(DeliveryTest, TheBookingKeyStaysWithItsTransaction) {
  setup_.forward_query = "<insert><key>%@TK</key><trans>%@01</trans></insert>";
  host_.WriteSettings(setup_, "0");
  host_.Forward("41");
  CacheRecord line;
  ParseCacheLine(host_.CacheLines().at(0), &line);
  host_.Forward("42");
  // A stop without a running service must not end the next start's worker.
  ASSERT_EQ(api_.stop_service(), 0);
  for (long sent_41 : {2, 4}) {
    ASSERT_EQ(api_.execute_service(), 1);
    ASSERT_TRUE(Eventually([&] { return Sent("41") >= sent_41; }));
    host_.Unload();
    ASSERT_TRUE(host_.Load());
  }
  std::map<std::string, std::set<std::string>> keys;  // TransNo -> keys sent
  for (const std::string& request : dms_.requests())
    keys[TransNoOf(request)].insert(testing::Between(request, "<key>", "</key>"));
  EXPECT_EQ(BookingKey(line.transaction()), "60a9f648142f6f29dfd4dcf66b39d744");
  EXPECT_EQ(keys["41"], std::set<std::string>{"60a9f648142f6f29dfd4dcf66b39d744"});
  EXPECT_EQ(keys["42"], std::set<std::string>{"840ad4f351e083bdeb38a32cd1373aca"});
}

std::mutex g_answers_mutex;
std::vector<std::pair<int32_t, std::string>> g_answers;
std::thread::id g_answer_thread;
void VORNLINK_CDECL RecordAnswer(int32_t result, const char* job_no) {
  std::lock_guard<std::mutex> lock(g_answers_mutex);
  g_answers.emplace_back(result, job_no);
  g_answer_thread = std::this_thread::get_id();
}
// The one answer the callback got, from a thread of the driver.
std::pair<int32_t, std::string> TakeAnswer() {
  EXPECT_TRUE(Eventually([&] {
    std::lock_guard<std::mutex> lock(g_answers_mutex);
    return !g_answers.empty();
  }));
  std::lock_guard<std::mutex> lock(g_answers_mutex);
  EXPECT_EQ(g_answers.size(), 1u);
  EXPECT_NE(g_answer_thread, std::this_thread::get_id());
  auto answer = g_answers.empty() ? std::make_pair(-1, std::string()) : g_answers[0];
  g_answers.clear();
  return answer;
}

// Validation directly, through the callback, and as the gate of a booking: the gate refuses what
// the DMS says is not valid, keeps what it could not judge; a cleared callback is not called.
TEST_F(DeliveryTest, ValidationDirectThroughTheCallbackAndAsTheGate) {
  const std::string gate = "[ForwardTransaction]\nValidation=1\n";
  host_.WriteSettings(setup_, "600", gate);
  api_.set_callback(&RecordAnswer);  // forgotten by the start
  ASSERT_EQ(api_.execute_service(), 1);
  EXPECT_EQ(api_.is_jobno_valid("123456.A"), 1);
  host_.Forward("1");
  validation_code_ = "2";
  EXPECT_EQ(api_.is_jobno_valid("123456.A"), 0);
  host_.Forward("2");
  validation_code_ = "0";

  api_.set_callback(&RecordAnswer);
  std::string job = "123456.A";
  EXPECT_EQ(api_.is_jobno_valid(job.c_str()), 0);
  job = "changed by the host";
  EXPECT_EQ(TakeAnswer(), std::make_pair(1, std::string("123456.A")));

  setup_.port = "1";  // nobody answers
  host_.WriteSettings(setup_, "600", gate);
  host_.Forward("3");
  host_.Forward("4", "12.A");  // that no DMS could know: refused, the DMS not asked
  EXPECT_EQ(api_.is_jobno_valid("654321.B"), 0);
  EXPECT_EQ(TakeAnswer(), std::make_pair(0, std::string("654321.B")));
  // A WoSplit that gives no width (missing, or zeros) is a fault of the settings, not of the job
  // number: the booking is cached, not refused.
  for (const char* wo_split : {"", "00"}) {
    setup_.wo_split = wo_split;
    host_.WriteSettings(setup_, "600", gate);
    host_.Forward("5");
  }
  setup_.wo_split = "6";
  EXPECT_EQ(host_.CacheState(), "1:0 3:0 5:0 5:0 ");
  EXPECT_EQ(testing::Missing(host_.Log(),
                             testing::ReadTexts(VORNLINK_TEST_DATA_DIR, "validation_gate_log.txt")),
            "");

  // Cleared while the DMS is asked: no call, also not later.
  setup_.port = dms_.port_text();
  host_.WriteSettings(setup_, "600", gate);
  std::atomic<bool> asked{false};
  std::promise<void> cleared;
  before_answer_ = [&, until = cleared.get_future().share()] {
    asked = true;
    until.wait_for(std::chrono::seconds(30));
  };
  const size_t logged = host_.Log().size();
  EXPECT_EQ(api_.is_jobno_valid("123456.A"), 0);
  ASSERT_TRUE(Eventually([&] { return asked.load(); }));
  api_.set_callback(nullptr);
  cleared.set_value();
  // The exchange ends with its answer, not cut short by the stop.
  ASSERT_TRUE(
      Eventually([&] { return host_.Log().find("--> VALID", logged) != std::string::npos; }));
  EXPECT_EQ(api_.stop_service(), 0);  // waits for the validation thread
  std::lock_guard<std::mutex> lock(g_answers_mutex);
  EXPECT_TRUE(g_answers.empty());
}

// Three validations on three threads while the worker delivers over HTTPS (the server echoes each
// query): each request and log line has its own job; only validations send Basic credentials.
TEST_F(DeliveryTest, ExchangesOnSeveralThreadsKeepTheirOwnValues) {
  const testing::HttpTestServers& servers = testing::TestServers();
  ASSERT_TRUE(servers.ok) << servers.error;
  const std::string tag = testing::UniqueTag();
  setup_.header = "X-Job: DynLength";
  setup_.forward_query = testing::ForwardReply("success", "%@01");
  setup_.validation_query = testing::ValidationReply("%@01", "%@11", "0");
  setup_.transport = "HTTPS";
  setup_.url = servers.Url("https", "/echo?" + tag);
  // Linux trusts the test authority by this setting, Windows by its own Wine prefix's store.
  host_.WriteSettings(setup_, "0", "[HTTPS]\nCAFile=" + servers.File("ca") + "\n");
  for (int i = 0; i < 20; ++i) host_.Forward(std::to_string(i));
  ASSERT_EQ(api_.execute_service(), 1);
  std::vector<std::thread> threads;
  std::atomic<int> valid{0};
  for (const char* job : {"111111.A", "222222.BB", "333333.C"}) {
    threads.emplace_back([&, job] {
      for (int i = 0; i < 5; ++i) valid += api_.is_jobno_valid(job);
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_TRUE(Eventually([&] { return host_.CacheLines().empty(); }));
  api_.stop_service();
  EXPECT_EQ(valid.load(), 15);
  int validations = 0;
  for (const std::string& request : servers.RecordedWith(tag)) {
    const bool validation = request.find("536572766963655361") != std::string::npos;  // "ServiceSa"
    EXPECT_EQ(request.find("[\"Authorization\", \"Basic ") != std::string::npos, validation)
        << request;
    validations += validation ? 1 : 0;
  }
  EXPECT_EQ(validations, 15);
  const std::string valid_line = " --> Reply: c[0] t[Ok] --> VALID";
  EXPECT_EQ(testing::Missing(host_.Log(), {"IJV: WorkOrder[111111] LineCode[A]" + valid_line,
                                           "IJV: WorkOrder[222222] LineCode[BB]" + valid_line,
                                           "IJV: WorkOrder[333333] LineCode[C]" + valid_line}),
            "");
  EXPECT_FALSE(host_.Logged("IJV: WorkOrder[111111] LineCode[BB]"));
}

}  // namespace
}  // namespace vornlink
