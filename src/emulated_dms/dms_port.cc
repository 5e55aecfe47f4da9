#include "emulated_dms/dms_port.h"

#include <cstdlib>

#include "emulated_dms/dms_server.h"
#include "settings/module_files.h"

namespace vornlink {

uint16_t ParsePort(const std::string& text) {
  if (text.empty() || text.size() > 5) return 0;
  unsigned long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  return value >= 1 && value <= 65535 ? static_cast<uint16_t>(value) : 0;
}

uint16_t DmsDialogPort() {
  if (const char* from_environment = std::getenv("VORNLINK_DMS_PORT")) {
    if (uint16_t port = ParsePort(from_environment)) return port;
  }
  if (uint16_t port = ParsePort(ReadIniString("Server", "Port", ""))) return port;
  return kDmsDefaultPort;
}

}  // namespace vornlink
