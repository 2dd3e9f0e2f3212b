// Real tokens as their authorities issued them, re-encoded into the verifier's one form: the
// result verifies, equals the hand-normalised copy where there is one, and keeps every signed
// byte; what cannot be completed is named.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/byte_reader.h"
#include "core/hex.h"
#include "support/shared_data.h"
#include "support/tsa_der.h"
#include "tsa/authorities.h"
#include "tsa/reencode.h"

namespace orv::tsa {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kLater = 1900000000;  // after every genTime in the samples

struct Real {
  explicit Real(const fs::path& shared) {
    digicert = test::read_file(shared / "trust/digicert-trusted-root-g4.der");
    sigstore = test::read_file(shared / "trust/sigstore-tsa-root.der");
    authorities = builtin_authorities(as_bytes(digicert), as_bytes(sigstore));
    const std::string leaf = test::read_file(shared / "trust/sigstore-tsa-leaf.der");
    offered.emplace_back(leaf.begin(), leaf.end());
  }
  Expected<Reencoded, ReencodeFailure> reencode(std::span<const uint8_t> token, const std::string& subject) const {
    return reencode_token(token, as_bytes(subject), offered, authorities);
  }
  std::string digicert, sigstore;
  std::vector<PinnedAuthority> authorities;
  std::vector<std::vector<uint8_t>> offered;
};

struct Issued {
  std::string folder, name, subject;
};

const std::vector<Issued> kIssued = {
    {"rfc3161-digicert", "ysimonx-20230304T154859Z", "ysimonx-file.txt"},
    {"rfc3161-digicert", "ysimonx-20230306T072208Z", "ysimonx-file.txt"},
    {"rfc3161-digicert", "ysimonx-20230316T204842Z", "ysimonx-file.txt"},
    {"rfc3161-digicert", "ysimonx-20230323T102505Z", "ysimonx-file-20230323.txt"},
    {"rfc3161-digicert", "adjit-20260804T125534Z", "adjit-20260804T125534Z.stamped-signature.bin"},
    {"rfc3161-sigstore", "conformance-managed-key-happy-path", "conformance-managed-key-happy-path.stamped-signature.bin"},
    {"rfc3161-sigstore", "conformance-bundle-with-sct-with-extensions",
     "conformance-bundle-with-sct-with-extensions.stamped-signature.bin"},
    {"rfc3161-sigstore", "tkgsn-run-30183326061", "tkgsn-run-30183326061.stamped-signature.bin"},
    {"rfc3161-sigstore", "tkgsn-run-30187731233", "tkgsn-run-30187731233.stamped-signature.bin"},
};

bool contains(const std::vector<uint8_t>& haystack, std::span<const uint8_t> needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

TEST(Reencode, EveryIssuedTokenBecomesTheVerifiedNormalisedForm) {
  ORV_REQUIRE_SHARED(shared);
  const Real real(shared);
  for (const Issued& sample : kIssued) {
    const fs::path dir = shared / "realdata" / sample.folder;
    const std::string issued = test::read_file(dir / (sample.name + ".tst.der"));
    if (fs::exists(dir / (sample.name + ".tsr"))) {
      const auto unwrapped = token_from_response(as_bytes(test::read_file(dir / (sample.name + ".tsr"))));
      ASSERT_TRUE(unwrapped) << sample.name << ": " << unwrapped.error();
      EXPECT_TRUE(std::ranges::equal(*unwrapped, as_bytes(issued))) << sample.name;
    }
    EXPECT_EQ(*token_from_response(as_bytes(issued)), std::vector<uint8_t>(issued.begin(), issued.end()));

    const std::string subject = test::read_file(dir / sample.subject);
    const auto made = real.reencode(as_bytes(issued), subject);
    ASSERT_TRUE(made) << sample.name << ": " << made.error().text;
    EXPECT_EQ(made->authority->name, sample.folder.ends_with("sigstore") ? "Sigstore" : "DigiCert");
    const auto verified = verify_timestamp_token(made->token, as_bytes(subject), *made->authority, kLater);
    EXPECT_TRUE(verified) << sample.name << ": " << verified.error().message;
    EXPECT_EQ(hex_encode(made->token), hex_encode(as_bytes(test::read_file(dir / (sample.name + ".normalized.tst.der")))))
        << sample.name;
  }
}

TEST(Reencode, SignedPartsStayAsIssuedAndEnclosingLengthsBecomeMinimal) {
  ORV_REQUIRE_SHARED(shared);
  const Real real(shared);
  const fs::path dir = shared / "realdata/rfc3161-digicert";
  const std::string issued = test::read_file(dir / "ysimonx-20230304T154859Z.tst.der");
  const std::string subject = test::read_file(dir / "ysimonx-file.txt");
  const auto made = real.reencode(as_bytes(issued), subject);
  ASSERT_TRUE(made);
  // The SignedData's last member (the signer infos) and the encapsulated TSTInfo, as issued.
  const std::string tail = issued.substr(issued.size() - 600);
  EXPECT_TRUE(contains(made->token, as_bytes(tail)));
  const size_t tst = issued.find(std::string("\x06\x0b\x2a\x86\x48\x86\xf7\x0d\x01\x09\x10\x01\x04", 13));
  ASSERT_NE(tst, std::string::npos);
  DerHeader content;  // the [0] after the content type, holding the TSTInfo
  ASSERT_EQ(read_der_header(as_bytes(issued).subspan(tst + 13), content), DerHeaderFault::None);
  EXPECT_TRUE(contains(made->token, as_bytes(issued).subspan(tst, 13 + content.header_bytes + content.length)));

  // The outer length in a longer form than DER allows is written again in the shortest.
  std::string padded = issued;
  ASSERT_EQ(static_cast<uint8_t>(padded[1]), 0x82);
  padded.replace(1, 1, "\x83\x00", 2);
  EXPECT_EQ(real.reencode(as_bytes(padded), subject)->token, made->token);

  // A longer length inside the signer info cannot be shortened without breaking the signature.
  test::der::Node tree = test::der::parse(issued);
  tree.at({1, 0}).children.back().at({0, 2}).extra_length_octets = 1;
  const auto signed_not_der = real.reencode(as_bytes(test::der::write(tree)), subject);
  ASSERT_FALSE(signed_not_der);
  EXPECT_EQ(signed_not_der.error().fault, ReencodeFault::NotUsable);
  EXPECT_TRUE(signed_not_der.error().text.starts_with("the token is not DER inside the parts its signatures cover"));
}

TEST(Reencode, WhatCannotBeCompletedIsNamed) {
  ORV_REQUIRE_SHARED(shared);
  const Real real(shared);
  const fs::path digicert = shared / "realdata/rfc3161-digicert";
  const std::string file = test::read_file(digicert / "ysimonx-file.txt");

  // Requested without the certificates: the signer is named by issuer and serial number.
  const auto bare =
      real.reencode(*token_from_response(as_bytes(test::read_file(digicert / "ysimonx-20240918T211750Z.tsr"))), file);
  ASSERT_FALSE(bare);
  EXPECT_EQ(bare.error().fault, ReencodeFault::SignerMissing);
  EXPECT_EQ(bare.error().text,
            "the token does not carry its signer's certificate (issued by 'CN=DigiCert Trusted G4 RSA4096 SHA256 "
            "TimeStamping CA,O=DigiCert\\, Inc.,C=US', serial number 0544aff3949d0839a6bfdb3f5fe56116)");

  // The intermediate withheld: the certificate to supply is named.
  const std::string normalised = test::read_file(digicert / "ysimonx-20230304T154859Z.normalized.tst.der");
  std::vector<PinnedAuthority> sigstore_only(real.authorities.begin() + 1, real.authorities.end());
  const auto foreign = reencode_token(as_bytes(normalised), as_bytes(file), real.offered, sigstore_only);
  ASSERT_FALSE(foreign);
  EXPECT_EQ(foreign.error().fault, ReencodeFault::IssuerMissing);
  EXPECT_EQ(foreign.error().text,
            "the certificate of 'CN=DigiCert Trusted Root G4,OU=www.digicert.com,O=DigiCert Inc,C=US', which issued "
            "'CN=DigiCert Trusted G4 RSA4096 SHA256 TimeStamping CA,O=DigiCert\\, Inc.,C=US', is missing");

  // Staging's signer names the pinned root as issuer but was signed by another key.
  const fs::path sigstore = shared / "realdata/rfc3161-sigstore";
  const std::string staging = "STAGING-conformance-rekor2-timestamp-with-embedded-cert";
  const auto unknown = real.reencode(as_bytes(test::read_file(sigstore / (staging + ".tst.der"))),
                                     test::read_file(sigstore / (staging + ".stamped-signature.bin")));
  ASSERT_FALSE(unknown);
  EXPECT_EQ(unknown.error().fault, ReencodeFault::UnknownAuthority);

  // A token over other bytes says so before anything about its certificates.
  const auto other = real.reencode(as_bytes(test::read_file(digicert / "ysimonx-20240918T211750Z.tst.der")), file + "x");
  ASSERT_FALSE(other);
  EXPECT_EQ(other.error().fault, ReencodeFault::OtherBytes);
}

TEST(Reencode, ResponsesThatCarryNoTokenSayWhy) {
  // TimeStampResp { PKIStatusInfo { rejection, "policy", failInfo unacceptedPolicy } }
  const std::vector<uint8_t> rejected = {0x30, 0x14, 0x30, 0x12, 0x02, 0x01, 0x02, 0x30, 0x08, 0x0c, 0x06,
                                         'p',  'o',  'l',  'i',  'c',  'y',  0x03, 0x03, 0x00, 0x00, 0x01};
  EXPECT_EQ(token_from_response(rejected).error(),
            "the authority did not grant the request: rejection (2): 'policy'; failure: unacceptedPolicy");
  const std::vector<uint8_t> granted_empty = {0x30, 0x05, 0x30, 0x03, 0x02, 0x01, 0x00};
  EXPECT_EQ(token_from_response(granted_empty).error(), "the response is granted but carries no token");
  const std::vector<uint8_t> indefinite = {0x30, 0x80, 0x00, 0x00};
  EXPECT_TRUE(token_from_response(indefinite).error().starts_with("it is not DER: "));
}

}  // namespace
}  // namespace orv::tsa
