// SHA-256 as FIPS 180-4 defines it, for digests that must come out the same
// on every build and every machine. Not meant for secrets: nothing here is
// hardened against timing.
#ifndef VORNLINK_EXCHANGE_SHA256_H_
#define VORNLINK_EXCHANGE_SHA256_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vornlink {

using Sha256Digest = std::array<uint8_t, 32>;

// The digest of `bytes`. Pure; thread-safe.
Sha256Digest Sha256(std::string_view bytes);

// The first `size` bytes of `digest` (at most 32) as lower-case hex digits.
std::string HexDigits(const Sha256Digest& digest, size_t size = 32);

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_SHA256_H_
