#include "crypto/ecdsa.h"

#include <vector>

#include <openssl/core_names.h>
#include <openssl/obj_mac.h>
#include <openssl/x509.h>

#include "crypto/openssl_ptr.h"

namespace orv::crypto {
namespace {

PkeyPtr read_p384_key(std::span<const uint8_t> der) {
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
