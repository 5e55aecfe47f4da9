// The operating-system line of the log, for every row of the name table.
#include "platform/win32/os_version_text.h"

#include <gtest/gtest.h>

namespace vornlink {
namespace {

using Platform = OsVersionRecord::Platform;

OsVersionRecord Record(Platform platform, uint32_t major, uint32_t minor, uint32_t build,
                       const char* service_pack = "") {
  OsVersionRecord record;
  record.platform = platform;
  record.major = major;
  record.minor = minor;
  record.build = build;
  record.service_pack = service_pack;
  return record;
}

RegistryVersion Registry(const char* version, const char* build) {
  RegistryVersion registry;
  registry.read = true;
  registry.current_version = version;
  registry.current_build = build;
  return registry;
}

TEST(OsVersionTextTest, NtNamesFromTheRecord) {
  const RegistryVersion none;
  struct Row {
    uint32_t major, minor;
    const char* text;
  } rows[] = {
      {6, 2, "NT Platform os[WIN8] ver[6.02.9200] sp[]"},
      {6, 1, "NT Platform os[WIN7] ver[6.01.9200] sp[]"},
      {6, 0, "NT Platform os[WINVISTA] ver[6.00.9200] sp[]"},
      {5, 2, "NT Platform os[WINXP64] ver[5.02.9200] sp[]"},
      {5, 1, "NT Platform os[WINXP] ver[5.01.9200] sp[]"},
      {5, 0, "NT Platform os[WIN2000] ver[5.00.9200] sp[]"},
      {4, 0, "NT Platform os[WINNT4] ver[4.00.9200] sp[]"},
      {3, 51, "NT Platform os[UNKNOWN] ver[3.51.9200] sp[]"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(OsVersionText(Record(Platform::kNt, row.major, row.minor, 9200), none), row.text);
  }
  EXPECT_EQ(OsVersionText(Record(Platform::kNt, 5, 1, 2600, "Service Pack 3"), none),
            "NT Platform os[WINXP] ver[5.01.2600] sp[Service Pack 3]");
}

TEST(OsVersionTextTest, RegistryNamesWindows81AndLater) {
  // Windows 8.1 and 10 tell an undeclared program 6.2; the registry says 6.3.
  EXPECT_EQ(OsVersionText(Record(Platform::kNt, 6, 2, 9200), Registry("6.3", "9600")),
            "NT Platform os[WIN8.1] ver[6.03.9600] sp[]");
  // Every digit of a five-digit build.
  EXPECT_EQ(OsVersionText(Record(Platform::kNt, 6, 2, 9200), Registry("6.3", "19045")),
            "NT Platform os[WIN8.1] ver[6.03.19045] sp[]");
  EXPECT_EQ(OsVersionText(Record(Platform::kNt, 10, 0, 19045), Registry("6.3", "19045x")),
            "NT Platform os[WIN8.1] ver[6.03.19045] sp[]");
  // Windows 7 and unknown versions take the registry's numbers when it was
  // read; the others keep the record's.
  EXPECT_EQ(
      OsVersionText(Record(Platform::kNt, 6, 1, 7600, "Service Pack 1"), Registry("6.1", "7601")),
      "NT Platform os[WIN7] ver[6.01.7601] sp[Service Pack 1]");
  EXPECT_EQ(OsVersionText(Record(Platform::kNt, 6, 2, 9200), Registry("6.2", "9201")),
            "NT Platform os[WIN8] ver[6.02.9200] sp[]");
  EXPECT_EQ(OsVersionText(Record(Platform::kNt, 7, 0, 1), Registry("6.4", "")),
            "NT Platform os[UNKNOWN] ver[6.04.0] sp[]");
}

TEST(OsVersionTextTest, Win9xNamesFromTheBuild) {
  const RegistryVersion none;
  EXPECT_EQ(OsVersionText(Record(Platform::kWin9x, 4, 90, 0x045A0BB8u), none),
            "WIN9x Platform os[WINME] ver[4.90.3000] sp[]");
  EXPECT_EQ(OsVersionText(Record(Platform::kWin9x, 4, 10, 0x040A08AEu, " A "), none),
            "WIN9x Platform os[WIN98SE] ver[4.10.2222] sp[ A ]");
  EXPECT_EQ(OsVersionText(Record(Platform::kWin9x, 4, 10, 0x040A07CEu), none),
            "WIN9x Platform os[WIN98FE] ver[4.10.1998] sp[]");
  EXPECT_EQ(OsVersionText(Record(Platform::kWin9x, 4, 0, 0x040003B6u), none),
            "WIN9x Platform os[WIN95] ver[4.00.950] sp[]");
  EXPECT_EQ(OsVersionText(Record(Platform::kWin9x, 3, 0, 0x03000000u), none),
            "WIN9x Platform os[UNKNOWN] ver[3.00.0] sp[]");
}

TEST(OsVersionTextTest, OtherPlatforms) {
  EXPECT_EQ(OsVersionText(Record(Platform::kOther, 6, 1, 7601), RegistryVersion()), "OS Unknown");
}

}  // namespace
}  // namespace vornlink
