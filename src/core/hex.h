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

inline std::span<const uint8_t> as_bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace orv
