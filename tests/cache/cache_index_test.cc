// What the cache keeps of its file between operations must never tell
// other lines than the file holds: whatever the driver or somebody else
// did to the file in between, every read gives what a reader of the whole
// file would find, Trids stay unique, and what was not changed is not read
// again.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cache/cache_file.h"
#include "settings/numbers.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using testing::DiskLines;
using testing::OnDisk;
using testing::ReadBytes;
using testing::SampleTransaction;

// The real platform with a fixed clock; counts the bytes read of the cache
// file.
class CountingEnv : public testing::FakeEnv {
 public:
  ReadResult ReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                          std::string* error) override {
    ReadResult result = FakeEnv::ReadTextFile(path, contents, max_size, error);
    bytes_read += contents->size();
    return result;
  }
  ReadResult ReadFileBytes(const std::string& path, uint64_t offset, size_t max_bytes,
                           std::string* bytes, FileStamp* stamp, std::string* error) override {
    ReadResult result = FakeEnv::ReadFileBytes(path, offset, max_bytes, bytes, stamp, error);
    bytes_read += bytes->size();
    return result;
  }

  std::atomic<size_t> bytes_read{0};
};

// Steps of the random walk over changes (each file call is slow under
// Wine).
#ifdef _WIN32
constexpr int kSteps = 40;
#else
constexpr int kSteps = 300;
#endif

// `bytes` (a cache file) with the Status of line `line` turned to the next
// of 0, 1 and 2: the same size. Unchanged when the line has no Status of
// one such digit.
std::string WithStatusTurned(std::string bytes, size_t line) {
  size_t start = 0;
  for (size_t i = 0; i < line; ++i) {
    start = bytes.find('\n', start);
    if (start == std::string::npos) return bytes;
    ++start;
  }
  const size_t end = std::min(bytes.find('\n', start), bytes.size());
  size_t at = start;
  for (int comma = 0; comma < 12; ++comma) {
    at = bytes.find(',', at);
    if (at >= end) return bytes;
    ++at;
  }
  if (at + 1 < end && bytes[at + 1] == ',' && bytes[at] >= '0' && bytes[at] <= '2') {
    bytes[at] = "120"[bytes[at] - '0'];
  }
  return bytes;
}

class CacheIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set_module_path(dir_.File("Vornlink.so"));
    env_.set_unix_time(testing::LocalUnixTime(2014, 3, 7, 9, 5, 2));
    env_.set_tick_count(123456789);
    SetEnvForTesting(&env_);
    ReleaseCacheMutexes();
    path_ = CacheFilePath();
  }
  void TearDown() override {
    SetEnvForTesting(nullptr);
    ReleaseCacheMutexes();
  }

  int Add(const std::string& trans_no, const std::string& status = "0") {
    return AddTransaction(SampleTransaction(trans_no), status, "0", "");
  }

  // Another program's hand on the file, between two operations.
  void AppendBehindTheDriversBack(const std::string& text) {
    std::ofstream(path_, std::ios::binary | std::ios::app) << text;
  }
  void ReplaceBehindTheDriversBack(const std::string& bytes) {
    const std::string temp = path_ + ".other";
    testing::WriteBytes(temp, bytes);
    std::filesystem::rename(temp, path_);
  }

  // Every read through the cache gives what a reader of the whole file
  // finds, and the Trids the driver wrote are unique.
  void ExpectReadsMatchTheFile() {
    const std::vector<std::string> lines = DiskLines(path_);
    CacheRecord record;
    std::set<std::string> trids;
    for (size_t i = 0; i < lines.size(); ++i) {
      CacheRecord expected;
      ParseCacheLine(lines[i], &expected);
      ASSERT_EQ(GetCacheIndex(static_cast<int>(i), &record), 1) << i;
      ASSERT_EQ(record.fields, expected.fields) << "line " << i;
      if (expected.trid().size() == 18) {
        EXPECT_TRUE(trids.insert(expected.trid()).second) << expected.trid();
      }
    }
    EXPECT_EQ(GetCacheIndex(static_cast<int>(lines.size()), &record), 0);
    // The due lines, found as the worker walks them.
    std::vector<int> due;
    for (size_t i = 0; i < lines.size(); ++i) {
      ParseCacheLine(lines[i], &record);
      const int32_t status = LeadingInt(record.status());
      if (status == 0 || status == 2) due.push_back(static_cast<int>(i));
    }
    std::vector<int> walked;
    for (int from = 0, found = 0; FindDueLine(from, &record, &found) == 1; from = found + 1) {
      walked.push_back(found);
      EXPECT_EQ(record.trans_no() + ",",
                lines[static_cast<size_t>(found)].substr(0, record.trans_no().size() + 1));
    }
    EXPECT_EQ(walked, due);
  }

  testing::TempDir dir_;
  CountingEnv env_;
  std::string path_;
};

