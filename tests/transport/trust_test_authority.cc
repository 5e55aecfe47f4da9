// trust_test_authority CA.der: makes the Wine prefix it runs in trust the
// transport tests' authority (its LocalMachine "Root" store). The fixture
// that makes the HTTPS tests' prefix anew: it fails, and says why, when the
// prefix cannot be made to trust it, so that no HTTPS case runs against a
// prefix that cannot work.
#include <windows.h>
// after windows.h, which it needs
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

// Adds the certificate unless the store holds it, then reads the store again
// to see it there; false with the reason in `error` otherwise.
bool Trust(const std::vector<unsigned char>& der, std::string* error) {
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: trust_test_authority CA.der\n");
    return 2;
  }
  std::string path = argv[1];
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  std::string error = "no certificate in " + path;
  if (der.empty() || !Trust(der, &error)) {
    std::printf("Wine could not be made to trust the test authority: %s\n", error.c_str());
    return 1;
  }
  std::printf("the Wine prefix trusts the test authority\n");
  return 0;
}
