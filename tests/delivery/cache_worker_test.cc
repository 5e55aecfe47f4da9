// The worker's passes in this process, against a DMS on loopback that answers each TransNo with
// the code a test gives it ("refused" by default); the Env records pauses and program starts.
#include "delivery/cache_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "base/stop_signal.h"
#include "cache/cache_file.h"
#include "dms_fixture.h"
#include "testing/case_file.h"
#include "testing/log_recorder.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using Lines = std::vector<std::string>;

// Counts the worker's rounds (each looks at the cache's reserve once, cache_reserve.h, and tries
// the delivery lock) and the rewrites of the cache file (tried, and done).
class CountingEnv : public testing::FakeEnv {
 public:
  ReadResult ReadFileBytes(const std::string& path, uint64_t offset, size_t max_bytes,
                           std::string* bytes, FileStamp* stamp, std::string* error) override {
    if (path == watched + ".reserve") ++rounds;
    return FakeEnv::ReadFileBytes(path, offset, max_bytes, bytes, stamp, error);
  }
  ReplaceResult ReplaceTextFile(const std::string& path, const std::string& text,
                                const ReplaceOptions& options, std::string* error) override {
    const ReplaceResult result = FakeEnv::ReplaceTextFile(path, text, options, error);
    if (path == watched) ++rewrites_tried, replaced += result != ReplaceResult::kFailed;
    return result;
  }
  std::atomic<int> rounds{0}, rewrites_tried{0}, replaced{0};
};

using testing::Occurrences;

class CacheWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set_module_path(dir_.File("Vornlink.dll"));
    env_.watched = dir_.File("Vornlink.$$$");
    WriteSettings(dms_.port_text());
    testing::WriteBytes(dir_.File("Vornlink.ini"), "[CacheThread]\nRetryTime=0\n");
  }
  // Points the exchanges at `port` ("1": nobody listens) of loopback.
  void WriteSettings(const std::string& port) {
    testing::DmsSetup setup;
    setup.port = port;
    testing::WriteBytes(dir_.File("Vornlink.xml"), testing::SettingsDocument(setup));
  }
  void TearDown() override { Stop(); }

  void Add(const std::string& trans_no, const std::string& status = "0") {
    TransactionFields transaction = testing::SampleTransaction(trans_no);
    transaction[1] = "123456.A";
    ASSERT_EQ(AddTransaction(transaction, status, "0", ""), 1);
  }
  void Start() {
    worker_ = std::thread([this] { RunCacheWorker(stop_); });
  }
  void Stop() {
    stop_.Set();
    if (worker_.joinable()) worker_.join();
    stop_.Clear();
  }
  // The TransNos sent, in order; "TransNo:Status" of each line on disk.
  Lines Sent() {
    Lines sent;
    for (const std::string& request : dms_.requests())
      sent.push_back(testing::Between(request, "<trans>", "</trans>"));
    return sent;
  }
  Lines Disk() {
    Lines lines;
    for (const std::string& line : testing::DiskLines(env_.watched)) {
      CacheRecord record;
      ParseCacheLine(line, &record);
      lines.push_back(record.trans_no() + ":" + record.status());
    }
    return lines;
  }
  std::string Logged() {
    for (const std::string& line : log_.Take()) logged_ += line + "\n";
    return logged_;
  }

  testing::TempDir dir_;
  CountingEnv env_;
  testing::ScopedEnvOverride use_env_{&env_};
  std::map<std::string, std::string> codes_ = {{"1", "success"}};  // set before Start
  std::atomic<int> late_answers_{0};
  testing::ScriptedDms dms_{[this](const std::string& request) {
    const std::string trans_no = testing::Between(request, "<trans>", "</trans>");
    if (trans_no == "5003") Add("5007");  // added while the pass runs
    if (trans_no == "1" && late_answers_ > 0) {
      --late_answers_;
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }
    const auto code = codes_.find(trans_no);
    return testing::ForwardReply(code == codes_.end() ? "refused" : code->second,
                                 "tab\tin\x1bthe text");
  }};
  testing::LogRecorder log_{dir_.File("kmr.log"), "+c"};
  std::string logged_;
  StopSignal stop_;
  std::thread worker_;
};

