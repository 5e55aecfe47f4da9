// What `vornlink deliver` reports of each line, learned from the cache file and the log alone.
#include "vornlink/deliver/delivery_watch.h"

#include <gtest/gtest.h>

namespace vornlink {
namespace {

// A cache of lines "<TransNo>,<JobNo>,<Status>,<Trid digit>", in file order.
std::vector<NumberedRecord> Cache(const std::vector<std::string>& lines) {
  std::vector<NumberedRecord> records;
  for (const std::string& line : lines) {
    const size_t a = line.find(','), b = line.find(',', a + 1), c = line.find(',', b + 1);
    NumberedRecord record;
    record.line = records.size() + 1;
    ParseCacheLine(line.substr(0, a) + "," + line.substr(a + 1, b - a - 1) +
                       ",240607,081503,17,F04,12,3,Oil,OIL-1,1.5,0," +
                       line.substr(b + 1, c - b - 1) + ",2014060411100000" + line.substr(c + 1) +
                       ",",
                   &record.record);
    records.push_back(std::move(record));
  }
  return records;
}

std::string Fates(const std::vector<LineOutcome>& outcomes) {
  std::string text;
  for (const LineOutcome& outcome : outcomes)
    text += outcome.trans_no + " " + FateName(outcome.fate) + " [" + outcome.verdict + "]\n";
  return text;
}

// Outcome entries name their line's job: a line dropped by hand while another is booked never
// takes that one's success, whatever their order in the file.
TEST(DeliveryWatchTest, EachLineTakesTheOutcomeOfItsOwnJob) {
  DeliveryWatch watch(Cache({"1,111111.A,0,11", "2,222222.B,0,12", "3,333333.C,0,13"}), true);
  const std::vector<CapturedEntry> log = {
      {'.', "FWT: WorkOrder[333333] LineCode[C] --> Reply: c[2] t[busy] --> FWT_RETRY_LATER"},
      {'.', "FWT: WorkOrder[222222] LineCode[B] --> Reply: c[0] t[OK] --> SUCCESS"}};
  EXPECT_EQ(Fates(watch.Update(Cache({"3,333333.C,2,21"}), log, false)),
            "1 removed []\n2 delivered [Reply: c[0] t[OK]]\n3 retry later [Reply: c[2] t[busy]]\n");
  ASSERT_EQ(watch.Due().size(), 1u);
  EXPECT_EQ(watch.Due()[0].pass, 2);
  EXPECT_EQ(watch.passes_ended(), 1);
  // Without the log every line that left counts as delivered.
  DeliveryWatch blind(Cache({"1,111111.A,0,11", "2,222222.B,0,12"}), false);
  EXPECT_EQ(Fates(blind.Update(Cache({"2,222222.B,3,12"}), {}, false)),
            "1 delivered []\n2 delivered []\n");
}

}  // namespace
}  // namespace vornlink
