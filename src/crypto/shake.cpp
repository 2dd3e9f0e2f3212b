#include "crypto/shake.h"

#include <cstdlib>

namespace orv::crypto {
namespace {

constexpr uint64_t rotl(uint64_t x, unsigned n) { return n == 0 ? x : (x << n) | (x >> (64 - n)); }

// The step tables are derived here from their defining rules rather than typed in, so a
// mistyped constant cannot hide in them.
struct KeccakTables {
  std::array<uint64_t, 24> round_constants{};
  std::array<unsigned, 25> rho_offsets{};
  std::array<unsigned, 25> pi_source{};  // lane that pi moves into each position
};

// One output bit of the round-constant LFSR (polynomial x^8 + x^6 + x^5 + x^4 + 1).
constexpr bool rc_bit(unsigned t) {
  unsigned r = 1;
  for (unsigned i = 0; i < t % 255; ++i) {
    r <<= 1;
    if (r & 0x100) r ^= 0x171;
  }
  return (r & 1) != 0;
}

constexpr KeccakTables make_tables() {
  KeccakTables t;
  for (unsigned round = 0; round < 24; ++round) {
    uint64_t rc = 0;
    for (unsigned j = 0; j < 7; ++j) {
      if (rc_bit(j + 7 * round)) rc |= uint64_t{1} << ((1u << j) - 1);
    }
    t.round_constants[round] = rc;
  }
  unsigned x = 1, y = 0;
  for (unsigned step = 0; step < 24; ++step) {
    t.rho_offsets[x + 5 * y] = ((step + 1) * (step + 2) / 2) % 64;
    const unsigned next_y = (2 * x + 3 * y) % 5;
    x = y;
    y = next_y;
  }
  for (unsigned dx = 0; dx < 5; ++dx) {
    for (unsigned dy = 0; dy < 5; ++dy) t.pi_source[dx + 5 * dy] = (dx + 3 * dy) % 5 + 5 * dx;
  }
  return t;
}

constexpr KeccakTables kTables = make_tables();
static_assert(kTables.round_constants[0] == 1 && kTables.round_constants[23] == 0x8000000080008008);
static_assert(kTables.rho_offsets[1] == 1 && kTables.rho_offsets[24] == 14);

}  // namespace

void keccak_f1600(std::array<uint64_t, 25>& a) {
  std::array<uint64_t, 25> b;
  for (unsigned round = 0; round < 24; ++round) {
    uint64_t c[5];
#pragma GCC unroll 5
    for (unsigned x = 0; x < 5; ++x) c[x] = a[x] ^ a[x + 5] ^ a[x + 10] ^ a[x + 15] ^ a[x + 20];
    uint64_t d[5];
#pragma GCC unroll 5
    for (unsigned x = 0; x < 5; ++x) d[x] = c[(x + 4) % 5] ^ rotl(c[(x + 1) % 5], 1);
#pragma GCC unroll 25
    for (unsigned i = 0; i < 25; ++i) {
      const unsigned src = kTables.pi_source[i];
      b[i] = rotl(a[src] ^ d[src % 5], kTables.rho_offsets[src]);
    }
#pragma GCC unroll 5
    for (unsigned y = 0; y < 25; y += 5) {
#pragma GCC unroll 5
      for (unsigned x = 0; x < 5; ++x) {
        a[y + x] = b[y + x] ^ (~b[y + (x + 1) % 5] & b[y + (x + 2) % 5]);
      }
    }
    a[0] ^= kTables.round_constants[round];
  }
}

void Shake::absorb(std::span<const uint8_t> data) {
  if (squeezing_) std::abort();
  size_t i = 0;
  while (i < data.size()) {
    if (pos_ == 0) {
      // Whole blocks go in lane by lane.
      while (data.size() - i >= rate_) {
        for (size_t lane = 0; lane < rate_ / 8; ++lane) {
          uint64_t v = 0;
          for (size_t k = 0; k < 8; ++k) v |= static_cast<uint64_t>(data[i + 8 * lane + k]) << (8 * k);
          state_[lane] ^= v;
        }
        keccak_f1600(state_);
        i += rate_;
      }
      if (i == data.size()) break;
    }
    xor_byte(pos_++, data[i++]);
    if (pos_ == rate_) {
      keccak_f1600(state_);
      pos_ = 0;
    }
  }
}

void Shake::finish() {
  // SHAKE domain bits 1111, then pad10*1.
  xor_byte(pos_, 0x1f);
  xor_byte(rate_ - 1, 0x80);
  keccak_f1600(state_);
  pos_ = 0;
  squeezing_ = true;
}

void Shake::squeeze(std::span<uint8_t> out) {
  if (!squeezing_) finish();
  for (uint8_t& byte : out) {
    if (pos_ == rate_) {
      keccak_f1600(state_);
      pos_ = 0;
    }
    byte = byte_at(pos_++);
  }
}

}  // namespace orv::crypto