// One pass treats every due line once, in file order, whatever the outcomes (each moves or removes
// the line): none is passed over, the lines it moved to the end are left for the next pass, a line
// added meanwhile is met. Due is Status 0 or 2, or no number; a line without a proper Trid is not
// sent. A pause of 50 ms on the Env's clock follows each line; the GUI starts once a pass.
TEST_F(CacheWorkerTest, APassTreatsEachDueLineOnceInFileOrder) {
  codes_ = {{"5001", "locked"},
            {"5003", "success"},
            {"5004", "locked"},
            {"5005", "success"},
            {"5006", "locked"}};
  const char* const kLines[][2] = {{"5001", "0"}, {"a", "1"}, {"5002", "0"}, {"5003", "2"},
                                   {"5004", "0"}, {"b", "1"}, {"5005", "0"}, {"5006", "0"}};
  for (const auto& line : kLines) Add(line[0], line[1]);
  const std::string fields = ",123456.A,140307,090502,17,F4,5,K9,ATF,P-100,1.5,2.25,";
  std::ofstream(env_.watched, std::ios::binary | std::ios::app) << testing::OnDisk(
      "5008" + fields + "x,201403070905020999,0,\n5009" + fields + "0,2014030709050,0,\n");
  testing::WriteBytes(dir_.File("Vornlink.ini"), "[CacheThread]\nRetryTime=-5\n");
  Start();
  ASSERT_TRUE(testing::Eventually([&] { return Sent().size() >= 11; })) << Sent().size();
  Stop();
  const Lines sent = Sent();
  EXPECT_EQ(Lines(sent.begin(), sent.begin() + 11),
            (Lines{"5001", "5002", "5003", "5004", "5005", "5006", "5008", "5007", "5001", "5004",
                   "5006"}));
  // A pause after each line sent (none after one the stop cut short).
  const std::vector<uint32_t> slept = env_.slept();
  EXPECT_TRUE(slept.size() + 1 >= sent.size() && slept.size() <= sent.size()) << slept.size();
  EXPECT_EQ(slept, std::vector<uint32_t>(slept.size(), 50));
  EXPECT_EQ(env_.started(), Lines{"kmrgui Vornlink"});
  // The lines to retry go on moving to the end, with Status 2.
  Lines disk = Disk();
  ASSERT_EQ(disk.size(), 9u);
  std::sort(disk.begin() + 6, disk.end());
  EXPECT_EQ(disk, (Lines{"a:1", "b:1", "5009:0", "5002:1", "5008:1", "5007:1", "5001:2", "5004:2",
                         "5006:2"}));
  CacheRecord parked;
  ASSERT_EQ(ReadCacheLine(3, &parked), 1);
  // The failure line, without the control bytes of the reply (a tab, an escape).
  EXPECT_EQ(parked.message(),
            "FWT: WorkOrder[123456] LineCode[A] --> Reply: c[refused] t[tab in the text] --> "
            "FAILED --> FWT_NEEDS_ATTENTION");
  EXPECT_EQ(testing::Missing(Logged(), {"Cache RetryTime [-5] out of range -> 0 seconds",
                                        "Cache line of transaction[5009] has no valid "
                                        "Trid[2014030709050] -> not sent",
                                        "JobNo[123456.A] Trid[201403070905020999] BookingKey["}),
            "");
}

// A line delivered or parked whose removal or move a full disk refuses is marked in place: neither
// this worker nor one started later (as after a restart) sends it again, each says so once and not
// at every pass; once there is room the delivered ones go in one rewrite, and the parked one moves
// with its failure line, also where a stop and a start came between.
TEST_F(CacheWorkerTest, LinesThatCannotBeChangedAreNeverSentAgain) {
  env_.fail_replaces = true;
  codes_["3"] = "success";
  for (const char* trans_no : {"1", "2", "3"}) Add(trans_no);
  Start();
  // Three in the first pass, then two a pass (the move, the removal): five passes.
  EXPECT_TRUE(testing::Eventually([&] { return env_.rewrites_tried >= 11; }));
  EXPECT_EQ(Disk(), (Lines{"1:3", "2:1", "3:3"}));
  const std::string removal = "delivered: removal again -> FAILED t[No space left on device]";
  const auto said = testing::ReadCases(VORNLINK_TEST_DATA_DIR, "full_disk_log.txt");
  ASSERT_EQ(said.size(), 5u);
  for (const testing::TextCase& c : said) {
    EXPECT_EQ(Occurrences(Logged(), c.fields.at(1)), std::stoul(c.fields.at(0))) << c.where << "\n"
                                                                                 << Logged();
  }
  Stop();
  ReleaseCacheMutexes();
  const int tries = env_.rewrites_tried;
  Start();
  EXPECT_TRUE(testing::Eventually([&] { return env_.rewrites_tried >= tries + 6; }));
  EXPECT_EQ(Occurrences(Logged(), removal), 4u);
  env_.fail_replaces = false;
  EXPECT_TRUE(testing::Eventually([&] { return env_.replaced == 2 && Disk() == Lines{"2:1"}; }))
      << Logged();
  Stop();
  EXPECT_EQ(Sent(), (Lines{"1", "2", "3"}));
  CacheRecord parked;
  ASSERT_EQ(ReadCacheLine(0, &parked), 1);
  EXPECT_NE(parked.message().find("FWT_NEEDS_ATTENTION"), std::string::npos);
}

