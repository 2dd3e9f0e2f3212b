#include "crypto/ecdsa_p256.h"

#include <algorithm>
#include <array>

#include <openssl/obj_mac.h>
#include <openssl/x509.h>

#include "crypto/ec_common.h"

namespace orv::crypto {

std::optional<P256PublicKey> P256PublicKey::from_spki(std::span<const uint8_t> spki_der) {
  PkeyPtr key = read_ec_spki(spki_der, NID_X9_62_prime256v1);
  if (!key) return std::nullopt;
  return P256PublicKey(std::move(key));
}

std::optional<P256PublicKey> P256PublicKey::from_point(std::span<const uint8_t> xy) {
  if (xy.size() != kP256PointBytes) return std::nullopt;
  std::array<uint8_t, 1 + kP256PointBytes> encoded{};
  encoded[0] = 0x04;  // uncompressed
  std::copy(xy.begin(), xy.end(), encoded.begin() + 1);
  PkeyPtr key = import_ec_point(encoded, "P-256");
  if (!key) return std::nullopt;
  return P256PublicKey(std::move(key));
}

std::optional<P256PublicKey> P256PublicKey::from_pkey(EVP_PKEY* key) {
  if (!has_curve(key, NID_X9_62_prime256v1) || EVP_PKEY_up_ref(key) != 1) return std::nullopt;
  return P256PublicKey(PkeyPtr(key));
}

bool P256PublicKey::verify(std::span<const uint8_t> message, std::span<const uint8_t> signature) const {
  if (signature.size() != kP256SignatureBytes) return false;
  const std::vector<uint8_t> der = ecdsa_raw_to_der(signature);
  return !der.empty() && ecdsa_verify_der(key_.get(), EVP_sha256(), message, der);
}

bool P256PublicKey::verify_der(std::span<const uint8_t> message, std::span<const uint8_t> der_signature) const {
  // OpenSSL's decoder takes some BER; only the one re-encoding of the same values is accepted.
  const unsigned char* cursor = der_signature.data();
  EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(der_signature.size())));
  if (!sig || cursor != der_signature.data() + der_signature.size()) return false;
  const int len = i2d_ECDSA_SIG(sig.get(), nullptr);
  if (len <= 0 || static_cast<size_t>(len) != der_signature.size()) return false;
  std::vector<uint8_t> again(static_cast<size_t>(len));
  unsigned char* out = again.data();
  if (i2d_ECDSA_SIG(sig.get(), &out) != len) return false;
  if (!std::equal(again.begin(), again.end(), der_signature.begin())) return false;
  return ecdsa_verify_der(key_.get(), EVP_sha256(), message, der_signature);
}

}  // namespace orv::crypto
