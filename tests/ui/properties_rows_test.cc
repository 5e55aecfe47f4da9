#include "ui/properties_rows.h"

#include <gtest/gtest.h>

#include "testing/test_env.h"

namespace vornlink {
namespace {

TEST(PropertyRowsTest, ListsTheSetupItemsInDocumentOrderOrNoneAndTheReason) {
  struct Case {
    const char* document;  // null: no file
    const char* rows;      // "Data|Value|Name" each
    const char* problem;   // what the reason holds after "Setup: "; null: none
  };
  const Case kCases[] = {
      {"<KMR>\r\n  <Log><FileName>x.log</FileName></Log>\r\n  <Setup>\r\n"
       "    <TP>\r\n      <Value>TCP</Value>\r\n      <Data>Transport</Data>\r\n    </TP>\r\n"
       "    <!-- the DMS -->\r\n    <PO><Value>9123</Value><Data>Port</Data></PO>\r\n"
       "    <FU><Value>http://127.0.0.1/dms?a=1&amp;b=2</Value><Data>URL</Data></FU>\r\n"
       "    <SR><Value>dms.local</Value></SR>\r\n"  // a single child: no Data
       "    <FN><!-- user --><Value>fluids</Value><!----><Data>User</Data></FN><JS/><JL>1</JL>\r\n"
       "    <JH><Value>0</Value><Data>Headers</Data><Extra>x</Extra></JH>\r\n  </Setup>\r\n"
       "  <Other><XX><Value>no</Value></XX></Other>\r\n</KMR>\r\n",
       "Transport|TCP|TP\nPort|9123|PO\nURL|http://127.0.0.1/dms?a=1&b=2|FU\n|dms.local|SR\n"
       "User|fluids|FN\n||JS\n||JL\nHeaders|0|JH\n",
       nullptr},
      {nullptr, "", "cannot load"},
      {"<KMR>\n<Setup>\n<TP><Value>TCP</Value>\n</Setup>\n</KMR>\n", "", "cannot load"},
      {"<KMR><Log/></KMR>", "", "has no KMR/Setup section"},
      {"<Settings><Setup><TP><Value>x</Value></TP></Setup></Settings>", "",
       "has no KMR/Setup section"},
      {"<!DOCTYPE KMR [<!ELEMENT KMR (Setup)><!ELEMENT Setup "
       "EMPTY>]><KMR><Setup><TP/></Setup></KMR>",
       "", "not valid"},
  };
  for (const Case& c : kCases) {
    testing::TempDir dir;
    if (c.document != nullptr) testing::WriteBytes(dir.File("Vornlink.xml"), c.document);
    PropertyList list = ReadPropertyRows(dir.File("Vornlink.xml"));
    std::string rows;
    for (const PropertyRow& row : list.rows)
      rows += row.data + "|" + row.value + "|" + row.name + "\n";
    EXPECT_EQ(rows, c.rows) << list.problem;
    if (c.problem == nullptr) {
      EXPECT_EQ(list.problem, "");
    } else {
      EXPECT_EQ(list.problem.rfind("Setup: ", 0), 0u) << list.problem;
      EXPECT_NE(list.problem.find(c.problem), std::string::npos) << list.problem;
    }
  }
}

}  // namespace
}  // namespace vornlink
