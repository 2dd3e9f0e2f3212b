#include "crypto/mldsa65.h"

#include <algorithm>

#include "crypto/mldsa65_internal.h"
#include "crypto/shake.h"

// Everything lives in fixed-size stack buffers and every loop has a fixed trip count, except
// the two rejection samplers, which only ever squeeze more of the same XOF stream; nothing
// allocates and nothing recurses.

namespace orv::crypto {
namespace mldsa65 {
namespace {

constexpr size_t kK = 6;
constexpr size_t kL = 5;
constexpr int kD = 13;
constexpr int kTau = 49;
constexpr int32_t kGamma1 = 1 << 19;
constexpr int32_t kGamma2 = (kQ - 1) / 32;
constexpr int32_t kBeta = 196;
constexpr size_t kOmega = 55;

constexpr size_t kRhoBytes = 32;
constexpr size_t kT1PolyBytes = kN * 10 / 8;
constexpr size_t kCtildeBytes = 48;
constexpr size_t kZPolyBytes = kN * 20 / 8;
constexpr size_t kHintBytes = kOmega + kK;
constexpr size_t kW1PolyBytes = kN * 4 / 8;
constexpr size_t kTrBytes = 64;

static_assert(kRhoBytes + kK * kT1PolyBytes == kMldsa65PublicKeyBytes);
static_assert(kCtildeBytes + kL * kZPolyBytes + kHintBytes == kMldsa65SignatureBytes);

// ---- Montgomery arithmetic, R = 2^32 ---------------------------------------------------

constexpr uint32_t inverse_mod_2_32(uint32_t odd) {
  uint32_t x = odd;  // correct to 3 bits; each Newton step doubles that
  for (int i = 0; i < 4; ++i) x *= 2u - odd * x;
  return x;
}
constexpr uint32_t kQInv = inverse_mod_2_32(static_cast<uint32_t>(kQ));
static_assert(static_cast<uint32_t>(kQ) * kQInv == 1u);

constexpr int32_t montgomery_reduce(int64_t a) {
  const auto t = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(a) * kQInv));
  return static_cast<int32_t>((a - static_cast<int64_t>(t) * kQ) >> 32);
}

constexpr int64_t pow_mod(int64_t base, int64_t exp) {
  int64_t result = 1;
  base %= kQ;
  while (exp > 0) {
    if (exp & 1) result = result * base % kQ;
    base = base * base % kQ;
    exp >>= 1;
  }
  return result;
}

// x * 2^32 mod q as the representative nearest zero, which keeps products small.
constexpr int32_t to_montgomery_centered(int64_t x) {
  int64_t m = (x % kQ) * ((int64_t{1} << 32) % kQ) % kQ;
  if (m > kQ / 2) m -= kQ;
  return static_cast<int32_t>(m);
}

constexpr unsigned bit_reverse8(unsigned x) {
  unsigned r = 0;
  for (int i = 0; i < 8; ++i) r |= ((x >> i) & 1u) << (7 - i);
  return r;
}

constexpr std::array<int32_t, kN> make_zetas() {
  std::array<int32_t, kN> z{};
  for (unsigned i = 0; i < kN; ++i) z[i] = to_montgomery_centered(pow_mod(1753, bit_reverse8(i)));
  return z;
}
constexpr std::array<int32_t, kN> kZetas = make_zetas();

// 256^-1 * 2^64 mod q: one Montgomery multiplication by it scales by 256^-1 and cancels the
// 2^-32 left by the pointwise products.
constexpr int32_t kInverseScale = to_montgomery_centered(pow_mod(256, kQ - 2) * ((int64_t{1} << 32) % kQ));
static_assert(pow_mod(1753, 256) == kQ - 1, "1753 must be a primitive 512th root of unity");
static_assert(pow_mod(256, kQ - 2) == 8347681);

// Representative of a in [-6283009, 6283008] for any |a| < 2^31 - 2^22.
constexpr int32_t reduce32(int32_t a) { return a - ((a + (1 << 22)) >> 23) * kQ; }

// (-q, q) -> [0, q)
constexpr int32_t to_unsigned_residue(int32_t a) { return a + ((a >> 31) & kQ); }

// ---- Decoding ----------------------------------------------------------------------------

// t1: ten-bit coefficients, four to five bytes. Scaled by 2^d, which stays below q.
void unpack_t1_scaled(const uint8_t* in, Poly& t) {
  for (size_t i = 0; i < kN / 4; ++i) {
    const uint8_t* b = in + 5 * i;
    const uint64_t v = static_cast<uint64_t>(b[0]) | static_cast<uint64_t>(b[1]) << 8 | static_cast<uint64_t>(b[2]) << 16 |
                       static_cast<uint64_t>(b[3]) << 24 | static_cast<uint64_t>(b[4]) << 32;
    for (size_t k = 0; k < 4; ++k) t[4 * i + k] = static_cast<int32_t>((v >> (10 * k)) & 0x3ff) << kD;
  }
}

// z: twenty-bit values gamma1 - z, two to five bytes. False when ||z||inf >= gamma1 - beta.
bool unpack_z_within_bound(const uint8_t* in, Poly& z) {
  bool ok = true;
  for (size_t i = 0; i < kN / 2; ++i) {
    const uint8_t* b = in + 5 * i;
    const uint64_t v = static_cast<uint64_t>(b[0]) | static_cast<uint64_t>(b[1]) << 8 | static_cast<uint64_t>(b[2]) << 16 |
                       static_cast<uint64_t>(b[3]) << 24 | static_cast<uint64_t>(b[4]) << 32;
    for (size_t k = 0; k < 2; ++k) {
      const int32_t c = kGamma1 - static_cast<int32_t>((v >> (20 * k)) & 0xfffff);
      ok &= c > -(kGamma1 - kBeta) && c < kGamma1 - kBeta;
      z[2 * i + k] = c;
    }
  }
  return ok;
}

// Hints are kept as one flag per coefficient. Only the single canonical encoding of a hint set
// is accepted: anything else would let a second, different signature verify.
bool decode_hints(const uint8_t* y, std::array<std::array<uint8_t, kN>, kK>& h) {
  for (auto& row : h) row.fill(0);
  size_t index = 0;
  for (size_t i = 0; i < kK; ++i) {
    const size_t end = y[kOmega + i];
    if (end < index || end > kOmega) return false;
    const size_t first = index;
    for (; index < end; ++index) {
      if (index > first && y[index - 1] >= y[index]) return false;
      h[i][y[index]] = 1;
    }
  }
  for (; index < kOmega; ++index) {
    if (y[index] != 0) return false;
  }
  return true;
}

// ---- Sampling ----------------------------------------------------------------------------

// The challenge polynomial: tau coefficients of +-1 placed by a Fisher-Yates walk over the
// SHAKE256 stream of all of c~.
void sample_in_ball(const uint8_t* ctilde, Poly& c) {
  Shake xof = Shake::shake256();
  xof.absorb({ctilde, kCtildeBytes});
  std::array<uint8_t, Shake::kRate256> block;
  xof.squeeze(block);
  uint64_t signs = 0;
  for (size_t k = 0; k < 8; ++k) signs |= static_cast<uint64_t>(block[k]) << (8 * k);
  size_t pos = 8;
  c.fill(0);
  for (size_t i = kN - kTau; i < kN; ++i) {
    size_t j;
    do {
      if (pos == block.size()) {
        xof.squeeze(block);
        pos = 0;
      }
      j = block[pos++];
    } while (j > i);
    c[i] = c[j];
    c[j] = 1 - 2 * static_cast<int32_t>(signs & 1);
    signs >>= 1;
  }
}

}  // namespace

