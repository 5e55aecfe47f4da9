#include "ui/properties_rows.h"

#include <gtest/gtest.h>

#include "testing/case_file.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

// Each case of data/property_rows_cases.txt: "@ rows | reason", the document.
TEST(PropertyRowsTest, ListsTheSetupItemsInDocumentOrderOrNoneAndTheReason) {
  const auto cases = testing::ReadCases(VORNLINK_TEST_DATA_DIR, "property_rows_cases.txt");
  EXPECT_GT(cases.size(), 5u);
  for (const testing::TextCase& c : cases) {
    SCOPED_TRACE(c.where);
    testing::TempDir dir;
    if (c.fields.size() < 3) testing::WriteBytes(dir.File("Vornlink.xml"), c.body);
    PropertyList list = ReadPropertyRows(dir.File("Vornlink.xml"));
    std::string rows;
    for (const PropertyRow& row : list.rows)
      rows += row.data + "|" + row.value + "|" + row.name + "\n";
    EXPECT_EQ(rows, c.fields.at(0)) << list.problem;
    if (c.fields.at(1).empty()) {
      EXPECT_EQ(list.problem, "");
    } else {
      EXPECT_EQ(list.problem.rfind("Setup: ", 0), 0u) << list.problem;
      EXPECT_NE(list.problem.find(c.fields.at(1)), std::string::npos) << list.problem;
    }
  }
}

}  // namespace
}  // namespace vornlink
