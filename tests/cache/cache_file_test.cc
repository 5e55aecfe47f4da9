#include "cache/cache_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cache/cache_reserve.h"
#include "cache/unwritten_queue.h"
#include "testing/log_recorder.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using Lines = std::vector<std::string>;
using testing::OnDisk;
using testing::ReadBytes;

// The fixed clock's second with the tick count's milliseconds, and after.
constexpr char kFirstTrid[] = "201403070905020789";
constexpr char kSecondTrid[] = "201403070905020790";
constexpr char kThirdTrid[] = "201403070905020791";

std::string Line(const std::string& trans_no, const std::string& trid,
                 const std::string& status = "0", const std::string& rest = "0,") {
  return trans_no + ",WO1234-02,140307,090502,17,F4,5,K9,ATF,P-100,1.5,2.25," + status + "," +
         trid + "," + rest;
}

std::string Added(const std::string& trans_no, const std::string& trid) {
  return "c KMRCacheTransaction: Add transaction[" + trans_no + "] to cache file with Trid[" +
         trid + "] -> SUCCESS";
}
std::string Deleted(const std::string& trid, const std::string& outcome) {
  return "c KMRCacheTransaction: Delete Trid[" + trid + "] from cache file -> " + outcome;
}

class CacheFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set_module_path(dir_.File("Vornlink.dll"));
    env_.watched = path_;
    env_.set_unix_time(testing::LocalUnixTime(2014, 3, 7, 9, 5, 2));
    env_.set_tick_count(123456789);
  }

  int Add(const std::string& trans_no) {
    return AddTransaction(testing::SampleTransaction(trans_no), "0", "0", "");
  }
  CacheRecord Read(int index) {
    CacheRecord record;
    EXPECT_EQ(ReadCacheLine(index, &record), 1) << index;
    return record;
  }

  testing::TempDir dir_;
  testing::FakeEnv env_;
  testing::ScopedEnvOverride use_env_{&env_};
  const std::string path_ = dir_.File("Vornlink.$$$");
  testing::LogRecorder log_{dir_.File("cache.log"), "+c"};
};

TEST_F(CacheFileTest, CommasAndLineBreaksInTheTransactionBecomeBlanks) {
  TransactionFields fields = testing::SampleTransaction("T,1");
  fields[1] = "WO,12";
  fields[4] = "a\r\nb";
  fields[11] = "\n";
  EXPECT_EQ(AddTransaction(fields, "2", "", "FWT: c[7],\nt[x, y]"), 1);

  EXPECT_EQ(testing::DiskLines(path_),
            (Lines{"T 1,WO 12,140307,090502,a  b,F4,5,K9,ATF,P-100,1.5, ,2,201403070905020789,,"
                   "FWT: c[7], t[x, y]"}));
  EXPECT_EQ(Read(0).message(), "FWT: c[7], t[x, y]");
  const std::string prefix = "* KMRCacheTransaction: Add transaction[T 1] ";
  const std::string replaced = " holds a comma or line break -> replaced by a blank";
  EXPECT_EQ(log_.Take(), (Lines{prefix + "field[1]" + replaced, prefix + "field[2]" + replaced,
                                prefix + "field[5]" + replaced, prefix + "field[12]" + replaced,
                                prefix + "message holds a line break -> replaced by a blank",
                                Added("T 1", kFirstTrid)}));
}

TEST_F(CacheFileTest, ReadsEveryLineByIndexAndAddsBelowATornOne) {
  CacheRecord record;
  record.fields.fill("kept");
  EXPECT_EQ(ReadCacheLine(0, &record), 0);
  EXPECT_FALSE(testing::FileExists(path_));

  // An empty line counts, a CR LF line end reads as any other, a crash may have torn the last line.
  const std::string torn =
      OnDisk("a,b\n\n") + "n,,,,,,,,,,,,2," + kSecondTrid + ",0,msg\r\n2,WO,1403";
  testing::WriteBytes(path_, torn);
  EXPECT_EQ(ReadCacheLine(4, &record), 0);
  EXPECT_EQ(ReadCacheLine(-1, &record), 0);
  EXPECT_EQ(record.trans_no(), "kept");
  EXPECT_EQ(Read(0).fields[1], "b");
  EXPECT_EQ(Read(1).trans_no(), "");
  record = Read(2);
  EXPECT_EQ(record.trid(), kSecondTrid);
  EXPECT_EQ(record.message(), "msg");
  EXPECT_EQ(Read(3).fields[2], "1403");

  // The torn line gets its line end first, so the new line stays whole.
  EXPECT_EQ(Add("3"), 1);
  EXPECT_EQ(ReadBytes(path_), torn + OnDisk("\n" + Line("3", kFirstTrid) + "\n"));
}