void sample_ntt_poly(std::span<const uint8_t, 32> rho, uint8_t column, uint8_t row, Poly& a) {
  Shake xof = Shake::shake128();
  xof.absorb(rho);
  const uint8_t indices[2] = {column, row};
  xof.absorb(indices);
  static_assert(Shake::kRate128 % 3 == 0, "a block must hold whole three-byte candidates");
  std::array<uint8_t, Shake::kRate128> block;
  size_t filled = 0;
  while (filled < kN) {
    xof.squeeze(block);
    for (size_t p = 0; p < block.size() && filled < kN; p += 3) {
      const int32_t v = block[p] | block[p + 1] << 8 | (block[p + 2] & 0x7f) << 16;
      if (v < kQ) a[filled++] = v;
    }
  }
}

// Decompose splits r = r1 * 2 gamma2 + r0 with r0 in (-gamma2, gamma2], except at the top of
// the range where r1 would reach 16: there r1 wraps to 0 and r0 is taken one lower.
int32_t use_hint(int32_t r, uint8_t hint) {
  int32_t r0 = r % (2 * kGamma2);
  if (r0 > kGamma2) r0 -= 2 * kGamma2;
  int32_t r1;
  if (r - r0 == kQ - 1) {
    r1 = 0;
    r0 -= 1;
  } else {
    r1 = (r - r0) / (2 * kGamma2);
  }
  if (hint == 0) return r1;
  return r0 > 0 ? (r1 + 1) & 15 : (r1 - 1) & 15;
}

