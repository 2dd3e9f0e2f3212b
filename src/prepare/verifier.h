// The one place orvelant-prepare calls into the verifier's modules (quote decoding, Intel's
// documents, certificates and CRLs, collateral and quote verification, the key-receipt and
// snapshot readers, JSON): everything else in this program goes through these functions, so
// that what it checks is judged by the same code as orvelant-verify, and a change inside those
// modules is met here once.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/result.h"
#include "dcap/pck_extension.h"
#include "dcap/tcb_info.h"
#include "dcap/verify.h"
#include "prepare/outcome.h"
#include "tdx/documents.h"
#include "tsa/reencode.h"
#include "tsa/stamp_file.h"

namespace orv::prepare::verifier {

// A value read from an input, or the reason in words why it could not be.
template <class T>
using Read = Expected<T, Reason>;

// The CA that issued a platform's PCK certificate; it decides which PCK CRL applies.
enum class CaType { Platform, Processor };
std::string_view ca_query_value(CaType ca);  // "platform", "processor"
std::string_view ca_common_name(CaType ca);  // "Intel SGX PCK Platform CA", ...
std::optional<CaType> ca_from_common_name(std::string_view name);
inline constexpr std::string_view kRootCommonName = "Intel SGX Root CA";

struct CertFacts {
  std::string subject;  // common name
  std::string issuer;   // common name
  int64_t not_before = 0;
  int64_t not_after = 0;
};

struct PckFacts {
  CertFacts certificate;
  std::optional<CaType> ca;  // none when the issuer is neither PCK CA
  std::string fmspc;         // lowercase hex
  dcap::PckExtensions extensions;
};

// What a quote holds, decoded and not verified.
struct QuoteFacts {
  uint16_t version = 0;
  uint16_t attestation_key_type = 0;
  uint32_t tee_type = 0;
  uint16_t qe_svn = 0;
  uint16_t pce_svn = 0;
  std::string qe_vendor_id;
  std::string report_kind;                                  // "SGX enclave report", "TD report 1.0", "TD report 1.5"
  bool td = false;                                          // a TD report, so TDX collateral applies
  std::vector<std::pair<std::string, std::string>> report;  // field name, lowercase hex, in layout order
  uint16_t certification_type = 0;
  Read<PckFacts> pck = Reason{"not read"};  // from the PCK chain the quote carries
};
inline constexpr uint32_t kTeeTypeTdx = dcap::kTeeTypeTdx;

Read<QuoteFacts> read_quote(std::span<const uint8_t> raw);

// Documents as orvelant-verify reads them: the strict JSON check, then the document's reader.
// The label names the document in the reason ("key receipt", "snapshot", ...).
Read<tdx::LiveKeyReceipt> read_key_receipt(std::string_view text);
Read<tdx::CollateralSnapshot> read_snapshot(std::string_view text);
Read<tdx::ExpectedTd> read_expected_td(std::string_view text);
// The receipt's quote bytes.
Read<std::vector<uint8_t>> receipt_quote(const tdx::LiveKeyReceipt& receipt);

Read<dcap::TcbInfo> read_tcb_info(std::string_view text);
Read<dcap::QeIdentity> read_qe_identity(std::string_view text);

// Seconds since the epoch of an RFC 3339 date-time (rounded down); of a strict UTC time.
Read<int64_t> rfc3339_seconds(std::string_view text);
bool is_strict_utc_time(std::string_view text);

struct CrlFacts {
  std::string issuer;  // common name
  int64_t this_update = 0;
  std::optional<int64_t> next_update;
  size_t revoked = 0;
  std::optional<uint32_t> number;
};
Read<CrlFacts> read_crl(std::span<const uint8_t> der);
// Every certificate of a PEM chain, in order; at least one.
Read<std::vector<CertFacts>> read_pem_chain(std::string_view pem);

// The CRL is signed by the first certificate of the chain, a CA that Intel's root issued and
// its CRL does not list. (Dates are the caller's to check.) Nothing, or the reason.
std::optional<std::string> check_crl_issuer(std::span<const uint8_t> crl_der, std::string_view chain_pem,
                                            std::span<const uint8_t> root_der, std::span<const uint8_t> root_crl_der);

// The collateral's own checks as key-receipt runs them, and then (with a quote) the quote's
// checks against it, at `at`: nothing, or the verifier's failure text.
std::optional<std::string> verify_collateral(const dcap::QuoteCollateralV3& collateral, std::span<const uint8_t> root_der,
                                             uint64_t at);
std::optional<std::string> verify_quote(std::span<const uint8_t> raw_quote, const dcap::QuoteCollateralV3& collateral,
                                        std::span<const uint8_t> root_der, uint64_t at);

// Timestamps: the token from what an authority returned, re-encoded into the verifier's form,
// and a stamp file judged exactly as `orvelant-verify timestamp FILE --stamp STAMP` judges it.
Read<std::vector<uint8_t>> timestamp_token(std::span<const uint8_t> response);
Expected<tsa::Reencoded, tsa::ReencodeFailure> reencode_token(std::span<const uint8_t> token, std::span<const uint8_t> subject,
                                                              std::span<const std::vector<uint8_t>> offered,
                                                              std::span<const tsa::PinnedAuthority> authorities);
tsa::TimestampReport verify_stamp(std::string_view document, std::string_view stamp,
                                  std::span<const tsa::PinnedAuthority> authorities, uint64_t now);
// Every certificate of a PEM file, or the one certificate of a DER file, as DER.
Read<std::vector<std::vector<uint8_t>>> read_certificates(std::string_view text);
std::string base64(std::span<const uint8_t> bytes);

// A JSON value to write: objects keep their members; the canonical writer orders them.
struct JsonValue;
struct JsonField;
using JsonMembers = std::vector<JsonField>;
using JsonItems = std::vector<JsonValue>;
struct JsonValue {
  std::variant<std::nullptr_t, bool, int64_t, std::string, JsonItems, JsonMembers> value;
};
struct JsonField {
  std::string name;
  JsonValue value;
};
// Canonical JSON text (RFC 8785), which orvelant-verify's strict check accepts as it stands.
Read<std::string> write_json(const JsonValue& value);

// A JSON object's members as text for display: strings as they are, numbers as written,
// nested values flattened to "name.member" and "name[0]" paths.
Read<std::vector<std::pair<std::string, std::string>>> json_leaves(std::string_view text);
// The top-level members of a JSON object: name, and the string value when it is a string.
struct JsonMember {
  std::string name;
  bool object = false;
  std::optional<std::string> text;
};
Read<std::vector<JsonMember>> json_object_members(std::string_view text);
// The value of the top-level member `schema`, when the text is a JSON object that has one.
std::optional<std::string> json_schema(std::string_view text);

}  // namespace orv::prepare::verifier
