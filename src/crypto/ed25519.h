// Ed25519 (RFC 8032) public keys and signature verification over OpenSSL.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orv::crypto {

inline constexpr size_t kEd25519KeyBytes = 32;
inline constexpr size_t kEd25519SignatureBytes = 64;

using Ed25519Key = std::array<uint8_t, kEd25519KeyBytes>;

// True when the 32 bytes are the canonical encoding of a point on the curve (RFC 8032
// section 5.1.3): y below the field prime and an x that exists for it, with the sign bit clear
// when x is zero. OpenSSL accepts any 32 bytes as a raw key, so pinned keys are checked here.
bool is_ed25519_public_key(std::span<const uint8_t> key);

// False for a key that is not 32 bytes, a signature that is not exactly 64 bytes, and any
// signature that does not verify over the message.
bool ed25519_verify(std::span<const uint8_t> key, std::span<const uint8_t> message, std::span<const uint8_t> signature);

}  // namespace orv::crypto
