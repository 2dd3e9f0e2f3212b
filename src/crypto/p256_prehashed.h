// ECDSA P-256 verification of DER signatures over a SHA-256 digest the signer computed,
// for statements that sign an artifact's digest rather than its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orv::crypto {

inline constexpr size_t kSha256DigestBytes = 32;

// True when the DER is exactly one SubjectPublicKeyInfo of an EC key on P-256, nothing after it.
bool is_p256_spki_key(std::span<const uint8_t> spki_der);

// False unless the key is a P-256 SPKI, the digest is 32 bytes and the DER signature (strict
// DER, as OpenSSL re-encodes and compares it) verifies over that digest.
bool p256_verify_der_over_digest(std::span<const uint8_t> spki_der, std::span<const uint8_t> digest,
                                 std::span<const uint8_t> der_signature);

}  // namespace orv::crypto
