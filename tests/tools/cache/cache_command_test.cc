#include "vornlink/cache/cache_command.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <set>

#include "base/text_lines.h"
#include "cache/cache_file.h"
#include "cache/cache_record.h"
#include "command_test.h"
#include "dms_fixture.h"
#include "exchange/booking_key.h"
#include "exchange/forward_transaction.h"
#include "hosted_driver.h"
#include "testing/child_process.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

// A module of its own in a fresh folder, unless a test names another.
class CacheCommandTest : public testing::CommandTest {
 protected:
  int Cache(const std::vector<std::string>& args) { return Cache(module_, args); }
  int Cache(const std::string& module_path, const std::vector<std::string>& args) {
    return Run(RunCacheCommand, module_path, args);
  }

  testing::ScopedFakeEnv env_;
  const std::string module_ = env_.env().ModulePath();
};

TEST_F(CacheCommandTest, ListShowExportRetryAndDropAKnownCache) {
  testing::WriteBytes(
      env_.ModuleFile("$$$"),
      testing::OnDisk(testing::CacheLine("1", "0", "201403070905020001") + "\n" +
                      testing::CacheLine("2", "1", "201403070905020002") +
                      "FWT: WorkOrder[123456] LineCode[A] --> Reply: c[5] t[no, \"never\"] "
                      "--> FAILED --> FWT_NEEDS_ATTENTION\n" +
                      testing::CacheLine("3", "2", "201403070905020003") + "\n" +
                      testing::CacheLine("4", "9", "201403070905020004") + "\n"));
  EXPECT_TRUE(Gave(
      Cache({"list"}), 0,
      {"2     201403070905020002 parked      2        123456.A     1.5",
       "4 line(s) in " + env_.ModuleFile("$$$") + ": 1 due, 1 retry later, 1 parked, 1 stuck"}));
  EXPECT_TRUE(Gave(Cache({"show", "201403070905020002"}), 0,
                   {"state        parked (Status [1])", "Message      FWT: WorkOrder[123456]"}));
  EXPECT_TRUE(Gave(Cache({"export"}), 0,
                   {"2,201403070905020002,parked,1,2,123456.A,240607,081503,17,F04,12,3,Oil,OIL-1,"
                    "1.5,0,\"FWT: WorkOrder[123456] LineCode[A] --> Reply: c[5] t[no, "
                    "\"\"never\"\"]"}));

  // Only lines the worker does not send are released: to the end, due, new Trid, no message.
  EXPECT_TRUE(
      Gave(Cache({"retry", "201403070905020001"}), 1, {"is not released: it is due already"}));
  EXPECT_EQ(Cache({"retry", "201403070905020099"}), 1) << out_;
  EXPECT_TRUE(Gave(Cache({"retry", "--all-parked"}), 0, {"1 parked line(s) released"}));
  const std::string contents = testing::ReadBytes(env_.ModuleFile("$$$"));
  std::vector<std::string_view> lines = SplitLines(contents);
  ASSERT_EQ(lines.size(), 4u);
  CacheRecord released;
  ParseCacheLine(lines[3], &released);
  EXPECT_TRUE(released.trans_no() == "2" && released.status() == "0" &&
              released.message().empty() && released.trid() != "201403070905020002")
      << lines[3];
  EXPECT_EQ(Cache({"retry", "201403070905020004"}), 0) << "an odd Status too: " << out_;

  // Dropping asks for --yes, and prints the line it drops.
  EXPECT_TRUE(Gave(Cache({"drop", "201403070905020003"}), 2, {"nothing dropped"}));
  EXPECT_TRUE(
      Gave(Cache({"drop", "201403070905020003", "--yes"}), 0,
           {"3,123456.A,240607,081503,17,F04,12,3,Oil,OIL-1,1.5,0,2,201403070905020003,,"}));
  EXPECT_EQ(testing::DiskLines(env_.ModuleFile("$$$")).size(), 3u);
  EXPECT_EQ(Cache({"drop", "201403070905020003", "--yes"}), 1) << out_;
  EXPECT_EQ(Cache({"frobnicate"}), 2);

  // A cell a spreadsheet would run as a formula goes out as text; plain numbers stay numbers.
  TransactionFields fields = testing::SampleTransaction("5");
  fields[kField04] = "@SUM(A1)";
  fields[kFluidName] = "=HYPERLINK(\"http://x\";\"y\")";
  fields[kFluidPartNo] = "+1-2";
  fields[kQuantity] = "-4.5";
  testing::WriteBytes(
      env_.ModuleFile("$$$"),
      testing::OnDisk(FormatCacheLine(fields, "-1", "201403070905020005", "0", "=cmd") + "\n"));
  EXPECT_TRUE(Gave(Cache({"export"}), 0,
                   {",stuck,-1,5,WO1234-02,140307,090502,17,'@SUM(A1),5,K9,\"'=HYPERLINK("
                    "\"\"http://x\"\";\"\"y\"\")\",'+1-2,-4.5,2.25,'=cmd\n"}));
}

