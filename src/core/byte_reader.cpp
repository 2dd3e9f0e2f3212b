#include "core/byte_reader.h"

#include "core/text.h"

namespace orv {

DerHeaderFault read_der_header(std::span<const uint8_t> bytes, DerHeader& out) {
  if (bytes.size() < 2) return DerHeaderFault::Truncated;
  const uint8_t first = bytes[1];
  if (first < 0x80) {
    out = {bytes[0], 2, first, true};
    return DerHeaderFault::None;
  }
  const size_t count = first & 0x7Fu;
  if (count == 0 || count > kMaxDerLengthOctets) return DerHeaderFault::Unsupported;
  if (bytes.size() - 2 < count) return DerHeaderFault::Truncated;
  size_t length = 0;
  for (size_t i = 0; i < count; ++i) length = (length << 8) | bytes[2 + i];
  // The long form is the shortest only for lengths of 128 and more, without a leading zero octet.
  out = {bytes[0], 2 + count, length, bytes[2] != 0 && length >= 0x80};
  return DerHeaderFault::None;
}

bool ByteReader::read_bytes(size_t n, std::span<const uint8_t>& out) {
  if (n > rest_.size()) return false;
  out = rest_.first(n);
  rest_ = rest_.subspan(n);
  return true;
}

bool ByteReader::read_u16le_prefixed(std::span<const uint8_t>& out) {
  ByteReader probe = *this;
  uint16_t length = 0;
  if (!probe.read_u16le(length) || !probe.read_bytes(length, out)) return false;
  *this = probe;
  return true;
}

bool ByteReader::read_der(DerElement& out) {
  DerHeader header;
  if (read_der_header(rest_, header) != DerHeaderFault::None || !header.minimal) return false;
  if ((header.tag & 0x1F) == 0x1F || rest_.size() - header.header_bytes < header.length) return false;
  const size_t whole = header.header_bytes + header.length;
  out = {header.tag, rest_.first(whole), rest_.subspan(header.header_bytes, header.length)};
  rest_ = rest_.subspan(whole);
  return true;
}

bool ByteReader::read_der(uint8_t tag, DerElement& out) {
  if (rest_.empty() || rest_[0] != tag) return false;
  return read_der(out);
}

bool ByteReader::get_der(uint8_t tag, ByteReader& contents) {
  DerElement element;
  if (!read_der(tag, element)) return false;
  contents = ByteReader(element.contents);
  return true;
}

std::optional<std::string> oid_text(std::span<const uint8_t> contents) {
  if (contents.empty() || (contents.back() & 0x80) != 0) return std::nullopt;
  std::string text;
  uint64_t arc = 0;
  bool first = true, start = true;
  for (const uint8_t byte : contents) {
    if (start && byte == 0x80) return std::nullopt;  // a leading zero group is not minimal
    if (arc > (UINT64_MAX >> 7)) return std::nullopt;
    arc = (arc << 7) | (byte & 0x7F);
    start = (byte & 0x80) == 0;
    if (!start) continue;
    if (first) {
      const uint64_t top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
      text = decimal(top) + "." + decimal(arc - top * 40);
      first = false;
    } else {
      text += "." + decimal(arc);
    }
    arc = 0;
  }
  return text;
}

}  // namespace orv
