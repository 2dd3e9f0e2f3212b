// A complete test Intel PKI built at test time with OpenSSL: a root CA, the PCK platform CA,
// PCK leaf certificates carrying the SGX extension, the TCB signing certificate, both CRLs,
// TCB info and QE identity documents signed by it, and quotes of each version signed as a
// quoting enclave signs them. Every scenario starts valid; a test changes one thing.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dcap/collateral_chain.h"
#include "dcap/quote.h"
#include "dcap/verify.h"
#include "support/p256_test_key.h"

namespace orv::test {

// 2030-03-17T17:46:40Z: every scenario is judged at this time unless a test moves it.
inline constexpr uint64_t kTestNow = 1900000000;
inline constexpr int64_t kDay = 86400;

std::string certificate_pem(const X509* cert);
std::vector<uint8_t> certificate_der(const X509* cert);
std::string date_text(int64_t unix_seconds);  // YYYY-MM-DDTHH:MM:SSZ

// DER pieces for building (and breaking) extension values.
std::vector<uint8_t> der(uint8_t tag, std::span<const uint8_t> content);
std::vector<uint8_t> der_oid(std::string_view dotted);
std::vector<uint8_t> der_sequence(const std::vector<std::vector<uint8_t>>& elements);
std::vector<uint8_t> der_entry(std::string_view oid, const std::vector<uint8_t>& value);
std::vector<uint8_t> der_octets(std::span<const uint8_t> bytes);
std::vector<uint8_t> der_integer(uint64_t value);

struct PckDraft {
  std::array<uint8_t, 16> cpusvn = {4, 4, 2, 2, 5, 255, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0};
  uint16_t pcesvn = 13;
  std::array<uint8_t, 6> fmspc = {0x20, 0xA0, 0x6F, 0x00, 0x00, 0x00};
  uint8_t sgx_type = 1;
  bool configuration = true;
  std::optional<bool> dynamic_platform = true;
  std::optional<bool> cached_keys = true;
  std::optional<bool> smt_enabled = true;
  // Replaces the whole extension value when set (malformed-extension tests).
  std::optional<std::vector<uint8_t>> extension_value;
  bool duplicate_fmspc = false;
  bool in_certificate = true;  // false: the PCK leaf carries no SGX extension at all
};

// The SGX extension value (a SEQUENCE of OID/value entries) for a PCK draft.
std::vector<uint8_t> sgx_extension_value(const PckDraft& draft);

struct CertDraft {
  std::string common_name;
  int64_t not_before = 0;
  int64_t not_after = 0;
  bool ca = false;
  int path_length = -1;
  uint64_t serial = 1;
  std::optional<std::vector<uint8_t>> sgx_extension;  // value of 1.2.840.113741.1.13.1
  bool sgx_extension_twice = false;
  std::vector<std::string> extended_key_usage;  // short names, e.g. "serverAuth"
};

// Issued by issuer with issuer_key; self-signed when issuer is null.
dcap::X509Ptr make_certificate(const CertDraft& draft, const P256TestKey& subject_key, const X509* issuer,
                               const P256TestKey& issuer_key);

struct CrlDraft {
  int64_t this_update = 0;
  std::optional<int64_t> next_update;
  std::vector<uint64_t> revoked_serials;
  std::optional<uint64_t> number = 1;
};

std::vector<uint8_t> make_crl(const CrlDraft& draft, const X509* issuer, const P256TestKey& issuer_key);

struct TcbLevelDraft {
  std::vector<uint8_t> sgx = {2, 2, 2, 2, 2, 255, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0};
  uint16_t pcesvn = 13;
  std::optional<std::vector<uint8_t>> tdx = std::vector<uint8_t>{5, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::string date = "2024-03-13T00:00:00Z";
  std::string status = "UpToDate";
  std::optional<std::vector<std::string>> advisories;
};

struct IsvLevelDraft {
  uint16_t isvsvn = 0;
  std::string date = "2024-03-13T00:00:00Z";
  std::string status = "UpToDate";
  std::optional<std::vector<std::string>> advisories;
};

struct ModuleDraft {
  std::string mrsigner = std::string(96, '0');
  std::string attributes = "0000000000000000";
  std::string mask = "FFFFFFFFFFFFFFFF";
};

struct ModuleIdentityDraft {
  std::string id;
  ModuleDraft values;
  std::vector<IsvLevelDraft> levels;
};

struct TcbInfoDraft {
  std::string id = "TDX";
  uint32_t version = 3;
  std::string issue_date;
  std::string next_update;
  std::string fmspc = "20a06f000000";
  std::string pce_id = "0000";
  uint32_t tcb_type = 0;
  uint32_t evaluation_data_number = 17;
  std::optional<ModuleDraft> module = ModuleDraft{};
  std::optional<std::vector<ModuleIdentityDraft>> identities;
  std::vector<TcbLevelDraft> levels;
  std::string json() const;  // compact, members in Intel's order
};

struct QeIdentityDraft {
  std::string id = "TD_QE";
  uint32_t version = 2;
  std::string issue_date;
  std::string next_update;
  uint32_t evaluation_data_number = 17;
  std::string miscselect = "00000000";
  std::string miscselect_mask = "FFFFFFFF";
  std::string attributes = "11000000000000000000000000000000";
  std::string attributes_mask = "FBFFFFFFFFFFFFFF0000000000000000";
  std::string mrsigner = "DC9E2A7C6F948F17474E34A7FC43ED030F7C1563F1BABDDF6340C82E0E54A8C5";
  uint16_t isvprodid = 2;
  std::vector<IsvLevelDraft> levels = {IsvLevelDraft{4, "2024-03-13T00:00:00Z", "UpToDate", std::nullopt}};
  std::string json() const;
};

// What goes into a quote besides its signatures.
struct QuoteDraft {
  dcap::Header header;
  std::optional<dcap::Body> body;
  dcap::Report report;
  dcap::EnclaveReport qe_report;
  std::vector<uint8_t> qe_auth_data = std::vector<uint8_t>(32, 0x5A);
  uint16_t outer_cert_type = 6;
  uint16_t inner_cert_type = 5;
  std::optional<std::vector<uint8_t>> inner_cert_body;           // replaces the PEM chain when set
  bool bind_attestation_key = true;                              // write SHA-256(key || auth data) into the QE report
  std::optional<std::array<uint8_t, 64>> attestation_key_bytes;  // carried instead of the signing key's point
  std::vector<uint8_t> trailing;                                 // bytes after the authentication data
};

// Bytes of each part as a quote carries them.
std::vector<uint8_t> encode_header(const dcap::Header& header);
std::vector<uint8_t> encode_report(const dcap::Report& report);
std::vector<uint8_t> encode_enclave_report(const dcap::EnclaveReport& report);

// The quote, signed: the QE report by pck_key, the header and report by attestation_key.
// pck_chain is the PEM placed in the inner certification data (followed by one NUL byte).
std::vector<uint8_t> build_quote(QuoteDraft draft, const P256TestKey& attestation_key, const P256TestKey& pck_key,
                                 std::string_view pck_chain);

// The root, platform CA and TCB signing certificates with their keys.
struct TestIntelPki {
  explicit TestIntelPki(uint64_t now = kTestNow);

