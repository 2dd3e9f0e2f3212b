#include <gtest/gtest.h>

#include <string>

#include "crypto/digest.h"
#include "trust/trust.h"

namespace orv::trust {
namespace {

// The embedded material must be exactly the published files: a changed byte in a root would
// silently move what the program trusts.
TEST(BuiltinTrust, EmbedsExactlyThePublishedFiles) {
  const Trust& trust = Trust::builtin();
  EXPECT_EQ(crypto::sha256_hex(trust.intel_root_der), "44a0196b2b99f889b8e149e95b807a350e7424964399e885a7cbb8ccfab674d3");
  EXPECT_EQ(crypto::sha256_hex(trust.digicert_root_der), "552f7bdcf1a7af9e6ce672017f4f12abf77240c78e761ac203d1d9d20ac89988");
  EXPECT_EQ(crypto::sha256_hex(trust.sigstore_tsa_root_der), "2aca8fea5d3ce48b01cc77076293c280e6c23ffe44034757ee7833ca9f45d633");
  EXPECT_EQ(crypto::sha256_hex(trust.sigstore_tsa_signer_der),
            "85f927bc07ab62cac3b44356c10efc81b2c6883fda7ab9e6d870d9d13acd05b7");
  EXPECT_EQ(crypto::sha256_hex(trust.rekor_key_spki_der), "b54813cb63d8859870a5e78500cc6adcfdf59723edae93ee8d25faf2475a0690");
  EXPECT_NE(trust.sigsum_policy.find("quorum quorum-rule"), std::string_view::npos);
  EXPECT_EQ(trust.rekor_log.rfind("origin: log2025-1.rekor.sigstore.dev\n", 0), 0u);
}

TEST(BuiltinTrust, UnknownNamesHaveNoBytes) { EXPECT_TRUE(builtin_file("root.der").empty()); }

}  // namespace
}  // namespace orv::trust
