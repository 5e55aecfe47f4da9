#include "vornlink/check/settings_lint.h"

#include <gtest/gtest.h>

#include "testing/test_env.h"

namespace vornlink {
namespace {

// "line: P|W text" of each finding.
std::string Findings(const std::string& document) {
  std::string all;
  for (const LintFinding& finding : LintSettingsDocument(document)) {
    all +=
        std::to_string(finding.line) + ": " + (finding.problem ? "P " : "W ") + finding.text + "\n";
  }
  return all;
}

// The `expected` findings that linting `document` does not give, then all it gives; "" if none.
std::string Unfound(const std::string& document, const std::vector<std::string>& expected) {
  const std::string all = Findings(document);
  const std::string missing = testing::Missing(all, expected);
  return missing.empty() ? "" : missing + "not in:\n" + all;
}

TEST(SettingsLintTest, SectionTagsTheLineReaderDoesNotSee) {
  EXPECT_EQ(Unfound("<KMR>\n  <Log >\n    <FileName>a</FileName>\n  </Log>\n"
                    "  <System attr=\"1\">\n  </System>\n"
                    "  <IsJobValidResult>\n    <Result>x/y</Result>\n  </IsJobValidResult>  \n"
                    "  <Setup> \n</KMR>\n",
                    {"2: P the driver does not see the section tag <Log> here (a blank before",
                     "5: P the driver does not see the section tag <System> here (an attribute",
                     "9: P the driver does not see the closing tag </IsJobValidResult> here "
                     "(blanks after the tag)",
                     "10: P the driver does not see the tag <Setup> here"}),
            "");
}

TEST(SettingsLintTest, ValueLinesTheDriverCutsWrong) {
  // The comment holds the tag, so it is the line the driver reads.
  EXPECT_EQ(
      Unfound("<Log>\n  <!-- the log's <FileName> comes below -->\n"
              "  <FileName>C:\\log\\drv.txt</FileName>  \n  <MaxLines>100</MaxLines>  x\n"
              "  <Flags>+ci\n  <Flags>+c</Flags>\n  <Filename>typo</Filename>\n</Log>\n"
              "<ForwardTransactionResult>\n  <SuccessResult>0</SuccessResult>\n"
              "  <SuccessResult>1</SuccessResult>\n  <Result attr=\"x\">a/b</Result>\n"
              "</ForwardTransactionResult>\n",
              {"2: P the driver reads Log/FileName as [og's <FileName> come] from this line: it "
               "is not a value line",
               "4: P the driver reads Log/MaxLines as [100</M] from this line: text after",
               "5: P the driver reads Log/Flags as [] from this line: no </Flags> at its end",
               "7: W the driver reads no value named Filename in <Log>",
               "11: W a second value for ForwardTransactionResult/SuccessResult: the driver "
               "reads only the first (line 10)",
               "12: P the driver does not see the value tag <Result>"}),
      "");
}

TEST(SettingsLintTest, ALoneCommentMarkEndsASectionAndTemplatesKeepTheirIndent) {
  EXPECT_EQ(Unfound("<Log>\n  <!--\n    a comment\n  -->\n  <FileName>x</FileName>\n</Log>\n"
                    "<ForwardTransactionQuery>\n<insert><a>%@01</a></insert>\n"
                    "  <!-- sent along -->\n  <>\n</ForwardTransactionQuery>\n"
                    "<IsJobValidQuery>\n      <q>%@01</q>\n</IsJobValidQuery>\n",
                    {"2: P a line holding only \"<!--\" ends the section <Log> for the driver: "
                     "values below it (line 5)",
                     "8: P the template's first line is indented by 0 blank(s): the driver cuts "
                     "3 characters off the query, here 2 of the template's own text",
                     "9: W a comment inside the template is sent to the DMS",
                     "10: P a template line holding \"<>\"",
                     "13: W the template's first line is indented by 6 blanks: the query begins "
                     "with 4 blank(s)"}),
            "");
}

TEST(SettingsLintTest, SetupItemsTheDriverReadsOtherwise) {
  const std::string document =
      "<Setup>\n<TP> \n<Value>TCP</Value>\n</TP>\n"
      "<SR>\n<!-- the DMS host, for TCP -->\n<Value>dms</Value>\n</SR>\n"  // 5-8
      "<FH>\n<Value>Content-Type: text/xml\nAccept: */*\nX-Site: north-garage</Value>\n</FH>\n"
      "<PO>\n<Value>9123</Value>  \n</PO>\n"                                  // 14-16
      "<FL>\n<FS>\n<Value>1</Value>\n</FS>\n<FS>\n<Value>0</Value>\n</FS>\n"  // 17-23
      "<VeryLongItemName>\n<Value>x</Value>\n</VeryLongItemName>\n"           // 24-26
      "<JS>\n<Value>0\n<FU>\n<Value>http://dms/parts\n</Setup>\n";            // 27-31
  EXPECT_EQ(Findings(document).find("3: P"), std::string::npos) << "reported once";
  EXPECT_EQ(
      Unfound(document,
              {"2: P the driver does not see this Setup item tag as written",
               "6: P the driver reads Setup item <SR> as [e DMS host, for TCP -->\n<Value>dms]",
               "11: P Setup item <FH>: this line [Accept: */*] inside its value is at most 12",
               "15: P the driver reads Setup item <PO> as [9123</]: blanks after </Value>",
               "17: P Setup item <FL> gets no value",
               "21: W Setup item <FS> again: it replaces the one of line 18",
               "25: P a <Value> line that belongs to no item",
               "27: P Setup item <JS> gets no value: line 28 [<Value>0] opens another item",
               "29: P Setup item <FU> has no </Value> up to the end of the file"}),
      "");
}

TEST(SettingsLintTest, IniCommentsAfterValues) {
  std::vector<LintFinding> found =
      LintIniFile("; a comment\n[FluidName]\n1=ATF ; the gear oil\n2=Oil\n#x=1;2\n[S;ection]\n");
  EXPECT_TRUE(found.size() == 1 && found[0].line == 3u && !found[0].problem);
}

}  // namespace
}  // namespace vornlink
