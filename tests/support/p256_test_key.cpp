#include "support/p256_test_key.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>

#include "crypto/openssl_ptr.h"

namespace orv::test {

struct P256TestKey::Impl {
  crypto::PkeyPtr key;
};

P256TestKey::P256TestKey() : impl_(std::make_unique<Impl>()) {
  impl_->key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  if (!impl_->key) ADD_FAILURE() << "cannot generate a P-256 key";
}

P256TestKey::P256TestKey(std::string_view private_pem) : impl_(std::make_unique<Impl>()) {
  crypto::OpenSslPtr<BIO, BIO_free_all> bio(BIO_new_mem_buf(private_pem.data(), static_cast<int>(private_pem.size())));
  impl_->key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!impl_->key) ADD_FAILURE() << "cannot read the P-256 test key";
}

P256TestKey::~P256TestKey() = default;
P256TestKey::P256TestKey(P256TestKey&&) noexcept = default;
P256TestKey& P256TestKey::operator=(P256TestKey&&) noexcept = default;

EVP_PKEY* P256TestKey::pkey() const { return impl_->key.get(); }

std::array<uint8_t, 64> P256TestKey::point() const {
  std::array<uint8_t, 65> encoded{};
  size_t length = 0;
  if (EVP_PKEY_get_octet_string_param(impl_->key.get(), OSSL_PKEY_PARAM_PUB_KEY, encoded.data(), encoded.size(), &length) != 1 ||
      length != 65 || encoded[0] != 0x04) {
    ADD_FAILURE() << "cannot read the public point";
  }
  std::array<uint8_t, 64> xy{};
  std::copy(encoded.begin() + 1, encoded.end(), xy.begin());
  return xy;
}

std::vector<uint8_t> P256TestKey::spki_der() const {
  unsigned char* der = nullptr;
  const int len = i2d_PUBKEY(impl_->key.get(), &der);
  std::vector<uint8_t> out(der, der + std::max(len, 0));
  OPENSSL_free(der);
  return out;
}

std::array<uint8_t, 64> P256TestKey::sign(std::span<const uint8_t> message) const {
  crypto::MdCtxPtr ctx(EVP_MD_CTX_new());
  size_t length = 0;
  std::array<uint8_t, 64> raw{};
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, impl_->key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &length, message.data(), message.size()) != 1) {
    ADD_FAILURE() << "P-256 signing failed";
    return raw;
  }
  std::vector<uint8_t> der(length);
  if (EVP_DigestSign(ctx.get(), der.data(), &length, message.data(), message.size()) != 1) {
    ADD_FAILURE() << "P-256 signing failed";
    return raw;
  }
  const unsigned char* cursor = der.data();
  crypto::EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(length)));
  if (!sig || BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), raw.data(), 32) != 32 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), raw.data() + 32, 32) != 32) {
    ADD_FAILURE() << "P-256 signature encoding failed";
  }
  return raw;
}

std::vector<uint8_t> P256TestKey::sign_digest(const std::array<uint8_t, 32>& digest) const {
  crypto::OpenSslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free> ctx(EVP_PKEY_CTX_new(impl_->key.get(), nullptr));
  size_t len = 0;
  std::vector<uint8_t> signature;
  if (ctx && EVP_PKEY_sign_init(ctx.get()) == 1 && EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) == 1 &&
      EVP_PKEY_sign(ctx.get(), nullptr, &len, digest.data(), digest.size()) == 1) {
    signature.resize(len);
    if (EVP_PKEY_sign(ctx.get(), signature.data(), &len, digest.data(), digest.size()) != 1) len = 0;
    signature.resize(len);
  }
  if (signature.empty()) ADD_FAILURE() << "P-256 signing failed";
  return signature;
}

}  // namespace orv::test
