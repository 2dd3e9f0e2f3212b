#include "prepare/verifier.h"

#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "core/base64.h"
#include "core/hex.h"
#include "core/text.h"
#include "core/time_text.h"
#include "crypto/x509.h"
#include "dcap/collateral_chain.h"
#include "dcap/pck_extension.h"
#include "dcap/quote.h"
#include "json/canonical.h"
#include "json/document.h"

namespace orv::prepare::verifier {
namespace {

std::string common_name(const X509_NAME* name) {
  const int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
  if (index < 0) return {};
  const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
  unsigned char* utf8 = nullptr;
  const int length = ASN1_STRING_to_UTF8(&utf8, data);
  if (length < 0) return {};
  std::string text(reinterpret_cast<const char*>(utf8), static_cast<size_t>(length));
  OPENSSL_free(utf8);
  return is_valid_utf8(text) ? text : std::string();
}

std::optional<CertFacts> cert_facts(const X509* cert) {
  const std::optional<crypto::Window> window = crypto::certificate_window(cert);
  if (!window) return std::nullopt;
  return CertFacts{common_name(X509_get_subject_name(cert)), common_name(X509_get_issuer_name(cert)), window->not_before,
                   window->not_after};
}

template <size_t N>
std::string hex(const std::array<uint8_t, N>& bytes) {
  return hex_encode(bytes);
}

void add_td_report(std::vector<std::pair<std::string, std::string>>& out, const dcap::TdReport10& r) {
  out = {{"tee_tcb_svn", hex(r.tee_tcb_svn)},
         {"mr_seam", hex(r.mr_seam)},
         {"mr_signer_seam", hex(r.mr_signer_seam)},
         {"seam_attributes", hex(r.seam_attributes)},
         {"td_attributes", hex(r.td_attributes)},
         {"xfam", hex(r.xfam)},
         {"mr_td", hex(r.mr_td)},
         {"mr_config_id", hex(r.mr_config_id)},
         {"mr_owner", hex(r.mr_owner)},
         {"mr_owner_config", hex(r.mr_owner_config)},
         {"rt_mr0", hex(r.rt_mr0)},
         {"rt_mr1", hex(r.rt_mr1)},
         {"rt_mr2", hex(r.rt_mr2)},
         {"rt_mr3", hex(r.rt_mr3)},
         {"report_data", hex(r.report_data)}};
}

Read<PckFacts> pck_facts(const dcap::CertificationData& data) {
  if (data.cert_type != dcap::kCertTypePckChain) {
    return Reason{"the quote carries no PCK certificate chain (certification data type " + decimal(data.cert_type) + ")"};
  }
  const std::string_view pem(reinterpret_cast<const char*>(data.body.data()), data.body.size());
  const Expected<std::vector<std::vector<uint8_t>>, std::string> ders = dcap::split_pem_certificates(pem);
  if (!ders) return Reason{"the quote's PCK chain is not PEM: " + ders.error()};
  if (ders->empty()) return Reason{"the quote's PCK chain holds no certificate"};
  const Expected<crypto::X509Ptr, std::string> leaf = crypto::decode_certificate(ders->front());
  if (!leaf) return Reason{"the quote's PCK certificate is not one DER certificate"};
  const std::optional<CertFacts> cert = cert_facts(leaf->get());
  if (!cert) return Reason{"the quote's PCK certificate has an unreadable validity"};
  const Expected<dcap::PckExtensions, dcap::Failure> ext = dcap::read_pck_extensions(leaf->get());
  if (!ext) return Reason{"the quote's PCK certificate: " + ext.error().text()};
  PckFacts facts;
  facts.certificate = *cert;
  facts.ca = ca_from_common_name(cert->issuer);
  facts.fmspc = hex(ext->fmspc);
  facts.extensions = *ext;
  return facts;
}

// The strict check and the parse, as orvelant-verify runs them before reading a document.
Read<json::Document> strict_document(std::string_view text, std::string_view label) {
  if (Expected<void, std::string> strict = json::strict_check(text); !strict.ok()) {
    return Reason{"the " + std::string(label) + " is not strict JSON: " + strict.error()};
  }
  Expected<json::Document, std::string> document = json::parse(text);
  if (!document) return Reason{"the " + std::string(label) + " is not JSON: " + document.error()};
  return std::move(*document);
}

template <class T>
Read<T> from_parsed(Expected<T, Problem> parsed) {
  if (!parsed) return Reason{std::move(parsed).error().message};
  return std::move(parsed).value();
}

bool write(json::CanonicalWriter& out, const JsonValue& value) {
  return std::visit(
      [&](const auto& v) -> bool {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, std::nullptr_t>) {
          return out.null();
        } else if constexpr (std::is_same_v<V, bool>) {
          return out.boolean(v);
        } else if constexpr (std::is_same_v<V, int64_t>) {
          return out.integer(v);
        } else if constexpr (std::is_same_v<V, std::string>) {
          return out.string(v);
        } else if constexpr (std::is_same_v<V, JsonItems>) {
          if (!out.begin_array()) return false;
          for (const JsonValue& item : v) {
            if (!write(out, item)) return false;
          }
          return out.end_array();
        } else {
          if (!out.begin_object()) return false;
          for (const auto& [name, member] : v) {
            if (!out.key(name) || !write(out, member) || !out.end_object_value()) return false;
          }
          return out.end_object();
        }
      },
      value.value);
}

std::string scalar_text(const json::Value& value) {
  if (value.IsString()) return std::string(value.GetString(), value.GetStringLength());
  if (value.IsBool()) return value.GetBool() ? "true" : "false";
  if (value.IsNull()) return "null";
  if (value.IsUint64()) return decimal(value.GetUint64());
  if (value.IsInt64()) return std::to_string(value.GetInt64());
  return std::to_string(value.GetDouble());
}

void flatten(const json::Value& value, const std::string& path, std::vector<std::pair<std::string, std::string>>& out) {
  if (value.IsObject()) {
    for (auto it = value.MemberBegin(); it != value.MemberEnd(); ++it) {
      const std::string name(it->name.GetString(), it->name.GetStringLength());
      flatten(it->value, path.empty() ? name : path + "." + name, out);
    }
  } else if (value.IsArray()) {
    if (value.Empty()) out.emplace_back(path, "[]");
    for (rapidjson::SizeType i = 0; i < value.Size(); ++i) flatten(value[i], path + "[" + decimal(i) + "]", out);
  } else {
    out.emplace_back(path, scalar_text(value));
  }
}

}  // namespace

