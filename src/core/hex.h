// Hex codec: lowercase output; input of either case, even length, nothing else.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

std::string hex_encode(std::span<const uint8_t> bytes);
std::optional<std::vector<uint8_t>> hex_decode(std::string_view text);
// Issued values must be lowercase; pins may use either case, so the two are checked apart.
bool has_uppercase_hex_digit(std::string_view text);
// Only the digits 0-9 and a-f (true for empty text).
bool is_lowercase_hex(std::string_view text);
// Two lowercase digits.
inline std::string hex_byte(uint8_t byte) { return hex_encode(std::span<const uint8_t>(&byte, 1)); }

inline std::span<const uint8_t> as_bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace orv
