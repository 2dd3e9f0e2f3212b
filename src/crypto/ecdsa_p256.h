// ECDSA P-256 with SHA-256: raw r||s and DER signatures; keys from a SubjectPublicKeyInfo, a raw
// x||y point or a certificate's key.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "crypto/openssl_ptr.h"

namespace orv::crypto {

inline constexpr size_t kP256SignatureBytes = 64;
inline constexpr size_t kP256PointBytes = 64;

// A public key that can only hold a point on P-256: parsed once, used for many verifications.
class P256PublicKey {
 public:
  // Nothing unless the DER is exactly one SubjectPublicKeyInfo of an EC key on P-256.
  static std::optional<P256PublicKey> from_spki(std::span<const uint8_t> spki_der);
  // x and y, 32 bytes each, big-endian; nothing unless the point is on the curve.
  static std::optional<P256PublicKey> from_point(std::span<const uint8_t> xy);
  // Shares an existing key (a certificate's); nothing unless it is an EC key on P-256.
  static std::optional<P256PublicKey> from_pkey(EVP_PKEY* key);

  // False for a signature that is not 64 bytes, a scalar that is zero or not below the group
  // order, and of course a signature that does not verify.
  bool verify(std::span<const uint8_t> message, std::span<const uint8_t> signature) const;
  // The same over a DER ECDSA-Sig-Value, which must be exactly one strict DER structure.
  bool verify_der(std::span<const uint8_t> message, std::span<const uint8_t> der_signature) const;

 private:
  explicit P256PublicKey(PkeyPtr key) : key_(std::move(key)) {}
  PkeyPtr key_;
};

}  // namespace orv::crypto