TEST_F(CacheFileTest, DeleteRemovesOnlyTheFirstLineWhoseTridFieldMatches) {
  // a carries c's Trid in two other fields, b and d share a Trid, e has none.
  const std::map<char, std::string> lines = {
      {'a', "a,201403070905020003,3,4,5,6,7,8,9,10,11,12,1,201403070905020001,,201403070905020003"},
      {'b', "b,2,3,4,5,6,7,8,9,10,11,12,0,201403070905020002,0,"},
      {'c', "c,2,3,4,5,6,7,8,9,10,11,12,0,201403070905020003,0,"},
      {'d', "d,2,3,4,5,6,7,8,9,10,11,12,0,201403070905020002,0,"},
      {'e', "short,line"}};
  auto file = [&lines](const std::string& names) {
    std::string text;
    for (char name : names) text += lines.at(name) + "\n";
    return OnDisk(text);
  };
  testing::WriteBytes(path_, file("abcde"));
  const struct {
    std::string trid, left, outcome;
  } kCases[] = {{"", "abcde", "NOT FOUND"},
                {"0003", "abcde", "NOT FOUND"},
                {"20140307090502000", "abcde", "NOT FOUND"},
                {"201403070905020003", "abde", "SUCCESS"},
                {"201403070905020002", "ade", "SUCCESS"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.trid);
    EXPECT_EQ(RemoveLine(c.trid),
              c.outcome == "SUCCESS" ? CacheChange::kDone : CacheChange::kNotFound);
    EXPECT_EQ(ReadBytes(path_), file(c.left));
    EXPECT_EQ(log_.Take(), Lines{Deleted(c.trid, c.outcome)});
  }
  // A line end the cache does not write itself: the file is cut line by line.
  testing::WriteBytes(path_, "x,1\r\n" + OnDisk(lines.at('b') + "\n" + lines.at('c') + "\n"));
  EXPECT_EQ(RemoveLine("201403070905020002"), CacheChange::kDone);
  EXPECT_EQ(ReadBytes(path_), OnDisk("x,1\n" + lines.at('c') + "\n"));
  EXPECT_EQ(env_.writes(), "RRR");
}

// Durable appends with fresh Trids; a move to the end in one replacement, with a fresh Trid.
TEST_F(CacheFileTest, AddAndMoveToEndWriteLinesWithFreshTrids) {
  for (const char* trans_no : {"1", "2"}) EXPECT_EQ(Add(trans_no), 1);
  CacheRecord record = Read(0);
  record.fields[CacheRecord::kStatus] = "1";
  record.fields[CacheRecord::kMessage] = "FWT: c[7], t[no]";
  EXPECT_EQ(MoveToEnd(record), CacheChange::kDone);
  // The clock still gives 0789, the dropped line's Trid: the moved line must
  // not get it back, or a worker holding the old record would remove it.
  const std::string contents = ReadBytes(path_);
  EXPECT_EQ(contents, OnDisk(Line("2", kSecondTrid) + "\n" +
                             Line("1", kThirdTrid, "1", ",FWT: c[7], t[no]\n")));
  // Once its line is gone, or without a Trid, nothing is written.
  EXPECT_EQ(MoveToEnd(record), CacheChange::kNotFound);
  record.fields[CacheRecord::kTrid].clear();
  EXPECT_EQ(MoveToEnd(record), CacheChange::kNotFound);
  EXPECT_EQ(ReadBytes(path_), contents);
  EXPECT_EQ(env_.writes(), "AAR");
  EXPECT_EQ(log_.Take(), (Lines{Added("1", kFirstTrid), Added("2", kSecondTrid),
                                Deleted(kFirstTrid, "SUCCESS"), Added("1", kThirdTrid),
                                Deleted(kFirstTrid, "NOT FOUND"), Deleted("", "NOT FOUND")}));
}

