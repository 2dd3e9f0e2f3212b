// Real tokens from DigiCert's and Sigstore's public services, read from the shared folder at run
// time, judged through the compiled-in authority table built from the real roots.
#include <gtest/gtest.h>

#include <cstring>

#include "core/hex.h"
#include "crypto/digest.h"
#include "support/printers.h"
#include "support/shared_data.h"
#include "tsa/authorities.h"
#include "tsa/cms.h"
#include "tsa/stamp_file.h"

namespace orv::tsa {
namespace {

// Later than every genTime in the samples.
constexpr uint64_t kLater = 1900000000;  // 2030-03-17

std::vector<PinnedAuthority> real_authorities(const std::filesystem::path& shared) {
  const std::string digicert = test::read_file(shared / "trust/digicert-trusted-root-g4.der");
  const std::string sigstore = test::read_file(shared / "trust/sigstore-tsa-root.der");
  return builtin_authorities(as_bytes(digicert), as_bytes(sigstore));
}

struct Sample {
  std::string stamp;    // path under testdata/rfc3161
  std::string stamped;  // the bytes it stamps
};

TimestampReport judge(const std::filesystem::path& shared, const Sample& sample, uint64_t now = kLater) {
  const std::filesystem::path dir = shared / "testdata/rfc3161";
  return verify_stamp_file(test::read_file(dir / sample.stamped), test::read_file(dir / sample.stamp), real_authorities(shared),
                           now);
}

const Sample kYsimonx{"digicert/ysimonx-20230304T154859Z.normalized.stamp.json", "digicert/ysimonx-file.txt"};
const Sample kAdjit{"digicert/adjit-20260804T125534Z.normalized.stamp.json",
                    "digicert/adjit-20260804T125534Z.stamped-signature.bin"};
const Sample kHappyPath{"sigstore/conformance-managed-key-happy-path.normalized.stamp.json",
                        "sigstore/conformance-managed-key-happy-path.stamped-signature.bin"};
const Sample kExtensions{"sigstore/conformance-bundle-with-sct-with-extensions.normalized.stamp.json",
                         "sigstore/conformance-bundle-with-sct-with-extensions.stamped-signature.bin"};

TEST(RealTokens, NormalisedDigiCertTokensAreValid) {
  ORV_REQUIRE_SHARED(shared);
  TimestampReport report = judge(shared, kYsimonx);
  ASSERT_EQ(report.outcome, Outcome::Valid) << report.problems.at(0).message;
  ASSERT_EQ(report.stamps.size(), 1u);
  StampResult s = report.stamps[0];
  EXPECT_EQ(s.tsa, "DigiCert");
  EXPECT_EQ(s.gen_time, "2023-03-04T15:48:59Z");
  EXPECT_EQ(s.gen_time_unix, 1677944939u);
  EXPECT_EQ(s.accuracy_ms, std::nullopt);
  EXPECT_EQ(s.no_later_than, "2023-03-04T15:48:59Z");
  EXPECT_EQ(s.no_later_than_unix, 1677944939u);
  EXPECT_EQ(s.imprint_alg, "SHA-512");
  EXPECT_EQ(s.serial_hex, "e054e094488400df537bce57215fd45b");
  EXPECT_EQ(s.policy, "2.16.840.1.114412.7.1");
  EXPECT_EQ(s.signer, "CN=DigiCert Timestamp 2022 - 2,O=DigiCert,C=US");
  EXPECT_EQ(s.nonce_hex, std::nullopt);
  EXPECT_EQ(report.no_later_than, "2023-03-04T15:48:59Z");

  report = judge(shared, kAdjit);
  ASSERT_EQ(report.outcome, Outcome::Valid) << report.problems.at(0).message;
  s = report.stamps.at(0);
  EXPECT_EQ(s.gen_time, "2026-08-04T12:55:34Z");
  EXPECT_EQ(s.gen_time_unix, 1785848134u);
  EXPECT_EQ(s.no_later_than_unix, 1785848134u);
  EXPECT_EQ(s.imprint_alg, "SHA-256");
  EXPECT_EQ(s.serial_hex, "ca5339b8f2d98b196b8c9e6333bbebd4");
  EXPECT_EQ(s.signer, "CN=DigiCert SHA256 RSA4096 Timestamp Responder 2025 1,O=DigiCert\\, Inc.,C=US");
}

TEST(RealTokens, NormalisedSigstoreTokensAreValid) {
  ORV_REQUIRE_SHARED(shared);
  struct Expected {
    Sample sample;
    std::string gen_time;
    uint64_t gen_time_unix;
    std::string no_later_than;
    std::string serial;
  };
  const Expected cases[] = {
      {kHappyPath, "2025-12-18T17:04:39Z", 1766077479, "2025-12-18T17:04:40Z", "503a617d93381082d7685c6acfb2a5498e821c98"},
      {kExtensions, "2026-01-15T22:49:26Z", 1768517366, "2026-01-15T22:49:27Z", "1cf4a8695af7c53112580c8658be54bfc876904d"},
  };
  for (const Expected& c : cases) {
    const TimestampReport report = judge(shared, c.sample);
    ASSERT_EQ(report.outcome, Outcome::Valid) << report.problems.at(0).message;
    const StampResult& s = report.stamps.at(0);
    EXPECT_EQ(s.tsa, "Sigstore");
    EXPECT_EQ(s.gen_time, c.gen_time);
    EXPECT_EQ(s.gen_time_unix, c.gen_time_unix);
    EXPECT_EQ(s.accuracy_ms, 1000u);
    EXPECT_EQ(s.no_later_than, c.no_later_than);
    EXPECT_EQ(s.no_later_than_unix, c.gen_time_unix + 1);
    EXPECT_EQ(s.imprint_alg, "SHA-256");
    EXPECT_EQ(s.serial_hex, c.serial);
    EXPECT_EQ(s.policy, "1.3.6.1.4.1.57264.2");
    EXPECT_EQ(s.signer, "CN=sigstore-tsa,O=sigstore.dev");
    EXPECT_EQ(s.nonce_hex, std::nullopt);
    EXPECT_EQ(report.no_later_than, c.no_later_than);
  }
}

TEST(RealTokens, AsIssuedTokensAreRefusedByDesign) {
  ORV_REQUIRE_SHARED(shared);
  const auto only_problem = [&](const Sample& sample) {
    const TimestampReport report = judge(shared, sample);
    EXPECT_EQ(report.outcome, Outcome::Invalid);
    EXPECT_TRUE(report.stamps.empty());
    return report.problems.size() == 1 ? std::optional<Problem>(report.problems[0]) : std::nullopt;
  };
  // DigiCert lists its certificates out of DER order and adds a cross-signed root.
  for (const Sample& sample : {Sample{"digicert/ysimonx-20230304T154859Z.stamp.json", kYsimonx.stamped},
                               Sample{"digicert/adjit-20260804T125534Z.stamp.json", kAdjit.stamped}}) {
    EXPECT_EQ(only_problem(sample), (Problem{"TIMESTAMP_PARSE", "token is not in canonical DER form", 0}));
  }
  // Sigstore issues tokens without certificates.
  for (const Sample& sample : {Sample{"sigstore/conformance-managed-key-happy-path.stamp.json", kHappyPath.stamped},
                               Sample{"sigstore/conformance-bundle-with-sct-with-extensions.stamp.json", kExtensions.stamped}}) {
    EXPECT_EQ(only_problem(sample), (Problem{"TIMESTAMP_CHAIN_INVALID", "the signer certificate is not in the token", 0}));
  }
  // Staging's root carries the production root's name but not its key.
  EXPECT_EQ(only_problem({"sigstore/STAGING-conformance-rekor2-timestamp-with-embedded-cert.stamp.json",
                          "sigstore/STAGING-conformance-rekor2-timestamp-with-embedded-cert.stamped-signature.bin"}),
            (Problem{"TIMESTAMP_CHAIN_INVALID", "the signer does not chain to the pinned TSA root", 0}));
}

TEST(RealTokens, EmptyCertificateSetReencodesUnchanged) {
  ORV_REQUIRE_SHARED(shared);
  const std::string token = test::read_file(shared / "testdata/rfc3161/sigstore/conformance-managed-key-happy-path.tst.der");
  const Expected<cms::ContentInfoPtr, std::string> info = cms::decode_content_info(as_bytes(token));
  ASSERT_TRUE(info);
  const ASN1_STRING* content = (*info)->content->value.sequence;
  const std::span<const uint8_t> signed_data(ASN1_STRING_get0_data(content), static_cast<size_t>(ASN1_STRING_length(content)));
  const Expected<cms::SignedDataPtr, std::string> decoded = cms::decode_signed_data(signed_data);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(cms::certificate_count(**decoded), 0);
  EXPECT_NE((*decoded)->certificates, nullptr);
  const std::optional<std::vector<uint8_t>> again = cms::encode(**decoded);
  ASSERT_TRUE(again);
  EXPECT_TRUE(std::ranges::equal(*again, signed_data));
}

TEST(RealTokens, ClockAndSubjectStillDecide) {
  ORV_REQUIRE_SHARED(shared);
  // Five minutes of clock skew are forgiven, one second more is not.
  EXPECT_EQ(judge(shared, kAdjit, 1785848134 - 300).outcome, Outcome::Valid);
  const TimestampReport early = judge(shared, kAdjit, 1785848134 - 301);
  ASSERT_EQ(early.problems.size(), 1u);
  EXPECT_EQ(early.problems[0].message, "timestamp 2026-08-04T12:55:34Z is later than your clock 2026-08-04T12:50:33Z");
  // The normalised DigiCert token over the other sample's bytes.
  const TimestampReport other = judge(shared, {kYsimonx.stamp, kAdjit.stamped});
  ASSERT_EQ(other.problems.size(), 1u);
  EXPECT_EQ(other.problems[0].code, "TIMESTAMP_IMPRINT_MISMATCH");
}

TEST(RealTokens, CompiledInRootsMatchTheirFingerprints) {
  ORV_REQUIRE_SHARED(shared);
  for (const PinnedAuthority& authority : real_authorities(shared)) {
    EXPECT_EQ(crypto::sha256_hex(authority.root_der), authority.root_fingerprint) << authority.name;
  }
  // Roots swapped between the two entries fail every token before it is even read.
  std::vector<PinnedAuthority> swapped = real_authorities(shared);
  std::swap(swapped[0].root_der, swapped[1].root_der);
  const std::filesystem::path dir = shared / "testdata/rfc3161";
  const TimestampReport report =
      verify_stamp_file(test::read_file(dir / kHappyPath.stamped), test::read_file(dir / kHappyPath.stamp), swapped, kLater);
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].message, "the compiled-in TSA root does not match its fingerprint");
}

}  // namespace
}  // namespace orv::tsa
