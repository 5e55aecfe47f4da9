// TLS for the emulated DMS's HTTPS mode: a server certificate and key, and
// the wrapping of an accepted connection in a TLS session. Available where
// the platform has a TLS library for it (OpenSSL on Linux); elsewhere Load
// fails with a text that says so.
//
// Threading: a context may wrap connections on several threads; each
// wrapped connection is used by one thread at a time.
#ifndef VORNLINK_EMULATED_DMS_TLS_SERVER_H_
#define VORNLINK_EMULATED_DMS_TLS_SERVER_H_

#include <memory>
#include <string>

#include "platform/net.h"

namespace vornlink {

class TlsServerContext {
 public:
  // The certificate chain (PEM) and its private key (PEM). Null with
  // `error` set when they cannot be used.
  static std::unique_ptr<TlsServerContext> Load(const std::string& certificate_file,
                                                const std::string& key_file, std::string* error);
  virtual ~TlsServerContext() = default;

  // Runs the TLS handshake over `raw` and gives a connection that carries
  // plain data through the session. On failure `net` tells why (kError with
  // the TLS library's text).
  virtual NetResult Accept(std::unique_ptr<NetConnection> raw, const WaitLimit& limit,
                           std::unique_ptr<NetConnection>* secure) = 0;
};

}  // namespace vornlink

#endif  // VORNLINK_EMULATED_DMS_TLS_SERVER_H_
