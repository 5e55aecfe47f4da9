#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "exchange/booking_key.h"
#include "exchange/setup_ordinals.h"
#include "exchange/sha256.h"
#include "exchange/transaction_ordinals.h"
#include "testing/case_file.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

using Items = std::vector<std::pair<std::string, std::string>>;

// The entries registered from `document`, in table order; all are texts.
Items Load(const std::string& document) {
  ExtFormat ext;
  LoadSetupOrdinalsFromText(document, &ext);
  Items items;
  for (const ExtFormat::Entry& entry : ext.entries()) {
    EXPECT_EQ(entry.type, 's');
    items.emplace_back(entry.ordinal, entry.text);
  }
  return items;
}

const std::vector<testing::TextCase> kSetupCases =
    testing::ReadCases(VORNLINK_TEST_DATA_DIR, "setup_ordinals_cases.txt");

// Each case of data/setup_ordinals_cases.txt: "@ NAME=value | ...", the document.
TEST(SetupOrdinalsTest, ReadsTheSectionLineByLine) {
  ASSERT_GT(kSetupCases.size(), 7u);
  for (const testing::TextCase& c : kSetupCases) {
    SCOPED_TRACE(c.where);
    Items items;
    for (const std::string& item : c.fields)
      items.emplace_back(item.substr(0, item.find('=')), item.substr(item.find('=') + 1));
    EXPECT_EQ(Load(c.body), items);
    // Carriage returns, empty lines and lines of blanks change nothing.
    std::string spaced;
    for (char ch : c.body)
      spaced += ch == '\n' ? std::string("\r\n\r\n  \t\r\n") : std::string(1, ch);
    EXPECT_EQ(Load(spaced), items);
  }
}

// The expanded template after `fields` are registered, or the failure.
std::string Format(const TransactionFields& fields, const std::string& format) {
  return testing::TextOrFailure([&] {
    ExtFormat ext;
    RegisterTransactionOrdinals(fields, "123456", "01", &ext);
    return ext.Format(format);
  });
}

// Each ordinal in its type: numbers read from their field, doubles, texts
// (data/transaction_ordinals_cases.txt).
TEST(OrdinalsTest, RegistersEveryTransactionOrdinalReadFromItsField) {
  testing::ScopedFakeEnv env;
  testing::WriteBytes(env.ModuleFile("xml"), kSetupCases.at(0).body);
  const auto cases = testing::ReadCases(VORNLINK_TEST_DATA_DIR, "transaction_ordinals_cases.txt");
  ASSERT_EQ(cases.size(), 9u);
  for (const testing::TextCase& c : cases) {
    TransactionFields fields;
    std::istringstream in(c.fields.at(0));
    for (std::string& field : fields) std::getline(in, field, ';');
    EXPECT_EQ(Format(fields, c.fields.at(1)), c.fields.at(2)) << c.where;
  }
  const TransactionFields huge = {"1", "1.A", "240607", "081503", "1",     "F",
                                  "1", "1",   "O",      "O",      "1e300", "0"};
  EXPECT_EQ(Format(huge, "%@k9").size(), 304u);  // 301 digits, ',' and 2 decimals
}

// The published examples of the standard; 55 bytes fill the last block exactly, 56 need a second.
TEST(BookingKeyTest, Sha256GivesThePublishedDigests) {
  EXPECT_EQ(HexDigits(Sha256("")),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(HexDigits(Sha256("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(HexDigits(Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(HexDigits(Sha256(std::string(1000000, 'a'))),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(HexDigits(Sha256(std::string(55, 'a')), 4), "9f4390f8");
}

// A change in any one field, or text moved from one field into the next, gives another key.
TEST(BookingKeyTest, EachFieldCountsAndFieldsStayApart) {
  const TransactionFields booking = {"4711", "118739.A", "240607", "081503", "7",   "BAY1",
                                     "1",    "3",        "Oil",    "OIL-1",  "4.5", "0"};
  const std::string key = BookingKey(booking);
  EXPECT_TRUE(key.size() == kBookingKeyDigits &&
              key.find_first_not_of("0123456789abcdef") == std::string::npos)
      << key;
  std::set<std::string> keys = {key};
  for (size_t field = 0; field < kTransactionFieldCount; ++field) {
    TransactionFields changed = booking;
    changed[field] += "1";
    EXPECT_TRUE(keys.insert(BookingKey(changed)).second) << "field " << field + 1;
    if (field + 1 < kTransactionFieldCount) {
      changed = booking;
      changed[field + 1].insert(changed[field + 1].begin(), changed[field].back());
      changed[field].pop_back();
      EXPECT_TRUE(keys.insert(BookingKey(changed)).second) << "fields " << field + 1;
    }
  }
}

}  // namespace
}  // namespace vornlink