int32_t montgomery_mul(int32_t a, int32_t b) { return montgomery_reduce(static_cast<int64_t>(a) * b); }

// Each layer adds at most one |t| < q to a coefficient, so eight layers stay below 9q.
void ntt(Poly& a) {
  size_t m = 0;
  for (size_t len = 128; len >= 1; len /= 2) {
    for (size_t start = 0; start < kN; start += 2 * len) {
      const int32_t zeta = kZetas[++m];
      for (size_t j = start; j < start + len; ++j) {
        const int32_t t = montgomery_mul(zeta, a[j + len]);
        a[j + len] = a[j] - t;
        a[j] = a[j] + t;
      }
    }
  }
}

// After the initial reduction every coefficient is below 0.75q; each layer at most doubles the
// sums (the differences come back from montgomery_mul below q), so after eight layers they are
// below 192q < 2^31.
void inverse_ntt_of_products(Poly& a) {
  for (int32_t& x : a) x = reduce32(x);
  size_t m = kN;
  for (size_t len = 1; len < kN; len *= 2) {
    for (size_t start = 0; start < kN; start += 2 * len) {
      const int32_t zeta = -kZetas[--m];
      for (size_t j = start; j < start + len; ++j) {
        const int32_t t = a[j];
        a[j] = t + a[j + len];
        a[j + len] = montgomery_mul(zeta, t - a[j + len]);
      }
    }
  }
  for (int32_t& x : a) x = montgomery_mul(kInverseScale, x);
}

// ---- Verification ------------------------------------------------------------------------

