// Real Intel TDX quotes with the real Intel collateral they were judged with, verified through
// Intel's root; read from the shared folder at run time and skipped where it is absent.
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <string>
#include <vector>

#include "core/hex.h"
#include "crypto/digest.h"
#include "crypto/ecdsa_p256.h"
#include "dcap/collateral_chain.h"
#include "dcap/collateral_json.h"
#include "dcap/verify.h"
#include "support/shared_data.h"

namespace orv::dcap {
namespace {

// 2025-09-15T00:00:00Z, inside the complete set's window 2025-09-02T07:41:59Z (TCB info issue
// date) to 2025-10-02T07:03:51Z (PCK CRL next update).
constexpr uint64_t kInsideWindow = 1757894400;
constexpr uint64_t kWindowStart = 1756798919;
constexpr uint64_t kWindowEnd = 1759388631;

std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

struct RealSet {
  std::filesystem::path dir;
  std::vector<uint8_t> root;
  QuoteCollateralV3 collateral;
};

RealSet load_dstack(const std::filesystem::path& shared) {
  RealSet set;
  set.dir = shared / "testdata/tdx-real/tee-solver-dstack";
  set.root = bytes_of(test::read_file(shared / "trust/intel-sgx-root-ca.der"));
  const std::string text = test::read_file(set.dir / "quote_collateral.json");
  const Expected<json::Document, std::string> doc = json::parse(text);
  EXPECT_TRUE(doc.ok());
  if (!doc) return set;
  Expected<QuoteCollateralV3, std::string> parsed = read_collateral(doc->root());
  EXPECT_TRUE(parsed.ok()) << (parsed ? "" : parsed.error());
  if (parsed) set.collateral = std::move(parsed).value();
  return set;
}

AcceptancePolicy level2(uint32_t minimum = 17) {
  AcceptancePolicy policy;
  policy.min_tcb_evaluation_data_number = minimum;
  return policy;
}

std::string outcome(const RealSet& set, const std::vector<uint8_t>& quote, uint64_t now,
                    const AcceptancePolicy& policy = level2()) {
  Expected<VerifiedQuote, dcap::Failure> result = verify_and_accept(quote, set.collateral, set.root, now, policy);
  return result ? std::string("valid ") + std::string(tcb_status_name(result->tcb_status)) : result.error().text();
}

TEST(IntelRoot, IsThePublishedCertificate) {
  ORV_REQUIRE_SHARED(shared);
  const std::string root = test::read_file(shared / "trust/intel-sgx-root-ca.der");
  EXPECT_EQ(root.size(), 659u);
  EXPECT_EQ(crypto::sha256_hex(as_bytes(root)), "44a0196b2b99f889b8e149e95b807a350e7424964399e885a7cbb8ccfab674d3");
}

TEST(RealTdxQuotes, PassWithTheStatusTheirTcbInfoGives) {
  ORV_REQUIRE_SHARED(shared);
  const RealSet set = load_dstack(shared);
  const std::string td_info = test::read_file(set.dir / "dstack_tcb_info_with_event_log.json");
  rapidjson::Document expected;
  expected.Parse(td_info.c_str(), td_info.size());
  ASSERT_FALSE(expected.HasParseError());
  for (const char* name : {"quote_alice.bin", "quote_bob.bin", "quote_alice.trimmed.bin", "quote_bob.trimmed.bin"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> quote = bytes_of(test::read_file(set.dir / name));
    Expected<VerifiedQuote, dcap::Failure> result = verify_and_accept(quote, set.collateral, set.root, kInsideWindow, level2());
    ASSERT_TRUE(result.ok()) << result.error().text();
    EXPECT_EQ(result->tcb_status, TcbStatus::UpToDate);
    EXPECT_EQ(result->tcb_evaluation_data_number, 17u);
    EXPECT_TRUE(result->advisory_ids.empty());
    EXPECT_EQ(result->earliest_expiration, kWindowEnd);
    EXPECT_EQ(hex_encode(result->pck.fmspc), "20a06f000000");
    EXPECT_EQ(hex_encode(result->pck.cpusvn), "0404020205ff00020000000000000000");
    EXPECT_EQ(result->pck.pcesvn, 13);
    EXPECT_EQ(result->pck.sgx_type, 1u);
    EXPECT_EQ(result->pck.dynamic_platform, true);
    EXPECT_EQ(result->pck.cached_keys, true);
    EXPECT_EQ(result->pck.smt_enabled, true);
    ASSERT_TRUE(result->module_tcb_level.has_value());  // TDX_01, isvsvn 4 <= module SVN 6
    EXPECT_EQ(result->module_tcb_level->status, TcbStatus::UpToDate);
    const TdReport10* td = result->quote.td_report10();
    ASSERT_NE(td, nullptr);
    EXPECT_EQ(hex_encode(td->td_attributes), "0000001000000000");
    EXPECT_EQ(hex_encode(td->tee_tcb_svn), "06010400000000000000000000000000");
    EXPECT_EQ(hex_encode(td->mr_td), expected["mrtd"].GetString());
    EXPECT_EQ(hex_encode(td->rt_mr0), expected["rtmr0"].GetString());
    EXPECT_EQ(hex_encode(td->rt_mr1), expected["rtmr1"].GetString());
    EXPECT_EQ(hex_encode(td->rt_mr2), expected["rtmr2"].GetString());
    EXPECT_EQ(hex_encode(td->rt_mr3), expected["rtmr3"].GetString());
  }
}

TEST(RealTdxQuotes, CollateralWindowHoldsToTheSecond) {
  ORV_REQUIRE_SHARED(shared);
  const RealSet set = load_dstack(shared);
  const std::vector<uint8_t> quote = bytes_of(test::read_file(set.dir / "quote_alice.bin"));
  EXPECT_EQ(outcome(set, quote, kWindowStart), "valid UpToDate");
  EXPECT_EQ(outcome(set, quote, kWindowStart - 1), "TCBInfo issue date is in the future");
  EXPECT_EQ(outcome(set, quote, kWindowEnd - 1), "valid UpToDate");
  // The PCK CRL is no longer current once its next update has come.
  EXPECT_EQ(outcome(set, quote, kWindowEnd), "Failed to verify certificate chain: CrlExpired (CRL has expired, at depth 0)");
  EXPECT_EQ(outcome(set, quote, 1759400000), "TCBInfo expired");
  EXPECT_EQ(outcome(set, quote, kInsideWindow, level2(18)), "TCB eval data number 17 is below minimum 18");
}

TEST(RealTdxQuotes, OneVerifiedSnapshotJudgesBothQuotes) {
  ORV_REQUIRE_SHARED(shared);
  const RealSet set = load_dstack(shared);
  Expected<VerifiedCollateral, dcap::Failure> verified = verify_collateral(set.collateral, set.root, kInsideWindow);
  ASSERT_TRUE(verified.ok()) << verified.error().text();
  EXPECT_EQ(verified->times().tcb_info_issue_date, static_cast<int64_t>(kWindowStart));
  EXPECT_EQ(verified->times().pck_crl_next_update, static_cast<int64_t>(kWindowEnd));
  EXPECT_EQ(verified->times().root_not_after, 2524607999);  // 2049-12-31T23:59:59Z
  for (const char* name : {"quote_alice.bin", "quote_bob.bin"}) {
    Expected<VerifiedQuote, dcap::Failure> result =
        verify_and_accept(bytes_of(test::read_file(set.dir / name)), *verified, level2());
    ASSERT_TRUE(result.ok()) << name << ": " << result.error().text();
    EXPECT_EQ(result->tcb_status, TcbStatus::UpToDate);
  }
}

TEST(RealTdxQuotes, AnyChangeIsRefused) {
  ORV_REQUIRE_SHARED(shared);
  const RealSet set = load_dstack(shared);
  const std::vector<uint8_t> quote = bytes_of(test::read_file(set.dir / "quote_alice.bin"));
  std::vector<uint8_t> report_data = quote;
  report_data[48 + 520] ^= 0x01;
  EXPECT_EQ(outcome(set, report_data, kInsideWindow), "ISV enclave report signature is invalid");
  std::vector<uint8_t> vendor = quote;
  vendor[12] ^= 0x01;
  EXPECT_EQ(outcome(set, vendor, kInsideWindow), "Unknown QE vendor ID");

  RealSet spaced = set;
  spaced.collateral.tcb_info.insert(1, " ");
  EXPECT_EQ(outcome(spaced, quote, kInsideWindow), "Signature is invalid for tcb_info in quote_collateral");
  RealSet swapped = set;
  std::swap(swapped.collateral.root_ca_crl, swapped.collateral.pck_crl);
  EXPECT_EQ(outcome(swapped, quote, kInsideWindow), "valid UpToDate");  // the CRLs are found by issuer
  RealSet no_root_crl = set;
  no_root_crl.collateral.root_ca_crl = no_root_crl.collateral.pck_crl;
  EXPECT_EQ(outcome(no_root_crl, quote, kInsideWindow),
            "Failed to verify certificate chain: UnknownRevocationStatus (unable to get certificate CRL, at depth 0)");
}

// The older sets lack their CRLs, so they cannot pass as a whole; what they carry is checked
// piece by piece: the quote signature over the signed scope, the QE report's binding and PCK
// signature, the PCK extensions, and the collateral documents' signatures.
struct OasisQuote {
  const char* file;
  const char* fmspc;
  bool cached_keys;
  bool smt;
};

TEST(RealOlderQuotes, DecodeAndCarryValidSignatures) {
  ORV_REQUIRE_SHARED(shared);
  const auto dir = shared / "testdata/tdx-real/oasis-core-testdata";
  const OasisQuote quotes[] = {
      {"quote_v3_ecdsa_p256_pck_chain.bin", "00606a000000", false, false},
      {"quote_v4_tdx_ecdsa_p256.bin", "c0806f000000", true, true},
      {"quote_v4_tdx_ecdsa_p256_trailing.bin", "c0806f000000", true, true},
      {"quote_v4_tdx_ecdsa_p256_out_of_date.bin", "50806f000000", false, true},
  };
  for (const OasisQuote& q : quotes) {
    SCOPED_TRACE(q.file);
    const std::vector<uint8_t> raw = bytes_of(test::read_file(dir / q.file));
    Expected<Quote, dcap::Failure> quote = decode_quote(raw);
    ASSERT_TRUE(quote.ok()) << quote.error().text();
    EXPECT_TRUE(check_header(quote->header).ok());
    const AuthData& auth = quote->auth_data;
    Expected<std::span<const uint8_t>, dcap::Failure> scope = signed_scope(*quote, raw);
    ASSERT_TRUE(scope.ok());
    const auto attestation = crypto::P256PublicKey::from_point(auth.ecdsa_attestation_key);
    ASSERT_TRUE(attestation.has_value());
    EXPECT_TRUE(attestation->verify(*scope, auth.ecdsa_signature));

    std::vector<uint8_t> bound(auth.ecdsa_attestation_key.begin(), auth.ecdsa_attestation_key.end());
    bound.insert(bound.end(), auth.qe_auth_data.begin(), auth.qe_auth_data.end());
    const std::array<uint8_t, 32> digest = crypto::sha256(bound);
    EXPECT_TRUE(std::equal(digest.begin(), digest.end(), auth.qe_report.begin() + 320));

    ASSERT_EQ(auth.certification_data.cert_type, 5);
    const std::string_view chain(reinterpret_cast<const char*>(auth.certification_data.body.data()),
                                 auth.certification_data.body.size());
    const Expected<std::vector<std::vector<uint8_t>>, std::string> ders = split_pem_certificates(chain);
    ASSERT_TRUE(ders.ok()) << ders.error();
    ASSERT_EQ(ders->size(), 3u);
    const X509Ptr leaf = crypto::decode_certificate(ders->front()).value();
    ASSERT_NE(leaf, nullptr);
    const auto pck_key = crypto::P256PublicKey::from_pkey(X509_get0_pubkey(leaf.get()));
    ASSERT_TRUE(pck_key.has_value());
    EXPECT_TRUE(pck_key->verify(auth.qe_report, auth.qe_report_signature));
    Expected<PckExtensions, dcap::Failure> pck = read_pck_extensions(leaf.get());
    ASSERT_TRUE(pck.ok()) << pck.error().text();
    EXPECT_EQ(hex_encode(pck->fmspc), q.fmspc);
    EXPECT_EQ(pck->dynamic_platform, true);
    EXPECT_EQ(pck->cached_keys, q.cached_keys);
    EXPECT_EQ(pck->smt_enabled, q.smt);
  }

  Expected<Quote, dcap::Failure> eppid = decode_quote(bytes_of(test::read_file(dir / "quote_v3_ecdsa_p256_eppid.bin")));
  ASSERT_TRUE(eppid.ok()) << eppid.error().text();
  EXPECT_EQ(eppid->auth_data.certification_data.cert_type, 3);
  EXPECT_EQ(eppid->auth_data.certification_data.body.size(), 404u);
}

TEST(RealOlderCollateral, DocumentsParseAndTheirSignaturesVerify) {
  ORV_REQUIRE_SHARED(shared);
  const auto dir = shared / "testdata/tdx-real/oasis-core-testdata";
  const Expected<std::vector<std::vector<uint8_t>>, std::string> certs =
      split_pem_certificates(test::read_file(dir / "tcb_info_v3_fmspc_00606A000000_certs.pem"));
  ASSERT_TRUE(certs.ok());
  ASSERT_EQ(certs->size(), 2u);
  const X509Ptr signer = crypto::decode_certificate(certs->front()).value();
  ASSERT_NE(signer, nullptr);
  const auto key = crypto::P256PublicKey::from_pkey(X509_get0_pubkey(signer.get()));
  ASSERT_TRUE(key.has_value());
  for (const char* name : {"tcb_info_v3_fmspc_00606A000000", "tcb_info_v3_tdx_fmspc_50806F000000",
                           "tcb_info_v3_tdx_fmspc_C0806F000000", "qe_identity_v2", "qe_identity_v2_tdx", "qe_identity_v2_tdx2"}) {
    SCOPED_TRACE(name);
    const std::string text = test::read_file(dir / (std::string(name) + ".signed.json"));
    const std::string hex = test::read_file(dir / (std::string(name) + ".sig.hex"));
    const std::optional<std::vector<uint8_t>> signature = hex_decode(std::string_view(hex).substr(0, 128));
    ASSERT_TRUE(signature.has_value());
    EXPECT_TRUE(key->verify(as_bytes(text), *signature));
    if (std::string_view(name).starts_with("tcb_info")) {
      Expected<TcbInfo, std::string> info = parse_tcb_info(text);
      ASSERT_TRUE(info.ok()) << info.error();
      EXPECT_EQ(info->version, 3u);
      EXPECT_FALSE(info->tcb_levels.empty());
      for (const TcbLevel& level : info->tcb_levels) EXPECT_EQ(level.sgx_components.size(), 16u);
    } else {
      Expected<QeIdentity, std::string> identity = parse_qe_identity(text);
      ASSERT_TRUE(identity.ok()) << identity.error();
      EXPECT_EQ(identity->version, 2u);
    }
  }
}

TEST(RealOlderQuotes, CannotPassWithoutTheirOwnCrls) {
  ORV_REQUIRE_SHARED(shared);
  RealSet set = load_dstack(shared);
  const auto dir = shared / "testdata/tdx-real/oasis-core-testdata";
  set.collateral.tcb_info = test::read_file(dir / "tcb_info_v3_tdx_fmspc_C0806F000000.signed.json");
  set.collateral.tcb_info_signature = test::read_file(dir / "tcb_info_v3_tdx_fmspc_C0806F000000.sig.hex").substr(0, 128);
  set.collateral.qe_identity = test::read_file(dir / "qe_identity_v2_tdx2.signed.json");
  set.collateral.qe_identity_signature = test::read_file(dir / "qe_identity_v2_tdx2.sig.hex").substr(0, 128);
  set.collateral.tcb_info_issuer_chain = test::read_file(dir / "tcb_info_v3_fmspc_00606A000000_certs.pem");
  set.collateral.qe_identity_issuer_chain = set.collateral.tcb_info_issuer_chain;
  const std::vector<uint8_t> quote = bytes_of(test::read_file(dir / "quote_v4_tdx_ecdsa_p256.bin"));
  // 2024-09-21: the 2025 CRLs of the complete set are not yet valid then.
  EXPECT_EQ(outcome(set, quote, 1726876800),
            "Failed to verify certificate chain: CrlNotValidYet (CRL is not yet valid, at depth 0)");
}

}  // namespace
}  // namespace orv::dcap