std::string_view ca_query_value(CaType ca) { return ca == CaType::Platform ? "platform" : "processor"; }
std::string_view ca_common_name(CaType ca) {
  return ca == CaType::Platform ? "Intel SGX PCK Platform CA" : "Intel SGX PCK Processor CA";
}
std::optional<CaType> ca_from_common_name(std::string_view name) {
  for (CaType ca : {CaType::Platform, CaType::Processor}) {
    if (name == ca_common_name(ca)) return ca;
  }
  return std::nullopt;
}

Read<QuoteFacts> read_quote(std::span<const uint8_t> raw) {
  const Expected<dcap::Quote, dcap::Failure> quote = dcap::decode_quote(raw);
  if (!quote) return Reason{quote.error().text()};
  QuoteFacts facts;
  const dcap::Header& h = quote->header;
  facts.version = h.version;
  facts.attestation_key_type = h.attestation_key_type;
  facts.tee_type = h.tee_type;
  facts.qe_svn = h.qe_svn;
  facts.pce_svn = h.pce_svn;
  facts.qe_vendor_id = hex(h.qe_vendor_id);
  if (const dcap::EnclaveReport* sgx = quote->enclave_report()) {
    facts.report_kind = "SGX enclave report";
    facts.report = {{"mr_enclave", hex(sgx->mr_enclave)},
                    {"mr_signer", hex(sgx->mr_signer)},
                    {"isv_prod_id", decimal(sgx->isv_prod_id)},
                    {"isv_svn", decimal(sgx->isv_svn)},
                    {"report_data", hex(sgx->report_data)}};
  } else {
    facts.td = true;
    facts.report_kind = quote->td_report15() ? "TD report 1.5" : "TD report 1.0";
    add_td_report(facts.report, *quote->td_report10());
    if (const dcap::TdReport15* r15 = quote->td_report15()) facts.report.emplace_back("mr_service_td", hex(r15->mr_service_td));
  }
  facts.certification_type = quote->auth_data.certification_data.cert_type;
  facts.pck = pck_facts(quote->auth_data.certification_data);
  return facts;
}

Read<tdx::LiveKeyReceipt> read_key_receipt(std::string_view text) {
  Read<json::Document> document = strict_document(text, "key receipt");
  if (!document) return std::move(document).error();
  Expected<tdx::LiveKeyReceipt, std::string> receipt = tdx::parse_key_receipt(document->root());
  if (!receipt) return Reason{"live-key receipt does not parse: " + receipt.error()};
  return std::move(receipt).value();
}

Read<tdx::CollateralSnapshot> read_snapshot(std::string_view text) {
  Read<json::Document> document = strict_document(text, "snapshot");
  if (!document) return std::move(document).error();
  return from_parsed(tdx::parse_snapshot(document->root()));
}

Read<tdx::ExpectedTd> read_expected_td(std::string_view text) {
  Read<json::Document> document = strict_document(text, "expected TD");
  if (!document) return std::move(document).error();
  return from_parsed(tdx::parse_expected_td(document->root()));
}

