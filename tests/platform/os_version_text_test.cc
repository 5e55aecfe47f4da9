// The operating-system line of the log: a name of each table, the unknown
// versions, and the registry's numbers where Windows hides its own.
#include "platform/win32/os_version_text.h"

#include <gtest/gtest.h>

namespace vornlink {
namespace {

using Platform = OsVersionRecord::Platform;
constexpr Platform kNt = Platform::kNt;
constexpr Platform k9x = Platform::kWin9x;

TEST(OsVersionTextTest, NamesTheVersionOrSaysItIsUnknown) {
  const struct {
    Platform platform;
    uint32_t major, minor, build;
    const char* service_pack;
    const char *registry_version, *registry_build;  // null: the registry was not read
    const char* text;
  } kCases[] = {
      {kNt, 6, 1, 9200, "", nullptr, nullptr, "NT Platform os[WIN7] ver[6.01.9200] sp[]"},
      {kNt, 5, 1, 2600, "SP3", nullptr, nullptr, "NT Platform os[WINXP] ver[5.01.2600] sp[SP3]"},
      {kNt, 3, 51, 9200, "", nullptr, nullptr, "NT Platform os[UNKNOWN] ver[3.51.9200] sp[]"},
      // Windows 8.1 and 10 tell an undeclared program 6.2; the registry says
      // 6.3, with every digit of a five-digit build.
      {kNt, 6, 2, 9200, "", "6.3", "9600", "NT Platform os[WIN8.1] ver[6.03.9600] sp[]"},
      {kNt, 6, 2, 9200, "", "6.3", "19045", "NT Platform os[WIN8.1] ver[6.03.19045] sp[]"},
      {kNt, 10, 0, 19045, "", "6.3", "19045x", "NT Platform os[WIN8.1] ver[6.03.19045] sp[]"},
      // Windows 7 and unknown versions take the registry's numbers when it
      // was read; the others keep the record's.
      {kNt, 6, 1, 7600, "SP1", "6.1", "7601", "NT Platform os[WIN7] ver[6.01.7601] sp[SP1]"},
      {kNt, 6, 2, 9200, "", "6.2", "9201", "NT Platform os[WIN8] ver[6.02.9200] sp[]"},
      {kNt, 7, 0, 1, "", "6.4", "", "NT Platform os[UNKNOWN] ver[6.04.0] sp[]"},
      // Windows 9x: the name from the build's high word.
      {k9x, 4, 90, 0x045A0BB8u, "", nullptr, nullptr,
       "WIN9x Platform os[WINME] ver[4.90.3000] sp[]"},
      {k9x, 4, 10, 0x040A08AEu, " A ", nullptr, nullptr,
       "WIN9x Platform os[WIN98SE] ver[4.10.2222] sp[ A ]"},
      {k9x, 3, 0, 0x03000000u, "", nullptr, nullptr, "WIN9x Platform os[UNKNOWN] ver[3.00.0] sp[]"},
      {Platform::kOther, 6, 1, 7601, "", nullptr, nullptr, "OS Unknown"},
  };
  for (const auto& c : kCases) {
    OsVersionRecord record{c.platform, c.major, c.minor, c.build, c.service_pack};
    RegistryVersion registry;
    if (c.registry_version != nullptr) registry = {true, c.registry_version, c.registry_build};
    EXPECT_EQ(OsVersionText(record, registry), c.text);
  }
}

}  // namespace
}  // namespace vornlink
