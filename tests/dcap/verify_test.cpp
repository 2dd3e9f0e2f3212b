// The whole verification against a test Intel PKI: every collateral, certificate and quote check
// in its order, each failure compared exactly, and the valid paths of every quote kind.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "core/hex.h"
#include "dcap/verify.h"
#include "support/intel_pki.h"

namespace orv::dcap {
namespace {

using test::CertDraft;
using test::DcapScenario;
using test::kDay;
using test::QuoteKind;

struct Inputs {
  std::vector<uint8_t> quote;
  QuoteCollateralV3 collateral;
  std::vector<uint8_t> root;
  uint64_t now = 0;
};

struct FailureCase {
  std::string name;
  QuoteKind kind;
  std::function<void(DcapScenario&)> setup;
  std::function<void(DcapScenario&, Inputs&)> tamper;
  std::string expected;
  // With the collateral verified first, a collateral failure is found before a quote failure.
  bool collateral_first_differs = false;
};

Inputs inputs_of(const DcapScenario& s) { return {s.quote(), s.collateral(), s.root_der(), s.now}; }

std::string outcome(const Inputs& in) {
  Expected<VerifiedQuote, dcap::Failure> result = verify_and_accept(in.quote, in.collateral, in.root, in.now, AcceptancePolicy{});
  return result ? "valid" : result.error().text();
}

// Reseals a document that a case rewrote, so that only the intended change is judged.
void resign_tcb_info(const DcapScenario& s, QuoteCollateralV3& c) {
  c.tcb_info_signature = test::sign_hex(s.pki.tcb_signing_key, c.tcb_info);
}
void resign_qe_identity(const DcapScenario& s, QuoteCollateralV3& c) {
  c.qe_identity_signature = test::sign_hex(s.pki.tcb_signing_key, c.qe_identity);
}

void replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

std::string pem_of(std::string_view base64) {
  return "-----BEGIN CERTIFICATE-----\n" + std::string(base64) + "\n-----END CERTIFICATE-----\n";
}

int64_t now_of(const DcapScenario& s) { return static_cast<int64_t>(s.now); }

// A second, unrelated PKI: same names, other keys.
struct Stranger {
  test::TestIntelPki pki;
};

const std::string kQeKindTdx = "Unsupported QE Identity id/version for the quote TEE type: ";

std::vector<FailureCase> failure_cases() {
  const auto none = [](DcapScenario&) {};
  const auto keep = [](DcapScenario&, Inputs&) {};
  const std::string chain_failed = "Failed to verify certificate chain: ";
  return {
      // The pinned root and both CRLs come first.
      {"RootIsNotACertificate", QuoteKind::TdxV4, none,
       [](DcapScenario&, Inputs& in) {
         in.root = {0x30, 0x00};
       },
       "Failed to load root ca"},
      {"RootIsJudgedBeforeCrls", QuoteKind::TdxV4, none,
       [](DcapScenario&, Inputs& in) {
         in.root.pop_back();
         in.collateral.root_ca_crl = "zz";
       },
       "Failed to load root ca"},
      {"RootCrlIsNotHex", QuoteKind::TdxV4, none, [](DcapScenario&, Inputs& in) { in.collateral.root_ca_crl = "30zz"; },
       "Failed to parse CRL: root_ca_crl is not hex"},
      {"PckCrlIsNotACrl", QuoteKind::TdxV4, none, [](DcapScenario&, Inputs& in) { in.collateral.pck_crl = "3000"; },
       "Failed to parse CRL: pck_crl is not one DER CRL"},
      {"PckCrlWithTrailingByte", QuoteKind::TdxV4, none, [](DcapScenario&, Inputs& in) { in.collateral.pck_crl += "00"; },
       "Failed to parse CRL: pck_crl is not one DER CRL"},

      // Decoding and header acceptance, before any collateral document is read.
      {"QuoteCutShortBeforeTcbInfoIsRead", QuoteKind::TdxV4, none,
       [](DcapScenario&, Inputs& in) {
         in.quote.resize(100);
         in.collateral.tcb_info = "{";
       },
       "Failed to decode quote: Could not decode `TDReport10::mr_seam`", true},
      {"UnknownQeVendor", QuoteKind::TdxV4, [](DcapScenario& s) { s.quote_draft.header.qe_vendor_id[7] ^= 0x40; }, keep,
       "Unknown QE vendor ID"},
      {"SgxReportInVersion4", QuoteKind::SgxV3, [](DcapScenario& s) { s.quote_draft.header.version = 4; }, keep,
       "SGX TEE quote must have version 3"},
      {"UnknownTeeTypeInVersion5", QuoteKind::TdxV5, [](DcapScenario& s) { s.quote_draft.header.tee_type = 5; }, keep,
       "Unsupported TEE type: 5"},
      {"AttestationKeyTypeNotP256", QuoteKind::TdxV4, [](DcapScenario& s) { s.quote_draft.header.attestation_key_type = 3; },
       keep, "Unsupported DCAP attestation key type"},

      // TCB info: reading, dates, issuer chain, signature.
      {"TcbInfoIsNotJson", QuoteKind::TdxV4, none, [](DcapScenario&, Inputs& in) { in.collateral.tcb_info = "{"; },
       "Failed to decode TcbInfo: EOF while parsing an object at line 1 column 2"},
      {"TcbInfoMissesFmspc", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         replace(in.collateral.tcb_info, "\"fmspc\":\"20a06f000000\",", "");
         resign_tcb_info(s, in.collateral);
       },
       "Failed to decode TcbInfo: missing field `fmspc`"},
      {"TcbInfoUnknownStatus", QuoteKind::TdxV4, [](DcapScenario& s) { s.tcb_info.levels[1].status = "Fine"; }, keep,
       "Failed to decode TcbInfo: unknown variant `Fine`, expected one of `UpToDate`, `OutOfDateConfigurationNeeded`, "
       "`OutOfDate`, `ConfigurationAndSWHardeningNeeded`, `ConfigurationNeeded`, `SWHardeningNeeded`, `Revoked`"},
      {"TcbInfoSvnAboveByte", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         replace(in.collateral.tcb_info, "{\"svn\":0}", "{\"svn\":256}");
         resign_tcb_info(s, in.collateral);
       },
       "Failed to decode TcbInfo: invalid value: integer `256`, expected u8"},
      {"TcbInfoDuplicateMember", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         replace(in.collateral.tcb_info, "\"version\":3,", "\"version\":3,\"version\":3,");
         resign_tcb_info(s, in.collateral);
       },
       "Failed to decode TcbInfo: duplicate field `version`"},
      {"TcbInfoIssueDateUnparsed", QuoteKind::TdxV4, [](DcapScenario& s) { s.tcb_info.issue_date = "2030-02-30T00:00:00Z"; },
       keep, "Failed to parse TCB Info issue date: invalid RFC 3339 date-time"},
      {"TcbInfoNextUpdateUnparsed", QuoteKind::TdxV4, [](DcapScenario& s) { s.tcb_info.next_update = "2030-04-01 00:00:00Z"; },
       keep, "Failed to parse TCB Info next update: invalid RFC 3339 date-time"},
      {"TcbInfoIssuedOneSecondLater", QuoteKind::TdxV4,
       [](DcapScenario& s) { s.tcb_info.issue_date = test::date_text(now_of(s) + 1); }, keep,
       "TCBInfo issue date is in the future"},
      {"TcbInfoIssuedWithinThisSecond", QuoteKind::TdxV4,
       [](DcapScenario& s) { s.tcb_info.issue_date = test::date_text(now_of(s)).replace(19, 1, ".001Z"); }, keep,
       "TCBInfo issue date is in the future"},
      {"TcbInfoExpiredOneSecondAgo", QuoteKind::TdxV4,
       [](DcapScenario& s) { s.tcb_info.next_update = test::date_text(now_of(s) - 1); }, keep, "TCBInfo expired"},
      {"TcbInfoExpiryJudgedAtItsOffset", QuoteKind::TdxV4,
       [](DcapScenario& s) { s.tcb_info.next_update = test::date_text(now_of(s)).replace(19, 1, "+00:01"); }, keep,
       "TCBInfo expired"},
      {"TcbInfoChainUnterminated", QuoteKind::TdxV4, none,
       [](DcapScenario&, Inputs& in) { in.collateral.tcb_info_issuer_chain = "-----BEGIN CERTIFICATE-----\nMIIB"; },
       "Failed to parse certs: PEM block without an end line"},
      {"TcbInfoChainWithoutCertificates", QuoteKind::TdxV4, none,
       [](DcapScenario&, Inputs& in) { in.collateral.tcb_info_issuer_chain = "no certificates here\n"; },
       "Certificate chain is too short for TCB Info"},
      {"TcbInfoLeafIsNotACertificate", QuoteKind::TdxV4, none,
       [](DcapScenario&, Inputs& in) { in.collateral.tcb_info_issuer_chain = pem_of("MAA="); },
       "Failed to parse TCB Info leaf certificate"},
      {"TcbInfoChainFromAnotherRoot", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         Stranger other;
         in.collateral.tcb_info_issuer_chain =
             test::certificate_pem(other.pki.tcb_signing.get()) + test::certificate_pem(other.pki.root.get());
         in.collateral.tcb_info_signature = test::sign_hex(other.pki.tcb_signing_key, in.collateral.tcb_info);
         (void)s;
       },
       chain_failed + "UnknownIssuer (self-signed certificate in certificate chain, at depth 1)"},
      {"TcbSigningCertificateSignatureBroken", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         std::vector<uint8_t> der = test::certificate_der(s.pki.tcb_signing.get());
         der.back() ^= 0x01;
         const X509Ptr broken = crypto::decode_certificate(der).value();
         ASSERT_NE(broken, nullptr);
         in.collateral.tcb_info_issuer_chain = test::certificate_pem(broken.get());
       },
       chain_failed + "BadSignature (certificate signature failure, at depth 0)"},
      {"TcbSigningCertificateRevoked", QuoteKind::TdxV4, [](DcapScenario& s) { s.root_crl.revoked_serials = {3}; }, keep,
       chain_failed + "CertRevoked (certificate revoked, at depth 0)"},
      {"RootListedInItsOwnCrl", QuoteKind::TdxV4, [](DcapScenario& s) { s.root_crl.revoked_serials = {1}; }, keep,
       chain_failed + "CertRevoked (certificate revoked, at depth 1)"},
      {"TcbInfoSignedByAPckKey", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         // A PCK certificate chains to the root as well, but a platform never signs collateral.
         in.collateral.tcb_info_issuer_chain = s.pck_chain();
         in.collateral.tcb_info_signature = test::sign_hex(s.pck_key, in.collateral.tcb_info);
       },
       chain_failed + "SignerIsPckCertificate (a platform's PCK certificate cannot sign collateral)"},
      {"TcbSigningCertificateExpired", QuoteKind::TdxV4,
       [](DcapScenario& s) {
         s.pki.tcb_signing = test::make_certificate(
             {"Test SGX TCB Signing", now_of(s) - 300 * kDay, now_of(s) - 1, false, -1, 3, std::nullopt, false, {}},
             s.pki.tcb_signing_key, s.pki.root.get(), s.pki.root_key);
       },
       keep, chain_failed + "CertExpired (certificate has expired, at depth 0)"},
      {"TcbSigningCertificateNotYetValid", QuoteKind::TdxV4,
       [](DcapScenario& s) {
         s.pki.tcb_signing = test::make_certificate(
             {"Test SGX TCB Signing", now_of(s) + 1, now_of(s) + 300 * kDay, false, -1, 3, std::nullopt, false, {}},
             s.pki.tcb_signing_key, s.pki.root.get(), s.pki.root_key);
       },
       keep, chain_failed + "CertNotValidYet (certificate is not yet valid, at depth 0)"},
      {"RootCrlNextUpdateIsNow", QuoteKind::TdxV4, [](DcapScenario& s) { s.root_crl.next_update = now_of(s); }, keep,
       chain_failed + "CrlExpired (CRL has expired, at depth 0)"},
      {"RootCrlNotYetValid", QuoteKind::TdxV4, [](DcapScenario& s) { s.root_crl.this_update = now_of(s) + 1; }, keep,
       chain_failed + "CrlNotValidYet (CRL is not yet valid, at depth 0)"},
      {"RootCrlFromTheWrongIssuer", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         in.collateral.root_ca_crl = hex_encode(test::make_crl(s.root_crl, s.pki.platform_ca.get(), s.pki.platform_ca_key));
       },
       chain_failed + "UnknownRevocationStatus (unable to get certificate CRL, at depth 0)"},
      {"RootCrlForgedUnderTheRootsName", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         Stranger other;
         in.collateral.root_ca_crl = hex_encode(test::make_crl(s.root_crl, other.pki.root.get(), other.pki.root_key));
       },
       chain_failed + "UnknownRevocationStatus (unable to get certificate CRL, at depth 0)"},
      {"RootCrlSignatureBroken", QuoteKind::TdxV4, none,
       [](DcapScenario&, Inputs& in) {
         std::string& crl = in.collateral.root_ca_crl;
         crl.back() = crl.back() == '0' ? '1' : '0';
       },
       chain_failed + "BadCrlSignature (CRL signature failure, at depth 0)"},
      {"TcbInfoReserialised", QuoteKind::TdxV4, none,
       [](DcapScenario&, Inputs& in) { replace(in.collateral.tcb_info, "\"version\":3,", "\"version\": 3,"); },
       "Signature is invalid for tcb_info in quote_collateral"},
      {"TcbInfoSignatureNotHex", QuoteKind::TdxV4, none,
       [](DcapScenario&, Inputs& in) { in.collateral.tcb_info_signature[0] = 'x'; },
       "Signature is invalid for tcb_info in quote_collateral"},
      {"TcbInfoSignatureInDer", QuoteKind::TdxV4, none,
       [](DcapScenario&, Inputs& in) { in.collateral.tcb_info_signature = "3006020101020101"; },
       "Signature is invalid for tcb_info in quote_collateral"},
      {"TcbInfoSignedByAnotherKey", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         in.collateral.tcb_info_signature = test::sign_hex(s.pki.root_key, in.collateral.tcb_info);
       },
       "Signature is invalid for tcb_info in quote_collateral"},

      // QE identity: the same checks with its own words.
      {"QeIdentityMissesMrsigner", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         replace(in.collateral.qe_identity, "\"mrsigner\":", "\"mrSigner\":");
         resign_qe_identity(s, in.collateral);
       },
       "Failed to decode QeIdentity: missing field `mrsigner`"},
      {"QeIdentityMrsignerTooShort", QuoteKind::TdxV4, [](DcapScenario& s) { s.qe_identity.mrsigner = "DC9E"; }, keep,
       "Failed to decode QeIdentity: invalid value: string \"DC9E\", expected 32 bytes of hex in `mrsigner`"},
      {"QeIdentityIssueDateUnparsed", QuoteKind::TdxV4, [](DcapScenario& s) { s.qe_identity.issue_date = "soon"; }, keep,
       "Failed to parse QE Identity issue date: invalid RFC 3339 date-time"},
      {"QeIdentityNextUpdateUnparsed", QuoteKind::TdxV4,
       [](DcapScenario& s) { s.qe_identity.next_update = "2030-04-01T24:00:00Z"; }, keep,
       "Failed to parse QE Identity next update: invalid RFC 3339 date-time"},
      {"QeIdentityIssuedOneSecondLater", QuoteKind::TdxV4,
       [](DcapScenario& s) { s.qe_identity.issue_date = test::date_text(now_of(s) + 1); }, keep,
       "QE Identity issue date is in the future"},
      {"QeIdentityExpiredOneSecondAgo", QuoteKind::TdxV4,
       [](DcapScenario& s) { s.qe_identity.next_update = test::date_text(now_of(s) - 1); }, keep, "QE Identity expired"},
      {"QeIdentityChainWithoutCertificates", QuoteKind::TdxV4, none,
       [](DcapScenario&, Inputs& in) { in.collateral.qe_identity_issuer_chain = ""; },
       "Certificate chain is too short for QE Identity"},
      {"QeIdentityChainNotBase64", QuoteKind::TdxV4, none,
       [](DcapScenario&, Inputs& in) { in.collateral.qe_identity_issuer_chain = pem_of("MA="); },
       "Failed to parse certs: PEM block is not base64"},
      {"QeIdentityLeafIsNotACertificate", QuoteKind::TdxV4, none,
       [](DcapScenario&, Inputs& in) { in.collateral.qe_identity_issuer_chain = pem_of("AAAA"); },
       "Failed to parse QE Identity leaf certificate"},
      {"QeIdentityChainIntermediateIsNotACertificate", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         in.collateral.qe_identity_issuer_chain = test::certificate_pem(s.pki.tcb_signing.get()) + pem_of("AAAA");
       },
       chain_failed + "BadDer (certificate 1 of the chain)"},
      {"QeIdentityReserialised", QuoteKind::TdxV4, none, [](DcapScenario&, Inputs& in) { in.collateral.qe_identity += "\n"; },
       "Signature is invalid for qe_identity in quote_collateral"},

      // The QE identity must serve the quote's TEE.
      {"TdxQuoteWithSgxQeIdentity", QuoteKind::TdxV4, [](DcapScenario& s) { s.qe_identity.id = "QE"; }, keep,
       kQeKindTdx + "QE version 2 (expected TD_QE version 2 or 3)"},
      {"TdxQuoteWithQeIdentityVersion4", QuoteKind::TdxV5, [](DcapScenario& s) { s.qe_identity.version = 4; }, keep,
       kQeKindTdx + "TD_QE version 4 (expected TD_QE version 2 or 3)"},
      {"SgxQuoteWithTdQeIdentity", QuoteKind::SgxV3, [](DcapScenario& s) { s.qe_identity.id = "TD_QE"; }, keep,
       kQeKindTdx + "TD_QE version 2 (expected QE version 2)"},
      {"SgxQuoteWithQeIdentityVersion3", QuoteKind::SgxV3, [](DcapScenario& s) { s.qe_identity.version = 3; }, keep,
       kQeKindTdx + "QE version 3 (expected QE version 2)"},

      // The PCK chain.
      {"CollateralPckChainUnterminated", QuoteKind::TdxV4, [](DcapScenario& s) { s.chain_in_collateral = true; },
       [](DcapScenario&, Inputs& in) { in.collateral.pck_certificate_chain = "-----BEGIN CERTIFICATE-----"; },
       "Failed to extract PCK certificates from collateral: PEM block without an end line"},
      {"QuotePckChainNotBase64", QuoteKind::TdxV4,
       [](DcapScenario& s) {
         const std::string pem = pem_of("M!==");
         s.quote_draft.inner_cert_body = std::vector<uint8_t>(pem.begin(), pem.end());
       },
       keep, "Failed to extract PCK certificates from quote: PEM block is not base64"},
      {"QuoteCarriesNoPckChain", QuoteKind::TdxV4, [](DcapScenario& s) { s.quote_draft.inner_cert_type = 7; }, keep,
       "Unsupported DCAP PCK cert format: 7. Use get_collateral() to fetch PCK certificate."},
      {"QuoteCarriesEncryptedPpid", QuoteKind::SgxV3, [](DcapScenario& s) { s.quote_draft.inner_cert_type = 3; }, keep,
       "Unsupported DCAP PCK cert format: 3. Use get_collateral() to fetch PCK certificate."},
      {"QuotePckChainEmpty", QuoteKind::TdxV4, [](DcapScenario& s) { s.quote_draft.inner_cert_body = std::vector<uint8_t>{0}; },
       keep, "Certificate chain is too short in quote"},
      {"CollateralPckChainEmpty", QuoteKind::TdxV4, [](DcapScenario& s) { s.chain_in_collateral = true; },
       [](DcapScenario&, Inputs& in) { in.collateral.pck_certificate_chain = ""; }, "Certificate chain is too short in quote"},
      {"PckLeafIsNotACertificate", QuoteKind::TdxV4,
       [](DcapScenario& s) {
         const std::string pem = pem_of("AAAA") + test::certificate_pem(s.pki.platform_ca.get());
         s.quote_draft.inner_cert_body = std::vector<uint8_t>(pem.begin(), pem.end());
       },
       keep, "Failed to parse PCK certificate"},
      {"PckChainWithTooManyCertificates", QuoteKind::TdxV4,
       [](DcapScenario& s) {
         std::string pem;
         for (int i = 0; i < 9; ++i) pem += test::certificate_pem(s.pki.root.get());
         s.quote_draft.inner_cert_body = std::vector<uint8_t>(pem.begin(), pem.end());
       },
       keep, "Failed to extract PCK certificates from quote: more than 8 certificates"},
      {"PckCertificateRevoked", QuoteKind::TdxV4,
       [](DcapScenario& s) {
         s.pck_crl.revoked_serials = {0x0777, 0x1001};
       },
       keep, chain_failed + "CertRevoked (certificate revoked, at depth 0)"},
      {"PlatformCaRevoked", QuoteKind::TdxV4, [](DcapScenario& s) { s.root_crl.revoked_serials = {2}; }, keep,
       chain_failed + "CertRevoked (certificate revoked, at depth 1)"},
      {"PckCertificateExpired", QuoteKind::TdxV4, [](DcapScenario& s) { s.pck_cert.not_after = now_of(s) - 1; }, keep,
       chain_failed + "CertExpired (certificate has expired, at depth 0)"},
      {"PckCrlNextUpdateIsNow", QuoteKind::SgxV3, [](DcapScenario& s) { s.pck_crl.next_update = now_of(s); }, keep,
       chain_failed + "CrlExpired (CRL has expired, at depth 0)"},
      {"PckCrlFromAnotherCa", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         test::P256TestKey key;
         const X509Ptr processor_ca = test::make_certificate(
             {"Test SGX PCK Processor CA", now_of(s) - kDay, now_of(s) + kDay, true, 0, 9, std::nullopt, false, {}}, key,
             s.pki.root.get(), s.pki.root_key);
         in.collateral.pck_crl = hex_encode(test::make_crl(s.pck_crl, processor_ca.get(), key));
       },
       chain_failed + "UnknownRevocationStatus (unable to get certificate CRL, at depth 0)"},
      {"PckLeafFromAnotherPlatformCa", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         Stranger other;
         CertDraft draft = s.pck_cert;
         draft.sgx_extension = test::sgx_extension_value(s.pck);
         const X509Ptr leaf = test::make_certificate(draft, s.pck_key, other.pki.platform_ca.get(), other.pki.platform_ca_key);
         s.chain_in_collateral = true;
         in.collateral.pck_certificate_chain = test::certificate_pem(leaf.get()) +
                                               test::certificate_pem(s.pki.platform_ca.get()) +
                                               test::certificate_pem(s.pki.root.get());
       },
       chain_failed + "UnknownIssuer (unable to get local issuer certificate, at depth 0)"},
      {"PckLeafForClientsOnly", QuoteKind::TdxV4, [](DcapScenario& s) { s.pck_cert.extended_key_usage = {"clientAuth"}; }, keep,
       chain_failed + "RequiredEkuNotFound (unsuitable certificate purpose, at depth 0)"},
      {"PckLeafIssuedByAnEndEntity", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         // The platform CA's name on a certificate the root issued without CA:TRUE.
         test::P256TestKey key;
         const X509Ptr issuer = test::make_certificate(
             {"Test SGX PCK Platform CA", now_of(s) - kDay, now_of(s) + kDay, false, -1, 9, std::nullopt, false, {}}, key,
             s.pki.root.get(), s.pki.root_key);
         CertDraft draft = s.pck_cert;
         draft.sgx_extension = test::sgx_extension_value(s.pck);
         const X509Ptr leaf = test::make_certificate(draft, s.pck_key, issuer.get(), key);
         in.collateral.pck_certificate_chain =
             test::certificate_pem(leaf.get()) + test::certificate_pem(issuer.get()) + test::certificate_pem(s.pki.root.get());
       },
       chain_failed + "CaUsedAsEndEntity (invalid CA certificate, at depth 1)"},
      {"PckLeafWithAnUnknownCriticalExtension", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         CertDraft draft = s.pck_cert;
         draft.sgx_extension = test::sgx_extension_value(s.pck);
         X509Ptr leaf = test::make_certificate(draft, s.pck_key, s.pki.platform_ca.get(), s.pki.platform_ca_key);
         const std::vector<uint8_t> der_null = {0x05, 0x00};
         ASN1_OBJECT* oid = OBJ_txt2obj("1.2.3.4", 1);
         ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
         ASSERT_TRUE(oid && value && ASN1_OCTET_STRING_set(value, der_null.data(), 2) == 1);
         X509_EXTENSION* extension = X509_EXTENSION_create_by_OBJ(nullptr, oid, 1, value);
         ASSERT_TRUE(extension && X509_add_ext(leaf.get(), extension, -1) == 1);
         X509_EXTENSION_free(extension);
         ASN1_OCTET_STRING_free(value);
         ASN1_OBJECT_free(oid);
         ASSERT_GT(X509_sign(leaf.get(), s.pki.platform_ca_key.pkey(), EVP_sha256()), 0);
         in.collateral.pck_certificate_chain = test::certificate_pem(leaf.get()) +
                                               test::certificate_pem(s.pki.platform_ca.get()) +
                                               test::certificate_pem(s.pki.root.get());
       },
       chain_failed + "InvalidCertificate (unhandled critical extension, at depth 0)"},
      {"PckLeafBelowACaThePlatformCaMayNotIssue", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         // The platform CA carries pathLenConstraint 0: a CA under it may not issue PCK leaves.
         test::P256TestKey key;
         const X509Ptr sub_ca = test::make_certificate(
             {"Test SGX PCK Sub CA", now_of(s) - kDay, now_of(s) + kDay, true, -1, 9, std::nullopt, false, {}}, key,
             s.pki.platform_ca.get(), s.pki.platform_ca_key);
         CertDraft draft = s.pck_cert;
         draft.sgx_extension = test::sgx_extension_value(s.pck);
         const X509Ptr leaf = test::make_certificate(draft, s.pck_key, sub_ca.get(), key);
         in.collateral.pck_certificate_chain = test::certificate_pem(leaf.get()) + test::certificate_pem(sub_ca.get()) +
                                               test::certificate_pem(s.pki.platform_ca.get()) +
                                               test::certificate_pem(s.pki.root.get());
       },
       chain_failed + "PathLenConstraintViolated (path length constraint exceeded, at depth 2)"},

      // The QE report.
      {"QeReportSignedByAnotherKey", QuoteKind::TdxV4, none,
       [](DcapScenario& s, Inputs& in) {
         test::P256TestKey other;
         in.quote = test::build_quote(s.quote_draft, s.attestation_key, other, s.pck_chain());
       },
       "Signature is invalid for qe_report in quote"},
      {"QeAuthDataEmpty", QuoteKind::TdxV4, [](DcapScenario& s) { s.quote_draft.qe_auth_data.clear(); }, keep,
       "Invalid QE auth data length"},
      {"QeAuthData33Bytes", QuoteKind::SgxV3, [](DcapScenario& s) { s.quote_draft.qe_auth_data.resize(33); }, keep,
       "Invalid QE auth data length"},
      {"QeReportDoesNotBindTheAttestationKey", QuoteKind::TdxV4,
       [](DcapScenario& s) {
         s.quote_draft.bind_attestation_key = false;
         s.quote_draft.qe_report.report_data.fill(0);
       },
       keep, "QE report hash mismatch"},
      {"QeReportFromAnotherSigner", QuoteKind::TdxV4, [](DcapScenario& s) { s.quote_draft.qe_report.mr_signer[31] = 0; }, keep,
       "QE MRSIGNER mismatch: expected dc9e2a7c6f948f17474e34a7fc43ed030f7c1563f1babddf6340c82e0e54a8c5, got "
       "dc9e2a7c6f948f17474e34a7fc43ed030f7c1563f1babddf6340c82e0e54a800"},
      {"QeReportOfADebugEnclave", QuoteKind::TdxV4, [](DcapScenario& s) { s.quote_draft.qe_report.attributes[0] = 0x13; }, keep,
       "QE report validation failed: Debug mode is enabled"},
      {"QeReportOfAnotherProduct", QuoteKind::TdxV4, [](DcapScenario& s) { s.quote_draft.qe_report.isv_prod_id = 3; }, keep,
       "QE ISVPRODID mismatch: expected 2, got 3"},
      {"QeReportMiscselectMasked", QuoteKind::TdxV4,
       [](DcapScenario& s) {
         s.qe_identity.miscselect_mask = "0000FFFF";
         s.qe_identity.miscselect = "FFFF0001";
         s.quote_draft.qe_report.misc_select = 0x12340000;
       },
       keep, "QE MISCSELECT mismatch: expected 00000001 (masked), got 00000000 (masked)"},
      {"QeReportAttributesMasked", QuoteKind::TdxV4, [](DcapScenario& s) { s.quote_draft.qe_report.attributes[5] = 0x80; }, keep,
       "QE ATTRIBUTES mismatch at byte 5: expected 00 (masked), got 80 (masked)"},
      {"QeIdentityWithoutLevels", QuoteKind::TdxV4, [](DcapScenario& s) { s.qe_identity.levels.clear(); }, keep,
       "No TCB levels found in QE Identity"},
      {"QeReportBelowEveryLevel", QuoteKind::TdxV4,
       [](DcapScenario& s) {
         s.qe_identity.levels = {{8, "2024-03-13T00:00:00Z", "UpToDate", std::nullopt},
                                 {6, "2023-03-13T00:00:00Z", "OutOfDate", std::nullopt},
                                 {2, "2022-03-13T00:00:00Z", "OutOfDate", std::nullopt}};
         s.quote_draft.qe_report.isv_svn = 1;
       },
       keep, "QE ISVSVN 1 is below minimum required 2 from QE Identity"},

      // The quote signature.
      {"ReportChangedAfterSigning", QuoteKind::TdxV5, none, [](DcapScenario&, Inputs& in) { in.quote[48 + 6 + 600] ^= 0x01; },
       "ISV enclave report signature is invalid"},
      {"HeaderChangedAfterSigning", QuoteKind::SgxV3, none, [](DcapScenario&, Inputs& in) { in.quote[46] ^= 0x01; },
       "ISV enclave report signature is invalid"},
      {"AttestationKeyOffTheCurve", QuoteKind::TdxV4,
       [](DcapScenario& s) {
         // The QE report binds the changed point, so only the point itself is wrong.
         std::array<uint8_t, 64> point = s.attestation_key.point();
         point[63] ^= 0x01;
         s.quote_draft.attestation_key_bytes = point;
       },
       keep, "ISV enclave report signature is invalid"},

      // Intel's extension in the PCK leaf.
      {"PckLeafWithoutSgxExtension", QuoteKind::TdxV4, [](DcapScenario& s) { s.pck.in_certificate = false; }, keep,
       "Intel extension not found"},
      {"PckLeafWithTwoSgxExtensions", QuoteKind::TdxV4,
       [](DcapScenario& s) {
         s.pck_cert.sgx_extension = test::sgx_extension_value(s.pck);
         s.pck_cert.sgx_extension_twice = true;
       },
       keep, "extension 1.2.840.113741.1.13.1 appears more than once"},
      {"PckLeafWithFmspcTwice", QuoteKind::TdxV4, [](DcapScenario& s) { s.pck.duplicate_fmspc = true; }, keep,
       "extension 1.2.840.113741.1.13.1.4 appears more than once"},

      // FMSPC and the kind of TCB info.
      {"TcbFmspcNotHex", QuoteKind::TdxV4, [](DcapScenario& s) { s.tcb_info.fmspc = "20a06f00000g"; }, keep,
       "Failed to decode TCB FMSPC"},
      {"TcbInfoForAnotherPlatform", QuoteKind::TdxV4, [](DcapScenario& s) { s.tcb_info.fmspc = "00606a000000"; }, keep,
       "Fmspc mismatch"},
      {"TcbFmspcOneByteShort", QuoteKind::TdxV4, [](DcapScenario& s) { s.tcb_info.fmspc = "20a06f0000"; }, keep,
       "Fmspc mismatch"},
      {"TdxQuoteWithSgxTcbInfo", QuoteKind::TdxV4, [](DcapScenario& s) { s.tcb_info.id = "SGX"; }, keep,
       "TDX quote with non-TDX TCB info in the collateral"},
      {"TdxQuoteWithVersion2TcbInfo", QuoteKind::TdxV5, [](DcapScenario& s) { s.tcb_info.version = 2; }, keep,
       "TDX quote with non-TDX TCB info in the collateral"},
      {"SgxQuoteWithTdxTcbInfo", QuoteKind::SgxV3, [](DcapScenario& s) { s.tcb_info.id = "TDX"; }, keep,
       "SGX quote with non-SGX TCB info in the collateral"},
      {"SgxQuoteWithVersion1TcbInfo", QuoteKind::SgxV3, [](DcapScenario& s) { s.tcb_info.version = 1; }, keep,
       "SGX quote with non-SGX TCB info in the collateral"},

      // Report checks after the TCB evaluation.
      {"TdInDebugMode", QuoteKind::TdxV4,
       [](DcapScenario& s) { std::get<TdReport10>(s.quote_draft.report).td_attributes[0] = 0x01; }, keep,
       "Debug mode is enabled"},
      {"TdWithoutSeptVeDisable", QuoteKind::TdxV4,
       [](DcapScenario& s) { std::get<TdReport10>(s.quote_draft.report).td_attributes[3] = 0x00; }, keep,
       "SEPT_VE_DISABLE is not enabled"},
      {"TdWithServiceTd", QuoteKind::TdxV5,
       [](DcapScenario& s) { std::get<TdReport15>(s.quote_draft.report).mr_service_td[0] = 0x01; }, keep,
       "Invalid MR service TD"},
      {"SgxDebugEnclave", QuoteKind::SgxV3,
       [](DcapScenario& s) { std::get<EnclaveReport>(s.quote_draft.report).attributes[0] |= 0x02; }, keep,
       "Debug mode is enabled"},

      // Time values of the collateral.
      {"TcbInfoIssuedBeforeTheEpoch", QuoteKind::TdxV4, [](DcapScenario& s) { s.tcb_info.issue_date = "1969-12-31T23:59:59Z"; },
       keep, "Failed to parse RFC3339 datetime: TCBInfo issueDate: RFC3339 datetime is before Unix epoch"},
      {"QeIdentityIssuedBeforeTheEpoch", QuoteKind::TdxV4,
       [](DcapScenario& s) { s.qe_identity.issue_date = "1900-01-01T00:00:00Z"; }, keep,
       "Failed to parse RFC3339 datetime: QEIdentity issueDate: RFC3339 datetime is before Unix epoch"},
      {"PckCrlWithoutNextUpdate", QuoteKind::TdxV4, [](DcapScenario& s) { s.pck_crl.next_update.reset(); }, keep,
       "Failed to parse CRL for time window"},
      {"RootCrlWithoutNumber", QuoteKind::TdxV4, [](DcapScenario& s) { s.root_crl.number.reset(); }, keep,
       "Failed to extract root CA CRL number"},
      {"PckCrlWithoutNumber", QuoteKind::TdxV4, [](DcapScenario& s) { s.pck_crl.number.reset(); }, keep,
       "Failed to extract PCK CRL number"},
      {"PckCrlNumberAbove32Bits", QuoteKind::TdxV4, [](DcapScenario& s) { s.pck_crl.number = uint64_t{1} << 32; }, keep,
       "CRL number too large for u32"},
      {"PlatformTcbDateUnparsed", QuoteKind::TdxV4, [](DcapScenario& s) { s.tcb_info.levels[0].date = "2024-03-13"; }, keep,
       "Failed to parse platform TCB date: invalid RFC 3339 date-time"},
  };
}

class VerificationFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(VerificationFailure, IsReportedExactly) {
  const FailureCase& c = GetParam();
  DcapScenario scenario(c.kind);
  c.setup(scenario);
  Inputs in = inputs_of(scenario);
  c.tamper(scenario, in);
  EXPECT_EQ(outcome(in), c.expected);

  // The split path gives the same answer: the collateral fails on its own, or the quote fails
  // against the verified collateral.
  Expected<VerifiedCollateral, dcap::Failure> collateral = verify_collateral(in.collateral, in.root, in.now);
  if (c.collateral_first_differs) {
    EXPECT_FALSE(collateral.ok());
    return;
  }
  if (!collateral) {
    EXPECT_EQ(collateral.error().text(), c.expected);
    return;
  }
  Expected<VerifiedQuote, dcap::Failure> quote = verify_and_accept(in.quote, *collateral, AcceptancePolicy{});
  EXPECT_EQ(quote ? std::string("valid") : quote.error().text(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Dcap, VerificationFailure, testing::ValuesIn(failure_cases()),
                         [](const testing::TestParamInfo<FailureCase>& param) { return param.param.name; });

// Collateral texts are bounded before they are decoded: one byte over is refused for its size,
// and a text at the bound is still read.
TEST(VerificationBounds, CollateralTextsAreBoundedBeforeDecoding) {
  DcapScenario s(QuoteKind::TdxV4);
  const auto with = [&s](const std::function<void(QuoteCollateralV3&)>& edit) {
    Inputs in = inputs_of(s);
    edit(in.collateral);
    return outcome(in);
  };
  const size_t crl_hex_limit = 2 * size_t{kMaxDataLength};
  EXPECT_EQ(with([&](QuoteCollateralV3& c) { c.root_ca_crl = std::string(crl_hex_limit + 2, '0'); }),
            "Failed to parse CRL: root_ca_crl is larger than 1048576 bytes");
  EXPECT_EQ(with([&](QuoteCollateralV3& c) { c.pck_crl = std::string(crl_hex_limit + 2, '0'); }),
            "Failed to parse CRL: pck_crl is larger than 1048576 bytes");
  EXPECT_EQ(with([&](QuoteCollateralV3& c) { c.pck_crl = std::string(crl_hex_limit, '0'); }),
            "Failed to parse CRL: pck_crl is not one DER CRL");

  const std::string chain_too_large = "chain is larger than 1048576 bytes";
  EXPECT_EQ(with([](QuoteCollateralV3& c) { c.tcb_info_issuer_chain.resize(kMaxDataLength + 1, '\n'); }),
            "Failed to parse certs: " + chain_too_large);
  EXPECT_EQ(with([](QuoteCollateralV3& c) { c.qe_identity_issuer_chain.resize(kMaxDataLength + 1, '\n'); }),
            "Failed to parse certs: " + chain_too_large);
  EXPECT_EQ(with([](QuoteCollateralV3& c) {
              c.tcb_info_issuer_chain.resize(kMaxDataLength, '\n');
              c.qe_identity_issuer_chain.resize(kMaxDataLength, '\n');
            }),
            "valid");

  s.chain_in_collateral = true;
  EXPECT_EQ(with([](QuoteCollateralV3& c) { c.pck_certificate_chain->resize(kMaxDataLength + 1, '\n'); }),
            "Failed to extract PCK certificates from collateral: " + chain_too_large);
  EXPECT_EQ(with([](QuoteCollateralV3& c) { c.pck_certificate_chain->resize(kMaxDataLength, '\n'); }), "valid");
}

AcceptancePolicy level2_policy() {
  AcceptancePolicy policy;
  policy.min_tcb_evaluation_data_number = 17;
  return policy;
}

TEST(VerificationSuccess, EachQuoteKindPassesUpToDateUnderTheLevel2Policy) {
  for (const QuoteKind kind : {QuoteKind::TdxV4, QuoteKind::TdxV5, QuoteKind::SgxV3}) {
    DcapScenario s(kind);
    const std::vector<uint8_t> quote = s.quote();
    Expected<VerifiedQuote, dcap::Failure> result =
        verify_and_accept(quote, s.collateral(), s.root_der(), s.now, level2_policy());
    ASSERT_TRUE(result.ok()) << result.error().text();
    EXPECT_EQ(result->tcb_status, TcbStatus::UpToDate);
    EXPECT_EQ(hex_encode(result->pck.fmspc), "20a06f000000");
    EXPECT_EQ(result->pck.pcesvn, 13);
    EXPECT_EQ(result->pck.cpusvn, s.pck.cpusvn);
    EXPECT_EQ(result->pck.sgx_type, 1u);
    EXPECT_EQ(result->pck.dynamic_platform, true);
    EXPECT_EQ(result->tcb_evaluation_data_number, 17u);
    // The TCB info's next update is the earliest of everything.
    EXPECT_EQ(result->earliest_expiration, s.now + 20 * kDay);
    EXPECT_EQ(result->quote.report_kind(), kind == QuoteKind::SgxV3   ? ReportKind::SgxEnclave
                                           : kind == QuoteKind::TdxV4 ? ReportKind::TdReport10
                                                                      : ReportKind::TdReport15);
    if (kind != QuoteKind::SgxV3) {
      ASSERT_NE(result->quote.td_report10(), nullptr);
      EXPECT_EQ(hex_encode(result->quote.td_report10()->mr_td), std::string(96, '1'));
      ASSERT_TRUE(result->module_tcb_level.has_value());
    }
  }
}

TEST(VerificationSuccess, ValuesForTheReportComeFromTheMatchedLevels) {
  DcapScenario s(QuoteKind::TdxV4);
  s.tcb_info.evaluation_data_number = 19;
  s.qe_identity.evaluation_data_number = 18;
  s.tcb_info.levels[0].advisories = std::vector<std::string>{"INTEL-SA-00837"};
  s.pck_cert.not_after = static_cast<int64_t>(s.now) + 5 * kDay;  // now the earliest
  Expected<VerifiedQuote, dcap::Failure> result =
      verify_and_accept(s.quote(), s.collateral(), s.root_der(), s.now, level2_policy());
  ASSERT_TRUE(result.ok()) << result.error().text();
  EXPECT_EQ(result->tcb_evaluation_data_number, 18u);
  EXPECT_EQ(result->advisory_ids, std::vector<std::string>{"INTEL-SA-00837"});
  EXPECT_EQ(result->earliest_expiration, s.now + 5 * kDay);
  EXPECT_EQ(result->supplemental.tcb_date_tag, 1710288000u);  // 2024-03-13T00:00:00Z
  EXPECT_EQ(result->supplemental.qe_tcb_date, "2024-03-13T00:00:00Z");
}

TEST(VerificationSuccess, DatesAreInclusiveToTheSecond) {
  DcapScenario s(QuoteKind::TdxV4);
  s.tcb_info.issue_date = test::date_text(now_of(s));
  s.qe_identity.issue_date = test::date_text(now_of(s));
  s.tcb_info.next_update = test::date_text(now_of(s));
  s.qe_identity.next_update = test::date_text(now_of(s)).replace(19, 1, ".999Z");
  // A certificate is valid through its notAfter second, and from its notBefore second.
  s.pck_cert.not_after = now_of(s);
  s.pck_cert.not_before = now_of(s);
  Expected<VerifiedQuote, dcap::Failure> result =
      verify_and_accept(s.quote(), s.collateral(), s.root_der(), s.now, level2_policy());
  ASSERT_TRUE(result.ok()) << result.error().text();
  // Earliest expiration equal to now passes the policy.
  EXPECT_EQ(result->earliest_expiration, s.now);
}

TEST(VerificationSuccess, CollateralChainIsUsedEvenWhenTheQuoteCarriesOne) {
  DcapScenario s(QuoteKind::TdxV4);
  s.chain_in_collateral = true;
  s.quote_draft.inner_cert_type = 7;  // the quote's own chain could not be used
  EXPECT_EQ(outcome(inputs_of(s)), "valid");
  // And the quote's chain is not consulted: one that would fail changes nothing.
  s.quote_draft.inner_cert_type = 5;
  s.quote_draft.inner_cert_body = std::vector<uint8_t>{'x'};
  EXPECT_EQ(outcome(inputs_of(s)), "valid");
}

TEST(VerificationSuccess, AcceptedVariantsOfTheCollateral) {
  const std::vector<std::pair<const char*, std::function<void(DcapScenario&)>>> variants = {
      {"TD_QE identity version 3", [](DcapScenario& s) { s.qe_identity.version = 3; }},
      {"FMSPC in upper case", [](DcapScenario& s) { s.tcb_info.fmspc = "20A06F000000"; }},
      {"QE attribute bit outside the mask", [](DcapScenario& s) { s.quote_draft.qe_report.attributes[0] |= 0x04; }},
      {"QE misc_select outside the mask",
       [](DcapScenario& s) {
         s.qe_identity.miscselect_mask = "0000FFFF";
         s.quote_draft.qe_report.misc_select = 0xABCD0000;
       }},
      {"QE level below the first",
       [](DcapScenario& s) {
         s.qe_identity.levels = {{8, "2024-03-13T00:00:00Z", "UpToDate", std::nullopt},
                                 {6, "2023-03-13T00:00:00Z", "UpToDate", std::nullopt}};
       }},
      {"TD feature bits 30 and 63",
       [](DcapScenario& s) {
         auto& attributes = std::get<TdReport10>(s.quote_draft.report).td_attributes;
         attributes[3] |= 0x40;
         attributes[7] |= 0x80;
       }},
      {"no configuration flags", [](DcapScenario& s) { s.pck.configuration = false; }},
      {"PCK leaf allowing server use", [](DcapScenario& s) { s.pck_cert.extended_key_usage = {"serverAuth"}; }},
      {"zero padding after the signature data", [](DcapScenario& s) { s.quote_draft.trailing = std::vector<uint8_t>(70, 0); }},
      {"unrelated serials revoked",
       [](DcapScenario& s) {
         s.root_crl.revoked_serials = {0x1001, 77};
       }},
      {"SGX TCB info version 2 for an SGX quote", [](DcapScenario&) {}},
  };
  for (const auto& [name, change] : variants) {
    DcapScenario s(QuoteKind::TdxV4);
    change(s);
    EXPECT_EQ(outcome(inputs_of(s)), "valid") << name;
  }
  DcapScenario sgx(QuoteKind::SgxV3);
  sgx.tcb_info.version = 2;
  EXPECT_EQ(outcome(inputs_of(sgx)), "valid");
}

TEST(VerifiedCollateralReuse, OneSnapshotJudgesManyQuotes) {
  DcapScenario s(QuoteKind::TdxV4);
  const QuoteCollateralV3 collateral = s.collateral();
  Expected<VerifiedCollateral, dcap::Failure> verified = verify_collateral(collateral, s.root_der(), s.now);
  ASSERT_TRUE(verified.ok()) << verified.error().text();
  EXPECT_EQ(verified->evaluated_at(), s.now);
  EXPECT_EQ(verified->tcb_info().id, "TDX");
  EXPECT_EQ(verified->qe_identity().id, "TD_QE");
  EXPECT_EQ(verified->times().earliest_expiration, static_cast<int64_t>(s.now) + 20 * kDay);
  EXPECT_EQ(verified->times().pck_crl_number, 7u);
  EXPECT_EQ(verified->times().root_ca_crl_number, 1u);
  EXPECT_EQ(verified->times().pck_crl_next_update, static_cast<int64_t>(s.now) + 25 * kDay);

  // Quotes from two platforms, each judged twice: once validated, once remembered.
  const std::vector<uint8_t> first = s.quote();
  s.pck_key = test::P256TestKey();
  s.pck_cert.serial = 0x1002;
  const std::vector<uint8_t> second = s.quote();
  for (int round = 0; round < 2; ++round) {
    for (const auto* quote : {&first, &second}) {
      Expected<VerifiedQuote, dcap::Failure> result = verify_and_accept(*quote, *verified, level2_policy());
      ASSERT_TRUE(result.ok()) << result.error().text();
      EXPECT_EQ(result->tcb_status, TcbStatus::UpToDate);
    }
  }
  // Neither the remembered chain nor the remembered last quote vouches for a copy whose QE
  // report the PCK key did not sign.
  ASSERT_TRUE(verify_quote(first, *verified).ok());
  std::vector<uint8_t> forged = first;
  forged[632 + 4 + 64 + 64 + 6 + 10] ^= 0x01;  // a byte of the QE report
  Expected<VerifiedQuote, dcap::Failure> result = verify_quote(forged, *verified);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().text(), "Signature is invalid for qe_report in quote");
}

TEST(VerifiedCollateralReuse, RememberedQuoteKeepsItsOptions) {
  DcapScenario s(QuoteKind::TdxV4);
  std::get<TdReport10>(s.quote_draft.report).td_attributes[0] = 0x01;  // a debug TD
  Expected<VerifiedCollateral, dcap::Failure> verified = verify_collateral(s.collateral(), s.root_der(), s.now);
  ASSERT_TRUE(verified.ok());
  const std::vector<uint8_t> quote = s.quote();
  EXPECT_TRUE(verify_quote(quote, *verified, VerifyOptions{.debug_allowed = true}).ok());
  Expected<VerifiedQuote, dcap::Failure> strict = verify_quote(quote, *verified);
  ASSERT_FALSE(strict.ok());
  EXPECT_EQ(strict.error().text(), "Debug mode is enabled");
}

TEST(VerifiedCollateralReuse, RevokedLeafIsRefusedEveryTime) {
  DcapScenario s(QuoteKind::TdxV4);
  s.pck_crl.revoked_serials = {0x1001};
  Expected<VerifiedCollateral, dcap::Failure> verified = verify_collateral(s.collateral(), s.root_der(), s.now);
  ASSERT_TRUE(verified.ok());
  const std::vector<uint8_t> quote = s.quote();
  for (int round = 0; round < 3; ++round) {
    Expected<VerifiedQuote, dcap::Failure> result = verify_quote(quote, *verified);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().text(), "Failed to verify certificate chain: CertRevoked (certificate revoked, at depth 0)");
  }
}

