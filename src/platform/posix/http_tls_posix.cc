#include "platform/posix/http_tls_posix.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>

#include "platform/http_client.h"
#include "platform/posix/scoped_fd.h"

namespace vornlink {
namespace {

struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};

// What `print` writes into a memory BIO.
template <typename Print>
std::string Printed(Print print) {
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new(BIO_s_mem()));
  if (!bio) return std::string();
  print(bio.get());
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

std::string NameText(const X509_NAME* name) {
  return Printed([name](BIO* bio) { X509_NAME_print_ex(bio, name, 0, XN_FLAG_ONELINE); });
}

std::string TimeText(const ASN1_TIME* time) {
  return Printed([time](BIO* bio) { ASN1_TIME_print(bio, time); });
}

std::string Fingerprint(const X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return std::string();
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    if (i > 0) text.push_back(':');
    text.push_back(kHex[digest[i] >> 4]);
    text.push_back(kHex[digest[i] & 15]);
  }
  return text;
}

struct InfoStackDeleter {
  void operator()(STACK_OF(X509_INFO) * infos) const {
    sk_X509_INFO_pop_free(infos, X509_INFO_free);
  }
};

// Tells the tap, if one is set, the certificate that `store_context`
// verifies (the server's own, whatever the verification finds).
void TellPeerCertificate(X509_STORE_CTX* store_context) {
  HttpWireTap* tap = CurrentHttpWireTap();
  X509* certificate = X509_STORE_CTX_get0_cert(store_context);
  if (tap == nullptr || certificate == nullptr) return;
  PeerCertificate told;
  told.subject = NameText(X509_get_subject_name(certificate));
  told.issuer = NameText(X509_get_issuer_name(certificate));
  told.valid_from = TimeText(X509_get0_notBefore(certificate));
  told.valid_until = TimeText(X509_get0_notAfter(certificate));
  told.sha256_fingerprint = Fingerprint(certificate);
  tap->OnPeerCertificate(told);
}

// Shows the server's certificate to a wire tap, whatever its verification
// finds, and leaves the finding as it is.
int TellCertificate(int preverified, X509_STORE_CTX* store_context) {
  TellPeerCertificate(store_context);
  return preverified;
}

// Lets a certificate whose validity dates do not include today pass, as the
// Windows request's "ignore invalid date" does; every other finding stands.
int AcceptDateErrors(int preverified, X509_STORE_CTX* store_context) {
  TellPeerCertificate(store_context);
  if (preverified) return 1;
  int error = X509_STORE_CTX_get_error(store_context);
  if (error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID) {
    X509_STORE_CTX_set_error(store_context, X509_V_OK);
    return 1;
  }
  return 0;
}

}  // namespace

// The bytes of a regular file that is not a symbolic link; false with
// `error` set otherwise.
bool ReadTrustFile(const std::string& path, std::string* contents, std::string* error) {
  ScopedFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) {
    *error = "CAFile [" + path + "] cannot be opened";
    return false;
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<uint64_t>(info.st_size) > kMaxTrustFileBytes) {
    *error = "CAFile [" + path + "] is not a regular file of at most 8 MB";
    return false;
  }
  contents->clear();
  char buffer[16384];
  for (;;) {
    ssize_t count = read(fd.get(), buffer, sizeof buffer);
    if (count < 0) {
      *error = "CAFile [" + path + "] cannot be read";
      return false;
    }
    if (count == 0) break;
    contents->append(buffer, static_cast<size_t>(count));
    if (contents->size() > kMaxTrustFileBytes) break;
  }
  return true;
}

// The certificates of a PEM text.
bool ParseAuthorities(const std::string& pem, std::vector<X509*>* certificates) {
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return false;
  std::unique_ptr<STACK_OF(X509_INFO), InfoStackDeleter> infos(
      PEM_X509_INFO_read_bio(bio.get(), nullptr, nullptr, nullptr));
  ERR_clear_error();
  if (!infos) return false;
  for (int i = 0; i < sk_X509_INFO_num(infos.get()); ++i) {
    X509_INFO* info = sk_X509_INFO_value(infos.get(), i);
    if (info->x509 != nullptr) {
      X509_up_ref(info->x509);
      certificates->push_back(info->x509);
    }
  }
  return !certificates->empty();
}

CURLcode SetUpTls(CURL*, void* ssl_context, void* user) {
  auto* setup = static_cast<const TlsSetup*>(user);
  auto* context = static_cast<SSL_CTX*>(ssl_context);
  // libcurl has loaded the system's authorities into this store already.
  X509_STORE* store = SSL_CTX_get_cert_store(context);
  for (X509* authority : *setup->authorities) {
    X509_STORE_add_cert(store, authority);  // a duplicate is no harm
  }
  ERR_clear_error();
  if (setup->accept_dates) {
    SSL_CTX_set_verify(context, SSL_CTX_get_verify_mode(context), AcceptDateErrors);
  } else if (CurrentHttpWireTap() != nullptr) {
    SSL_CTX_set_verify(context, SSL_CTX_get_verify_mode(context), TellCertificate);
  }
  return CURLE_OK;
}

}  // namespace vornlink
