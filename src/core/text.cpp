#include "core/text.h"

#include <cstdio>

namespace orv {
namespace {

// Decodes one well-formed UTF-8 sequence at text[pos]; returns its length and sets cp,
// or 0 when the bytes there are not valid UTF-8.
size_t decode_utf8(std::string_view text, size_t pos, uint32_t& cp) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const size_t left = text.size() - pos;
  const uint8_t b0 = byte(pos);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  size_t len = 0;
  uint32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (left < len) return 0;
  for (size_t i = 1; i < len; ++i) {
    const uint8_t b = byte(pos + i);
    if ((b & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool needs_escape(uint32_t cp) {
  return cp <= 0x1F || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x180E || cp == 0xFEFF ||
         (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x2064) ||
         (cp >= 0x2066 && cp <= 0x2069);
}

bool is_unicode_space(uint32_t cp) {
  return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) ||
         cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  uint32_t cp = 0;
  for (size_t pos = 0; pos < bytes.size();) {
    const size_t len = decode_utf8(bytes, pos, cp);
    if (len == 0) return false;
    pos += len;
  }
  return true;
}

std::string terminal_safe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  uint32_t cp = 0;
  for (size_t pos = 0; pos < text.size();) {
    size_t len = decode_utf8(text, pos, cp);
    if (len == 0) {
      // Not reachable for checked inputs; a stray byte is shown, never passed through raw.
      cp = static_cast<uint8_t>(text[pos]);
      len = 1;
      char buf[16];
      std::snprintf(buf, sizeof buf, "\\x{%02x}", cp);
      out += buf;
    } else if (needs_escape(cp)) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "\\u{%04x}", cp);
      out += buf;
    } else {
      out.append(text.substr(pos, len));
    }
    pos += len;
  }
  return out;
}

std::string_view trim_unicode(std::string_view text) {
  uint32_t cp = 0;
  size_t begin = 0;
  while (begin < text.size()) {
    const size_t len = decode_utf8(text, begin, cp);
    if (len == 0 || !is_unicode_space(cp)) break;
    begin += len;
  }
  size_t end = text.size();
  while (end > begin) {
    // Step back to the start of the last character.
    size_t start = end - 1;
    while (start > begin && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80) --start;
    const size_t len = decode_utf8(text, start, cp);
    if (len != end - start || !is_unicode_space(cp)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::string decimal(uint64_t value) { return std::to_string(value); }

}  // namespace orv