  P256TestKey root_key;
  P256TestKey platform_ca_key;
  P256TestKey tcb_signing_key;
  dcap::X509Ptr root;
  dcap::X509Ptr platform_ca;
  dcap::X509Ptr tcb_signing;

  std::vector<uint8_t> root_der() const { return certificate_der(root.get()); }
};

enum class QuoteKind { SgxV3, TdxV4, TdxV5 };

// One valid quote and the collateral it verifies against at `now`; every member may be changed
// before collateral() and quote() assemble and sign the current state.
struct DcapScenario {
  explicit DcapScenario(QuoteKind kind = QuoteKind::TdxV4, uint64_t now = kTestNow);

  uint64_t now;
  TestIntelPki pki;
  P256TestKey pck_key;
  P256TestKey attestation_key;
  PckDraft pck;
  CertDraft pck_cert;
  CrlDraft root_crl;
  CrlDraft pck_crl;
  TcbInfoDraft tcb_info;
  QeIdentityDraft qe_identity;
  QuoteDraft quote_draft;
  bool chain_in_collateral = false;  // pck_certificate_chain set, quote carries none of its own
  // When set, every quote carries this chain, as one platform's quotes carry the same PCK
  // certificate; otherwise each quote gets a freshly issued one.
  std::optional<std::string> fixed_pck_chain;

  // A fresh PCK leaf from pck and pck_cert, then the platform CA and the root, as PEM.
  std::string pck_chain() const;
  dcap::QuoteCollateralV3 collateral() const;
  std::vector<uint8_t> quote() const;
  std::vector<uint8_t> root_der() const { return pki.root_der(); }
};

// Signs a document text with the TCB signing key, as hex r || s.
std::string sign_hex(const P256TestKey& key, std::string_view text);

}  // namespace orv::test