// A line of unknown outcome (marked at a stop's cut), or parked after its time limit by an
// older driver, may be booked at the DMS: its release asks for --yes. A line marked delivered is
// never released; dropping it does what the worker would.
TEST_F(CacheCommandTest, ReleasesThatMayBookTwiceAskForConfirmation) {
  testing::WriteBytes(env_.ModuleFile("$$$"),
                      testing::OnDisk(testing::CacheLine("1", "1", "201403070905020001") +
                                      "FWT: " + std::string(kMayHaveBookedNote) + "--> FAILED\n" +
                                      testing::CacheLine("2", "3", "201403070905020002") + "\n" +
                                      testing::CacheLine("3", "4", "201403070905020003") + "\n"));
  const std::string before = testing::ReadBytes(env_.ModuleFile("$$$"));
  for (const char* trid : {"201403070905020001", "201403070905020003"}) {
    EXPECT_TRUE(Gave(Cache({"retry", trid}), 2,
                     {"the DMS may have booked it; look there first, and release it with --yes"}));
  }
  EXPECT_TRUE(Gave(Cache({"retry", "--all-parked"}), 2, {"0 parked line(s) released, 1 not"}));
  EXPECT_TRUE(Gave(Cache({"retry", "201403070905020002", "--yes"}), 1,
                   {"is not released: the DMS booked it already"}));
  EXPECT_EQ(testing::ReadBytes(env_.ModuleFile("$$$")), before);
  EXPECT_TRUE(Gave(Cache({"retry", "201403070905020001", "--yes"}), 0,
                   {"released Trid 201403070905020001"}));
  EXPECT_TRUE(
      Gave(Cache({"drop", "201403070905020002", "--yes"}), 0, {"note: the DMS had booked it"}));
  EXPECT_EQ(Cache({"retry", "201403070905020003", "--yes"}), 0) << out_;
  EXPECT_EQ(testing::DiskLines(env_.ModuleFile("$$$")).size(), 2u);
}

// A line without a Trid is named by its number, a TransNo names the one line that has it, and a
// name that fits several lines lists them. A line number names its line only while it reads as
// listed: a line removed before it meanwhile does not make another one go.
TEST_F(CacheCommandTest, LinesByNumberOrTransNoAndOnlyAsListed) {
  const std::string no_trid = testing::CacheLine("7", "0", "") + "\n";
  testing::WriteBytes(
      env_.ModuleFile("$$$"),
      testing::OnDisk(testing::CacheLine("7", "1", "201403070905020001") + "\n" + no_trid +
                      testing::CacheLine("8", "2", "201403070905020003") + "\n" + no_trid));
  EXPECT_TRUE(
      Gave(Cache({"retry", "7"}), 1, {"7 names 3 lines", "line 2: Trid (none), TransNo 7"}));
  EXPECT_TRUE(Gave(Cache({"show", "--trans-no", "8"}), 0, {"state        retry later"}));
  EXPECT_TRUE(Gave(Cache({"drop", "--all-stuck"}), 2, {"stuck: line 4: 7,"}));

  std::vector<NumberedRecord> listed;
  std::string error;
  ASSERT_TRUE(ReadCacheRecords(&listed, &error)) << error;
  ASSERT_EQ(RemoveLine("201403070905020001"), CacheChange::kDone);  // a worker, meanwhile
  auto drop = [](CacheRecord*) { return LineEdit::kRemove; };
  EXPECT_EQ(EditCacheLineAt(3, listed[2].record, drop, nullptr, &error), CacheChange::kDone);
  EXPECT_EQ(EditCacheLineAt(1, listed[0].record, drop, nullptr, &error), CacheChange::kNotFound);
  EXPECT_TRUE(Gave(Cache({"drop", "--all-stuck", "--yes"}), 0,
                   {"dropped line 1;", "2 stuck line(s) dropped"}));
  EXPECT_EQ(testing::ReadBytes(env_.ModuleFile("$$$")), "");
}

