// Verification must not touch the heap: every allocation in this test binary is counted (see
// support/allocation_counter.h); under the sanitizers the counting is left out and the test
// skips.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/hex.h"
#include "crypto/mldsa65.h"
#include "crypto/mldsa65_internal.h"
#include "support/allocation_counter.h"
#include "support/shared_data.h"

namespace orv::crypto {
namespace {

using orv::test::AllocationCount;

std::vector<uint8_t> hex_field(const std::string& json, const std::string& name) {
  // The fixture is flat and written by our own script: "name": "hex".
  const size_t key = json.find("\"" + name + "\"");
  const size_t open = json.find('"', json.find(':', key) + 1);
  const size_t close = json.find('"', open + 1);
  return hex_decode(std::string_view(json).substr(open + 1, close - open - 1)).value_or(std::vector<uint8_t>{});
}

TEST(Mldsa65Allocation, VerificationNeverAllocates) {
  if (!orv::test::kAllocationsCounted) GTEST_SKIP() << "allocation counting is off under sanitizers";

  // First show that the counter sees what it must: C++ new, OpenSSL, and a digest set-up (an
  // EVP digest context allocates on every initialisation, which is why the verifier has its
  // own SHAKE).
  {
    AllocationCount count;
    auto* volatile boxed = new std::string(100, 'x');
    delete boxed;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ASSERT_EQ(EVP_DigestInit_ex(ctx, EVP_shake256(), nullptr), 1);
    const size_t seen = count.stop();
    EVP_MD_CTX_free(ctx);
    ASSERT_GE(seen, 3u) << "the allocation counter is not in effect";
  }

  const std::string json = orv::test::read_file(std::filesystem::path(ORV_SOURCE_DIR) / "tests/data/mldsa65/bench-300.json");
  const auto pk = hex_field(json, "pk");
  const auto msg = hex_field(json, "msg");
  const auto ctx = hex_field(json, "ctx");
  auto sig = hex_field(json, "sig");
  ASSERT_EQ(sig.size(), kMldsa65SignatureBytes);
  std::vector<uint8_t> mprime = {0, static_cast<uint8_t>(ctx.size())};
  mprime.insert(mprime.end(), ctx.begin(), ctx.end());
  mprime.insert(mprime.end(), msg.begin(), msg.end());
  const std::vector<uint8_t> mu(64, 0);

  AllocationCount count;
  const bool valid = mldsa65_verify(pk, msg, ctx, sig);
  const bool internal = mldsa65::verify_internal(pk, mprime, sig);
  const bool by_mu = mldsa65::verify_mu(pk, mu, sig);  // runs fully, fails at the challenge
  sig[48] ^= 1;                                        // still within the z bound
  const bool tampered = mldsa65_verify(pk, msg, ctx, sig);
  sig[48 + 5 * 640 + 55] = 56;  // hint count above omega
  const bool bad_hints = mldsa65_verify(pk, msg, ctx, sig);
  const size_t allocations = count.stop();

  EXPECT_TRUE(valid);
  EXPECT_TRUE(internal);
  EXPECT_FALSE(by_mu);
  EXPECT_FALSE(tampered);
  EXPECT_FALSE(bad_hints);
  EXPECT_EQ(allocations, 0u);
}

}  // namespace
}  // namespace orv::crypto
