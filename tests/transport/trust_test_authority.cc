// trust_test_authority CA.der MARKER: makes the Wine prefix it runs in trust
// the transport tests' authority (its LocalMachine "Root" store; the
// machine's own store is not touched), after removing the authorities of
// earlier runs, and writes MARKER when that worked. Never fails the run:
// the HTTPS tests skip what needs the trust when MARKER is missing.
#include <windows.h>
// after windows.h, which it needs
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr char kSubject[] = "Vornlink Test Authority";

std::string LocalPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  return path;
}

bool Trust(const std::string& der_path) {
  std::ifstream in(LocalPath(der_path), std::ios::binary);
  std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
  if (der.empty()) {
    std::printf("cannot read %s\n", der_path.c_str());
    return false;
  }
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  if (store == nullptr) {
    std::printf("cannot open the Root store: %lu\n", GetLastError());
    return false;
  }
  // Authorities of earlier runs go: each run makes a new one.
  for (;;) {
    PCCERT_CONTEXT old = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                    CERT_FIND_SUBJECT_STR_A, kSubject, nullptr);
    if (old == nullptr) break;
    CertDeleteCertificateFromStore(old);  // frees `old`
  }
  bool added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                static_cast<DWORD>(der.size()),
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != 0;
  if (!added) std::printf("cannot add the authority: %lu\n", GetLastError());
  CertCloseStore(store, 0);
  return added;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: trust_test_authority CA.der MARKER\n");
    return 2;
  }
  std::string marker = LocalPath(argv[2]);
  std::remove(marker.c_str());
  if (!Trust(argv[1])) {
    std::printf(
        "Wine could not be made to trust the test authority: the HTTPS cases that need "
        "it are skipped\n");
    return 0;
  }
  std::ofstream(marker) << "trusted\n";
  std::printf("the Wine prefix trusts the test authority\n");
  return 0;
}
