// SHAKE128 / SHAKE256 (FIPS 202) with incremental absorb and squeeze, held entirely in the
// object: hashing never touches the heap, and a rejection sampler can keep squeezing for as
// long as it needs without guessing an output length up front.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orv::crypto {

// The Keccak-f[1600] permutation on 25 little-endian lanes.
void keccak_f1600(std::array<uint64_t, 25>& state);

class Shake {
 public:
  static constexpr size_t kRate128 = 168;
  static constexpr size_t kRate256 = 136;

  static Shake shake128() { return Shake(kRate128); }
  static Shake shake256() { return Shake(kRate256); }

  // Absorbing after the first squeeze is a programming error; it aborts rather than hash
  // without the data.
  void absorb(std::span<const uint8_t> data);
  // Pads on the first call; any number of calls then continue the same output stream.
  void squeeze(std::span<uint8_t> out);

 private:
  explicit Shake(size_t rate) : rate_(rate) {}
  void xor_byte(size_t pos, uint8_t byte) { state_[pos / 8] ^= static_cast<uint64_t>(byte) << (8 * (pos % 8)); }
  uint8_t byte_at(size_t pos) const { return static_cast<uint8_t>(state_[pos / 8] >> (8 * (pos % 8))); }
  void finish();

  std::array<uint64_t, 25> state_{};
  size_t rate_;
  size_t pos_ = 0;  // bytes absorbed into, or squeezed from, the current block
  bool squeezing_ = false;
};

}  // namespace orv::crypto
