#include "transport/test_authority_trust.h"

#include <windows.h>
// after windows.h, which it needs
#include <wincrypt.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace vornlink {
namespace testing {
namespace {

HCERTSTORE OpenRootStore() {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
}

// Whether the store holds exactly this certificate (the same bytes).
bool Holds(HCERTSTORE store, const std::vector<unsigned char>& der) {
  PCCERT_CONTEXT wanted =
      CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  if (wanted == nullptr) return false;
  PCCERT_CONTEXT found =
      CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr);
  CertFreeCertificateContext(wanted);
  if (found == nullptr) return false;
  CertFreeCertificateContext(found);
  return true;
}

}  // namespace

bool TrustTestAuthority(const std::string& der_path, std::string* error) {
  std::ifstream in(der_path, std::ios::binary);
  const std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  if (der.empty()) {
    *error = "no certificate in " + der_path;
    return false;
  }
  HCERTSTORE store = OpenRootStore();
  if (store == nullptr) {
    *error = "the Root store does not open (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  const bool added = Holds(store, der) ||
                     CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                      static_cast<DWORD>(der.size()),
                                                      CERT_STORE_ADD_USE_EXISTING, nullptr) != 0;
  const DWORD add_error = GetLastError();
  CertCloseStore(store, 0);
  // Read back through a store opened anew, as the HTTPS library opens it.
  HCERTSTORE again = OpenRootStore();
  const bool seen = again != nullptr && Holds(again, der);
  if (again != nullptr) CertCloseStore(again, 0);
  if (!added) {
    *error = "the certificate could not be added (error " + std::to_string(add_error) + ")";
  } else if (!seen) {
    *error = "the certificate was added but a store opened anew does not hold it";
  }
  return added && seen;
}

}  // namespace testing
}  // namespace vornlink
