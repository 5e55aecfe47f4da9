// What the cache keeps of its file never tells other lines than it holds; no change, no read.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/numbers.h"
#include "cache/cache_file.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using testing::DiskLines;
using testing::OnDisk;
using testing::ReadBytes;

// Steps of the random walk (each file call is slow under Wine).
#ifdef _WIN32
constexpr int kSteps = 40;
#else
constexpr int kSteps = 300;
#endif

// `bytes` (a cache file) with the Status of line `line` of `lines` turned to the next of 0, 1, 2.
std::string WithStatusTurned(std::string bytes, const std::vector<std::string>& lines,
                             size_t line) {
  CacheRecord record;
  ParseCacheLine(lines[line], &record);
  if (record.status().size() != 1 || record.status()[0] < '0' || record.status()[0] > '2')
    return bytes;
  size_t at = bytes.find(lines[line]) + 12;
  for (size_t i = 0; i < 12; ++i) at += record.fields[i].size();
  bytes[at] = "120"[bytes[at] - '0'];
  return bytes;
}

class CacheIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set_module_path(dir_.File("Vornlink.so"));
    env_.set_unix_time(testing::LocalUnixTime(2014, 3, 7, 9, 5, 2));
    env_.set_tick_count(123456789);
    ReleaseCacheMutexes();
    path_ = env_.watched = CacheFilePath();
  }
  void TearDown() override { ReleaseCacheMutexes(); }

  int Add(const std::string& trans_no, const std::string& status = "0") {
    return AddTransaction(testing::SampleTransaction(trans_no), status, "0", "");
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

  // Every read gives what a reader of the whole file finds; the driver's Trids are unique.
  void ExpectReadsMatchTheFile() {
    const std::vector<std::string> lines = DiskLines(path_);
    CacheRecord record;
    std::set<std::string> trids;
    std::vector<int> due;  // found as the worker walks them
    for (size_t i = 0; i < lines.size(); ++i) {
      CacheRecord expected;
      ParseCacheLine(lines[i], &expected);
      ASSERT_EQ(ReadCacheLine(static_cast<int>(i), &record), 1) << i;
      ASSERT_EQ(record.fields, expected.fields) << "line " << i;
      if (expected.trid().size() == 18) {
        EXPECT_TRUE(trids.insert(expected.trid()).second) << expected.trid();
      }
      const int32_t status = LeadingInt(expected.status());
      if (status == 0 || status == 2) due.push_back(static_cast<int>(i));
    }
    EXPECT_EQ(ReadCacheLine(static_cast<int>(lines.size()), &record), 0);
    std::vector<int> walked;
    for (int from = 0, found = 0; FindDueLine(from, &record, &found) == 1; from = found + 1) {
      walked.push_back(found);
      EXPECT_EQ(record.trans_no() + ",",
                lines[static_cast<size_t>(found)].substr(0, record.trans_no().size() + 1));
    }
    EXPECT_EQ(walked, due);
  }

  testing::TempDir dir_;
  testing::FakeEnv env_;
  testing::ScopedEnvOverride use_env_{&env_};
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
    const int kind = std::uniform_int_distribution<int>(0, 11)(random);
    if (kind <= 2) {
      ASSERT_EQ(Add(std::to_string(next), next % 3 == 0 ? "1" : "0"), 1);
    } else if (kind == 3 && count > 0) {
      RemoveLine(record.trid());
    } else if (kind == 4 && count > 0) {
      record.fields[CacheRecord::kStatus] = next % 2 == 0 ? "1" : "2";
      MoveToEnd(record);
    } else if (kind == 5) {
      AppendBehindTheDriversBack(OnDisk(other_line + "\n"));
    } else if (kind == 6 && !bytes.empty() && bytes.back() == '\n') {
      AppendBehindTheDriversBack("torn,li");  // a writer that died in the middle of its line
    } else if (kind == 7 && count > 1) {
      // Another process removed a line: a new file in its place.
      const std::string dropped = lines[static_cast<size_t>(at)];
      bytes.erase(bytes.find(dropped), dropped.size() + std::string(OnDisk("\n")).size());
      ReplaceBehindTheDriversBack(bytes);
    } else if ((kind == 8 && count > 1) || (kind == 9 && count > 0)) {
      // Rewritten in place to the same size, a line's Status turned: the file's clock shows it, or
      // (the last line, the clock put back) only the line itself can tell.
      const auto modified = std::filesystem::last_write_time(path_);
      const size_t line = static_cast<size_t>(kind == 8 ? at : count - 1);
      testing::WriteBytes(path_, WithStatusTurned(bytes, lines, line));
      std::filesystem::last_write_time(path_, modified + std::chrono::seconds(kind == 8 ? 2 : 0));
    } else if (kind == 10) {
      ReleaseCacheMutexes();  // a fresh process that knows nothing yet
    }
    ExpectReadsMatchTheFile();
  }
}

