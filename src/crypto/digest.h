// SHA-2 digests over OpenSSL.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace orv::crypto {

std::array<uint8_t, 32> sha256(std::span<const uint8_t> data);
std::array<uint8_t, 48> sha384(std::span<const uint8_t> data);
std::array<uint8_t, 64> sha512(std::span<const uint8_t> data);

// Lowercase hex of the digest, the form every report shows.
std::string sha256_hex(std::span<const uint8_t> data);
std::string sha384_hex(std::span<const uint8_t> data);

}  // namespace orv::crypto
