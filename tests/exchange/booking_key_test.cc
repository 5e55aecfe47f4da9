#include "exchange/booking_key.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "exchange/sha256.h"

namespace vornlink {
namespace {

// The published examples of the standard, and lengths around the padding
// boundaries (the tail needs one block or two).
TEST(BookingKeyTest, Sha256GivesThePublishedDigests) {
  EXPECT_EQ(HexDigits(Sha256("")),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(HexDigits(Sha256("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(HexDigits(Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(HexDigits(Sha256("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmn"
                             "hijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu")),
            "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
  EXPECT_EQ(HexDigits(Sha256(std::string(1000000, 'a'))),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(HexDigits(Sha256(std::string(55, 'a')), 4), "9f4390f8");
  EXPECT_EQ(HexDigits(Sha256(std::string(64, 'a')), 4), "ffe054fe");
}

// One booking, one key; a change in any one field, or text moved from one
// field into the next, gives another.
TEST(BookingKeyTest, EachFieldCountsAndFieldsStayApart) {
  const TransactionFields booking = {"4711", "118739.A", "240607", "081503", "7",   "BAY1",
                                     "1",    "3",        "Oil",    "OIL-1",  "4.5", "0"};
  const std::string key = BookingKey(booking);
  EXPECT_EQ(key.size(), kBookingKeyDigits);
  EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(BookingKey(TransactionFields(booking)), key);
  std::set<std::string> keys = {key};
  for (size_t field = 0; field < kTransactionFieldCount; ++field) {
    TransactionFields changed = booking;
    changed[field] += "1";
    EXPECT_TRUE(keys.insert(BookingKey(changed)).second) << "field " << field + 1;
    if (field + 1 < kTransactionFieldCount) {
      TransactionFields shifted = booking;
      shifted[field + 1] = shifted[field].back() + shifted[field + 1];
      shifted[field].pop_back();
      EXPECT_TRUE(keys.insert(BookingKey(shifted)).second) << "fields " << field + 1;
    }
  }
}

}  // namespace
}  // namespace vornlink
