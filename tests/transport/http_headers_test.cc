#include "transport/http_headers.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/test_env.h"
#include "transport/transport_test_support.h"

namespace vornlink {
namespace {

using testing::Lines;

TEST(BuildHttpHeadersTest, FillsLengthOfTheSentQueryAndBasicForValidationOnly) {
  testing::ScopedFakeEnv env;
  testing::LogRecorder log(env.dir().File("kmr.log"), "+dh");
  const std::string kEncode = "h            String to Encode[",
                    kEncoded = "h                     Encoded[********]";
  struct Case {
    const char *prefix, *user, *password, *dynamic_length, *header_template;
    std::string body;
    const char* block;
    Lines log;
  };
  // clang-format off
  const Case kCases[] = {
      {"FWT", "", "", "1", "A: DynLength\r\nB: DynLength", "", "A: 0\r\nB: 0\r\n\r\n", {"h             Query length is[0]."}},
      {"FWT", "", "", "yes", "A: DynLength", "abc", "A: DynLength\r\n\r\n", {}},  // only "1" fills it
      {"FWT", "abc", "pw", "0", "X-A: 1", "q", "X-A: 1\r\n\r\n", {}},  // no Authorization on forwards
      {"IJV", "abc", "", "0", "X-A: 1", "q", "X-A: 1\r\nAuthorization: Basic YWJjOg==\r\n\r\n\r\n",
       {kEncode + "abc:]", kEncoded}},
      {"IJV", "dms", "s3cret", "1", "Content-Length: DynLength", "12345",
       "Content-Length: 5\r\nAuthorization: Basic ZG1zOnMzY3JldA==\r\n\r\n\r\n",
       {kEncode + "dms:********]", kEncoded, "h             Query length is[5]."}},
  };
  // clang-format on
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.block);
    TransportContext context;
    context.exchange_prefix = c.prefix;
    context.user_name = c.user;
    context.password = c.password;
    context.dynamic_length = c.dynamic_length;
    EXPECT_EQ(BuildHttpHeaders(c.header_template, c.body, context), c.block);
    EXPECT_EQ(log.Take(), c.log);
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

  // clang-format off
  const std::pair<const char*, const char*> kMasks[] = {
      {"Authorization: Basic YWJjOg==", "Authorization: Basic ********"},
      {"authorization:Bearer x.y.z", "authorization:Bearer ********"},
      {"Authorization: opaque", "Authorization: ********"},
      {"Proxy-Authorization: Basic eA==", "Proxy-Authorization: Basic ********"},
      {"Cookie: session=1; user=2", "Cookie: ********"}, {"X-Api-Key: k", "X-Api-Key: ********"},
      {"X-Auth-Token: t", "X-Auth-Token: ********"}, {"Content-Length: 12", "Content-Length: 12"},
      {"SOAPAction: \"insert\"", "SOAPAction: \"insert\""}, {"Authorization:", "Authorization:"},
      {"Idempotency-Key: 0a1b", "Idempotency-Key: 0a1b"},
      // Line ends and the order of lines stay.
      {"A: 1\r\nCookie: c\nB: 2\r\n\r\n", "A: 1\r\nCookie: ********\nB: 2\r\n\r\n"}};
  // clang-format on
  for (const auto& [line, masked] : kMasks) EXPECT_EQ(MaskHeaderSecrets(line), masked) << line;
}

}  // namespace
}  // namespace vornlink
