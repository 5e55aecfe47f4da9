#include "cache/cache_record.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "settings/text_lines.h"

namespace vornlink {
namespace {

TransactionFields Numbered() {
  TransactionFields fields;
  for (size_t i = 0; i < fields.size(); ++i) fields[i] = "f" + std::to_string(i + 1);
  return fields;
}

TEST(CacheRecordTest, FreshLineHasSixteenFieldsAndEndsWithAComma) {
  std::string line = FormatCacheLine(Numbered(), "0", "201403070905020789", "0", "");
  EXPECT_EQ(line, "f1,f2,f3,f4,f5,f6,f7,f8,f9,f10,f11,f12,0,201403070905020789,0,");
  EXPECT_EQ(TridOfLine(line), "201403070905020789");

  CacheRecord record;
  ParseCacheLine(line, &record);
  EXPECT_EQ(record.transaction(), Numbered());
  EXPECT_EQ(record.status(), "0");
  EXPECT_EQ(record.trid(), "201403070905020789");
  EXPECT_EQ(record.message(), "");
}

TEST(CacheRecordTest, ShortLineLeavesTrailingFieldsEmpty) {
  CacheRecord record;
  record.fields.fill("stale");
  ParseCacheLine("a,b,,d", &record);
  EXPECT_EQ(record.fields[0], "a");
  EXPECT_EQ(record.fields[1], "b");
  EXPECT_EQ(record.fields[2], "");
  EXPECT_EQ(record.fields[3], "d");
  for (size_t i = 4; i < CacheRecord::kFieldCount; ++i) EXPECT_EQ(record.fields[i], "") << i;
  EXPECT_EQ(TridOfLine("a,b,,d"), "");

  // Fourteen fields: the reserved one and the message are missing.
  ParseCacheLine("1,2,3,4,5,6,7,8,9,10,11,12,2,201403070905020789", &record);
  EXPECT_EQ(record.trid(), "201403070905020789");
  EXPECT_EQ(record.message(), "");

  ParseCacheLine("", &record);
  for (const std::string& field : record.fields) EXPECT_EQ(field, "");
}

TEST(CacheRecordTest, EverythingAfterTheFifteenthCommaIsTheMessage) {
  const std::string line =
      "1,2,3,4,5,6,7,8,9,10,11,12,1,201403070905020789,reserved,FWT: c[7], t[x,y],,";
  CacheRecord record;
  ParseCacheLine(line, &record);
  EXPECT_EQ(record.status(), "1");
  EXPECT_EQ(record.trid(), "201403070905020789");
  EXPECT_EQ(record.message(), "FWT: c[7], t[x,y],,");
  EXPECT_EQ(TridOfLine(line), "201403070905020789");

  // Written again, the message comes back whole.
  std::string again =
      FormatCacheLine(record.transaction(), record.status(), record.trid(), "", record.message());
  CacheRecord reread;
  ParseCacheLine(again, &reread);
  EXPECT_EQ(reread.fields, record.fields);
}

TEST(CacheRecordTest, LinesContainingCutsLinesAsTheReaderDoes) {
  const std::string text = "x1,a,x1\r\n\nb\r,x1\nno\nx1 end";
  EXPECT_EQ(LinesContaining(text, "x1"),
            (std::vector<std::string_view>{"x1,a,x1", "b\r,x1", "x1 end"}));
  EXPECT_EQ(LinesContaining(text, ""), SplitLines(text));
  EXPECT_TRUE(LinesContaining(text, "x2").empty());
  EXPECT_TRUE(LinesContaining("", "x1").empty());
  // The views point into the text.
  EXPECT_EQ(LinesContaining(text, "end")[0].data(), text.data() + text.size() - 6);
}

}  // namespace
}  // namespace vornlink
