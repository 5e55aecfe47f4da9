#include "platform/win32/os_version_text.h"

#include <cstdio>

namespace vornlink {
namespace {

uint32_t DigitAt(const std::string& text, size_t index) {
  if (index >= text.size() || text[index] < '0' || text[index] > '9') return 0;
  return static_cast<uint32_t>(text[index] - '0');
}

// The leading decimal digits of `text` (0 when there are none). All of them:
// builds of Windows 10 and later have five digits.
uint32_t LeadingNumber(const std::string& text) {
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || value > 100000000u) break;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value;
}

struct Named {
  const char* name;
  uint32_t major;
  uint32_t minor;
  uint32_t build;
};

Named NameNt(const OsVersionRecord& record, const RegistryVersion& registry) {
  const bool from_registry = registry.read;
  const uint32_t reg_major = DigitAt(registry.current_version, 0);
  const uint32_t reg_minor = DigitAt(registry.current_version, 2);
  const uint32_t reg_build = LeadingNumber(registry.current_build);
  auto is = [&record](uint32_t major, uint32_t minor) {
    return record.major == major && record.minor == minor;
  };
  if (from_registry && registry.current_version == "6.3") {
    return {"WIN8.1", reg_major, reg_minor, reg_build};
  }
  if (is(6, 2)) return {"WIN8", record.major, record.minor, record.build};
  if (is(6, 1)) {
    if (from_registry) return {"WIN7", reg_major, reg_minor, reg_build};
    return {"WIN7", record.major, record.minor, record.build};
  }
  if (is(6, 0)) return {"WINVISTA", record.major, record.minor, record.build};
  if (is(5, 2)) return {"WINXP64", record.major, record.minor, record.build};
  if (is(5, 1)) return {"WINXP", record.major, record.minor, record.build};
  if (is(5, 0)) return {"WIN2000", record.major, record.minor, record.build};
  if (is(4, 0)) return {"WINNT4", record.major, record.minor, record.build};
  if (from_registry) return {"UNKNOWN", reg_major, reg_minor, reg_build};
  return {"UNKNOWN", record.major, record.minor, record.build};
}

const char* Name9x(uint32_t build) {
  if (build >= 0x045A0000u && build < 0x050A0000u) return "WINME";
  if (build >= 0x040A07D0u && build < 0x045A0000u) return "WIN98SE";
  if (build >= 0x040A0000u && build < 0x040A07D0u) return "WIN98FE";
  if (build >= 0x04000000u && build < 0x040A0000u) return "WIN95";
  return "UNKNOWN";
}

}  // namespace

std::string OsVersionText(const OsVersionRecord& record, const RegistryVersion& registry) {
  char text[512];
  switch (record.platform) {
    case OsVersionRecord::Platform::kNt: {
      Named named = NameNt(record, registry);
      std::snprintf(text, sizeof text, "NT Platform os[%s] ver[%u.%.2u.%u] sp[%s]", named.name,
                    named.major, named.minor, named.build, record.service_pack.c_str());
      return text;
    }
    case OsVersionRecord::Platform::kWin9x:
      std::snprintf(text, sizeof text, "WIN9x Platform os[%s] ver[%u.%.2u.%u] sp[%s]",
                    Name9x(record.build), (record.build >> 24) & 0xFFu,
                    (record.build >> 16) & 0xFFu, record.build & 0xFFFFu,
                    record.service_pack.c_str());
      return text;
    case OsVersionRecord::Platform::kOther:
      break;
  }
  return "OS Unknown";
}

}  // namespace vornlink
