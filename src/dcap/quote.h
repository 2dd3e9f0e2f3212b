// Intel DCAP quotes (versions 3, 4 and 5; SGX enclave reports, TD 1.0 and TD 1.5 reports):
// decoding from raw bytes, header acceptance, the signed scope and the report checks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "dcap/failure.h"

namespace orv::dcap {

// Length-prefixed data inside a quote is bounded before anything is allocated for it.
inline constexpr uint32_t kMaxDataLength = 1048576;

inline constexpr uint32_t kTeeTypeSgx = 0x00;
inline constexpr uint32_t kTeeTypeTdx = 0x81;
inline constexpr uint16_t kAttestationKeyEcdsaP256 = 2;
inline constexpr uint16_t kCertTypePckChain = 5;
inline constexpr std::array<uint8_t, 16> kIntelQeVendorId = {0x93, 0x9A, 0x72, 0x33, 0xF7, 0x9C, 0x4C, 0xA9,
                                                             0x94, 0x0A, 0x0D, 0xB3, 0x95, 0x7F, 0x06, 0x07};

inline constexpr size_t kHeaderBytes = 48;
inline constexpr size_t kBodyBytes = 6;
inline constexpr size_t kEnclaveReportBytes = 384;
inline constexpr size_t kTdReport10Bytes = 584;
inline constexpr size_t kTdReport15Bytes = 648;

struct Header {
  uint16_t version = 0;
  uint16_t attestation_key_type = 0;
  uint32_t tee_type = 0;
  uint16_t qe_svn = 0;
  uint16_t pce_svn = 0;
  std::array<uint8_t, 16> qe_vendor_id{};
  std::array<uint8_t, 20> user_data{};
};

struct Body {
  uint16_t body_type = 0;
  uint32_t size = 0;
};

struct EnclaveReport {
  std::array<uint8_t, 16> cpu_svn{};
  uint32_t misc_select = 0;
  std::array<uint8_t, 28> reserved1{};
  std::array<uint8_t, 16> attributes{};
  std::array<uint8_t, 32> mr_enclave{};
  std::array<uint8_t, 32> reserved2{};
  std::array<uint8_t, 32> mr_signer{};
  std::array<uint8_t, 96> reserved3{};
  uint16_t isv_prod_id = 0;
  uint16_t isv_svn = 0;
  std::array<uint8_t, 60> reserved4{};
  std::array<uint8_t, 64> report_data{};
};

struct TdReport10 {
  std::array<uint8_t, 16> tee_tcb_svn{};
  std::array<uint8_t, 48> mr_seam{};
  std::array<uint8_t, 48> mr_signer_seam{};
  std::array<uint8_t, 8> seam_attributes{};
  std::array<uint8_t, 8> td_attributes{};
  std::array<uint8_t, 8> xfam{};
  std::array<uint8_t, 48> mr_td{};
  std::array<uint8_t, 48> mr_config_id{};
  std::array<uint8_t, 48> mr_owner{};
  std::array<uint8_t, 48> mr_owner_config{};
  std::array<uint8_t, 48> rt_mr0{};
  std::array<uint8_t, 48> rt_mr1{};
  std::array<uint8_t, 48> rt_mr2{};
  std::array<uint8_t, 48> rt_mr3{};
  std::array<uint8_t, 64> report_data{};
};

struct TdReport15 {
  TdReport10 base;
  std::array<uint8_t, 16> tee_tcb_svn2{};
  std::array<uint8_t, 48> mr_service_td{};
};

// The index of each alternative is the report kind index (SgxEnclave 0, TdReport10 1, TdReport15 2).
enum class ReportKind { SgxEnclave = 0, TdReport10 = 1, TdReport15 = 2 };
using Report = std::variant<EnclaveReport, TdReport10, TdReport15>;

struct CertificationData {
  uint16_t cert_type = 0;
  std::vector<uint8_t> body;
};

// Both authentication-data shapes end up here: the version 4/5 shape carries the QE report and
// what follows it inside a certification data of its own, which decoding unwraps.
struct AuthData {
  std::array<uint8_t, 64> ecdsa_signature{};
  std::array<uint8_t, 64> ecdsa_attestation_key{};
  std::array<uint8_t, 384> qe_report{};  // raw: it is signed as these exact bytes
  std::array<uint8_t, 64> qe_report_signature{};
  std::vector<uint8_t> qe_auth_data;
  CertificationData certification_data;
};

struct Quote {
  Header header;
  std::optional<Body> body;  // version 5 only
  Report report;
  AuthData auth_data;
  size_t signed_length = 0;  // bytes from the start that ecdsa_signature covers

  ReportKind report_kind() const { return static_cast<ReportKind>(report.index()); }
  // The TD 1.0 view of either TD report kind; null for an SGX enclave report.
  const TdReport10* td_report10() const;
  const TdReport15* td_report15() const;
  const EnclaveReport* enclave_report() const;
};

// "Failed to decode quote" with the field that cut short (and its enclosing fields) as causes.
// Bytes after the authentication data are ignored: nothing signs them, and real quotes carry
// zero padding there.
Expected<Quote, Failure> decode_quote(std::span<const uint8_t> raw);

// The report_data a TDX quote carries, read from its raw bytes where its version puts it, with
// nothing decoded or verified: what the quote claims to bind, for checks that run without the
// quote's verification. Version 4 keeps it at bytes 568 to 631; version 5, after its 6-byte body
// descriptor, at 574 to 637 for body types 2 (TD 1.0) and 3 (TD 1.5). Null for any other
// version, TEE type or body type, and for a quote too short to hold its whole TD report.
std::optional<std::array<uint8_t, 64>> claimed_report_data(std::span<const uint8_t> raw);

// An EnclaveReport from exactly its 384 bytes (the QE report inside the authentication data).
Expected<EnclaveReport, Failure> decode_enclave_report(std::span<const uint8_t> bytes);

// The vendor, TEE type and attestation key checks made right after decoding.
Expected<void, Failure> check_header(const Header& header);

// The bytes of raw that the quote signature covers: the header, the version 5 body descriptor
// and the report.
Expected<std::span<const uint8_t>, Failure> signed_scope(const Quote& quote, std::span<const uint8_t> raw);

// The report_data a TDX quote carries, read from its raw bytes where its version puts it, with
// nothing decoded or verified: what the quote claims to bind, for checks that run without the
// quote's verification. Version 4 keeps it at bytes 568 to 631; version 5, after its 6-byte body
// descriptor, at 574 to 637 for body types 2 (TD 1.0) and 3 (TD 1.5). Null for any other
// version, TEE type or body type, and for a quote too short to hold its whole TD report.
std::optional<std::array<uint8_t, 64>> claimed_report_data(std::span<const uint8_t> raw);

// The TD 1.0 view, or "Failed to get TD10 report" for an SGX enclave report.
Expected<const TdReport10*, Failure> require_td_report(const Quote& quote);

// td_attributes as the platform reports them; the checks read it as one little-endian word.
uint64_t td_attributes_word(const TdReport10& report);
Expected<void, Failure> check_td_attributes(uint64_t td_attributes, bool debug_allowed);

// The report checks that follow TCB evaluation: no debug enclave, no service TD unless allowed,
// and the TD attribute acceptance.
Expected<void, Failure> check_report(const Quote& quote, bool debug_allowed, bool service_td_allowed);

}  // namespace orv::dcap
