// OpenSSL's own ML-DSA-65 (OpenSSL 3.5 and later), a second opinion on our verifier for the
// tests and the benchmark. On an older OpenSSL, available() is false and nothing else may be
// called.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "crypto/openssl_ptr.h"

namespace orv::test::openssl_mldsa65 {

using Bytes = std::vector<uint8_t>;

bool available();

// How the signed message reaches the algorithm: pure ML-DSA (0 || len(ctx) || ctx || M), the
// internal interface (M' as given, no context), or a precomputed 64-byte mu.
enum class Input { pure, internal, mu };

// A fresh key pair from OpenSSL's generator, and hedged pure signatures under it. Empty
// results mean OpenSSL failed.
class KeyPair {
 public:
  static std::optional<KeyPair> generate();
  Bytes public_key() const;
  Bytes sign(std::span<const uint8_t> message, std::span<const uint8_t> context) const;

 private:
  explicit KeyPair(crypto::PkeyPtr key) : key_(std::move(key)) {}
  crypto::PkeyPtr key_;
};

// The public key OpenSSL decodes from its bytes; null when it refuses them.
crypto::PkeyPtr decode_public_key(std::span<const uint8_t> public_key);

// OpenSSL's verdict under a decoded key; a refused context or any error counts as not valid.
bool verify(EVP_PKEY* key, std::span<const uint8_t> message, std::span<const uint8_t> context, std::span<const uint8_t> signature,
            Input input = Input::pure);

// The same from the key's bytes, as our verifier takes them.
bool verify(std::span<const uint8_t> public_key, std::span<const uint8_t> message, std::span<const uint8_t> context,
            std::span<const uint8_t> signature, Input input = Input::pure);

}  // namespace orv::test::openssl_mldsa65
