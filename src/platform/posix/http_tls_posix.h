// The TLS side of a libcurl request: the site's own trusted authorities
// (the INI file's CAFile), the rules by which the server's certificate is
// judged, and the certificate told to a wire tap.
#ifndef VORNLINK_PLATFORM_POSIX_HTTP_TLS_POSIX_H_
#define VORNLINK_PLATFORM_POSIX_HTTP_TLS_POSIX_H_

#include <curl/curl.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

namespace vornlink {

// The bytes of a regular file that is not a symbolic link, of at most
// kMaxTrustFileBytes; false with `error` set otherwise.
bool ReadTrustFile(const std::string& path, std::string* contents, std::string* error);

// Appends the certificates of a PEM text (owned by the caller, X509_free);
// false when it holds none.
bool ParseAuthorities(const std::string& pem, std::vector<X509*>* certificates);

// What the TLS set-up callback needs.
struct TlsSetup {
  const std::vector<X509*>* authorities = nullptr;
  bool accept_dates = false;
};

// libcurl's CURLOPT_SSL_CTX_FUNCTION, `user` a TlsSetup: adds its
// authorities to the system's, lets a certificate out of its dates pass when
// `accept_dates` says so, and tells a wire tap of this thread the server's
// certificate.
CURLcode SetUpTls(CURL* easy, void* ssl_context, void* user);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_POSIX_HTTP_TLS_POSIX_H_
