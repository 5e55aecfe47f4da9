#include "cache/cache_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cache/trid.h"
#include "cache_test_support.h"
#include "log/log.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using testing::DiskLines;
using testing::LogEntries;
using testing::OnDisk;
using testing::ReadBytes;
using testing::SampleTransaction;
using testing::WriteBytes;

// Counts the file writes and fails the file calls a test asks to fail.
class CacheEnv : public testing::FakeEnv {
 public:
  ReadResult ReadTextFile(const std::string& path, std::string* contents) override {
    if (fail_read) return ReadResult::kError;
    return FakeEnv::ReadTextFile(path, contents);
  }
  bool AppendTextFile(const std::string& path, const std::string& text, bool durable) override {
    if (path == cache_path) {
      ++appends;
      if (!durable) ++volatile_appends;
      if (fail_write) return false;
    }
    return FakeEnv::AppendTextFile(path, text, durable);
  }
  bool ReplaceTextFile(const std::string& path, const std::string& text) override {
    if (path == cache_path) {
      ++replaces;
      if (fail_write) return false;
    }
    return FakeEnv::ReplaceTextFile(path, text);
  }

  std::string cache_path;
  std::atomic<bool> fail_read{false};
  std::atomic<bool> fail_write{false};
  std::atomic<int> appends{0};
  std::atomic<int> volatile_appends{0};
  std::atomic<int> replaces{0};
};

// 2014-03-07 09:05:02 local time.
int64_t LocalMoment() {
  std::tm local{};
  local.tm_year = 2014 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 7;
  local.tm_hour = 9;
  local.tm_min = 5;
  local.tm_sec = 2;
  local.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&local));
}

constexpr char kFirstTrid[] = "201403070905020789";
constexpr char kSecondTrid[] = "201403070905020790";
constexpr char kSample[] = "WO1234-02,140307,090502,17,F4,5,K9,ATF,P-100,1.5,2.25";

// The line AddTransaction writes for SampleTransaction(trans_no).
std::string FreshLine(const std::string& trans_no, const std::string& trid) {
  return trans_no + "," + kSample + ",0," + trid + ",0,";
}

class CacheFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    env_.set_module_path(dir_.File("Vornlink.dll"));
#else
    env_.set_module_path(dir_.File("Vornlink.so"));
#endif
    env_.cache_path = dir_.File("Vornlink.$$$");
    env_.set_unix_time(LocalMoment());
    env_.set_tick_count(123456789);
    SetEnvForTesting(&env_);
    ResetLogForTesting();
    log_path_ = dir_.File("cache.log");
    LogInit(log_path_, -1, "+c");
  }

  void TearDown() override {
    ResetLogForTesting();
    SetEnvForTesting(nullptr);
  }

  const std::string& cache_path() const { return env_.cache_path; }

  int Add(const std::string& trans_no) {
    return AddTransaction(SampleTransaction(trans_no), "0", "0", "");
  }

  CacheRecord Read(int index) {
    CacheRecord record;
    EXPECT_EQ(GetCacheIndex(index, &record), 1) << index;
    return record;
  }

  testing::TempDir dir_;
  CacheEnv env_;
  std::string log_path_;
};

TEST_F(CacheFileTest, AddAppendsDurableFreshLinesBesideTheModule) {
  EXPECT_EQ(CacheFilePath(), cache_path());
  EXPECT_EQ(Add("4711"), 1);
  EXPECT_EQ(Add("4712"), 1);
  EXPECT_EQ(ReadBytes(cache_path()),
            OnDisk(FreshLine("4711", kFirstTrid) + "\n" + FreshLine("4712", kSecondTrid) + "\n"));
  EXPECT_EQ(env_.appends, 2);
  EXPECT_EQ(env_.volatile_appends, 0);
  EXPECT_EQ(env_.replaces, 0);
  EXPECT_EQ(
      LogEntries(log_path_),
      (std::vector<std::string>{"-c-KMRCacheTransaction: Add transaction[4711] to cache file with "
                                "Trid[201403070905020789] -> SUCCESS",
                                "-c-KMRCacheTransaction: Add transaction[4712] to cache file with "
                                "Trid[201403070905020790] -> SUCCESS"}));
}

