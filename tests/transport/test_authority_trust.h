// The test authority of http_test_server.py, trusted by the Windows build
// under Wine: through the LocalMachine "Root" store of the Wine prefix that
// the HTTPS tests have to themselves (never the one the other tests share).
#ifndef VORNLINK_TESTS_TRANSPORT_TEST_AUTHORITY_TRUST_H_
#define VORNLINK_TESTS_TRANSPORT_TEST_AUTHORITY_TRUST_H_

#include <string>

namespace vornlink {
namespace testing {

// Adds the DER certificate at `der_path` to the store unless it is there
// already, and reads the store again to see it there; false with the reason
// in `error` otherwise. Each process that needs the trust calls it itself,
// before its first HTTPS request: it then sees the store as it wrote it,
// whatever became of another process's writes. Several processes may call
// it at once: nothing is ever removed or replaced. Windows only.
bool TrustTestAuthority(const std::string& der_path, std::string* error);

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_TRANSPORT_TEST_AUTHORITY_TRUST_H_
