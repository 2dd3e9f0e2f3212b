// A P-256 key for tests: fresh or read from a fixed PEM, signing the ways our inputs carry
// signatures (raw r||s over a message, DER over a digest the signer computed).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include <openssl/evp.h>

namespace orv::test {

class P256TestKey {
 public:
  P256TestKey();                                       // a fresh key
  explicit P256TestKey(std::string_view private_pem);  // a fixed key
  ~P256TestKey();
  P256TestKey(P256TestKey&&) noexcept;
  P256TestKey& operator=(P256TestKey&&) noexcept;

  EVP_PKEY* pkey() const;
  std::array<uint8_t, 64> point() const;  // x || y
  std::vector<uint8_t> spki_der() const;  // 91 bytes, uncompressed point
  // Raw r || s over SHA-256 of the message.
  std::array<uint8_t, 64> sign(std::span<const uint8_t> message) const;
  // DER ECDSA signature over a SHA-256 digest the caller computed.
  std::vector<uint8_t> sign_digest(const std::array<uint8_t, 32>& digest) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orv::test
