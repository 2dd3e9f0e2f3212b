// Pieces of ML-DSA-65 verification below the public entry point, for tests that need to
// reach them: the internal-interface checks (over M' or over mu directly) and the ring
// arithmetic the verifier is built on.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orv::crypto::mldsa65 {

inline constexpr int32_t kQ = 8380417;
inline constexpr size_t kN = 256;
inline constexpr size_t kMuBytes = 64;

using Poly = std::array<int32_t, kN>;

// ML-DSA.Verify_internal over a caller-built M' (no domain or context prefix is added).
bool verify_internal(std::span<const uint8_t> public_key, std::span<const uint8_t> message_prime,
                     std::span<const uint8_t> signature);
// The same with mu = H(tr || M') supplied by the caller; false unless mu is 64 bytes.
bool verify_mu(std::span<const uint8_t> public_key, std::span<const uint8_t> mu, std::span<const uint8_t> signature);

// A-hat[row][column] sampled straight into NTT form from SHAKE128(rho || column || row).
void sample_ntt_poly(std::span<const uint8_t, 32> rho, uint8_t column, uint8_t row, Poly& a);
// UseHint for gamma2 = (q-1)/32: the high bits (0..15) of r in [0, q), moved one step
// towards its low part when the hint is set.
int32_t use_hint(int32_t r, uint8_t hint);

// a * b * 2^-32 mod q, as a representative in (-q, q); needs |a * b| < 2^31 * q.
int32_t montgomery_mul(int32_t a, int32_t b);
// Forward NTT (zeta = 1753, bit-reversed order); coefficients of magnitude below q in,
// below 9q out.
void ntt(Poly& a);
// Inverse NTT of a sum of montgomery_mul products: undoes both the transform and the 2^-32
// that each product carries. Coefficients of magnitude below 2^31 - 2^22 in, below q out.
void inverse_ntt_of_products(Poly& a);

}  // namespace orv::crypto::mldsa65
