#include "crypto/ecdsa.h"

#include <algorithm>
#include <vector>

#include <openssl/obj_mac.h>

#include "crypto/ec_common.h"

namespace orv::crypto {
namespace {

// SubjectPublicKeyInfo { id-ecPublicKey, secp384r1 } with an uncompressed point: the form
// every issuer writes, read without OpenSSL's generic decoder, which costs about seven times
// as much as a direct import and would dominate a chain of receipts.
constexpr uint8_t kUncompressedP384Prefix[] = {0x30, 0x76, 0x30, 0x10, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02,
                                               0x01, 0x06, 0x05, 0x2b, 0x81, 0x04, 0x00, 0x22, 0x03, 0x62, 0x00};
constexpr size_t kUncompressedPointBytes = 97;

PkeyPtr read_p384_key(std::span<const uint8_t> der) {
  constexpr size_t prefix = sizeof kUncompressedP384Prefix;
  if (der.size() == prefix + kUncompressedPointBytes &&
      std::equal(der.begin(), der.begin() + prefix, kUncompressedP384Prefix) && der[prefix] == 0x04) {
    return import_ec_point(der.subspan(prefix), "P-384");
  }
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

bool p384_sha384_verify(std::span<const uint8_t> spki_der, std::span<const uint8_t> message,
                        std::span<const uint8_t> signature) {
  const std::optional<P384PublicKey> key = P384PublicKey::from_spki(spki_der);
  return key && key->verify(message, signature);
}

}  // namespace orv::crypto
