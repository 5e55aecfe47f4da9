// trust_test_authority CA.der: makes the Wine prefix it runs in trust the
// transport tests' authority (its LocalMachine "Root" store). The fixture
// that makes the HTTPS tests' prefix anew: it fails, and says why, when the
// prefix cannot be made to trust it, so that no HTTPS case runs against a
// prefix that cannot work. Each test process trusts it again itself.
#include <cstdio>
#include <string>

#include "transport/test_authority_trust.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: trust_test_authority CA.der\n");
    return 2;
  }
  std::string path = argv[1];
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  std::string error;
  if (!vornlink::testing::TrustTestAuthority(path, &error)) {
    std::printf("Wine could not be made to trust the test authority: %s\n", error.c_str());
    return 1;
  }
  std::printf("the Wine prefix trusts the test authority\n");
  return 0;
}
