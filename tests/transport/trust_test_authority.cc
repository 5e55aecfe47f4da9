// trust_test_authority CA.der MARKER: makes the Wine prefix it runs in trust
// the transport tests' authority (its LocalMachine "Root" store) instead of
// earlier runs' ones, and writes MARKER when that worked. Never fails: the
// HTTPS tests skip what needs the trust without MARKER.
#include <windows.h>
// after windows.h, which it needs
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: trust_test_authority CA.der MARKER\n");
    return 2;
  }
  auto local = [](std::string path) { return path[0] == '/' ? "Z:" + path : path; };
  std::string marker = local(argv[2]);
  std::remove(marker.c_str());
  std::ifstream in(local(argv[1]), std::ios::binary);
  std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  bool added = false;
  if (!der.empty() && store != nullptr) {
    while (PCCERT_CONTEXT old =
               CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_A,
                                          "Vornlink Test Authority", nullptr)) {
      CertDeleteCertificateFromStore(old);  // frees `old`
    }
    added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                             static_cast<DWORD>(der.size()),
                                             CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != 0;
  }
  if (store != nullptr) CertCloseStore(store, 0);
  if (added) std::ofstream(marker) << "trusted\n";
  std::printf(added ? "the Wine prefix trusts the test authority\n"
                    : "Wine could not be made to trust the test authority (%s, error %lu): the "
                      "HTTPS cases that need it are skipped\n",
              der.empty() ? "no certificate" : "store", GetLastError());
  return 0;
}
