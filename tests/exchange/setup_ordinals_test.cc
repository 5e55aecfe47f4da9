#include "exchange/setup_ordinals.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "testing/test_env.h"

namespace vornlink {
namespace {

using Items = std::vector<std::pair<std::string, std::string>>;

// The entries registered from `document`, in table order.
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

constexpr char kSettings[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
    "<KMR>\n"
    "  <Log>\n"
    "    <FileName>C:\\log\\kmr.log</FileName>\n"
    "  </Log>\n"
    "  <Setup>\n"
    "    <TP>\n"
    "      <Value>HTTP</Value>\n"
    "    </TP>\n"
    "    <FU>\n"
    "\t\t<Value>http://dms.example.com:8080/FluidService?wsdl</Value>\n"
    "    </FU>\n"
    "    <FN>\n"
    "      <Value>fluid user</Value>\n"
    "    </FN>\n"
    "    <FH>\n"
    "      <Value>Content-Type: text/xml; charset=utf-8\n"
    "      SOAPAction: \"urn:insert\"\n"
    "      Content-Length: DynLength</Value>\n"
    "    </FH>\n"
    "    <FS>\n"
    "      <Value>1</Value>\n"
    "    </FS>\n"
    "  </Setup>\n"
    "</KMR>\n";

TEST(SetupOrdinalsTest, ReadsARealisticSection) {
  EXPECT_EQ(Load(kSettings),
            (Items{{"TP", "HTTP"},
                   {"FU", "http://dms.example.com:8080/FluidService?wsdl"},
                   {"FN", "fluid user"},
                   {"FH",
                    "Content-Type: text/xml; charset=utf-8\nSOAPAction: \"urn:insert\"\n"
                    "Content-Length: DynLength"},
                   {"FS", "1"}}));
}

TEST(SetupOrdinalsTest, CarriageReturnsAndEmptyLinesDoNotMatter) {
  std::string with_crlf;
  for (char c : std::string(kSettings)) {
    if (c == '\n')
      with_crlf += "\r\n\r\n   \t\r\n";
    else
      with_crlf += c;
  }
  EXPECT_EQ(Load(with_crlf), Load(kSettings));
}

TEST(SetupOrdinalsTest, OnlyLinesInsideTheSectionOpenItems) {
  EXPECT_EQ(Load("<FU>\n<Value>outside</Value>\n<Setup>\n<TP>\n<Value>TCP</Value>\n</Setup>\n"
                 "<SR>\n<Value>after</Value>\n"),
            (Items{{"TP", "TCP"}}));
  // The section tag must stand alone on its line.
  EXPECT_EQ(Load("<Setup> \n<TP>\n<Value>TCP</Value>\n"), Items{});
  EXPECT_EQ(Load("<setup>\n<TP>\n<Value>TCP</Value>\n"), Items{});
  // Two sections are read one after the other; a later item replaces.
  EXPECT_EQ(Load("<Setup>\n<TP>\n<Value>TCP</Value>\n</Setup>\n<Setup>\n<PO>\n<Value>7001</Value>\n"
                 "<TP>\n<Value>HTTPS</Value>\n</Setup>\n"),
            (Items{{"PO", "7001"}, {"TP", "HTTPS"}}));
}

TEST(SetupOrdinalsTest, ValuesAreCutByLengthAndNotTrimmed) {
  EXPECT_EQ(Load("<Setup>\n<FN>\n<Value>  two blanks </Value>\n"),
            (Items{{"FN", "  two blanks "}}));
  // Blanks after "</Value>" shift the cut into the value.
  EXPECT_EQ(Load("<Setup>\n<FN>\n<Value>abc</Value>  \n"), (Items{{"FN", "abc</"}}));
  // The value line need not begin with "<Value>": seven characters go.
  EXPECT_EQ(Load("<Setup>\n<FN>\n<Val>abcdef</Value>\n"), (Items{{"FN", "cdef"}}));
  // Too short for both cuts: an empty value, not a fault.
  EXPECT_EQ(Load("<Setup>\n<FN>\n</Value>\n<FP>\n<Value></Value>\n"),
            (Items{{"FN", ""}, {"FP", ""}}));
}

TEST(SetupOrdinalsTest, ItemWithoutValueEndTakesTheNextItemsLines) {
  // "<FN>" renames the open item; what FU collected stays in the value.
  EXPECT_EQ(Load("<Setup>\n<FU>\n<Value>http://dms\n</FU>\n<FN>\n<Value>user</Value>\n</FN>\n"
                 "<FP>\n<Value>secret</Value>\n</Setup>\n"),
            (Items{{"FN", "http://dms\n</FU>\n<Value>user"}, {"FP", "secret"}}));
  // Without any "</Value>" the item swallows the rest, "</Setup>" included.
  EXPECT_EQ(Load("<Setup>\n<TP>\n<Value>TCP\n</TP>\n</Setup>\n"), Items{});
}

TEST(SetupOrdinalsTest, NamesOfOtherLengthsAreReadButNotKept) {
  EXPECT_EQ(Load("<Setup>\n<FUX>\n<Value>three</Value>\n<ABCDEFGHIJ>\n<Value>ten</Value>\n"
                 "x\n<Value>one character line</Value>\n<FU>\n<Value>two</Value>\n"),
            (Items{{"FU", "two"}}));
  // A line of 13 characters opens no item, so its value line is ignored.
  EXPECT_EQ(Load("<Setup>\n<ABCDEFGHIJK>\n<Value>eleven</Value>\n<PO>\n<Value>1</Value>\n"),
            (Items{{"PO", "1"}}));
  // A short line with a '/' second opens none either.
  EXPECT_EQ(Load("<Setup>\n</FU>\n<Value>x</Value>\n"), Items{});
}

TEST(SetupOrdinalsTest, CommentsAreNotUnderstood) {
  // A commented-out item is read like any other, and the later one wins.
  EXPECT_EQ(Load("<Setup>\n<!--\n<FU>\n<Value>http://old</Value>\n</FU>\n-->\n<FU>\n"
                 "<Value>http://new</Value>\n</FU>\n<!-- <FN><Value>x</Value></FN> -->\n"
                 "</Setup>\n"),
            (Items{{"FU", "http://new"}}));
}

TEST(SetupOrdinalsTest, LoadsTheDocumentBesideTheModule) {
  testing::ScopedFakeEnv env;
  ExtFormat ext;
  LoadSetupOrdinals(&ext);
  EXPECT_TRUE(ext.entries().empty());

  testing::WriteBytes(env.ModuleFile("xml"), testing::OnDisk(kSettings));
  LoadSetupOrdinals(&ext);
  EXPECT_EQ(ext.Format("%@TP %@FS"), "HTTP 1");
  EXPECT_EQ(ext.Format("%@FH"),
            "Content-Type: text/xml; charset=utf-8\nSOAPAction: \"urn:insert\"\n"
            "Content-Length: DynLength");
}

}  // namespace
}  // namespace vornlink