// Where the mark in place fails too, the line stays due on disk, yet no
// worker of the process sends it again, also after a stop and a start.
TEST_F(CacheWorkerTest, ALineNeitherChangedNorMarkedIsNotSentAgainByTheProcess) {
  env_.fail_replaces = env_.fail_overwrites = true;
  Add("1");
  for (int run = 0, rounds = 0; run < 2; ++run, rounds = env_.rounds) {
    Start();
    EXPECT_TRUE(testing::Eventually([&] { return env_.rounds >= rounds + 3; }));
    Stop();
  }
  EXPECT_EQ(Sent(), Lines{"1"});
  EXPECT_EQ(Disk(), Lines{"1:0"});
  EXPECT_EQ(Occurrences(Logged(), "the mark in place failed too (Input/output error)"), 1u);
}

// A DMS that cannot be reached keeps the lines due where they are, one try a pass and nothing
// rewritten, until a due line has waited longer than ParkUnreachableAfterHours since its dispense
// and this run has met the DMS unreachable for ten minutes (at once with 0): then a pass parks
// them, and "kmrgui" starts once. A DMS back before that gets every line.
TEST_F(CacheWorkerTest, AnUnreachableDmsKeepsTheLinesDueUntilTheyWaitedTooLong) {
  // The INI setting, and the hours since the dispense when the worker starts.
  const std::pair<const char*, int64_t> kCases[] = {
      {"ParkUnreachableAfterHours=1", 2}, {"ParkUnreachableAfterHours=0", 0}, {"", 47}};
  const std::string kept = "--> DMS UNREACHABLE --> FWT_RETRY_LATER";
  for (const auto& [setting, waited] : kCases) {
    SCOPED_TRACE(setting);
    const bool parks = setting[0] != '\0';
    testing::WriteBytes(env_.watched, "");
    env_.set_unix_time(testing::LocalUnixTime(2014, 3, 7, 9, 5, 2) + waited * 3600);
    env_.set_tick_count(0);
    env_.tick_step = 60 * 1000;  // a minute at every look
    testing::WriteBytes(dir_.File("Vornlink.ini"),
                        std::string("[CacheThread]\nRetryTime=0\n") + setting + "\n");
    WriteSettings("1");
    for (const char* trans_no : {"1", "2", "3"}) Add(trans_no);
    const int replaced = env_.replaced, rounds = env_.rounds;
    const size_t started = env_.started().size(), before = Logged().size();
    auto count = [&](const std::string& part) {
      return Occurrences(Logged().substr(before), part);
    };
    Start();
    ASSERT_TRUE(testing::Eventually([&] {
      return parks ? Disk() == Lines{"1:1", "2:1", "3:1"} : count(kept) >= 20;
    }));
    Stop();
    EXPECT_LE(count(kept), static_cast<size_t>(env_.rounds - rounds)) << "one try a pass";
    EXPECT_EQ(count(kept) > 0, waited > 0) << "parked at once only with 0";
    EXPECT_EQ(count("--> DMS UNREACHABLE --> FAILED --> FWT_NEEDS_ATTENTION"), parks ? 3u : 0u);
    EXPECT_EQ(env_.started().size() - started, parks ? 1u : 0u);
    EXPECT_EQ(env_.replaced - replaced, parks ? 3 : 0);
  }
  WriteSettings(dms_.port_text());  // the DMS is back for the lines of the last case
  codes_ = {{"1", "success"}, {"2", "success"}, {"3", "success"}};
  Start();
  EXPECT_TRUE(testing::Eventually([&] { return Disk().empty(); }));
}