// When the clock goes back (the end of daylight saving time repeats an hour) the lines of a second
// stand anywhere in the file, not at its end: a new line must still not get one of their Trids.
TEST_F(CacheIndexTest, TridsStayUniqueWhenTheClockGoesBack) {
  const int64_t moment = testing::LocalUnixTime(2014, 3, 7, 9, 5, 2);
  CacheRecord record;
  for (const char* step :
       {"-early", "+later1", "+later2", "+later3", "-repeat", "move", "-fresh", "+forward"}) {
    if (step[0] == 'm') {
      ASSERT_EQ(ReadCacheLine(1, &record), 1);
      record.fields[CacheRecord::kStatus] = "2";
      ASSERT_EQ(MoveToEnd(record), CacheChange::kDone);
      ReleaseCacheMutexes();  // a process that comes to the file afresh
      continue;
    }
    env_.set_unix_time(step[0] == '-' ? moment - 3600 : moment);
    ASSERT_EQ(Add(step + 1), 1);
  }
  std::vector<std::string> trids;
  for (const std::string& line : DiskLines(path_)) {
    ParseCacheLine(line, &record);
    trids.push_back(record.trans_no() + " " + record.trid());
  }
  // The moved line's old Trid is free again.
  EXPECT_EQ(trids,
            (std::vector<std::string>{"early 201403070805020789", "later2 201403070905020790",
                                      "later3 201403070905020791", "repeat 201403070805020790",
                                      "later1 201403070805020791", "fresh 201403070805020792",
                                      "forward 201403070905020789"}));
}

// The host's call and a pass over parked lines cost the same whatever the
// length of the cache; another process's changes are read, and only they.
TEST_F(CacheIndexTest, WhatDidNotChangeIsNotReadAgain) {
  std::string parked;
  for (int i = 0; i < 5000; ++i) {
    char trid[32];
    std::snprintf(trid, sizeof trid, "201403070800%02d0%03d", i / 1000, i % 1000);
    parked += std::to_string(i) + ",WO,140307,090502,17,F4,5,K9,ATF,P,1,2,1," + trid + ",0,x\n";
  }
  testing::WriteBytes(path_, OnDisk(parked));
  const size_t file_size = ReadBytes(path_).size();
  CacheRecord record;
  int index = 0;
  const auto bytes_for = [&](auto operation) {
    env_.bytes_read = 0;
    operation();
    return env_.bytes_read.load();
  };
  EXPECT_GE(bytes_for([&] { EXPECT_EQ(ReadCacheLine(0, &record), 1); }), file_size);
  EXPECT_LT(bytes_for([&] { EXPECT_EQ(Add("new"), 1); }), 1024u);
  EXPECT_LT(bytes_for([&] { EXPECT_EQ(FindDueLine(0, &record, &index), 1); }), 1024u);
  EXPECT_EQ(index, 5000);
  EXPECT_LT(bytes_for([&] { EXPECT_EQ(ReadCacheLine(2500, &record), 1); }), 1024u);
  AppendBehindTheDriversBack(OnDisk("other,WO,140307,090502,17,F4,5,K9,ATF,P,1,2,0,x,0,\n"));
  EXPECT_LT(bytes_for([&] { EXPECT_EQ(FindDueLine(5001, &record, &index), 1); }), 1024u);
  EXPECT_EQ(index, 5001);
  ReplaceBehindTheDriversBack(ReadBytes(path_));
  EXPECT_GE(bytes_for([&] { EXPECT_EQ(ReadCacheLine(5001, &record), 1); }), file_size);
  EXPECT_EQ(record.trans_no(), "other");
}

}  // namespace
}  // namespace vornlink
