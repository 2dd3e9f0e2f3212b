#include "crypto/digest.h"

#include <openssl/sha.h>

#include "core/hex.h"

namespace orv::crypto {

std::array<uint8_t, 32> sha256(std::span<const uint8_t> data) {
  std::array<uint8_t, 32> out{};
  SHA256(data.data(), data.size(), out.data());
  return out;
}

std::array<uint8_t, 48> sha384(std::span<const uint8_t> data) {
  std::array<uint8_t, 48> out{};
  SHA384(data.data(), data.size(), out.data());
  return out;
}

std::array<uint8_t, 64> sha512(std::span<const uint8_t> data) {
  std::array<uint8_t, 64> out{};
  SHA512(data.data(), data.size(), out.data());
  return out;
}

std::string sha256_hex(std::span<const uint8_t> data) { return hex_encode(sha256(data)); }
std::string sha384_hex(std::span<const uint8_t> data) { return hex_encode(sha384(data)); }

}  // namespace orv::crypto
