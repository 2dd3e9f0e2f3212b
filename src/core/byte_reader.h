// One bounded, non-owning reader for all binary input: quotes, certificate extensions, DER and
// length-prefixed structures. It is a view that only shrinks: every read checks the remaining
// length in one place, and a read that fails leaves the reader where it was. Trailing data is
// the caller's to judge (empty()).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace orv {

// The one rule for DER length octets: definite, at most three octets (so every length is below
// 16 MiB, beyond any input read here), and in the shortest form. A high tag number (low five
// bits all set) is never used by the structures read here and is refused.
inline constexpr size_t kMaxDerLengthOctets = 3;

// The universal tags of the DER elements read and written here (X.690 8.1.2), as tag octets.
namespace der_tag {
inline constexpr uint8_t kBoolean = 0x01;
inline constexpr uint8_t kInteger = 0x02;
inline constexpr uint8_t kBitString = 0x03;
inline constexpr uint8_t kOctetString = 0x04;
inline constexpr uint8_t kOid = 0x06;
inline constexpr uint8_t kEnumerated = 0x0A;
inline constexpr uint8_t kSequence = 0x30;
inline constexpr uint8_t kSet = 0x31;
}  // namespace der_tag

// One DER element as found: its tag octet, the whole element and its contents.
struct DerElement {
  uint8_t tag = 0;
  std::span<const uint8_t> whole;
  std::span<const uint8_t> contents;
};

// The identifier and length octets at the start of some bytes, read under the rule above except
// for the shortest form, which `minimal` reports: the structure walk that bounds a token before
// any decoder sees it lets a longer form through to the canonical-form check. The tag octet is
// not judged here.
struct DerHeader {
  uint8_t tag = 0;
  size_t header_bytes = 0;
  size_t length = 0;  // of the contents, which may run past the bytes given
  bool minimal = true;
};
enum class DerHeaderFault { None, Truncated, Unsupported };  // Unsupported: indefinite or too long
DerHeaderFault read_der_header(std::span<const uint8_t> bytes, DerHeader& out);

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const uint8_t> bytes) : rest_(bytes) {}

  size_t size() const { return rest_.size(); }
  bool empty() const { return rest_.empty(); }
  std::span<const uint8_t> rest() const { return rest_; }

  [[nodiscard]] bool read_u8(uint8_t& out) { return read_int(out, false); }
  [[nodiscard]] bool read_u16le(uint16_t& out) { return read_int(out, false); }
  [[nodiscard]] bool read_u32le(uint32_t& out) { return read_int(out, false); }
  [[nodiscard]] bool read_u32be(uint32_t& out) { return read_int(out, true); }

  // A view of the next n bytes; no copy, no allocation.
  [[nodiscard]] bool read_bytes(size_t n, std::span<const uint8_t>& out);
  template <size_t N>
  [[nodiscard]] bool read_array(std::array<uint8_t, N>& out) {
    std::span<const uint8_t> part;
    if (!read_bytes(N, part)) return false;
    std::copy(part.begin(), part.end(), out.begin());
    return true;
  }
  [[nodiscard]] bool skip(size_t n) {
    std::span<const uint8_t> ignored;
    return read_bytes(n, ignored);
  }
  // A 16-bit little-endian length, then that many bytes.
  [[nodiscard]] bool read_u16le_prefixed(std::span<const uint8_t>& out);

  // The next DER element, whatever its tag; or only when its tag octet is `tag`.
  [[nodiscard]] bool read_der(DerElement& out);
  [[nodiscard]] bool read_der(uint8_t tag, DerElement& out);
  // The contents of the next element, which must carry `tag`.
  [[nodiscard]] bool get_der(uint8_t tag, ByteReader& contents);

 private:
  template <class U>
  [[nodiscard]] bool read_int(U& out, bool big_endian) {
    if (sizeof(U) > rest_.size()) return false;
    U value = 0;
    for (size_t i = 0; i < sizeof(U); ++i) {
      const size_t shift = 8 * (big_endian ? sizeof(U) - 1 - i : i);
      value = static_cast<U>(value | static_cast<U>(static_cast<U>(rest_[i]) << shift));
    }
    out = value;
    rest_ = rest_.subspan(sizeof(U));
    return true;
  }

  std::span<const uint8_t> rest_;
};

// Dotted-decimal text of an OBJECT IDENTIFIER's contents; nullopt unless minimally encoded with
// every arc within 64 bits.
std::optional<std::string> oid_text(std::span<const uint8_t> contents);

}  // namespace orv
