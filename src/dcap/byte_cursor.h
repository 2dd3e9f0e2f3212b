// One bounded, non-owning reader for all binary input of this folder: every read checks the
// remaining length in one place and leaves the cursor where it was when it fails.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orv::dcap {

class ByteCursor {
 public:
  explicit ByteCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t remaining() const { return bytes_.size() - pos_; }
  size_t offset() const { return pos_; }
  bool empty() const { return remaining() == 0; }

  bool read_u8(uint8_t& out) { return read_le(out); }
  bool read_u16(uint16_t& out) { return read_le(out); }
  bool read_u32(uint32_t& out) { return read_le(out); }
  bool read_u64(uint64_t& out) { return read_le(out); }

  template <size_t N>
  bool read_array(std::array<uint8_t, N>& out) {
    std::span<const uint8_t> part;
    if (!read_span(N, part)) return false;
    for (size_t i = 0; i < N; ++i) out[i] = part[i];
    return true;
  }

  // A view of the next n bytes; no copy, no allocation.
  bool read_span(size_t n, std::span<const uint8_t>& out) {
    if (n > remaining()) return false;
    out = bytes_.subspan(pos_, n);
    pos_ += n;
    return true;
  }

 private:
  template <class U>
  bool read_le(U& out) {
    if (sizeof(U) > remaining()) return false;
    U value = 0;
    for (size_t i = 0; i < sizeof(U); ++i) value = static_cast<U>(value | static_cast<U>(static_cast<U>(bytes_[pos_ + i]) << (8 * i)));
    out = value;
    pos_ += sizeof(U);
    return true;
  }

  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

}  // namespace orv::dcap
