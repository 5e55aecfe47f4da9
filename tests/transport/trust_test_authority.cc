// trust_test_authority CA.der: makes the Wine prefix it runs in trust the transport tests'
// authority (its LocalMachine "Root" store); fails, saying why, where it cannot, so that no
// HTTPS case runs against a prefix that cannot work.
#include <windows.h>
// after windows.h, which it needs
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  const bool added = !der.empty() && store != nullptr &&
                     CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                      static_cast<DWORD>(der.size()),
                                                      CERT_STORE_ADD_USE_EXISTING, nullptr) != 0;
  const unsigned long error = GetLastError();
  if (store != nullptr) CertCloseStore(store, 0);
  if (!added) {
    std::printf("Wine could not be made to trust the test authority (%s, error %lu)\n",
                der.empty() ? ("no certificate in " + path).c_str() : "the Root store", error);
    return 1;
  }
  std::printf("the Wine prefix trusts the test authority\n");
  return 0;
}
