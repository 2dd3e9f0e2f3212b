// What the P-256 and P-384 verifiers share: reading keys that can only be on one curve, and
// checking an ECDSA signature with OpenSSL.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <openssl/evp.h>

#include "crypto/openssl_ptr.h"

namespace orv::crypto {

// The DER of a SubjectPublicKeyInfo { id-ecPublicKey, named curve } up to its point, a BIT
// STRING without unused bits: the one form issuers write for these keys.
inline constexpr std::array<uint8_t, 26> kP256SpkiPrefix = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                                            0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                                            0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};
inline constexpr std::array<uint8_t, 23> kP384SpkiPrefix = {0x30, 0x76, 0x30, 0x10, 0x06, 0x07, 0x2a, 0x86,
                                                            0x48, 0xce, 0x3d, 0x02, 0x01, 0x06, 0x05, 0x2b,
                                                            0x81, 0x04, 0x00, 0x22, 0x03, 0x62, 0x00};

// The uncompressed point (0x04 || x || y) of an SPKI of exactly that form with the given prefix,
// judged by form alone; empty for any other bytes.
std::span<const uint8_t> uncompressed_point(std::span<const uint8_t> spki, std::span<const uint8_t> prefix,
                                            size_t coordinate_bytes);

// True when the key is an EC key on the curve named by its OpenSSL NID.
bool has_curve(EVP_PKEY* key, int curve_nid);

// Exactly one SubjectPublicKeyInfo of an EC key on the curve; trailing bytes would let two
// different texts name one key, so they are refused.
PkeyPtr read_ec_spki(std::span<const uint8_t> der, int curve_nid);

// An uncompressed point (0x04 || x || y) on the named group ("P-256", "P-384"); the import
// refuses a point that is not on the curve.
PkeyPtr import_ec_point(std::span<const uint8_t> uncompressed_point, const char* group);

// r||s as the DER ECDSA-Sig-Value OpenSSL verifies; empty when raw is not two equal halves.
std::vector<uint8_t> ecdsa_raw_to_der(std::span<const uint8_t> raw);

// OpenSSL checks 0 < r, s < n itself; any other result than 1 is a failure.
bool ecdsa_verify_der(EVP_PKEY* key, const EVP_MD* digest, std::span<const uint8_t> message,
                      std::span<const uint8_t> der_signature);

}  // namespace orv::crypto