Read<std::vector<uint8_t>> receipt_quote(const tdx::LiveKeyReceipt& receipt) {
  std::optional<std::vector<uint8_t>> quote = hex_decode(receipt.quote_hex);
  if (!quote) return Reason{"quote_hex is not hex"};
  return std::move(*quote);
}

Read<dcap::TcbInfo> read_tcb_info(std::string_view text) {
  Expected<dcap::TcbInfo, std::string> info = dcap::parse_tcb_info(text);
  if (!info) return Reason{info.error()};
  return std::move(*info);
}

Read<dcap::QeIdentity> read_qe_identity(std::string_view text) {
  Expected<dcap::QeIdentity, std::string> identity = dcap::parse_qe_identity(text);
  if (!identity) return Reason{identity.error()};
  return std::move(*identity);
}

Read<int64_t> rfc3339_seconds(std::string_view text) {
  const Expected<DateTime, std::string> time = parse_rfc3339(text);
  if (!time) return Reason{time.error()};
  return time->seconds;
}

bool is_strict_utc_time(std::string_view text) { return orv::is_strict_utc_time(text); }

Read<CrlFacts> read_crl(std::span<const uint8_t> der) {
  const crypto::X509CrlPtr crl = crypto::decode_crl(der);
  if (!crl) return Reason{"not one DER certificate revocation list"};
  CrlFacts facts;
  facts.issuer = common_name(X509_CRL_get_issuer(crl.get()));
  const std::optional<int64_t> this_update = crypto::unix_seconds(X509_CRL_get0_lastUpdate(crl.get()));
  if (!this_update) return Reason{"its thisUpdate cannot be read"};
  facts.this_update = *this_update;
  if (X509_CRL_get0_nextUpdate(crl.get()) != nullptr) {
    facts.next_update = crypto::unix_seconds(X509_CRL_get0_nextUpdate(crl.get()));
    if (!facts.next_update) return Reason{"its nextUpdate cannot be read"};
  }
  const STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl.get());
  facts.revoked = revoked ? static_cast<size_t>(sk_X509_REVOKED_num(revoked)) : 0;
  facts.number = dcap::crl_number(crl.get()).value;
  return facts;
}

Read<std::vector<CertFacts>> read_pem_chain(std::string_view pem) {
  const Expected<std::vector<std::vector<uint8_t>>, std::string> ders = dcap::split_pem_certificates(pem);
  if (!ders) return Reason{ders.error()};
  if (ders->empty()) return Reason{"no PEM certificate"};
  std::vector<CertFacts> out;
  for (const std::vector<uint8_t>& der : *ders) {
    const Expected<crypto::X509Ptr, std::string> cert = crypto::decode_certificate(der);
    std::optional<CertFacts> facts = cert ? cert_facts(cert->get()) : std::nullopt;
    if (!facts) return Reason{"certificate " + decimal(out.size() + 1) + " is not one readable DER certificate"};
    out.push_back(std::move(*facts));
  }
  return out;
}

std::optional<std::string> check_crl_issuer(std::span<const uint8_t> crl_der, std::string_view chain_pem,
                                            std::span<const uint8_t> root_der, std::span<const uint8_t> root_crl_der) {
  const Expected<std::vector<std::vector<uint8_t>>, std::string> ders = dcap::split_pem_certificates(chain_pem);
  if (!ders || ders->empty()) return std::string("the issuer chain holds no PEM certificate");
  const Expected<crypto::X509Ptr, std::string> issuer_cert = crypto::decode_certificate(ders->front());
  const Expected<crypto::X509Ptr, std::string> root_cert = crypto::decode_certificate(root_der);
  const crypto::X509CrlPtr crl = crypto::decode_crl(crl_der);
  const crypto::X509CrlPtr root_crl = crypto::decode_crl(root_crl_der);
  if (!issuer_cert || !root_cert || !crl || !root_crl) return std::string("a certificate or CRL is not one DER object");
  const crypto::X509Ptr& issuer = *issuer_cert;
  const crypto::X509Ptr& root = *root_cert;
  const std::string name = terminal_safe(common_name(X509_get_subject_name(issuer.get())));
  EVP_PKEY* issuer_key = X509_get0_pubkey(issuer.get());
  if (issuer_key == nullptr || X509_CRL_verify(crl.get(), issuer_key) != 1) {
    return "the CRL is not signed by " + name + ", the first certificate of its issuer chain";
  }
  // Intel's root issues the PCK CAs directly.
  EVP_PKEY* root_key = X509_get0_pubkey(root.get());
  if (X509_check_issued(root.get(), issuer.get()) != X509_V_OK || root_key == nullptr ||
      X509_verify(issuer.get(), root_key) != 1) {
    return name + " is not a certificate of Intel's root";
  }
  X509_REVOKED* entry = nullptr;
  if (X509_CRL_get0_by_cert(root_crl.get(), &entry, issuer.get()) == 1) return name + " is revoked by the root CA CRL";
  return std::nullopt;
}

