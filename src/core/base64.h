// Base64 in the standard alphabet with canonical padding (RFC 4648 section 4).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// Refuses anything but whole quads of the alphabet, padding only at the very end, and unused
// trailing bits that are not zero: one byte string has exactly one accepted text.
std::optional<std::vector<uint8_t>> base64_decode(std::string_view text);

// The one text base64_decode accepts for these bytes.
std::string base64_encode(std::span<const uint8_t> bytes);

}  // namespace orv
