// No TLS server on Windows: `vornlink dms` serves TCP and HTTP there.
#include "emulated_dms/tls_server.h"

namespace vornlink {

std::unique_ptr<TlsServerContext> TlsServerContext::Load(const std::string&, const std::string&,
                                                         std::string* error) {
  *error = "HTTPS serving is not available in the Windows build; use --http or run it on Linux";
  return nullptr;
}

}  // namespace vornlink
