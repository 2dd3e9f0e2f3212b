#include "core/base64.h"

#include <algorithm>

namespace orv {
namespace {

int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::optional<std::vector<uint8_t>> base64_decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  std::vector<uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const size_t digits = last ? 4 - padding : 4;
    uint32_t quad = 0;
    for (size_t j = 0; j < 4; ++j) {
      int value = 0;
      if (j < digits) {
        value = sextet(text[i + j]);
        if (value < 0) return std::nullopt;
      }
      quad = quad << 6 | static_cast<uint32_t>(value);
    }
    out.push_back(static_cast<uint8_t>(quad >> 16));
    if (digits >= 3) out.push_back(static_cast<uint8_t>(quad >> 8));
    if (digits == 4) out.push_back(static_cast<uint8_t>(quad));
    // The bits a short final quad does not use must be zero, or two texts would decode alike.
    if ((digits == 2 && (quad & 0xFFFF) != 0) || (digits == 3 && (quad & 0xFF) != 0)) return std::nullopt;
  }
  return out;
}

std::string base64_encode(std::span<const uint8_t> bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
    if (n > 1) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (n > 2) group |= bytes[i + 2];
    out.push_back(kAlphabet[group >> 18 & 0x3F]);
    out.push_back(kAlphabet[group >> 12 & 0x3F]);
    out.push_back(n > 1 ? kAlphabet[group >> 6 & 0x3F] : '=');
    out.push_back(n > 2 ? kAlphabet[group & 0x3F] : '=');
  }
  return out;
}

}  // namespace orv