TEST(FailureKind, IsSetWhereTheFailureIsRaised) {
  const std::vector<std::pair<FailureKind, std::function<void(DcapScenario&)>>> cases = {
      {Expired, [](DcapScenario& s) { s.tcb_info.next_update = test::date_text(now_of(s) - 1); }},
      {Expired, [](DcapScenario& s) { s.qe_identity.next_update = test::date_text(now_of(s) - 1); }},
      {Expired, [](DcapScenario& s) { s.pck_crl.next_update = now_of(s) - 1; }},
      {Expired, [](DcapScenario& s) { s.root_crl.next_update = now_of(s); }},
      {Expired, [](DcapScenario& s) { s.pck_cert.not_after = now_of(s) - 1; }},
      {NotYetValid, [](DcapScenario& s) { s.tcb_info.issue_date = test::date_text(now_of(s) + 1); }},
      {Revoked,
       [](DcapScenario& s) {
         s.pck_crl.revoked_serials = {0x0777, 0x1001};
       }},
      // Words are not kinds: a document naming itself "expired" is still only the wrong document.
      {Mismatch, [](DcapScenario& s) { s.qe_identity.id = "expired"; }},
  };
  for (const auto& [kind, change] : cases) {
    DcapScenario s(QuoteKind::TdxV4);
    change(s);
    const Inputs in = inputs_of(s);
    const Expected<VerifiedQuote, dcap::Failure> result =
        verify_and_accept(in.quote, in.collateral, in.root, in.now, AcceptancePolicy{});
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind, kind) << result.error().text();
  }
  Inputs forged = inputs_of(DcapScenario(QuoteKind::TdxV4));
  forged.quote[100] ^= 1;
  EXPECT_EQ(verify_quote(forged.quote, forged.collateral, forged.root, forged.now).error().kind, BadSignature);
  // The policy's own expiry of the collateral.
  Supplemental values;
  values.final_status = TcbStatus::UpToDate;
  values.earliest_expiration = 99;
  EXPECT_EQ(apply_policy(AcceptancePolicy{}, values, 100).error().kind, Expired);
}

}  // namespace
}  // namespace orv::dcap
