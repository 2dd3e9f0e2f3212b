#include "support/openssl_mldsa65.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <array>

#include "crypto/mldsa65.h"

namespace orv::test::openssl_mldsa65 {
namespace {

constexpr const char* kAlgorithm = "ML-DSA-65";

// The signature parameters by their names, so that this compiles against OpenSSL 3.0's headers
// too (where available() is false).
struct Params {
  Params(std::span<const uint8_t> context, Input input) {
    size_t n = 0;
    // An empty context is the default; OpenSSL refuses an empty octet string without data.
    if (input == Input::pure && !context.empty()) {
      list[n++] = OSSL_PARAM_construct_octet_string("context-string", const_cast<uint8_t*>(context.data()), context.size());
    }
    if (input == Input::internal) list[n++] = OSSL_PARAM_construct_int("message-encoding", &zero);
    if (input == Input::mu) list[n++] = OSSL_PARAM_construct_int("mu", &one);
    list[n] = OSSL_PARAM_construct_end();
  }
  Params(const Params&) = delete;  // the list points into this object
  int zero = 0;
  int one = 1;
  std::array<OSSL_PARAM, 2> list{};
};

}  // namespace

bool available() {
  EVP_SIGNATURE* algorithm = EVP_SIGNATURE_fetch(nullptr, kAlgorithm, nullptr);
  EVP_SIGNATURE_free(algorithm);
  ERR_clear_error();
  return algorithm != nullptr;
}

std::optional<KeyPair> KeyPair::generate() {
  crypto::PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, kAlgorithm));
  if (!key) return std::nullopt;
  return KeyPair(std::move(key));
}

Bytes KeyPair::public_key() const {
  Bytes out(crypto::kMldsa65PublicKeyBytes);
  size_t length = out.size();
  if (EVP_PKEY_get_raw_public_key(key_.get(), out.data(), &length) != 1) return {};
  out.resize(length);
  return out;
}

Bytes KeyPair::sign(std::span<const uint8_t> message, std::span<const uint8_t> context) const {
  crypto::MdCtxPtr ctx(EVP_MD_CTX_new());
  Params params(context, Input::pure);
  Bytes out(crypto::kMldsa65SignatureBytes);
  size_t length = out.size();
  if (!ctx || EVP_DigestSignInit_ex(ctx.get(), nullptr, nullptr, nullptr, nullptr, key_.get(), params.list.data()) != 1 ||
      EVP_DigestSign(ctx.get(), out.data(), &length, message.data(), message.size()) != 1) {
    ERR_clear_error();
    return {};
  }
  out.resize(length);
  return out;
}

crypto::PkeyPtr decode_public_key(std::span<const uint8_t> public_key) {
  crypto::PkeyPtr key(EVP_PKEY_new_raw_public_key_ex(nullptr, kAlgorithm, nullptr, public_key.data(), public_key.size()));
  ERR_clear_error();
  return key;
}

bool verify(EVP_PKEY* key, std::span<const uint8_t> message, std::span<const uint8_t> context, std::span<const uint8_t> signature,
            Input input) {
  crypto::MdCtxPtr ctx(EVP_MD_CTX_new());
  Params params(context, input);
  const bool valid = ctx &&
                     EVP_DigestVerifyInit_ex(ctx.get(), nullptr, nullptr, nullptr, nullptr, key, params.list.data()) == 1 &&
                     EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(), message.size()) == 1;
  if (!valid) ERR_clear_error();
  return valid;
}

bool verify(std::span<const uint8_t> public_key, std::span<const uint8_t> message, std::span<const uint8_t> context,
            std::span<const uint8_t> signature, Input input) {
  const crypto::PkeyPtr key = decode_public_key(public_key);
  return key && verify(key.get(), message, context, signature, input);
}

}  // namespace orv::test::openssl_mldsa65
