#include "crypto/ec_common.h"

#include <algorithm>

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>
#include <openssl/params.h>
#include <openssl/x509.h>

namespace orv::crypto {

bool has_curve(EVP_PKEY* key, int curve_nid) {
  if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_EC) return false;
  char group[64] = {};
  size_t group_len = 0;
  if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &group_len) != 1) {
    return false;
  }
  return OBJ_sn2nid(group) == curve_nid;
}

std::span<const uint8_t> uncompressed_point(std::span<const uint8_t> spki, std::span<const uint8_t> prefix,
                                            size_t coordinate_bytes) {
  const size_t point = 1 + 2 * coordinate_bytes;
  if (spki.size() != prefix.size() + point || !std::equal(prefix.begin(), prefix.end(), spki.begin()) ||
      spki[prefix.size()] != 0x04) {
    return {};
  }
  return spki.subspan(prefix.size());
}

PkeyPtr read_ec_spki(std::span<const uint8_t> der, int curve_nid) {
  const unsigned char* cursor = der.data();
  PkeyPtr key(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(der.size())));
  if (!key || cursor != der.data() + der.size() || !has_curve(key.get(), curve_nid)) return nullptr;
  return key;
}

PkeyPtr import_ec_point(std::span<const uint8_t> uncompressed_point, const char* group) {
  OpenSslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1) return nullptr;
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>(group), 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, const_cast<uint8_t*>(uncompressed_point.data()),
                                        uncompressed_point.size()),
      OSSL_PARAM_construct_end(),
  };
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1) return nullptr;
  return PkeyPtr(key);
}

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

bool ecdsa_verify_der(EVP_PKEY* key, const EVP_MD* digest, std::span<const uint8_t> message,
                      std::span<const uint8_t> der_signature) {
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, digest, nullptr, key) != 1) return false;
  return EVP_DigestVerify(ctx.get(), der_signature.data(), der_signature.size(), message.data(), message.size()) == 1;
}

}  // namespace orv::crypto