std::optional<std::string> verify_collateral(const dcap::QuoteCollateralV3& collateral, std::span<const uint8_t> root_der,
                                             uint64_t at) {
  const Expected<dcap::VerifiedCollateral, dcap::Failure> verified = dcap::verify_collateral(collateral, root_der, at);
  if (!verified) return verified.error().text();
  return std::nullopt;
}

std::optional<std::string> verify_quote(std::span<const uint8_t> raw_quote, const dcap::QuoteCollateralV3& collateral,
                                        std::span<const uint8_t> root_der, uint64_t at) {
  // Level 2 allows neither debug nor service TDs.
  const Expected<dcap::VerifiedQuote, dcap::Failure> verified =
      dcap::verify_quote(raw_quote, collateral, root_der, at, dcap::VerifyOptions{});
  if (!verified) return verified.error().text();
  return std::nullopt;
}

Read<std::string> write_json(const JsonValue& value) {
  json::CanonicalWriter out;
  write(out, value);
  Expected<std::string, std::string> text = out.finish();
  if (!text) return Reason{text.error()};
  return std::move(*text);
}

Read<std::vector<std::pair<std::string, std::string>>> json_leaves(std::string_view text) {
  Expected<json::Document, std::string> document = json::parse(text);
  if (!document) return Reason{"not JSON: " + document.error()};
  if (!document->root().IsObject()) return Reason{"not a JSON object"};
  std::vector<std::pair<std::string, std::string>> out;
  flatten(document->root(), "", out);
  return out;
}

Read<std::vector<JsonMember>> json_object_members(std::string_view text) {
  Expected<json::Document, std::string> document = json::parse(text);
  if (!document) return Reason{"not JSON: " + document.error()};
  const json::Value& root = document->root();
  if (!root.IsObject()) return Reason{"not a JSON object"};
  std::vector<JsonMember> out;
  for (auto it = root.MemberBegin(); it != root.MemberEnd(); ++it) {
    JsonMember member{std::string(it->name.GetString(), it->name.GetStringLength()), it->value.IsObject(), {}};
    if (it->value.IsString()) member.text = std::string(it->value.GetString(), it->value.GetStringLength());
    out.push_back(std::move(member));
  }
  return out;
}

std::optional<std::string> json_schema(std::string_view text) {
  Read<std::vector<JsonMember>> members = json_object_members(text);
  if (!members) return std::nullopt;
  for (const JsonMember& member : *members) {
    if (member.name == "schema") return member.text;
  }
  return std::nullopt;
}

Read<std::vector<uint8_t>> timestamp_token(std::span<const uint8_t> response) {
  Expected<std::vector<uint8_t>, std::string> token = tsa::token_from_response(response);
  if (!token) return Reason{std::move(token).error()};
  return std::move(token).value();
}

Expected<tsa::Reencoded, tsa::ReencodeFailure> reencode_token(std::span<const uint8_t> token, std::span<const uint8_t> subject,
                                                              std::span<const std::vector<uint8_t>> offered,
                                                              std::span<const tsa::PinnedAuthority> authorities) {
  return tsa::reencode_token(token, subject, offered, authorities);
}

tsa::TimestampReport verify_stamp(std::string_view document, std::string_view stamp,
                                  std::span<const tsa::PinnedAuthority> authorities, uint64_t now) {
  return tsa::verify_stamp_file(document, stamp, authorities, now);
}

Read<std::vector<std::vector<uint8_t>>> read_certificates(std::string_view text) {
  if (text.find("-----BEGIN") == std::string_view::npos) {
    if (!crypto::decode_certificate(as_bytes(text))) return Reason{"neither PEM nor one DER certificate"};
    return std::vector<std::vector<uint8_t>>{std::vector<uint8_t>(text.begin(), text.end())};
  }
  Expected<std::vector<std::vector<uint8_t>>, std::string> ders = dcap::split_pem_certificates(text);
  if (!ders) return Reason{ders.error()};
  if (ders->empty()) return Reason{"no PEM certificate"};
  for (size_t i = 0; i < ders->size(); ++i) {
    if (!crypto::decode_certificate((*ders)[i])) return Reason{"certificate " + decimal(i + 1) + " is not one DER certificate"};
  }
  return std::move(ders).value();
}

std::string base64(std::span<const uint8_t> bytes) { return base64_encode(bytes); }

}  // namespace orv::prepare::verifier