// An operator finds one booking among many by its job (or work order), TransNo or state, and
// show and the JSON name its booking key, the one a DMS de-duplicates by.
TEST_F(CacheCommandTest, ListFindsABookingByJobTransNoOrState) {
  testing::WriteBytes(env_.ModuleFile("$$$"),
                      testing::OnDisk(testing::CacheLine("7", "1", "201403070905020001") + "\n" +
                                      testing::CacheLine("8", "2", "201403070905020002") + "\n" +
                                      testing::CacheLine("9", "0", "201403070905020003") + "\n"));
  auto key_of = [](const std::string& trans_no) {
    return BookingKey({trans_no, "123456.A", "240607", "081503", "17", "F04", "12", "3", "Oil",
                       "OIL-1", "1.5", "0"});
  };
  EXPECT_TRUE(Gave(Cache({"list", "--job", "123456", "--status", "retry-later"}), 0,
                   {"201403070905020002 retry later 8        123456.A     1.5      240607 081503",
                    "!201403070905020001", "1 of 3 line(s) in"}));
  EXPECT_TRUE(Gave(Cache({"list", "--job", "12345"}), 0, {"0 of 3 line(s)"}));
  EXPECT_TRUE(
      Gave(Cache({"list", "--job", "123456.A", "--trans-no", "9", "--json"}), 0,
           {"\"trid\": \"201403070905020003\"", "!201403070905020002",
            "\"dispensed\": \"240607 081503\"", "\"booking_key\": \"" + key_of("9") + "\""}));
  EXPECT_TRUE(Gave(Cache({"show", "7"}), 0, {"BookingKey   " + key_of("7")}));
  EXPECT_TRUE(Gave(Cache({"list", "--status", "waiting"}), 2,
                   {"--status waiting is no state; the states are due, retry-later"}));
  EXPECT_TRUE(Gave(Cache({"list", "--job"}), 2, {"list --job wants a value"}));
}

// A host program delivers while this process releases every line the DMS refused: each
// transaction is booked exactly once, and the cache ends empty.
TEST_F(CacheCommandTest, ReleasedWhileAHostDeliversNothingIsLostOrDoubled) {
  constexpr size_t kTransactions = 12;
  std::mutex mutex;
  std::set<std::string> refused;
  std::map<std::string, int> booked;  // TransNo -> times
  // The DMS refuses each transaction once, then books it.
  testing::ScriptedDms dms([&](const std::string& request) {
    const std::string trans_no = testing::Between(request, "<trans>", "</trans>");
    std::lock_guard<std::mutex> lock(mutex);
    if (refused.insert(trans_no).second) return testing::ForwardReply("rejected", "not now");
    ++booked[trans_no];
    return testing::ForwardReply("success", "booked");
  });
  testing::HostedDriver host;
  testing::DmsSetup setup;
  setup.port = dms.port_text();
  host.WriteSettings(setup, "0");

  std::string session = "start\n";
  for (size_t i = 0; i < kTransactions; ++i) {
    session += "forward " + std::to_string(100 + i) +
               " 123456.A 240607 081503 17 F04 12 3 Oil OIL-1 1.5 0\nsleep 30\n";
  }
  session += "sleep 120000\n";
  testing::WriteBytes(host.dir().File("session.txt"), session);
  auto child = testing::ChildProcess::Start(
      VORNLINK_PROGRAM_FILE, {"-m", host.module_path(), "session", host.dir().File("session.txt")},
      host.dir().File("host.txt"));
  ASSERT_NE(child, nullptr);

  // Each refusal parks a line: released as soon as it is there.
  size_t released = 0;
  EXPECT_TRUE(testing::Eventually(
      [&] {
        {
          std::lock_guard<std::mutex> lock(mutex);
          if (booked.size() == kTransactions) return true;
          if (refused.size() == released) return false;  // nothing parked or on its way
        }
        EXPECT_EQ(Cache(host.module_path(), {"retry", "--all-parked"}), 0) << out_;
        released += testing::Occurrences(out_, "released Trid");
        return false;
      },
      std::chrono::seconds(120)))
      << host.CacheState();
  EXPECT_TRUE(testing::Eventually([&] { return host.CacheLines().empty(); })) << host.CacheState();
  child->Kill();
  child->Wait();

  std::lock_guard<std::mutex> lock(mutex);
  for (const auto& [trans_no, times] : booked) EXPECT_EQ(times, 1) << trans_no;
  EXPECT_EQ(released, kTransactions);
}

}  // namespace
}  // namespace vornlink