// A mark in place keeps the file's size and needs no new file; the line is then delivered, not
// due, also for a process that knew it as due and sees the same size and time on the file.
TEST_F(CacheFileTest, MarkInPlaceEndsALinesDeliveryForEveryReader) {
  for (const char* trans_no : {"1", "2", "3"}) ASSERT_EQ(Add(trans_no), 1);
  std::string error;
  EXPECT_EQ(MarkLineInPlace(kFirstTrid, kDeliveredStatus, &error), CacheChange::kDone) << error;
  EXPECT_EQ(env_.writes(), "AAA");
  const std::string contents = ReadBytes(path_);
  EXPECT_EQ(contents, OnDisk(Line("1", kFirstTrid, "3") + "\n" + Line("2", kSecondTrid) + "\n" +
                             Line("3", kThirdTrid) + "\n"));
  CacheRecord record;
  int at = -1;
  EXPECT_TRUE(FindDeliveredLine(0, &record, &at) == 1 && at == 0 && record.trans_no() == "1");
  EXPECT_TRUE(FindDueLine(0, &record, &at) == 1 && at == 1 && record.trans_no() == "2");

  // Another process marks line 2 within the clock's resolution.
  const auto stamp = std::filesystem::last_write_time(path_);
  std::string changed = contents;
  changed[contents.find(",0," + std::string(kSecondTrid)) + 1] = kDeliveredStatus;
  testing::WriteBytes(path_, changed);
  std::filesystem::last_write_time(path_, stamp);
  EXPECT_TRUE(FindDueLine(0, &record, &at) == 1 && at == 2 && record.trans_no() == "3") << at;

  // A reader that looks again and again (deliver) parses nothing while the
  // file stays as it was, and sees a mark that keeps the size.
  std::string seen;
  std::vector<NumberedRecord> records;
  bool parsed = false;
  ASSERT_TRUE(ReadChangedCacheRecords(&seen, &records, &parsed, &error) && parsed) << error;
  ASSERT_TRUE(ReadChangedCacheRecords(&seen, &records, &parsed, &error));
  EXPECT_FALSE(parsed);
  changed[contents.find(",0," + std::string(kThirdTrid)) + 1] = kDeliveredStatus;
  testing::WriteBytes(path_, changed);
  ASSERT_TRUE(ReadChangedCacheRecords(&seen, &records, &parsed, &error) && parsed);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2].record.status(), std::string(1, kDeliveredStatus));

  // Only a Status of one character is overwritten.
  testing::WriteBytes(path_, OnDisk(Line("4", kFirstTrid, "02") + "\n"));
  EXPECT_EQ(MarkLineInPlace(kFirstTrid, kDeliveredStatus, &error), CacheChange::kFailed);
  EXPECT_EQ(error, "its Status is not one character");
}

// Every failed operation says so and why, in the words of what it was (a move is no deletion, a
// lock no file), and changes nothing: a cache file that cannot be read, a full disk, and (POSIX) a
// lock that cannot be had and a link another user planted.
TEST_F(CacheFileTest, FailuresAreReportedWithTheirReasons) {
  ASSERT_EQ(Add("1"), 1);
  const std::string contents = ReadBytes(path_);
  CacheRecord record = Read(0);
  const std::string prefix = "* KMRCacheTransaction: ";
  // `add_trid` is null where the lock failed: no Trid is made then.
  auto expect_failures = [&](const std::string& reason, const char* add_trid, bool reads,
                             const std::string& cause) {
    SCOPED_TRACE(reason);
    log_.Take();
    EXPECT_EQ(Add("2"), 0);
    EXPECT_EQ(ReadCacheLine(0, &record), reads ? 1 : 0);
    int due = 0;
    EXPECT_EQ(FindDueLine(0, &record, &due), reads ? 1 : 0);
    EXPECT_EQ(RemoveLine(kFirstTrid), CacheChange::kFailed);
    EXPECT_EQ(MoveToEnd(record), CacheChange::kFailed);
    EXPECT_EQ(ReadBytes(path_), contents);
    const std::string failed = " -> Internal t[" + cause + "] -> FAILED";
    const std::string add = add_trid == nullptr ? " -> Could not take the cache lock"
                                                : " with Trid[" + std::string(add_trid) +
                                                      "] -> Could not open cache file";
    Lines expected{prefix + "Add transaction[2] to cache file" + add + " -> FAILED", reason};
    // Each read says which operation failed.
    for (const char* operation : {"GetCacheIndex", "FindDueLine"}) {
      if (!reads)
        expected.insert(expected.end(),
                        {prefix + operation + " -- Internal: t[Could not open file]", reason});
    }
    expected.insert(
        expected.end(),
        {prefix + "Delete Trid[" + kFirstTrid + "] from cache file" + failed, reason,
         prefix + "Move Trid[" + kFirstTrid + "] to the end of the cache file" + failed, reason});
    EXPECT_EQ(log_.Take(), expected);
  };
  env_.fail_reads = true;
  expect_failures(prefix + "Cache file[" + path_ + "] t[Input/output error]", kFirstTrid, false,
                  "Could not open file");
  env_.fail_reads = false;
  env_.fail_appends = env_.fail_replaces = true;
  expect_failures(prefix + "Cache file[" + path_ + "] t[No space left on device]", kSecondTrid,
                  true, "Could not write file");
  env_.fail_appends = env_.fail_replaces = false;
#ifndef _WIN32
  const std::string lock_file = path_ + ".lock";
  std::remove(lock_file.c_str());
  std::filesystem::create_directory(lock_file);  // no file to lock
  expect_failures(prefix + "Could not take the cache lock t[" + lock_file + ": Is a directory]",
                  nullptr, false, "Could not take the cache lock");
  // Another user's link in the cache's place (an administrator's own is followed: EnvPosixTest).
  std::filesystem::remove(lock_file);
  std::filesystem::rename(path_, dir_.File("victim"));
  if (testing::PlantForeignLink(dir_.File("victim"), path_)) {
    expect_failures(prefix + "Cache file[" + path_ + "] t[" + kPlantedLinkRefused + "]", kFirstTrid,
                    false, "Could not open file");
  }
#endif
}

