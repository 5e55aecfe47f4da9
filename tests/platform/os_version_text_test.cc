// The operating-system line of the log: a name of each table, the unknown
// versions, and the registry's numbers where Windows hides its own.
#include "platform/win32/os_version_text.h"

#include <gtest/gtest.h>

#include "testing/case_file.h"

namespace vornlink {
namespace {

using Platform = OsVersionRecord::Platform;

TEST(OsVersionTextTest, NamesTheVersionOrSaysItIsUnknown) {
  const auto cases = testing::ReadCases(VORNLINK_PLATFORM_TEST_DATA, "os_versions.txt");
  ASSERT_EQ(cases.size(), 13u);
  for (const testing::TextCase& c : cases) {
    const std::vector<std::string>& f = c.fields;
    const Platform platform = f.at(0) == "nt"   ? Platform::kNt
                              : f.at(0) == "9x" ? Platform::kWin9x
                                                : Platform::kOther;
    auto number = [&](size_t i) { return static_cast<uint32_t>(std::stoul(f.at(i), nullptr, 0)); };
    OsVersionRecord record{platform, number(1), number(2), number(3), f.at(4)};
    RegistryVersion registry;
    if (f.at(5) != "-") registry = {true, f.at(5), f.at(6)};
    EXPECT_EQ(OsVersionText(record, registry), f.at(7)) << c.where;
  }
}

}  // namespace
}  // namespace vornlink
