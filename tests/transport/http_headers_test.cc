#include "transport/http_headers.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/case_file.h"
#include "testing/test_env.h"
#include "transport/transport_test_support.h"

namespace vornlink {
namespace {

using testing::Lines;

// The blocks and log entries of data/header_blocks.txt.
TEST(BuildHttpHeadersTest, FillsLengthOfTheSentQueryAndBasicForValidationOnly) {
  testing::ScopedFakeEnv env;
  testing::LogRecorder log(env.dir().File("kmr.log"), "+dh");
  const auto cases = testing::ReadCases(VORNLINK_TRANSPORT_TEST_DATA, "header_blocks.txt");
  ASSERT_EQ(cases.size(), 5u);
  for (const testing::TextCase& c : cases) {
    TransportContext context;
    context.exchange_prefix = c.fields.at(0);
    context.user_name = c.fields.at(1);
    context.password = c.fields.at(2);
    context.dynamic_length = c.fields.at(3);
    EXPECT_EQ(BuildHttpHeaders(c.fields.at(4), c.fields.at(5), context), c.fields.at(6)) << c.where;
    std::string entries;
    for (const std::string& entry : log.Take()) entries += entry + "\n";
    EXPECT_EQ(entries, c.body) << c.where;
  }
}

TEST(HttpHeadersTest, Base64LinesAndMasks) {
  const std::pair<std::string, std::string> kBase64[] = {
      {"", ""},        {"f", "Zg=="},          {"fo", "Zm8="},
      {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}, {"\xff\xfe\xfd\x3e", "//79Pg=="}};
  for (const auto& [plain, encoded] : kBase64) EXPECT_EQ(Base64Encode(plain), encoded) << plain;

  // Split at CR LF and bare LF; what is no header goes.
  EXPECT_EQ(HeaderLines("A: 1\r\nB: 2\nC:3\r\n\r\nno colon\n: no name\r\nD: x:y\r\n\r\n"),
            (Lines{"A: 1", "B: 2", "C:3", "D: x:y"}));
  EXPECT_TRUE(HeaderLines("").empty());

  // The secrets of data/header_masks.txt.
  const auto masks = testing::ReadCases(VORNLINK_TRANSPORT_TEST_DATA, "header_masks.txt");
  EXPECT_EQ(masks.size(), 12u);
  for (const testing::TextCase& c : masks)
    EXPECT_EQ(MaskHeaderSecrets(c.fields.at(0)), c.fields.at(1)) << c.where;
}

}  // namespace
}  // namespace vornlink
