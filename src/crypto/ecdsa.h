// ECDSA P-384 with SHA-384 over raw r||s signatures, keys as DER SubjectPublicKeyInfo.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "crypto/openssl_ptr.h"

namespace orv::crypto {

inline constexpr size_t kP384SignatureBytes = 96;

// A public key that can only hold a P-384 point: parsed once, used for many verifications.
class P384PublicKey {
 public:
  // Nothing unless the DER is exactly one SubjectPublicKeyInfo of an EC key on P-384.
  static std::optional<P384PublicKey> from_spki(std::span<const uint8_t> spki_der);

  // False for a signature that is not 96 bytes, a scalar that is zero or not below the group
  // order, and of course a signature that does not verify.
  bool verify(std::span<const uint8_t> message, std::span<const uint8_t> signature) const;

 private:
  explicit P384PublicKey(PkeyPtr key) : key_(std::move(key)) {}
  PkeyPtr key_;
};

bool is_p384_public_key(std::span<const uint8_t> spki_der);

bool p384_sha384_verify(std::span<const uint8_t> spki_der, std::span<const uint8_t> message, std::span<const uint8_t> signature);

}  // namespace orv::crypto
