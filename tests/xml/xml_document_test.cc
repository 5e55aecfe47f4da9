// One list of cases for both parsers: libxml2 on Linux, MSXML 6 under Wine.
#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/case_file.h"
#include "testing/test_env.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vornlink {
namespace {

using testing::TempDir;
using testing::WriteBytes;

// Wine's MSXML (8.0) reports no position for a parse error and does not
// expand entities declared in the document; Windows' own MSXML does both.
bool WineMsxml() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

std::unique_ptr<XmlDocument> Loaded(const std::string& bytes, bool well_formed = true) {
  std::string error;
  std::unique_ptr<XmlDocument> document = XmlDocument::Create(&error);
  EXPECT_NE(document, nullptr) << error;
  EXPECT_EQ(document->LoadBytes(bytes), well_formed) << document->error();
  return document;
}

// Walks `doc` by `steps`, one character each (r root, f first child, n next sibling, p parent, s
// the next of `paths`), and gives where each step ends: "Name" for an element, "K:Name=Text" for
// another node (K: t text, c comment, i instruction), "-" before it when the step failed.
std::string Walk(XmlDocument& doc, const std::string& steps, std::vector<std::string> paths = {}) {
  std::string trail;
  for (char step : steps) {
    bool moved = step == 'r'   ? doc.SelectRoot()
                 : step == 'f' ? doc.SelectFirstChild()
                 : step == 'n' ? doc.SelectNextSibling()
                 : step == 'p' ? doc.SelectParent()
                               : doc.SelectPath(paths.front());
    if (step == 's') paths.erase(paths.begin());
    trail += trail.empty() ? "" : " ";
    if (!moved) trail += "-";
    XmlNodeKind kind = doc.Kind();
    if (kind != XmlNodeKind::kElement && kind != XmlNodeKind::kNone)
      trail += kind == XmlNodeKind::kText ? "t:" : kind == XmlNodeKind::kComment ? "c:" : "i:";
    trail += doc.Name();
    if (moved && kind != XmlNodeKind::kElement) trail += "=" + doc.Text();
  }
  return trail;
}

const std::vector<testing::TextCase> kCases =
    testing::ReadCases(VORNLINK_TEST_DATA_DIR, "xml_cases.txt");

// The cases of data/xml_cases.txt of `kind`.
std::vector<testing::TextCase> CasesOf(const std::string& kind) {
  std::vector<testing::TextCase> cases;
  for (const testing::TextCase& c : kCases) {
    if (c.fields.at(0) == kind) cases.push_back(c);
  }
  EXPECT_FALSE(cases.empty()) << kind << " in " << VORNLINK_TEST_DATA_DIR;
  return cases;
}

TEST(XmlDocumentTest, WalksNodesAndKeepsThePositionOnAFailedSelect) {
  // Attributes are not children; white space between elements is no node.
  auto doc = Loaded(CasesOf("settings").at(0).body);
  EXPECT_EQ(Walk(*doc, "rfsffffnpnnpnp", {"KMR/Setup"}),
            "KMR Log Setup FU Value t:#text=http://127.0.0.1/dms -t:#text -t:#text Value Data "
            "-Data FU TP Setup");
  ASSERT_TRUE(doc->SelectPath("KMR/Setup/TP"));
  EXPECT_EQ(doc->Text(), "TCP");
  for (const char* path : {"KMR/Missing", "Setup", "KMR//Setup", "KMR/Setup/", "", "/KMR"}) {
    EXPECT_FALSE(doc->SelectPath(path)) << path;
    EXPECT_EQ(doc->Name(), "TP") << path;
  }
  EXPECT_EQ(Walk(*doc, "rpn"), "KMR -KMR -KMR");  // the document itself is no position

  // Comments, instructions, a blank CDATA section, mixed text: nodes; prefixed names match whole.
  doc = Loaded("<a>\n  <!-- note -->\n  <?tool run?>\n  <![CDATA[ ]]>\n  <b/>\n  tail\n</a>");
  EXPECT_EQ(Walk(*doc, "rfnnnnns", {"a/b"}),
            "a c:#comment= note  i:tool=run t:#cdata-section=  b t:#text=\n  tail\n -t:#text b");
  EXPECT_EQ(doc->Kind(), XmlNodeKind::kElement);
  doc = Loaded("<S:Envelope xmlns:S=\"urn:s\"><S:Body/></S:Envelope>");
  EXPECT_EQ(Walk(*doc, "ss", {"S:Envelope/S:Body", "Envelope/Body"}), "S:Body -S:Body");
}

TEST(XmlDocumentTest, TextExpandsReferencesAndSkipsMarkup) {
  for (const testing::TextCase& c : CasesOf("text")) {
    SCOPED_TRACE(c.where);
    auto doc = Loaded(c.body);
    ASSERT_TRUE(doc->SelectRoot());
    if (WineMsxml() && c.body.find("ENTITY") != std::string::npos) continue;
    EXPECT_EQ(doc->Text(), c.fields.at(1));
  }
}

TEST(XmlDocumentTest, MalformedDocumentsFailWithLineAndColumn) {
  for (const testing::TextCase& c : CasesOf("malformed")) {
    SCOPED_TRACE(c.where);
    auto doc = Loaded(c.body, false);
    // The line and column of the fault, then the parser's reason.
    std::string error = doc->error(), position = "line " + c.fields.at(1) + ", column ";
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(doc->SelectRoot());
    if (WineMsxml()) continue;
    EXPECT_EQ(error.rfind(position, 0), 0u) << error;
    EXPECT_GT(error.size(), position.size() + 3) << error;
  }
}

TEST(XmlDocumentTest, ValidatesAgainstTheDocumentType) {
  const std::string kDtd =
      "<!DOCTYPE KMR [\n  <!ELEMENT KMR (Setup)>\n  <!ELEMENT Setup (Item*)>\n"
      "  <!ELEMENT Item (#PCDATA)>\n  <!ATTLIST Item id ID #REQUIRED>\n]>\n";
  auto valid = Loaded(kDtd + "<KMR><Setup><Item id=\"a\">x</Item></Setup></KMR>");
  ASSERT_TRUE(valid->SelectPath("KMR/Setup"));
  EXPECT_TRUE(valid->Validate()) << valid->error();
  EXPECT_EQ(valid->Name(), "Setup");
  for (const char* body : {"<KMR><Setup><Other/></Setup></KMR>",
                           "<KMR><Setup><Item id=\"a\"/><Item id=\"a\"/></Setup></KMR>"}) {
    auto invalid = Loaded(kDtd + body);
    EXPECT_FALSE(invalid->Validate()) << body;
    const std::string& error = invalid->error();
    EXPECT_TRUE(error.rfind("not valid: ", 0) == 0 && error.size() > 12) << body << ": " << error;
  }
  // Nothing to check against: valid. Nothing loaded: nothing to select.
  EXPECT_TRUE(Loaded("<KMR><Anything/></KMR>")->Validate());
  std::string error;
  auto empty = XmlDocument::Create(&error);
  EXPECT_FALSE(empty->Validate());
  EXPECT_EQ(Walk(*empty, "rsfnp", {"KMR"}), "- - - - -");
}

TEST(XmlDocumentTest, LoadsFilesButNothingBeyondThem) {
  TempDir dir;
  WriteBytes(dir.File("secret.txt"), "TOPSECRET");
  WriteBytes(dir.File("evil.dtd"), "<!ENTITY leak SYSTEM \"secret.txt\">");
  WriteBytes(dir.File("Vornlink.xml"), CasesOf("settings").at(0).body);
  WriteBytes(dir.File("entity.xml"),
             "<!DOCTYPE a [<!ENTITY leak SYSTEM \"secret.txt\">]>\n<a>[&leak;]</a>");
  WriteBytes(dir.File("external.xml"), "<!DOCTYPE a SYSTEM \"evil.dtd\">\n<a>[&leak;]</a>");
  auto doc = Loaded("<Other/>");
  ASSERT_TRUE(doc->LoadFile(dir.File("Vornlink.xml"))) << doc->error();
  EXPECT_EQ(Walk(*doc, "s", {"KMR/Setup"}), "Setup");
  ASSERT_TRUE(doc->LoadBytes("<Other/>"));
  EXPECT_EQ(doc->Kind(), XmlNodeKind::kNone);  // a load starts the walk over
  ASSERT_TRUE(doc->LoadFile(dir.File("Vornlink.xml")));
  for (const char* name : {"entity.xml", "external.xml"}) {
    // Refused or left unexpanded; never read.
    if (doc->LoadFile(dir.File(name)) && doc->SelectRoot()) {
      EXPECT_EQ(doc->Text().find("TOPSECRET"), std::string::npos) << name;
    }
  }
  EXPECT_FALSE(doc->LoadFile(dir.File("missing.xml")));
  EXPECT_EQ(testing::Missing(doc->error(), {"cannot open", "missing.xml"}), "") << doc->error();
  EXPECT_FALSE(doc->SelectRoot());  // the earlier document is gone
  EXPECT_FALSE(doc->LoadFile(dir.path()));
}

TEST(XmlDocumentTest, NestedEntitiesCannotBlowUp) {
  std::string document = "<!DOCTYPE a [<!ENTITY e0 \"laugh laugh laugh laugh laugh\">";
  for (int level = 1; level <= 9; ++level) {
    document += "<!ENTITY e" + std::to_string(level) + " \"";
    for (int i = 0; i < 10; ++i) document += "&e" + std::to_string(level - 1) + ";";
    document += "\">";
  }
  std::string error;
  auto doc = XmlDocument::Create(&error);
  // Either the parser refuses the amplification, or the text is cut.
  if (doc->LoadBytes(document + "]><a>&e9;</a>") && doc->SelectRoot()) {
    EXPECT_LE(doc->Text().size(), XmlDocument::kMaxTextBytes);
  } else {
    EXPECT_FALSE(doc->error().empty());
  }
}

}  // namespace
}  // namespace vornlink