TEST_F(CacheFileTest, CacheNeverLandsInTheModuleItself) {
  if (dir_.path().find('.') != std::string::npos) GTEST_SKIP() << "a dot in " << dir_.path();
  const std::string module = dir_.File("Vornlink");
  WriteBytes(module, "module image");
  env_.set_module_path(module);
  env_.cache_path = module + ".$$$";
  EXPECT_EQ(CacheFilePath(), module + ".$$$");
  EXPECT_EQ(Add("1"), 1);
  EXPECT_EQ(ReadBytes(module), "module image");
  EXPECT_EQ(DiskLines(module + ".$$$").size(), 1u);

  // No module path, no cache file (not one in the current folder either).
  env_.set_module_path("");
  EXPECT_EQ(CacheFilePath(), "");
  EXPECT_EQ(Add("2"), 0);
  EXPECT_FALSE(testing::FileExists(".$$$"));
}

TEST_F(CacheFileTest, CommasAndLineBreaksInTheTransactionBecomeBlanks) {
  TransactionFields fields = SampleTransaction("T,1");
  fields[1] = "WO,12";
  fields[4] = "a\r\nb";
  fields[11] = "\n";
  EXPECT_EQ(AddTransaction(fields, "2", "", "FWT: c[7],\nt[x, y]"), 1);

  std::vector<std::string> lines = DiskLines(cache_path());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "T 1,WO 12,140307,090502,a  b,F4,5,K9,ATF,P-100,1.5, ,2,201403070905020789,,FWT: "
            "c[7], t[x, y]");
  CacheRecord record = Read(0);
  EXPECT_EQ(record.trid(), kFirstTrid);
  EXPECT_EQ(record.message(), "FWT: c[7], t[x, y]");

  const std::string prefix = "-*-KMRCacheTransaction: Add transaction[T 1] ";
  EXPECT_EQ(LogEntries(log_path_),
            (std::vector<std::string>{
                prefix + "field[1] holds a comma or line break -> replaced by a blank",
                prefix + "field[2] holds a comma or line break -> replaced by a blank",
                prefix + "field[5] holds a comma or line break -> replaced by a blank",
                prefix + "field[12] holds a comma or line break -> replaced by a blank",
                prefix + "message holds a line break -> replaced by a blank",
                "-c-KMRCacheTransaction: Add transaction[T 1] to cache file with "
                "Trid[201403070905020789] -> SUCCESS"}));
}

TEST_F(CacheFileTest, ReadsShortAndLongLinesByIndex) {
  CacheRecord record;
  record.fields.fill("kept");
  // No file yet.
  EXPECT_EQ(GetCacheIndex(0, &record), 0);
  EXPECT_FALSE(testing::FileExists(cache_path()));

  WriteBytes(cache_path(), OnDisk("a,b\n"
                                  "1,2,3,4,5,6,7,8,9,10,11,12,1,201403070905020789,,x,y,,z\n"
                                  "\n"
                                  "n,,,,,,,,,,,,2,201403070905020790\n"));
  EXPECT_EQ(GetCacheIndex(4, &record), 0);
  EXPECT_EQ(GetCacheIndex(-1, &record), 0);
  EXPECT_EQ(record.trans_no(), "kept");

  record = Read(0);
  EXPECT_EQ(record.fields[1], "b");
  for (size_t i = 2; i < CacheRecord::kFieldCount; ++i) EXPECT_EQ(record.fields[i], "") << i;
  record = Read(1);
  EXPECT_EQ(record.fields[11], "12");
  EXPECT_EQ(record.status(), "1");
  EXPECT_EQ(record.message(), "x,y,,z");
  record = Read(2);
  for (const std::string& field : record.fields) EXPECT_EQ(field, "");
  record = Read(3);
  EXPECT_EQ(record.trans_no(), "n");
  EXPECT_EQ(record.trid(), kSecondTrid);
  EXPECT_EQ(record.message(), "");
}

TEST_F(CacheFileTest, ReadsLinesEndingInCarriageReturnAndLineFeed) {
  WriteBytes(cache_path(), "1,2,3,4,5,6,7,8,9,10,11,12,0,201403070905020789,0,msg\r\n");
  EXPECT_EQ(Read(0).message(), "msg");
}

TEST_F(CacheFileTest, TornLastLineIsNotGluedToTheNextAdd) {
  WriteBytes(cache_path(), OnDisk(FreshLine("1", "201403070905010001") + "\n") + "2,WO,14030");
  EXPECT_EQ(Add("3"), 1);
  EXPECT_EQ(DiskLines(cache_path()),
            (std::vector<std::string>{FreshLine("1", "201403070905010001"), "2,WO,14030",
                                      FreshLine("3", kFirstTrid)}));
  EXPECT_EQ(Read(2).trid(), kFirstTrid);
}

