// The port the emulated DMS dialog listens on: 123 unless the environment
// variable VORNLINK_DMS_PORT or the key "Port" of the section "Server" in
// the INI file beside the module names another (the environment first).
// Ports below 1024 need root on Linux, hence the choice. A value that is
// not a port number from 1 to 65535 is ignored.
#ifndef VORNLINK_EMULATED_DMS_DMS_PORT_H_
#define VORNLINK_EMULATED_DMS_DMS_PORT_H_

#include <cstdint>
#include <string>

namespace vornlink {

uint16_t DmsDialogPort();

// `text` as a port number (1 to 65535, decimal digits only); 0 when it is
// none.
uint16_t ParsePort(const std::string& text);

}  // namespace vornlink

#endif  // VORNLINK_EMULATED_DMS_DMS_PORT_H_
