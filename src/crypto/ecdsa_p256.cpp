#include "crypto/ecdsa_p256.h"

#include <algorithm>
#include <array>

#include <openssl/core_names.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

namespace orv::crypto {
namespace {

bool is_p256(EVP_PKEY* key) {
  if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_EC) return false;
  char group[64] = {};
  size_t group_len = 0;
  if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &group_len) != 1) {
    return false;
  }
  return OBJ_sn2nid(group) == NID_X9_62_prime256v1;
}

using PkeyCtxPtr = OpenSslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using ParamBldPtr = OpenSslPtr<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>;
using ParamPtr = OpenSslPtr<OSSL_PARAM, OSSL_PARAM_free>;

bool digest_verify(EVP_PKEY* key, std::span<const uint8_t> message, std::span<const uint8_t> der) {
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) != 1) return false;
  // OpenSSL checks 0 < r, s < n itself; any other result than 1 is a failure.
  return EVP_DigestVerify(ctx.get(), der.data(), der.size(), message.data(), message.size()) == 1;
}

}  // namespace

std::vector<uint8_t> ecdsa_raw_to_der(std::span<const uint8_t> raw) {
  if (raw.empty() || raw.size() % 2 != 0) return {};
  const size_t half = raw.size() / 2;
  BignumPtr r(BN_bin2bn(raw.data(), static_cast<int>(half), nullptr));
  BignumPtr s(BN_bin2bn(raw.data() + half, static_cast<int>(half), nullptr));
  EcdsaSigPtr sig(ECDSA_SIG_new());
  if (!r || !s || !sig || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return {};
  r.release();
  s.release();
  const int len = i2d_ECDSA_SIG(sig.get(), nullptr);
  if (len <= 0) return {};
  std::vector<uint8_t> der(static_cast<size_t>(len));
  unsigned char* out = der.data();
  if (i2d_ECDSA_SIG(sig.get(), &out) != len) return {};
  return der;
}

std::optional<P256PublicKey> P256PublicKey::from_spki(std::span<const uint8_t> spki_der) {
  const unsigned char* cursor = spki_der.data();
  PkeyPtr key(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(spki_der.size())));
  // Trailing bytes after the key would let two different texts name one key.
  if (!key || cursor != spki_der.data() + spki_der.size() || !is_p256(key.get())) return std::nullopt;
  return P256PublicKey(std::move(key));
}

std::optional<P256PublicKey> P256PublicKey::from_point(std::span<const uint8_t> xy) {
  if (xy.size() != kP256PointBytes) return std::nullopt;
  std::array<uint8_t, 1 + kP256PointBytes> encoded{};
  encoded[0] = 0x04;  // uncompressed
  for (size_t i = 0; i < xy.size(); ++i) encoded[1 + i] = xy[i];
  ParamBldPtr build(OSSL_PARAM_BLD_new());
  if (!build ||
      OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, SN_X9_62_prime256v1, 0) != 1 ||
      OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, encoded.data(), encoded.size()) != 1) {
    return std::nullopt;
  }
  ParamPtr params(OSSL_PARAM_BLD_to_param(build.get()));
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* raw_key = nullptr;
  // Importing a point checks that it lies on the curve; a point off it never becomes a key.
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &raw_key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return std::nullopt;
  }
  PkeyPtr key(raw_key);
  if (!is_p256(key.get())) return std::nullopt;
  return P256PublicKey(std::move(key));
}

std::optional<P256PublicKey> P256PublicKey::from_pkey(EVP_PKEY* key) {
  if (!is_p256(key) || EVP_PKEY_up_ref(key) != 1) return std::nullopt;
  return P256PublicKey(PkeyPtr(key));
}

bool P256PublicKey::verify(std::span<const uint8_t> message, std::span<const uint8_t> signature) const {
  if (signature.size() != kP256SignatureBytes) return false;
  const std::vector<uint8_t> der = ecdsa_raw_to_der(signature);
  return !der.empty() && digest_verify(key_.get(), message, der);
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
  return digest_verify(key_.get(), message, der_signature);
}

}  // namespace orv::crypto