TEST_F(CacheFileTest, DeleteRemovesTheFirstLineWhoseTridFieldMatches) {
  const std::string a =
      "a,201403070905020003,3,4,5,6,7,8,9,10,11,12,1,201403070905020001,,"
      "201403070905020003";
  const std::string b = "b,2,3,4,5,6,7,8,9,10,11,12,0,201403070905020002,0,";
  const std::string c = "c,2,3,4,5,6,7,8,9,10,11,12,0,201403070905020003,0,";
  const std::string d = "d,2,3,4,5,6,7,8,9,10,11,12,0,201403070905020002,0,";
  WriteBytes(cache_path(), OnDisk(a + "\n" + b + "\n" + c + "\n" + d + "\n"));

  // Line a carries the text in two other fields; c is the one.
  EXPECT_EQ(DeleteTrid("201403070905020003"), 1);
  EXPECT_EQ(ReadBytes(cache_path()), OnDisk(a + "\n" + b + "\n" + d + "\n"));
  // Of two lines with one Trid, only the first goes.
  EXPECT_EQ(DeleteTrid("201403070905020002"), 1);
  EXPECT_EQ(ReadBytes(cache_path()), OnDisk(a + "\n" + d + "\n"));
  EXPECT_EQ(env_.replaces, 2);
  EXPECT_EQ(LogEntries(log_path_),
            (std::vector<std::string>{
                "-c-KMRCacheTransaction: Delete Trid[201403070905020003] from cache file -> "
                "SUCCESS",
                "-c-KMRCacheTransaction: Delete Trid[201403070905020002] from cache file -> "
                "SUCCESS"}));
}

TEST_F(CacheFileTest, DeleteWithoutAMatchLeavesTheFileAlone) {
  // The short line has an empty Trid; "0789" stands in the first line.
  const std::string contents = OnDisk(FreshLine("1", kFirstTrid) + "\nshort,line\n");
  WriteBytes(cache_path(), contents);
  EXPECT_EQ(DeleteTrid(""), 1);
  EXPECT_EQ(DeleteTrid("0789"), 1);
  EXPECT_EQ(DeleteTrid("20140307090502078"), 1);
  EXPECT_EQ(ReadBytes(cache_path()), contents);
  EXPECT_EQ(env_.replaces, 0);

  // The NOT FOUND text ends with its own line feed, which ends the entry:
  // the next entry still starts on a line of its own.
  LogWriteLine('*', "next");
  EXPECT_EQ(LogEntries(log_path_),
            (std::vector<std::string>{
                "-c-KMRCacheTransaction: Delete Trid[] from cache file -> NOT FOUND",
                "-c-KMRCacheTransaction: Delete Trid[0789] from cache file -> NOT FOUND",
                "-c-KMRCacheTransaction: Delete Trid[20140307090502078] from cache file -> "
                "NOT FOUND",
                "-*-next"}));
}

TEST_F(CacheFileTest, RequeueAppendsWithANewTridAndAnEmptyReservedField) {
  ASSERT_EQ(Add("1"), 1);
  CacheRecord record = Read(0);
  record.fields[CacheRecord::kStatus] = "2";
  record.fields[CacheRecord::kMessage] = "later, again";
  EXPECT_EQ(Requeue(record), 1);
  EXPECT_EQ(
      DiskLines(cache_path()),
      (std::vector<std::string>{FreshLine("1", kFirstTrid), "1," + std::string(kSample) + ",2," +
                                                                kSecondTrid + ",,later, again"}));
}

TEST_F(CacheFileTest, RequeueReplacingMovesTheLineInOneReplacement) {
  ASSERT_EQ(Add("1"), 1);
  ASSERT_EQ(Add("2"), 1);
  ASSERT_EQ(Add("3"), 1);
  CacheRecord record = Read(0);
  record.fields[CacheRecord::kStatus] = "1";
  record.fields[CacheRecord::kMessage] = "FWT: c[7], t[no]";
  const int appends = env_.appends;

  EXPECT_EQ(RequeueReplacing(record), 1);
  EXPECT_EQ(env_.appends, appends);
  EXPECT_EQ(env_.replaces, 1);
  // The clock still gives 0789, the Trid of the dropped line: the moved line
  // must not get it back, or a worker holding the old record would remove
  // the moved line.
  std::vector<std::string> lines = DiskLines(cache_path());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], FreshLine("2", kSecondTrid));
  EXPECT_EQ(lines[1], FreshLine("3", "201403070905020791"));
  EXPECT_EQ(lines[2], "1," + std::string(kSample) + ",1,201403070905020792,,FWT: c[7], t[no]");

  std::vector<std::string> entries = LogEntries(log_path_);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[3],
            "-c-KMRCacheTransaction: Delete Trid[201403070905020789] from cache file -> SUCCESS");
  EXPECT_EQ(entries[4],
            "-c-KMRCacheTransaction: Add transaction[1] to cache file with "
            "Trid[201403070905020792] -> SUCCESS");
}

