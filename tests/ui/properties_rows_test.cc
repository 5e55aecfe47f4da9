#include "ui/properties_rows.h"

#include <gtest/gtest.h>

#include "testing/test_env.h"
#include "ui/dms_port.h"

namespace vornlink {
namespace {

using testing::TempDir;
using testing::WriteBytes;

std::string Rows(const PropertyList& list) {
  std::string text;
  for (const PropertyRow& row : list.rows) {
    text += row.data + "|" + row.value + "|" + row.name + "\n";
  }
  return text;
}

PropertyList RowsOf(const std::string& document) {
  TempDir dir;
  WriteBytes(dir.File("Vornlink.xml"), document);
  return ReadPropertyRows(dir.File("Vornlink.xml"));
}

TEST(PropertyRowsTest, ListsTheSetupItemsInDocumentOrder) {
  PropertyList list = RowsOf(
      "<KMR>\r\n"
      "  <Log><FileName>x.log</FileName></Log>\r\n"
      "  <Setup>\r\n"
      "    <TP>\r\n      <Value>TCP</Value>\r\n      <Data>Transport</Data>\r\n    </TP>\r\n"
      "    <!-- the DMS -->\r\n"
      "    <FU><Value>http://127.0.0.1/dms?a=1&amp;b=2</Value><Data>URL</Data></FU>\r\n"
      "    <PO><Value>9123</Value><Data>Port</Data></PO>\r\n"
      "  </Setup>\r\n"
      "</KMR>\r\n");
  EXPECT_EQ(list.problem, "");
  EXPECT_EQ(Rows(list),
            "Transport|TCP|TP\n"
            "URL|http://127.0.0.1/dms?a=1&b=2|FU\n"
            "Port|9123|PO\n");
}

TEST(PropertyRowsTest, OddItemsReadTheirOwnChildrenOnly) {
  PropertyList list = RowsOf(
      "<KMR><Setup>"
      "<SR><Value>dms.local</Value></SR>"              // a single child: no Data
      "<FP><Value></Value><Data>Password</Data></FP>"  // an empty value
      "<FN><!-- user --><Value>fluids</Value><Data>User</Data></FN>"
      "<JS/>"
      "<JL>1</JL>"  // text, no child element
      "<JH><Value>0</Value><Data>Headers</Data><Extra>x</Extra></JH>"
      "</Setup><Other><XX><Value>no</Value></XX></Other></KMR>");
  EXPECT_EQ(list.problem, "");
  EXPECT_EQ(Rows(list),
            "|dms.local|SR\n"
            "Password||FP\n"
            "User|fluids|FN\n"
            "||JS\n"
            "||JL\n"
            "Headers|0|JH\n");
}

TEST(PropertyRowsTest, ADocumentThatCannotBeReadGivesNoRowsAndTheReason) {
  struct Case {
    const char* name;
    const char* document;  // null: no file
    const char* reason;
  };
  const Case cases[] = {
      {"missing file", nullptr, "cannot load"},
      {"malformed", "<KMR>\n<Setup>\n<TP><Value>TCP</Value>\n</Setup>\n</KMR>\n", "cannot load"},
      {"truncated", "<KMR>\n<Setup>\n<TP><Val", "cannot load"},
      {"no Setup", "<KMR><Log/></KMR>", "has no KMR/Setup section"},
      {"other root", "<Settings><Setup><TP><Value>x</Value></TP></Setup></Settings>",
       "has no KMR/Setup section"},
      {"not valid",
       "<!DOCTYPE KMR [<!ELEMENT KMR (Setup)><!ELEMENT Setup "
       "EMPTY>]><KMR><Setup><TP/></Setup></KMR>",
       "not valid"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    if (c.document != nullptr) WriteBytes(dir.File("Vornlink.xml"), c.document);
    PropertyList list = ReadPropertyRows(dir.File("Vornlink.xml"));
    EXPECT_TRUE(list.rows.empty()) << c.name;
    EXPECT_EQ(list.problem.rfind("Setup: ", 0), 0u) << c.name << ": " << list.problem;
    EXPECT_NE(list.problem.find(c.reason), std::string::npos) << c.name << ": " << list.problem;
  }
}

TEST(DmsPortTest, AcceptsOnlyPortNumbers) {
  EXPECT_EQ(ParsePort("123"), 123);
  EXPECT_EQ(ParsePort("65535"), 65535);
  for (const char* bad : {"", "0", "65536", "99999999", "12a", " 80", "-1"}) {
    EXPECT_EQ(ParsePort(bad), 0) << bad;
  }
}

}  // namespace
}  // namespace vornlink
