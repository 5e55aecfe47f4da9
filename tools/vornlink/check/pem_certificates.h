// The certificates of a PEM file, as far as an operator needs to see them:
// whom each names and until when it is valid. Read without a TLS library,
// so that `vornlink check` lists a site's authorities on every platform.
#ifndef VORNLINK_TOOLS_VORNLINK_CHECK_PEM_CERTIFICATES_H_
#define VORNLINK_TOOLS_VORNLINK_CHECK_PEM_CERTIFICATES_H_

#include <string>
#include <string_view>
#include <vector>

namespace vornlink {

struct CertificateSummary {
  bool readable = false;      // the DER structure could be walked
  std::string subject;        // "CN=..., O=..., OU=..." (those present)
  std::string not_after;      // "YYYY-MM-DD HH:MM:SS UTC"
  std::string not_after_key;  // "YYYYMMDDHHMMSS", for comparing
};

// One summary per "-----BEGIN CERTIFICATE-----" block of `pem`, in order.
// A block that does not decode gives a summary with `readable` false.
// Pure; any thread.
std::vector<CertificateSummary> ReadPemCertificates(std::string_view pem);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CHECK_PEM_CERTIFICATES_H_