TEST_F(CacheIndexTest, ReadsMatchTheFileWhateverChangedItBetweenOperations) {
  std::mt19937 random(20141107);
  int next = 0;
  for (int step = 0; step < kSteps && !HasFailure(); ++step) {
    const std::vector<std::string> lines = DiskLines(path_);
    const int count = static_cast<int>(lines.size());
    CacheRecord record;
    const int at = count == 0 ? 0 : std::uniform_int_distribution<int>(0, count - 1)(random);
    if (count > 0) ParseCacheLine(lines[static_cast<size_t>(at)], &record);
    ++next;
    const std::string other_line = "x" + std::to_string(next) +
                                   ",WO,140307,090502,17,F4,5,K9,ATF,P,1,2,0,19990101000000" +
                                   std::to_string(1000 + next % 9000) + ",0,";
    std::string bytes = ReadBytes(path_);
    switch (std::uniform_int_distribution<int>(0, 11)(random)) {
      case 0:
      case 1:
      case 2:
        ASSERT_EQ(Add(std::to_string(next), next % 3 == 0 ? "1" : "0"), 1);
        break;
      case 3:
        if (count > 0) RemoveLine(record.trid());
        break;
      case 4:
        if (count > 0) {
          record.fields[CacheRecord::kStatus] = next % 2 == 0 ? "1" : "2";
          MoveToEnd(record);
        }
        break;
      case 5:
        AppendBehindTheDriversBack(OnDisk(other_line + "\n"));
        break;
      case 6:
        // A writer that died in the middle of its line.
        if (!bytes.empty() && bytes.back() == '\n') AppendBehindTheDriversBack("torn,li");
        break;
      case 7:
        if (count > 1) {
          // Another process removed a line: a new file in its place.
          const std::string dropped = lines[static_cast<size_t>(at)];
          bytes.erase(bytes.find(dropped), dropped.size() + std::string(OnDisk("\n")).size());
          ReplaceBehindTheDriversBack(bytes);
        }
        break;
      case 8:
        // Rewritten in place to the same size: a line's Status turns; the
        // file's clock shows it.
        if (count > 1) {
          const auto modified = std::filesystem::last_write_time(path_);
          testing::WriteBytes(path_, WithStatusTurned(bytes, static_cast<size_t>(at)));
          std::filesystem::last_write_time(path_, modified + std::chrono::seconds(2));
        }
        break;
      case 9:
        // The same to the last line, and the clock put back: only the line
        // itself can tell.
        if (count > 0) {
          const auto modified = std::filesystem::last_write_time(path_);
          testing::WriteBytes(path_, WithStatusTurned(bytes, static_cast<size_t>(count - 1)));
          std::filesystem::last_write_time(path_, modified);
        }
        break;
      case 10:
        // A fresh process that knows nothing yet.
        ReleaseCacheMutexes();
        break;
      default:
        break;
    }
    ExpectReadsMatchTheFile();
  }
}

