#include "cache/cache_record.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "settings/text_lines.h"

namespace vornlink {
namespace {

using Fields = std::array<std::string, CacheRecord::kFieldCount>;

constexpr char kTrid[] = "201403070905020789";
constexpr char kNumbered[] = "1,2,3,4,5,6,7,8,9,10,11,12,";

// Fields 1 to 12 numbered as kNumbered numbers them, then the rest.
Fields Numbered(const std::string& status, const std::string& message) {
  Fields fields;
  for (size_t i = 0; i < kTransactionFieldCount; ++i) fields[i] = std::to_string(i + 1);
  fields[CacheRecord::kStatus] = status;
  fields[CacheRecord::kTrid] = kTrid;
  fields[CacheRecord::kMessage] = message;
  return fields;
}

TEST(CacheRecordTest, FourteenFieldsThenTheMessageWhateverTheLineLength) {
  const std::string trid = kTrid;
  struct Case {
    std::string line;
    Fields fields;
  };
  const Case cases[] = {
      // Everything after the fifteenth comma is the message, commas included.
      {kNumbered + ("1," + trid) + ",reserved,FWT: c[7], t[x,y],,",
       Numbered("1", "FWT: c[7], t[x,y],,")},
      // Missing fields are empty; nothing of the line read before stays.
      {"a,b,,d", Fields{"a", "b", "", "d"}},
      {kNumbered + ("2," + trid), Numbered("2", "")},
      {"", Fields{}},
      // A fresh line ends with a comma.
      {kNumbered + ("0," + trid) + ",0,", Numbered("0", "")},
  };
  CacheRecord record;
  record.fields.fill("stale");
  for (const Case& test : cases) {
    SCOPED_TRACE(test.line);
    ParseCacheLine(test.line, &record);
    EXPECT_EQ(record.fields, test.fields);
    EXPECT_EQ(TridOfLine(test.line), test.fields[CacheRecord::kTrid]);
  }
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