namespace {

struct MessageInput {
  std::span<const uint8_t> mu;  // 64 bytes when the caller supplies mu, else empty
  std::span<const uint8_t> prefix;
  std::span<const uint8_t> context;
  std::span<const uint8_t> message;
};

bool verify_core(std::span<const uint8_t> pk, const MessageInput& input, std::span<const uint8_t> sig) {
  if (pk.size() != kMldsa65PublicKeyBytes || sig.size() != kMldsa65SignatureBytes) return false;
  const std::span<const uint8_t, kRhoBytes> rho = pk.first<kRhoBytes>();
  const uint8_t* t1_bytes = pk.data() + kRhoBytes;
  const uint8_t* ctilde = sig.data();
  const uint8_t* z_bytes = ctilde + kCtildeBytes;
  const uint8_t* hint_bytes = z_bytes + kL * kZPolyBytes;

  // The cheap structural checks first: a malformed signature is refused before any hashing.
  std::array<std::array<uint8_t, kN>, kK> hints;
  if (!decode_hints(hint_bytes, hints)) return false;
  std::array<Poly, kL> z_hat;
  bool z_ok = true;
  for (size_t j = 0; j < kL; ++j) z_ok &= unpack_z_within_bound(z_bytes + j * kZPolyBytes, z_hat[j]);
  if (!z_ok) return false;

  std::array<uint8_t, kMuBytes> mu;
  if (!input.mu.empty()) {
    if (input.mu.size() != kMuBytes) return false;
    std::copy(input.mu.begin(), input.mu.end(), mu.begin());
  } else {
    std::array<uint8_t, kTrBytes> tr;
    Shake pk_hash = Shake::shake256();
    pk_hash.absorb(pk);
    pk_hash.squeeze(tr);
    Shake mu_hash = Shake::shake256();
    mu_hash.absorb(tr);
    mu_hash.absorb(input.prefix);
    mu_hash.absorb(input.context);
    mu_hash.absorb(input.message);
    mu_hash.squeeze(mu);
  }

  Poly c_hat;
  sample_in_ball(ctilde, c_hat);
  ntt(c_hat);
  for (Poly& z : z_hat) ntt(z);

  Shake challenge = Shake::shake256();
  challenge.absorb(mu);
  for (size_t i = 0; i < kK; ++i) {
    // Row i of A-hat z-hat - c-hat (t1 2^d)-hat, one matrix entry at a time.
    Poly acc{};
    Poly scratch;
    for (size_t j = 0; j < kL; ++j) {
      sample_ntt_poly(rho, static_cast<uint8_t>(j), static_cast<uint8_t>(i), scratch);
      for (size_t n = 0; n < kN; ++n) acc[n] += montgomery_mul(scratch[n], z_hat[j][n]);
    }
    unpack_t1_scaled(t1_bytes + i * kT1PolyBytes, scratch);
    ntt(scratch);
    for (size_t n = 0; n < kN; ++n) acc[n] -= montgomery_mul(c_hat[n], scratch[n]);
    inverse_ntt_of_products(acc);

    std::array<uint8_t, kW1PolyBytes> w1;
    for (size_t n = 0; n < kN; n += 2) {
      const int32_t lo = use_hint(to_unsigned_residue(acc[n]), hints[i][n]);
      const int32_t hi = use_hint(to_unsigned_residue(acc[n + 1]), hints[i][n + 1]);
      w1[n / 2] = static_cast<uint8_t>(lo | hi << 4);
    }
    challenge.absorb(w1);
  }
  std::array<uint8_t, kCtildeBytes> recomputed;
  challenge.squeeze(recomputed);

  uint8_t diff = 0;
  for (size_t k = 0; k < kCtildeBytes; ++k) diff |= recomputed[k] ^ ctilde[k];
  return diff == 0;
}

}  // namespace

bool verify_internal(std::span<const uint8_t> public_key, std::span<const uint8_t> message_prime,
                     std::span<const uint8_t> signature) {
  return verify_core(public_key, MessageInput{{}, {}, {}, message_prime}, signature);
}

bool verify_mu(std::span<const uint8_t> public_key, std::span<const uint8_t> mu, std::span<const uint8_t> signature) {
  if (mu.size() != kMuBytes) return false;
  return verify_core(public_key, MessageInput{mu, {}, {}, {}}, signature);
}

}  // namespace mldsa65

bool mldsa65_verify(std::span<const uint8_t> public_key, std::span<const uint8_t> message, std::span<const uint8_t> context,
                    std::span<const uint8_t> signature) {
  if (context.size() > 255) return false;
  // Pure ML-DSA: M' = 0 || len(ctx) || ctx || M.
  const uint8_t prefix[2] = {0, static_cast<uint8_t>(context.size())};
  return mldsa65::verify_core(public_key, mldsa65::MessageInput{{}, prefix, context, message}, signature);
}

}  // namespace orv::crypto
