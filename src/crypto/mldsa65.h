// ML-DSA-65 signature verification (FIPS 204), external interface with a context string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orv::crypto {

inline constexpr size_t kMldsa65PublicKeyBytes = 1952;
inline constexpr size_t kMldsa65SignatureBytes = 3309;

// True only for a well-formed public key, a context of at most 255 bytes and a signature
// that ML-DSA.Verify accepts over (context, message). Never allocates.
bool mldsa65_verify(std::span<const uint8_t> public_key, std::span<const uint8_t> message, std::span<const uint8_t> context,
                    std::span<const uint8_t> signature);

}  // namespace orv::crypto
