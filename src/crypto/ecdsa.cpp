#include "crypto/ecdsa.h"

#include <vector>

#include <openssl/obj_mac.h>

#include "crypto/ec_common.h"

namespace orv::crypto {
namespace {

// The form every issuer writes is read without OpenSSL's generic decoder, which costs about
// seven times as much as a direct import and would dominate a chain of receipts.
PkeyPtr read_p384_key(std::span<const uint8_t> der) {
  const std::span<const uint8_t> point = uncompressed_point(der, kP384SpkiPrefix, 48);
  if (!point.empty()) return import_ec_point(point, "P-384");
  return read_ec_spki(der, NID_secp384r1);
}

}  // namespace

std::optional<P384PublicKey> P384PublicKey::from_spki(std::span<const uint8_t> spki_der) {
  PkeyPtr key = read_p384_key(spki_der);
  if (!key) return std::nullopt;
  return P384PublicKey(std::move(key));
}

bool P384PublicKey::verify(std::span<const uint8_t> message, std::span<const uint8_t> signature) const {
  if (signature.size() != kP384SignatureBytes) return false;
  const std::vector<uint8_t> der = ecdsa_raw_to_der(signature);
  return !der.empty() && ecdsa_verify_der(key_.get(), EVP_sha384(), message, der);
}

bool is_p384_public_key(std::span<const uint8_t> spki_der) { return read_p384_key(spki_der) != nullptr; }

bool p384_sha384_verify(std::span<const uint8_t> spki_der, std::span<const uint8_t> message, std::span<const uint8_t> signature) {
  const std::optional<P384PublicKey> key = P384PublicKey::from_spki(spki_der);
  return key && key->verify(message, signature);
}

}  // namespace orv::crypto
