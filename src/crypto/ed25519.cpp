#include "crypto/ed25519.h"

#include <algorithm>

#include <openssl/bn.h>
#include <openssl/evp.h>

#include "crypto/openssl_ptr.h"

namespace orv::crypto {
namespace {

using BnCtxPtr = OpenSslPtr<BN_CTX, BN_CTX_free>;

// RFC 8032 section 5.1.3, steps 1 to 4, without computing x itself: a y has a point exactly
// when (y^2 - 1) / (d y^2 + 1) is zero or a square modulo p.
bool decodes_to_point(std::span<const uint8_t> key) {
  std::array<uint8_t, kEd25519KeyBytes> y_bytes{};
  std::copy(key.begin(), key.end(), y_bytes.begin());
  const bool x_odd = (y_bytes[31] & 0x80) != 0;
  y_bytes[31] &= 0x7F;

  BnCtxPtr ctx(BN_CTX_new());
  BignumPtr p(BN_new()), d(BN_new()), y(BN_lebin2bn(y_bytes.data(), static_cast<int>(y_bytes.size()), nullptr));
  BignumPtr y2(BN_new()), u(BN_new()), v(BN_new()), x2(BN_new()), e(BN_new()), t(BN_new());
  if (!ctx || !p || !d || !y || !y2 || !u || !v || !x2 || !e || !t) return false;

  // p = 2^255 - 19; d = -121665 / 121666 mod p.
  if (BN_set_bit(p.get(), 255) != 1 || BN_sub_word(p.get(), 19) != 1) return false;
  if (BN_cmp(y.get(), p.get()) >= 0) return false;  // a non-canonical y names no key
  if (BN_set_word(t.get(), 121666) != 1 || !BN_mod_inverse(t.get(), t.get(), p.get(), ctx.get())) return false;
  if (BN_set_word(d.get(), 121665) != 1 || BN_mod_mul(d.get(), d.get(), t.get(), p.get(), ctx.get()) != 1) return false;
  if (BN_mod_sub(d.get(), p.get(), d.get(), p.get(), ctx.get()) != 1) return false;

  if (BN_mod_sqr(y2.get(), y.get(), p.get(), ctx.get()) != 1) return false;
  if (BN_copy(u.get(), y2.get()) == nullptr || BN_set_word(t.get(), 1) != 1) return false;
  if (BN_mod_sub(u.get(), u.get(), t.get(), p.get(), ctx.get()) != 1) return false;
  if (BN_mod_mul(v.get(), d.get(), y2.get(), p.get(), ctx.get()) != 1) return false;
  if (BN_mod_add(v.get(), v.get(), t.get(), p.get(), ctx.get()) != 1) return false;
  // d is not a square, so d y^2 + 1 never vanishes and the inverse exists.
  if (!BN_mod_inverse(v.get(), v.get(), p.get(), ctx.get())) return false;
  if (BN_mod_mul(x2.get(), u.get(), v.get(), p.get(), ctx.get()) != 1) return false;

  if (BN_is_zero(x2.get())) return !x_odd;  // x = 0 has no negative to choose
  // Euler's criterion: x2^((p-1)/2) is 1 exactly for the non-zero squares.
  if (BN_copy(e.get(), p.get()) == nullptr || BN_sub_word(e.get(), 1) != 1 || BN_rshift1(e.get(), e.get()) != 1) {
    return false;
  }
  if (BN_mod_exp(t.get(), x2.get(), e.get(), p.get(), ctx.get()) != 1) return false;
  return BN_is_one(t.get());
}

}  // namespace

bool is_ed25519_public_key(std::span<const uint8_t> key) { return key.size() == kEd25519KeyBytes && decodes_to_point(key); }

bool ed25519_verify(std::span<const uint8_t> key, std::span<const uint8_t> message, std::span<const uint8_t> signature) {
  if (key.size() != kEd25519KeyBytes || signature.size() != kEd25519SignatureBytes) return false;
  PkeyPtr pkey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!pkey || !ctx) return false;
  // Ed25519 hashes internally: no digest is named, and the whole message goes in one call.
  if (EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) return false;
  return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(), message.size()) == 1;
}

}  // namespace orv::crypto
