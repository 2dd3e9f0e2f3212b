#include "crypto/p256_prehashed.h"

#include <openssl/core_names.h>
#include <openssl/obj_mac.h>
#include <openssl/x509.h>

#include "crypto/ec_common.h"
#include "crypto/openssl_ptr.h"

namespace orv::crypto {
namespace {

using PkeyCtxPtr = OpenSslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;

// The key is compared byte for byte with what entries carry, so only the one DER form of a
// P-256 key is accepted: named curve, uncompressed point.
PkeyPtr read_p256_key(std::span<const uint8_t> der) {
  const std::span<const uint8_t> point = uncompressed_point(der, kP256SpkiPrefix, 32);
  return point.empty() ? nullptr : import_ec_point(point, "P-256");
}

}  // namespace

bool is_p256_spki_key(std::span<const uint8_t> spki_der) { return read_p256_key(spki_der) != nullptr; }

bool p256_verify_der_over_digest(std::span<const uint8_t> spki_der, std::span<const uint8_t> digest,
                                 std::span<const uint8_t> der_signature) {
  if (digest.size() != kSha256DigestBytes || der_signature.empty()) return false;
  PkeyPtr key = read_p256_key(spki_der);
  if (!key) return false;
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
  if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1) return false;
  if (EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) != 1) return false;
  // OpenSSL decodes the signature, re-encodes it and refuses any difference, so BER forms and
  // trailing bytes fail here; 0 < r, s < n is checked as well.
  return EVP_PKEY_verify(ctx.get(), der_signature.data(), der_signature.size(), digest.data(), digest.size()) == 1;
}

}  // namespace orv::crypto
