#include "dcap/verify.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "core/byte_reader.h"
#include "core/hex.h"
#include "core/text.h"
#include "core/time_text.h"
#include "crypto/digest.h"
#include "crypto/ecdsa_p256.h"
#include "dcap/collateral_chain.h"

namespace orv::dcap {

// A PCK chain validated against this collateral, remembered by its exact text so that the
// quotes of one platform pay for its path validation once.
struct PckChain {
  std::string text;
  X509Ptr leaf;
  std::optional<crypto::P256PublicKey> leaf_key;
  Expected<PckExtensions, Failure> extensions = failure(Malformed, "Intel extension not found");
  int64_t earliest_not_after = 0;
};

// The last quote judged against this collateral, remembered by its exact bytes and options so
// that judging one quote against several expectations verifies its signatures once.
struct RememberedQuote {
  std::vector<uint8_t> raw;
  VerifyOptions options;
  Expected<VerifiedQuote, Failure> result;
};

struct CollateralState {
  TrustAnchor anchor;
  uint64_t now = 0;
  TcbInfo tcb_info;
  QeIdentity qe_identity;
  CollateralTimes times;
  std::optional<std::string> pck_certificate_chain;
  std::vector<std::shared_ptr<const PckChain>> pck_chains;  // most recent last
  std::optional<RememberedQuote> last_quote;
};

namespace {

constexpr size_t kRememberedPckChains = 8;
// Hex text of a CRL: a DER CRL of at most kMaxDataLength bytes.
constexpr size_t kMaxCrlHexChars = 2 * static_cast<size_t>(kMaxDataLength);

bool before(uint64_t now, int64_t when) { return when > 0 && now < static_cast<uint64_t>(when); }
bool after(uint64_t now, int64_t when) { return when < 0 || now > static_cast<uint64_t>(when); }

std::string upper_hex32(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%08X", value);
  return buffer;
}

uint32_t big_endian32(const std::array<uint8_t, 4>& bytes) {
  uint32_t value = 0;
  ByteReader reader(bytes);
  return reader.read_u32be(value) ? value : 0;
}

// The pinned root and both CRLs.
Expected<TrustAnchor, Failure> load_anchor(const QuoteCollateralV3& collateral, std::span<const uint8_t> root_der, uint64_t now) {
  Expected<X509Ptr, std::string> root = crypto::decode_certificate(root_der);
  if (!root) return failure(Malformed, "Failed to load root ca");
  const auto load_crl = [](const std::string& hex, const char* name) -> Expected<X509CrlPtr, Failure> {
    if (hex.size() > kMaxCrlHexChars) {
      return failure(Malformed, "Failed to parse CRL",
                     std::string(name) + " is larger than " + decimal(kMaxDataLength) + " bytes");
    }
    const std::optional<std::vector<uint8_t>> der = hex_decode(hex);
    if (!der) return failure(Malformed, "Failed to parse CRL", std::string(name) + " is not hex");
    X509CrlPtr crl = crypto::decode_crl(*der);
    if (!crl) return failure(Malformed, "Failed to parse CRL", std::string(name) + " is not one DER CRL");
    return crl;
  };
  Expected<X509CrlPtr, Failure> root_ca_crl = load_crl(collateral.root_ca_crl, "root_ca_crl");
  if (!root_ca_crl) return std::move(root_ca_crl).error();
  Expected<X509CrlPtr, Failure> pck_crl = load_crl(collateral.pck_crl, "pck_crl");
  if (!pck_crl) return std::move(pck_crl).error();
  std::optional<TrustAnchor> anchor =
      TrustAnchor::create(std::move(root).value(), std::move(*root_ca_crl), std::move(*pck_crl), now);
  if (!anchor) return failure(Internal, "Failed to load root ca", "out of memory");
  return std::move(*anchor);
}

// The words of one signed document's checks.
struct DocumentWords {
  const char* decode;             // "Failed to decode TcbInfo"
  const char* issue_unparsed;     // "Failed to parse TCB Info issue date"
  const char* next_unparsed;      // "Failed to parse TCB Info next update"
  const char* issue_future;       // "TCBInfo issue date is in the future"
  const char* expired;            // "TCBInfo expired"
  const char* chain_too_short;    // "Certificate chain is too short for TCB Info"
  const char* leaf_unparsed;      // "Failed to parse TCB Info leaf certificate"
  const char* signature_invalid;  // "Signature is invalid for tcb_info in quote_collateral"
  const char* issue_claim;        // "TCBInfo issueDate"
  const char* next_claim;         // "TCBInfo nextUpdate"
};

constexpr DocumentWords kTcbInfoWords = {
    "Failed to decode TcbInfo",
    "Failed to parse TCB Info issue date",
    "Failed to parse TCB Info next update",
    "TCBInfo issue date is in the future",
    "TCBInfo expired",
    "Certificate chain is too short for TCB Info",
    "Failed to parse TCB Info leaf certificate",
    "Signature is invalid for tcb_info in quote_collateral",
    "TCBInfo issueDate",
    "TCBInfo nextUpdate",
};

constexpr DocumentWords kQeIdentityWords = {
    "Failed to decode QeIdentity",
    "Failed to parse QE Identity issue date",
    "Failed to parse QE Identity next update",
    "QE Identity issue date is in the future",
    "QE Identity expired",
    "Certificate chain is too short for QE Identity",
    "Failed to parse QE Identity leaf certificate",
    "Signature is invalid for qe_identity in quote_collateral",
    "QEIdentity issueDate",
    "QEIdentity nextUpdate",
};

struct DocumentDates {
  int64_t issue = 0;
  int64_t next = 0;
  int64_t earliest_not_after = std::numeric_limits<int64_t>::max();
};

// The parsed chain: the leaf and the certificates that may complete its path.
struct ParsedChain {
  X509Ptr leaf;
  std::vector<X509Ptr> intermediates;
};

// Parses the leaf with its own message and the rest as path candidates; an intermediate that
// is not one DER certificate fails the path like any other bad certificate.
Expected<ParsedChain, Failure> parse_chain(const std::vector<std::vector<uint8_t>>& ders, const char* leaf_message) {
  ParsedChain chain;
  Expected<X509Ptr, std::string> leaf = crypto::decode_certificate(ders.front());
  if (!leaf) return failure(Malformed, leaf_message);
  chain.leaf = std::move(leaf).value();
  for (size_t i = 1; i < ders.size(); ++i) {
    Expected<X509Ptr, std::string> cert = crypto::decode_certificate(ders[i]);
    if (!cert)
      return failure(Malformed, "Failed to verify certificate chain", "BadDer (certificate " + decimal(i) + " of the chain)");
    chain.intermediates.push_back(std::move(cert).value());
  }
  return chain;
}

Expected<void, Failure> lower_to_windows(const ParsedChain& chain, int64_t& earliest) {
  const auto take = [&](const X509* cert) -> bool {
    const std::optional<crypto::Window> window = crypto::certificate_window(cert);
    if (!window) return false;
    earliest = std::min(earliest, window->not_after);
    return true;
  };
  if (!take(chain.leaf.get())) return failure(Malformed, "Failed to parse certificate for time window");
  for (const X509Ptr& cert : chain.intermediates) {
    if (!take(cert.get())) return failure(Malformed, "Failed to parse certificate for time window");
  }
  return {};
}

// Dates, issuer chain and signature of one signed document (steps 4 and 5).
Expected<DocumentDates, Failure> check_document(const TrustAnchor& anchor, const DocumentWords& words, std::string_view text,
                                                const std::string& issue_date, const std::string& next_update,
                                                const std::string& issuer_chain, const std::string& signature_hex) {
  const uint64_t now = anchor.now();
  const Expected<DateTime, std::string> issue = parse_rfc3339(issue_date);
  if (!issue) return failure(Malformed, words.issue_unparsed, issue.error());
  const Expected<DateTime, std::string> next = parse_rfc3339(next_update);
  if (!next) return failure(Malformed, words.next_unparsed, next.error());
  // Whole-second evaluation times against dates that may carry fractions: the issue date counts
  // from the first whole second not before it, the next update until its own second ends.
  if (before(now, issue->ceil_seconds())) return failure(NotYetValid, words.issue_future);
  if (after(now, next->seconds)) return failure(Expired, words.expired);

  if (issuer_chain.size() > kMaxDataLength) {
    return failure(Malformed, "Failed to parse certs", "chain is larger than " + decimal(kMaxDataLength) + " bytes");
  }
  const Expected<std::vector<std::vector<uint8_t>>, std::string> ders = split_pem_certificates(issuer_chain);
  if (!ders) return failure(Malformed, "Failed to parse certs", ders.error());
  if (ders->empty()) return failure(Malformed, words.chain_too_short);
  Expected<ParsedChain, Failure> chain = parse_chain(*ders, words.leaf_unparsed);
  if (!chain) return std::move(chain).error();
  if (auto valid = anchor.validate(chain->leaf.get(), chain->intermediates); !valid.ok()) return std::move(valid).error();
  // Every PCK certificate also chains to the root; a platform's key must never vouch for the
  // documents that judge platforms.
  if (has_sgx_extension(chain->leaf.get())) {
    return failure(Untrusted, "Failed to verify certificate chain",
                   "SignerIsPckCertificate (a platform's PCK certificate cannot sign collateral)");
  }

  // Signed as the exact bytes of the document text; nothing is re-serialised.
  const std::optional<std::vector<uint8_t>> signature = hex_decode(signature_hex);
  const std::optional<crypto::P256PublicKey> key = crypto::P256PublicKey::from_pkey(X509_get0_pubkey(chain->leaf.get()));
  if (!signature || signature->size() != crypto::kP256SignatureBytes || !key || !key->verify(as_bytes(text), *signature)) {
    return failure(BadSignature, words.signature_invalid);
  }

  DocumentDates dates;
  dates.issue = issue->seconds;
  dates.next = next->seconds;
  if (auto bad = lower_to_windows(*chain, dates.earliest_not_after); !bad.ok()) return std::move(bad).error();
  return dates;
}

// The claim values shown in reports are times since the epoch; an earlier date has none.
Expected<void, Failure> claim_time(int64_t seconds, const char* name) {
  if (seconds < 0) {
    return failure(Malformed, "Failed to parse RFC3339 datetime: " + std::string(name), "RFC3339 datetime is before Unix epoch");
  }
  return {};
}

// The TCB info and the QE identity (dates, issuer chains, signatures), then the collateral's
// time values.
Expected<std::shared_ptr<CollateralState>, Failure> check_documents(TrustAnchor anchor, const QuoteCollateralV3& collateral) {
  auto state = std::make_shared<CollateralState>(CollateralState{std::move(anchor), 0, {}, {}, {}, {}, {}, std::nullopt});
  state->now = state->anchor.now();
  state->pck_certificate_chain = collateral.pck_certificate_chain;

  Expected<TcbInfo, std::string> tcb_info = parse_tcb_info(collateral.tcb_info);
  if (!tcb_info) return failure(Malformed, kTcbInfoWords.decode, tcb_info.error());
  state->tcb_info = std::move(*tcb_info);
  Expected<DocumentDates, Failure> tcb_dates =
      check_document(state->anchor, kTcbInfoWords, collateral.tcb_info, state->tcb_info.issue_date, state->tcb_info.next_update,
                     collateral.tcb_info_issuer_chain, collateral.tcb_info_signature);
  if (!tcb_dates) return std::move(tcb_dates).error();

  Expected<QeIdentity, std::string> qe_identity = parse_qe_identity(collateral.qe_identity);
  if (!qe_identity) return failure(Malformed, kQeIdentityWords.decode, qe_identity.error());
  state->qe_identity = std::move(*qe_identity);
  Expected<DocumentDates, Failure> qe_dates =
      check_document(state->anchor, kQeIdentityWords, collateral.qe_identity, state->qe_identity.issue_date,
                     state->qe_identity.next_update, collateral.qe_identity_issuer_chain, collateral.qe_identity_signature);
  if (!qe_dates) return std::move(qe_dates).error();

  CollateralTimes& times = state->times;
  times.tcb_info_issue_date = tcb_dates->issue;
  times.tcb_info_next_update = tcb_dates->next;
  times.qe_identity_issue_date = qe_dates->issue;
  times.qe_identity_next_update = qe_dates->next;
  if (auto bad = claim_time(times.tcb_info_issue_date, kTcbInfoWords.issue_claim); !bad.ok()) return std::move(bad).error();
  if (auto bad = claim_time(times.tcb_info_next_update, kTcbInfoWords.next_claim); !bad.ok()) return std::move(bad).error();
  if (auto bad = claim_time(times.qe_identity_issue_date, kQeIdentityWords.issue_claim); !bad.ok()) return std::move(bad).error();
  if (auto bad = claim_time(times.qe_identity_next_update, kQeIdentityWords.next_claim); !bad.ok()) return std::move(bad).error();

  const std::optional<crypto::Window> root_crl = crypto::crl_window(state->anchor.root_ca_crl());
  const std::optional<crypto::Window> pck_crl = crypto::crl_window(state->anchor.pck_crl());
  if (!root_crl || !pck_crl) return failure(Malformed, "Failed to parse CRL for time window");
  times.root_ca_crl_this_update = root_crl->not_before;
  times.root_ca_crl_next_update = root_crl->not_after;
  times.pck_crl_this_update = pck_crl->not_before;
  times.pck_crl_next_update = pck_crl->not_after;
  const CrlNumber root_number = crl_number(state->anchor.root_ca_crl());
  if (!root_number.value) {
    return failure(Malformed, root_number.error == CrlNumberError::TooLarge ? "CRL number too large for u32"
                                                                            : "Failed to extract root CA CRL number");
  }
  const CrlNumber pck_number = crl_number(state->anchor.pck_crl());
  if (!pck_number.value) {
    return failure(Malformed, pck_number.error == CrlNumberError::TooLarge ? "CRL number too large for u32"
                                                                           : "Failed to extract PCK CRL number");
  }
  times.root_ca_crl_number = *root_number.value;
  times.pck_crl_number = *pck_number.value;
  const std::optional<crypto::Window> root = crypto::certificate_window(state->anchor.root());
  if (!root) return failure(Malformed, "Failed to parse root CA certificate");
  times.root_not_before = root->not_before;
  times.root_not_after = root->not_after;
  times.earliest_expiration =
      std::min({times.tcb_info_next_update, times.qe_identity_next_update, times.root_ca_crl_next_update,
                times.pck_crl_next_update, times.root_not_after, tcb_dates->earliest_not_after, qe_dates->earliest_not_after});
  return state;
}

Expected<Quote, Failure> decode_and_accept_header(std::span<const uint8_t> raw) {
  Expected<Quote, Failure> quote = decode_quote(raw);
  if (!quote) return quote;
  if (auto bad = check_header(quote->header); !bad.ok()) return std::move(bad).error();
  return quote;
}

// The QE identity must be the kind that serves the quote's TEE.
Expected<void, Failure> check_qe_identity_kind(const Quote& quote, const QeIdentity& identity) {
  const bool td = quote.header.tee_type == kTeeTypeTdx;
  const char* expected_id = td ? "TD_QE" : "QE";
  const bool version_ok = td ? (identity.version == 2 || identity.version == 3) : identity.version == 2;
  if (identity.id == expected_id && version_ok) return {};
  return failure(Mismatch, "Unsupported QE Identity id/version for the quote TEE type: " + identity.id + " version " +
                               decimal(identity.version) + " (expected " + expected_id + " version " + (td ? "2 or 3" : "2") +
                               ")");
}

// The PCK chain from the collateral, else from the quote's certification data, validated to
// the pinned root with both CRLs once and remembered.
Expected<std::shared_ptr<const PckChain>, Failure> pck_chain(const Quote& quote, CollateralState& state) {
  std::string_view text;
  const char* extract_message = nullptr;
  if (state.pck_certificate_chain) {
    text = *state.pck_certificate_chain;
    extract_message = "Failed to extract PCK certificates from collateral";
  } else {
    const CertificationData& data = quote.auth_data.certification_data;
    if (data.cert_type != kCertTypePckChain) {
      return failure(Unsupported, "Unsupported DCAP PCK cert format: " + decimal(data.cert_type) +
                                      ". Use get_collateral() to fetch PCK certificate.");
    }
    text = {reinterpret_cast<const char*>(data.body.data()), data.body.size()};
    extract_message = "Failed to extract PCK certificates from quote";
  }
  for (const std::shared_ptr<const PckChain>& known : state.pck_chains) {
    if (known->text == text) return known;
  }

  if (text.size() > kMaxDataLength) {
    return failure(Malformed, extract_message, "chain is larger than " + decimal(kMaxDataLength) + " bytes");
  }
  const Expected<std::vector<std::vector<uint8_t>>, std::string> ders = split_pem_certificates(text);
  if (!ders) return failure(Malformed, extract_message, ders.error());
  if (ders->empty()) return failure(Malformed, "Certificate chain is too short in quote");
  Expected<ParsedChain, Failure> chain = parse_chain(*ders, "Failed to parse PCK certificate");
  if (!chain) return std::move(chain).error();
  if (auto valid = state.anchor.validate(chain->leaf.get(), chain->intermediates); !valid.ok()) {
    return std::move(valid).error();
  }
  auto entry = std::make_shared<PckChain>();
  entry->text = std::string(text);
  entry->earliest_not_after = std::numeric_limits<int64_t>::max();
  if (auto bad = lower_to_windows(*chain, entry->earliest_not_after); !bad.ok()) return std::move(bad).error();
  entry->leaf_key = crypto::P256PublicKey::from_pkey(X509_get0_pubkey(chain->leaf.get()));
  entry->extensions = read_pck_extensions(chain->leaf.get());
  entry->leaf = std::move(chain->leaf);
  if (state.pck_chains.size() == kRememberedPckChains) state.pck_chains.erase(state.pck_chains.begin());
  state.pck_chains.push_back(entry);
  return std::shared_ptr<const PckChain>(std::move(entry));
}

// The QE report, signed by the PCK key, must come from the quoting enclave the QE
// identity describes and must bind the attestation key.
Expected<QeTcbLevel, Failure> check_qe_report(const Quote& quote, const PckChain& chain, const QeIdentity& identity) {
  const AuthData& auth = quote.auth_data;
  if (!chain.leaf_key || !chain.leaf_key->verify(auth.qe_report, auth.qe_report_signature)) {
    return failure(BadSignature, "Signature is invalid for qe_report in quote");
  }
  Expected<EnclaveReport, Failure> decoded = decode_enclave_report(auth.qe_report);
  if (!decoded) return wrap("Failed to decode QE report", std::move(decoded).error());
  const EnclaveReport& report = *decoded;

  if (auth.qe_auth_data.size() != 32) return failure(Malformed, "Invalid QE auth data length");
  std::array<uint8_t, 64 + 32> bound{};
  std::copy(auth.ecdsa_attestation_key.begin(), auth.ecdsa_attestation_key.end(), bound.begin());
  std::copy(auth.qe_auth_data.begin(), auth.qe_auth_data.end(), bound.begin() + 64);
  const std::array<uint8_t, 32> digest = crypto::sha256(bound);
  if (!std::equal(digest.begin(), digest.end(), report.report_data.begin())) return failure(Mismatch, "QE report hash mismatch");

  if (report.mr_signer != identity.mrsigner) {
    return failure(Mismatch,
                   "QE MRSIGNER mismatch: expected " + hex_encode(identity.mrsigner) + ", got " + hex_encode(report.mr_signer));
  }
  if ((report.attributes[0] & 0x02) != 0) return failure(NotAccepted, "QE report validation failed", "Debug mode is enabled");
  if (report.isv_prod_id != identity.isvprodid) {
    return failure(Mismatch,
                   "QE ISVPRODID mismatch: expected " + decimal(identity.isvprodid) + ", got " + decimal(report.isv_prod_id));
  }
  const uint32_t mask = big_endian32(identity.miscselect_mask);
  const uint32_t expected_misc = big_endian32(identity.miscselect) & mask;
  if ((report.misc_select & mask) != expected_misc) {
    return failure(Mismatch, "QE MISCSELECT mismatch: expected " + upper_hex32(expected_misc) + " (masked), got " +
                                 upper_hex32(report.misc_select & mask) + " (masked)");
  }
  for (size_t i = 0; i < report.attributes.size(); ++i) {
    const uint8_t byte_mask = identity.attributes_mask[i];
    if ((report.attributes[i] & byte_mask) != (identity.attributes[i] & byte_mask)) {
      return failure(Mismatch, "QE ATTRIBUTES mismatch at byte " + decimal(i) + ": expected " +
                                   hex_byte(identity.attributes[i] & byte_mask) + " (masked), got " +
                                   hex_byte(report.attributes[i] & byte_mask) + " (masked)");
    }
  }
  if (identity.tcb_levels.empty()) return failure(Malformed, "No TCB levels found in QE Identity");
  for (const QeTcbLevel& level : identity.tcb_levels) {
    if (level.isvsvn <= report.isv_svn) return level;
  }
  return failure(Mismatch, "QE ISVSVN " + decimal(report.isv_svn) + " is below minimum required " +
                               decimal(identity.tcb_levels.back().isvsvn) + " from QE Identity");
}

// The attestation key signs the header, the body descriptor and the report.
Expected<void, Failure> check_quote_signature(const Quote& quote, std::span<const uint8_t> raw) {
  Expected<std::span<const uint8_t>, Failure> scope = signed_scope(quote, raw);
  if (!scope) return std::move(scope).error();
  const std::optional<crypto::P256PublicKey> key = crypto::P256PublicKey::from_point(quote.auth_data.ecdsa_attestation_key);
  if (!key || !key->verify(*scope, quote.auth_data.ecdsa_signature)) {
    return failure(BadSignature, "ISV enclave report signature is invalid");
  }
  return {};
}

// The TCB info must describe this platform and this kind of TEE.
Expected<void, Failure> check_tcb_info_kind(const Quote& quote, const TcbInfo& info, const PckExtensions& pck) {
  const std::optional<std::vector<uint8_t>> fmspc = hex_decode(info.fmspc);
  if (!fmspc) return failure(Malformed, "Failed to decode TCB FMSPC");
  if (!std::equal(fmspc->begin(), fmspc->end(), pck.fmspc.begin(), pck.fmspc.end())) return failure(Mismatch, "Fmspc mismatch");
  if (quote.header.tee_type == kTeeTypeTdx) {
    if (info.version < 3 || info.id != "TDX") return failure(Mismatch, "TDX quote with non-TDX TCB info in the collateral");
  } else if (info.version < 2 || info.id != "SGX") {
    return failure(Mismatch, "SGX quote with non-SGX TCB info in the collateral");
  }
  return {};
}

Expected<VerifiedQuote, Failure> check_quote(Quote quote, std::span<const uint8_t> raw, CollateralState& state,
                                             VerifyOptions options) {
  if (auto bad = check_qe_identity_kind(quote, state.qe_identity); !bad.ok()) return std::move(bad).error();
  Expected<std::shared_ptr<const PckChain>, Failure> chain = pck_chain(quote, state);
  if (!chain) return std::move(chain).error();
  Expected<QeTcbLevel, Failure> qe_level = check_qe_report(quote, **chain, state.qe_identity);
  if (!qe_level) return std::move(qe_level).error();
  if (auto bad = check_quote_signature(quote, raw); !bad.ok()) return std::move(bad).error();
  if (!(*chain)->extensions) return (*chain)->extensions.error();
  const PckExtensions& pck = *(*chain)->extensions;
  if (auto bad = check_tcb_info_kind(quote, state.tcb_info, pck); !bad.ok()) return std::move(bad).error();

  // TCB evaluation, then the report checks.
  Expected<const TcbLevel*, Failure> platform = match_platform_tcb_level(state.tcb_info, pck.cpusvn, pck.pcesvn, quote);
  if (!platform) return std::move(platform).error();
  std::optional<ModuleLevel> module;
  if (quote.header.tee_type == kTeeTypeTdx && state.tcb_info.id == "TDX" && state.tcb_info.version >= 3) {
    Expected<std::optional<ModuleLevel>, Failure> checked = check_tdx_module(quote, state.tcb_info);
    if (!checked) return std::move(checked).error();
    module = std::move(*checked);
  }
  VerifiedQuote out;
  out.platform_tcb_level = **platform;
  out.module_tcb_level = module;
  out.qe_tcb_level = std::move(*qe_level);
  TcbStatus platform_status = out.platform_tcb_level.tcb_status;
  out.advisory_ids = out.platform_tcb_level.advisory_ids;
  if (module) {
    platform_status = merge_tcb_status(platform_status, module->status);
    for (const std::string& id : module->advisory_ids) {
      if (std::find(out.advisory_ids.begin(), out.advisory_ids.end(), id) == out.advisory_ids.end()) {
        out.advisory_ids.push_back(id);
      }
    }
  }
  out.tcb_status = merge_tcb_status(platform_status, out.qe_tcb_level.tcb_status);
  if (out.tcb_status == TcbStatus::Revoked) return failure(Revoked, "TCB status is invalid: Revoked");
  const Expected<DateTime, std::string> tcb_date = parse_rfc3339(out.platform_tcb_level.tcb_date);
  if (!tcb_date) return failure(Malformed, "Failed to parse platform TCB date", tcb_date.error());
  if (tcb_date->seconds < 0)
    return failure(Malformed, "Failed to parse platform TCB date", "RFC3339 datetime is before Unix epoch");
  if (auto bad = check_report(quote, options.debug_allowed, options.service_td_allowed); !bad.ok()) return std::move(bad).error();

  out.pck = pck;
  out.tcb_evaluation_data_number =
      std::min(state.tcb_info.tcb_evaluation_data_number, state.qe_identity.tcb_evaluation_data_number);
  // Everything here was valid at the evaluation time, so the minimum is not before it.
  const int64_t earliest = std::min(state.times.earliest_expiration, (*chain)->earliest_not_after);
  out.earliest_expiration = earliest < 0 ? 0 : static_cast<uint64_t>(earliest);

  Supplemental& s = out.supplemental;
  s.final_status = out.tcb_status;
  s.platform_status = platform_status;
  s.qe_status = out.qe_tcb_level.tcb_status;
  s.earliest_expiration = out.earliest_expiration;
  s.tcb_date_tag = static_cast<uint64_t>(tcb_date->seconds);
  s.qe_tcb_date = out.qe_tcb_level.tcb_date;
  s.tcb_evaluation_data_number = out.tcb_evaluation_data_number;
  s.platform_advisory_ids = out.advisory_ids;
  s.qe_advisory_ids = out.qe_tcb_level.advisory_ids;
  s.sgx_type = pck.sgx_type;
  s.dynamic_platform = pck.dynamic_platform;
  s.cached_keys = pck.cached_keys;
  s.smt_enabled = pck.smt_enabled;
  out.quote = std::move(quote);
  return out;
}

Expected<VerifiedQuote, Failure> accept(Expected<VerifiedQuote, Failure> verified, const AcceptancePolicy& policy, uint64_t now) {
  if (!verified) return verified;
  if (auto refused = apply_policy(policy, verified->supplemental, now); !refused.ok()) return std::move(refused).error();
  return verified;
}

}  // namespace

uint64_t VerifiedCollateral::evaluated_at() const { return state_->now; }
const TcbInfo& VerifiedCollateral::tcb_info() const { return state_->tcb_info; }
const QeIdentity& VerifiedCollateral::qe_identity() const { return state_->qe_identity; }
const CollateralTimes& VerifiedCollateral::times() const { return state_->times; }

Expected<VerifiedCollateral, Failure> verify_collateral(const QuoteCollateralV3& collateral, std::span<const uint8_t> root_der,
                                                        uint64_t now) {
  Expected<TrustAnchor, Failure> anchor = load_anchor(collateral, root_der, now);
  if (!anchor) return std::move(anchor).error();
  Expected<std::shared_ptr<CollateralState>, Failure> state = check_documents(std::move(*anchor), collateral);
  if (!state) return std::move(state).error();
  return VerifiedCollateral(std::move(*state));
}

Expected<VerifiedQuote, Failure> verify_quote(std::span<const uint8_t> raw_quote, const VerifiedCollateral& collateral,
                                              VerifyOptions options) {
  CollateralState& state = collateral.state();
  const std::optional<RememberedQuote>& last = state.last_quote;
  if (last && std::ranges::equal(last->raw, raw_quote) && last->options.debug_allowed == options.debug_allowed &&
      last->options.service_td_allowed == options.service_td_allowed) {
    return last->result;
  }
  Expected<Quote, Failure> quote = decode_and_accept_header(raw_quote);
  Expected<VerifiedQuote, Failure> result =
      quote ? check_quote(std::move(*quote), raw_quote, state, options) : std::move(quote).error();
  state.last_quote = RememberedQuote{{raw_quote.begin(), raw_quote.end()}, options, result};
  return result;
}

Expected<VerifiedQuote, Failure> verify_quote(std::span<const uint8_t> raw_quote, const QuoteCollateralV3& collateral,
                                              std::span<const uint8_t> root_der, uint64_t now, VerifyOptions options) {
  Expected<TrustAnchor, Failure> anchor = load_anchor(collateral, root_der, now);
  if (!anchor) return std::move(anchor).error();
  Expected<Quote, Failure> quote = decode_and_accept_header(raw_quote);
  if (!quote) return std::move(quote).error();
  Expected<std::shared_ptr<CollateralState>, Failure> state = check_documents(std::move(*anchor), collateral);
  if (!state) return std::move(state).error();
  return check_quote(std::move(*quote), raw_quote, **state, options);
}

Expected<VerifiedQuote, Failure> verify_and_accept(std::span<const uint8_t> raw_quote, const VerifiedCollateral& collateral,
                                                   const AcceptancePolicy& policy, VerifyOptions options) {
  return accept(verify_quote(raw_quote, collateral, options), policy, collateral.evaluated_at());
}

Expected<VerifiedQuote, Failure> verify_and_accept(std::span<const uint8_t> raw_quote, const QuoteCollateralV3& collateral,
                                                   std::span<const uint8_t> root_der, uint64_t now,
                                                   const AcceptancePolicy& policy, VerifyOptions options) {
  return accept(verify_quote(raw_quote, collateral, root_der, now, options), policy, now);
}

}  // namespace orv::dcap