// What the cache refused waits in memory and goes in order. A host's call writes it only within its
// budget (the first always) and keeps a new one behind what still waits; the worker writes all.
// What waits at an unload that cannot wait for anything is named.
TEST_F(CacheFileTest, WaitingTransactionsGoInOrderAHostsCallWithinItsBudget) {
  env_.fail_appends = env_.fail_replaces = true;
  AddTransactionInOrder(testing::SampleTransaction("1"));
  AddTransactionInOrder(testing::SampleTransaction("2"));
  env_.fail_appends = env_.fail_replaces = false;
  env_.tick_step = kHostWriteBudgetMs;
  AddTransactionInOrder(testing::SampleTransaction("3"));
  EXPECT_EQ(testing::DiskLines(path_).size(), 1u);
  NameUnwrittenTransactionsAtUnload();
  const std::string named = log_.Take().back();
  EXPECT_EQ(testing::Missing(named, {"[3,", "at the unload -> FAILED -> lost"}), "") << named;
  StopSignal stop;
  WriteAllUnwrittenTransactions(stop);
  EXPECT_EQ(Read(0).trans_no() + Read(1).trans_no() + Read(2).trans_no(), "123");
}

// The reserve's size in bytes, or -1 when it is missing.
int64_t Held(const std::string& reserve) {
  std::error_code missing;
  const uintmax_t size = std::filesystem::file_size(reserve, missing);
  return missing ? -1 : static_cast<int64_t>(size);
}

// A host that hands over transactions on a full disk and is killed then loses none: the reserve
// gives up room, so that each is on disk before its call returns (a failure other than a full disk
// leaves the reserve alone). Once it is used up they wait in memory, after the cache's own line.
TEST_F(CacheFileTest, OnAFullDiskTheReserveTakesTheHostsTransactions) {
  const std::string reserve = CacheReserveFilePath(path_);
  KeepCacheReserve();
  env_.fail_appends = true;
  EXPECT_EQ(Add("0"), 0);
  env_.fail_appends = false;
  env_.room = 0;
  for (int i = 1; i <= 10; ++i)
    AddTransactionInOrder(testing::SampleTransaction(std::to_string(i)));
  EXPECT_EQ(testing::DiskLines(path_).size(), 10u);
  EXPECT_EQ(Held(reserve), static_cast<int64_t>(kCacheReserveBytes - kCacheReserveStepBytes));
  ASSERT_TRUE(DefaultEnv()->SetAllocatedFileSize(reserve, 0, nullptr));
  env_.room = 0;
  log_.Take();
  AddTransactionInOrder(testing::SampleTransaction("11"));
  const Lines logged = log_.Take();
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_EQ(testing::Missing(logged[0] + logged[1],
                             {"* KMRCacheTransaction: Add transaction[11] to cache file with Trid[",
                              "] -> Could not open cache file -> FAILED* KMRCacheTransaction: "
                              "Transaction[11,",
                              "] could not be written to the cache -> FAILED -> kept"}),
            "");
  env_.room = -1;
  WriteUnwrittenTransactions();
  EXPECT_EQ(testing::DiskLines(path_).size(), 11u);
}

// The worker makes the reserve whole only where the disk has room for what it lacks and a quarter
// more, else a missing one empty (so that it shows); a failure is logged once, not every pass.
TEST_F(CacheFileTest, TheReserveIsMadeWholeWhereTheDiskHasRoom) {
  const std::string reserve = CacheReserveFilePath(path_);
  const int64_t whole = kCacheReserveBytes, part = 300000, lacks = whole - part;
  const int64_t kCases[][3] = {// before (-1: missing), room, after
                               {-1, 0, 0},
                               {part, lacks + whole / 4 - 1, part},
                               {part, lacks + whole / 4, whole}};
  for (const auto& [before, room, after] : kCases) {
    std::filesystem::remove(reserve);
    ASSERT_TRUE(before < 0 || DefaultEnv()->SetAllocatedFileSize(reserve, before, nullptr));
    env_.room = room;
    KeepCacheReserve();
    EXPECT_EQ(Held(reserve), after) << before << " " << room;
  }
  std::filesystem::remove(reserve);
  std::filesystem::create_directory(reserve);
  log_.Take();
  KeepCacheReserve();
  KeepCacheReserve();
  const Lines logged = log_.Take();
  EXPECT_TRUE(logged.size() == 1 &&
              logged[0].find("] -> FAILED -> not made whole") != std::string::npos);
}

}  // namespace
}  // namespace vornlink
