#include "crypto/ecdsa.h"

#include <algorithm>
#include <vector>

#include <openssl/core_names.h>
#include <openssl/params.h>
#include <openssl/obj_mac.h>
#include <openssl/x509.h>

#include "crypto/openssl_ptr.h"

namespace orv::crypto {
namespace {

// SubjectPublicKeyInfo { id-ecPublicKey, secp384r1 } with an uncompressed point: the form
// every issuer writes, read without OpenSSL's generic decoder, which costs about seven times
// as much as the import below and would dominate a chain of receipts.
constexpr uint8_t kUncompressedP384Prefix[] = {0x30, 0x76, 0x30, 0x10, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02,
                                               0x01, 0x06, 0x05, 0x2b, 0x81, 0x04, 0x00, 0x22, 0x03, 0x62, 0x00};
constexpr size_t kUncompressedPointBytes = 97;

PkeyPtr import_uncompressed_point(std::span<const uint8_t> point) {
  OpenSslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1) return nullptr;
  char group[] = "P-384";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, const_cast<uint8_t*>(point.data()), point.size()),
      OSSL_PARAM_construct_end(),
  };
  EVP_PKEY* key = nullptr;
  // The import refuses a point that is not on the curve.
  if (EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1) return nullptr;
  return PkeyPtr(key);
}

PkeyPtr read_p384_key(std::span<const uint8_t> der) {
  constexpr size_t prefix = sizeof kUncompressedP384Prefix;
  if (der.size() == prefix + kUncompressedPointBytes && std::equal(der.begin(), der.begin() + prefix, kUncompressedP384Prefix) &&
      der[prefix] == 0x04) {
    return import_uncompressed_point(der.subspan(prefix));
  }
  const unsigned char* cursor = der.data();
  PkeyPtr key(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(der.size())));
  // Trailing bytes after the key would let two different texts name one key.
  if (!key || cursor != der.data() + der.size()) return nullptr;
  if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_EC) return nullptr;
  char group[64] = {};
  size_t group_len = 0;
  if (EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &group_len) != 1) {
    return nullptr;
  }
  if (OBJ_sn2nid(group) != NID_secp384r1) return nullptr;
  return key;
}

// OpenSSL verifies DER signatures; r and s become INTEGERs of a SEQUENCE.
std::vector<uint8_t> raw_to_der(std::span<const uint8_t> raw) {
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

}  // namespace

std::optional<P384PublicKey> P384PublicKey::from_spki(std::span<const uint8_t> spki_der) {
  PkeyPtr key = read_p384_key(spki_der);
  if (!key) return std::nullopt;
  return P384PublicKey(std::move(key));
}

bool P384PublicKey::verify(std::span<const uint8_t> message, std::span<const uint8_t> signature) const {
  if (signature.size() != kP384SignatureBytes) return false;
  const std::vector<uint8_t> der = raw_to_der(signature);
  if (der.empty()) return false;
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha384(), nullptr, key_.get()) != 1) return false;
  // OpenSSL checks 0 < r, s < n itself; any other result than 1 is a failure.
  return EVP_DigestVerify(ctx.get(), der.data(), der.size(), message.data(), message.size()) == 1;
}

bool is_p384_public_key(std::span<const uint8_t> spki_der) { return read_p384_key(spki_der) != nullptr; }

bool p384_sha384_verify(std::span<const uint8_t> spki_der, std::span<const uint8_t> message,
                        std::span<const uint8_t> signature) {
  const std::optional<P384PublicKey> key = P384PublicKey::from_spki(spki_der);
  return key && key->verify(message, signature);
}

}  // namespace orv::crypto