// Only Trids of one second can collide, and when the clock goes back (the
// end of daylight saving time repeats an hour) the lines of that second
// stand anywhere in the file, not at its end. A new line must still not get
// one of their Trids, or the removal meant for one would take the other.
TEST_F(CacheIndexTest, TridsStayUniqueWhenTheClockGoesBack) {
  const int64_t moment = testing::LocalUnixTime(2014, 3, 7, 9, 5, 2);
  env_.set_unix_time(moment - 3600);
  ASSERT_EQ(Add("early"), 1);
  env_.set_unix_time(moment);
  ASSERT_EQ(Add("later1"), 1);
  ASSERT_EQ(Add("later2"), 1);
  ASSERT_EQ(Add("later3"), 1);
  env_.set_unix_time(moment - 3600);  // the hour comes again
  ASSERT_EQ(Add("repeat"), 1);
  CacheRecord record;
  ASSERT_EQ(GetCacheIndex(1, &record), 1);
  record.fields[CacheRecord::kStatus] = "2";
  ASSERT_EQ(MoveToEnd(record), CacheChange::kDone);
  ReleaseCacheMutexes();  // a process that comes to the file afresh
  ASSERT_EQ(Add("fresh"), 1);
  env_.set_unix_time(moment);
  ASSERT_EQ(Add("forward"), 1);  // the moved line's old Trid is free again

  std::vector<std::string> trids;
  for (const std::string& line : DiskLines(path_)) {
    ParseCacheLine(line, &record);
    trids.push_back(record.trans_no() + " " + record.trid());
  }
  EXPECT_EQ(trids,
            (std::vector<std::string>{"early 201403070805020789", "later2 201403070905020790",
                                      "later3 201403070905020791", "repeat 201403070805020790",
                                      "later1 201403070805020791", "fresh 201403070805020792",
                                      "forward 201403070905020789"}));
}

// The host's call and a pass over parked lines cost the same whatever the
// length of the cache: what has not changed is not read again.
TEST_F(CacheIndexTest, WhatDidNotChangeIsNotReadAgain) {
  std::string parked;
  for (int i = 0; i < 5000; ++i) {
    char trid[32];
    std::snprintf(trid, sizeof trid, "201403070800%02d0%03d", i / 1000, i % 1000);
    parked +=
        std::to_string(i) + ",WO,140307,090502,17,F4,5,K9,ATF,P,1,2,1," + trid + ",0,FWT: parked\n";
  }
  testing::WriteBytes(path_, OnDisk(parked));
  const size_t file_size = ReadBytes(path_).size();
  CacheRecord record;
  EXPECT_EQ(GetCacheIndex(0, &record), 1);  // the first operation reads it whole
  EXPECT_GE(env_.bytes_read.load(), file_size);

  const auto bytes_for = [&](auto operation) {
    env_.bytes_read = 0;
    operation();
    return env_.bytes_read.load();
  };
  EXPECT_LT(bytes_for([&] { EXPECT_EQ(Add("new"), 1); }), 1024u);
  int index = 0;
  EXPECT_LT(bytes_for([&] { EXPECT_EQ(FindDueLine(0, &record, &index), 1); }), 1024u);
  EXPECT_EQ(index, 5000);
  EXPECT_LT(bytes_for([&] { EXPECT_EQ(GetCacheIndex(2500, &record), 1); }), 1024u);
  // Lines another process appended are read, and only they.
  AppendBehindTheDriversBack(OnDisk("other,WO,140307,090502,17,F4,5,K9,ATF,P,1,2,0,x,0,\n"));
  EXPECT_LT(bytes_for([&] { EXPECT_EQ(FindDueLine(5001, &record, &index), 1); }), 1024u);
  EXPECT_EQ(index, 5001);
  // Another process's rewrite makes the next operation read it whole.
  ReplaceBehindTheDriversBack(ReadBytes(path_));
  EXPECT_GE(bytes_for([&] { EXPECT_EQ(GetCacheIndex(5001, &record), 1); }), file_size);
  EXPECT_EQ(record.trans_no(), "other");
}

}  // namespace
}  // namespace vornlink