// A booking whose time limit ran out once the DMS had it is kept aside with
// Status 4 and its failure line, "kmrgui" starts, and it is not sent again.
TEST_F(CacheWorkerTest, AnExchangeOfUnknownOutcomeIsNotSentAgain) {
  codes_ = {{"1", "success"}, {"2", "success"}};
  testing::WriteBytes(dir_.File("Vornlink.ini"),
                      "[CacheThread]\nRetryTime=0\n[Transport]\nTimeoutSeconds=1\n");
  Add("2");
  Add("1");
  late_answers_ = 1;  // the first query of TransNo 1 outlasts the time limit
  Start();
  EXPECT_TRUE(testing::Eventually([&] { return Disk() == Lines{"1:4"}; }));
  const int rounds = env_.rounds;
  EXPECT_TRUE(testing::Eventually([&] { return env_.rounds >= rounds + 3; }));
  Stop();
  EXPECT_EQ(Sent(), (Lines{"2", "1"}));
  CacheRecord set_aside;
  ASSERT_EQ(ReadCacheLine(0, &set_aside), 1);
  EXPECT_NE(set_aside.message().find("it may have booked it) --> FAILED"), std::string::npos);
  EXPECT_EQ(env_.started(), Lines{"kmrgui Vornlink"});
}

// Without the module's path there is no cache file: the worker says so once and ends by itself.
TEST_F(CacheWorkerTest, WithoutTheModulePathItSaysWhyOnceAndEnds) {
  env_.set_module_path("");
  std::atomic<bool> ended{false};
  worker_ = std::thread([&] { RunCacheWorker(stop_), ended = true; });
  EXPECT_TRUE(testing::Eventually([&] { return ended.load(); }));
  EXPECT_EQ(Occurrences(Logged(),
                        "Cache file unknown: the module's path is unknown -> nothing is "
                        "delivered"),
            1u);
}

// The RetryTime reader `vornlink check` shares with the worker holds within a day, only reads.
TEST_F(CacheWorkerTest, RetryTimeReaderHoldsWithinADayAndLogsNothing) {
  for (auto [value, seconds, held] :
       {std::tuple{"RetryTime=7x", 7, false}, {"RetryTime=90000", 86400, true}}) {
    testing::WriteBytes(dir_.File("Vornlink.ini"), std::string("[CacheThread]\n") + value + "\n");
    const RetrySetting setting = ReadRetrySetting();
    EXPECT_EQ(setting.seconds, seconds) << value;
    EXPECT_EQ(setting.held, held) << value;
  }
  EXPECT_EQ(Logged(), "");
}

#ifndef _WIN32
// A delivery lock that cannot be had (a folder, then a link in its place) is no other worker: its
// reason is logged once, and again when it changes, and delivery starts once the lock can be had.
TEST_F(CacheWorkerTest, ADeliveryLockThatCannotBeHadIsReportedWithItsReason) {
  const std::string lock = DeliveryLockFilePath(env_.watched);
  std::filesystem::create_directory(lock);
  Add("1");
  Start();
  EXPECT_TRUE(testing::Eventually([&] { return env_.rounds >= 3; }));
  std::filesystem::remove(lock);
  std::filesystem::create_symlink(dir_.File("elsewhere"), lock);
  const int rounds = env_.rounds;
  EXPECT_TRUE(testing::Eventually([&] { return env_.rounds >= rounds + 3; }));
  EXPECT_EQ(Sent(), Lines{});
  std::filesystem::remove(lock);
  EXPECT_TRUE(testing::Eventually([&] { return Disk().empty(); }));
  const std::string cannot = "] delivery lock cannot be taken t[" + lock + ": ";
  EXPECT_EQ(Occurrences(Logged(), cannot), 2u) << Logged();
  EXPECT_EQ(Occurrences(Logged(), cannot + "Is a directory] -> nothing is delivered until it can"),
            1u);
  EXPECT_EQ(Occurrences(Logged(), "delivery lock taken -> delivering again"), 1u);
  EXPECT_EQ(Occurrences(Logged(), "is delivered by another worker"), 0u);
}
#endif

}  // namespace
}  // namespace vornlink
