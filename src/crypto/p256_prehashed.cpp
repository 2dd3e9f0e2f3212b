#include "crypto/p256_prehashed.h"

#include <cstring>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/obj_mac.h>
#include <openssl/x509.h>

#include "crypto/ec_common.h"
#include "crypto/openssl_ptr.h"

namespace orv::crypto {
namespace {

using PkeyCtxPtr = OpenSslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;

// A named-curve SPKI with an uncompressed point is exactly this long.
constexpr size_t kP256UncompressedSpkiBytes = 91;

PkeyPtr read_p256_key(std::span<const uint8_t> der) {
  if (der.size() != kP256UncompressedSpkiBytes) return nullptr;
  PkeyPtr key = read_ec_spki(der, NID_X9_62_prime256v1);
  if (!key) return nullptr;
  // The key is compared byte for byte with what entries carry, so only the one DER form that
  // OpenSSL would itself write for this key is accepted.
  unsigned char* again = nullptr;
  const int again_len = i2d_PUBKEY(key.get(), &again);
  const bool same = again_len == static_cast<int>(der.size()) && std::memcmp(again, der.data(), der.size()) == 0;
  OPENSSL_free(again);
  return same ? std::move(key) : nullptr;
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
