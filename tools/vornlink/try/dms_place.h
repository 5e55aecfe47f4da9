// Whether the DMS that an exchange goes to runs on this machine: `try`
// books a made-up transaction only there without asking.
#ifndef VORNLINK_TOOLS_VORNLINK_TRY_DMS_PLACE_H_
#define VORNLINK_TOOLS_VORNLINK_TRY_DMS_PLACE_H_

#include <string>
#include <string_view>

namespace vornlink {

// The host part of `url` ("dms.example.com" of
// "https://user:pw@dms.example.com:8443/ws", "::1" of "http://[::1]/"), as
// written; "" when it has none. Pure.
std::string HostOfUrl(std::string_view url);

// Whether `host` names this machine by a loopback name or address:
// "localhost", 127.0.0.0/8, "::1". Any other name may lead elsewhere, so
// it does not count. Pure.
bool IsThisMachine(std::string_view host);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_TRY_DMS_PLACE_H_