TEST_F(CacheFileTest, RequeueReplacingWithoutItsLineWritesNothing) {
  ASSERT_EQ(Add("1"), 1);
  CacheRecord record = Read(0);
  ASSERT_EQ(DeleteTrid(record.trid()), 1);
  const std::string contents = ReadBytes(cache_path());
  const int replaces = env_.replaces;

  EXPECT_EQ(RequeueReplacing(record), 0);
  record.fields[CacheRecord::kTrid].clear();
  EXPECT_EQ(RequeueReplacing(record), 0);
  EXPECT_EQ(ReadBytes(cache_path()), contents);
  EXPECT_EQ(env_.replaces, replaces);
  std::vector<std::string> entries = LogEntries(log_path_);
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[entries.size() - 2],
            "-c-KMRCacheTransaction: Delete Trid[201403070905020789] from cache file -> "
            "NOT FOUND");
  EXPECT_EQ(entries.back(), "-c-KMRCacheTransaction: Delete Trid[] from cache file -> NOT FOUND");
}

TEST_F(CacheFileTest, UnreadableOrUnwritableFileIsLoggedAndReported) {
  ASSERT_EQ(Add("1"), 1);
  const std::string contents = ReadBytes(cache_path());
  CacheRecord record = Read(0);
  const size_t logged = LogEntries(log_path_).size();

  env_.fail_read = true;
  EXPECT_EQ(Add("2"), 0);
  EXPECT_EQ(GetCacheIndex(0, &record), 0);
  EXPECT_EQ(DeleteTrid(kFirstTrid), 0);
  EXPECT_EQ(RequeueReplacing(record), 0);
  env_.fail_read = false;
  env_.fail_write = true;
  EXPECT_EQ(Add("3"), 0);
  EXPECT_EQ(DeleteTrid(kFirstTrid), 0);
  EXPECT_EQ(RequeueReplacing(record), 0);
  env_.fail_write = false;

  EXPECT_EQ(ReadBytes(cache_path()), contents);
  const std::string failed =
      "-*-KMRCacheTransaction: Delete Trid[201403070905020789] from "
      "cache file -> Internal t[";
  std::vector<std::string> entries = LogEntries(log_path_);
  entries.erase(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(logged));
  EXPECT_EQ(
      entries,
      (std::vector<std::string>{
          "-*-KMRCacheTransaction: Add transaction[2] to cache file with "
          "Trid[201403070905020789] -> Could not open cache file -> FAILED",
          "-*-KMRCacheTransaction: GetCacheIndex -- Internal: t[Could not open file]",
          failed + "Could not open file] -> FAILED", failed + "Could not open file] -> FAILED",
          "-*-KMRCacheTransaction: Add transaction[3] to cache file with "
          "Trid[201403070905020790] -> Could not open cache file -> FAILED",
          failed + "Could not write file] -> FAILED", failed + "Could not write file] -> FAILED"}));
}

TEST_F(CacheFileTest, ThreadsAddingAtOnceLoseAndTearNothing) {
  // The real clocks, so that Trids come from many seconds and ticks.
  testing::FakeEnv real_clock;
  real_clock.set_module_path(env_.ModulePath());
  SetEnvForTesting(&real_clock);
  constexpr int kThreads = 8;
  constexpr int kPerThread = 200;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < kPerThread; ++i) {
        const std::string trans_no = "t" + std::to_string(t) + "-" + std::to_string(i);
        if (AddTransaction(SampleTransaction(trans_no), "0", "0", "") != 1) ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);

  std::set<std::string> trans_nos;
  std::set<std::string> trids;
  std::vector<std::string> lines = DiskLines(cache_path());
  EXPECT_EQ(lines.size(), static_cast<size_t>(kThreads * kPerThread));
  for (const std::string& line : lines) {
    CacheRecord record;
    ParseCacheLine(line, &record);
    ASSERT_EQ(line, FreshLine(record.trans_no(), record.trid()));
    EXPECT_TRUE(testing::IsWellFormedTrid(record.trid())) << line;
    trans_nos.insert(record.trans_no());
    trids.insert(record.trid());
  }
  EXPECT_EQ(trans_nos.size(), lines.size());
  EXPECT_EQ(trids.size(), lines.size());
}

}  // namespace
}  // namespace vornlink
