#include "support/intel_pki.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include "core/hex.h"
#include "core/text.h"
#include "core/time_text.h"
#include "crypto/digest.h"

namespace orv::test {
namespace {

using crypto::OpenSslPtr;
using BioPtr = OpenSslPtr<BIO, BIO_free_all>;
using Asn1TimePtr = OpenSslPtr<ASN1_TIME, ASN1_TIME_free>;
using Asn1IntegerPtr = OpenSslPtr<ASN1_INTEGER, ASN1_INTEGER_free>;
using Asn1OctetsPtr = OpenSslPtr<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;
using Asn1ObjectPtr = OpenSslPtr<ASN1_OBJECT, ASN1_OBJECT_free>;
using ExtensionPtr = OpenSslPtr<X509_EXTENSION, X509_EXTENSION_free>;
using RevokedPtr = OpenSslPtr<X509_REVOKED, X509_REVOKED_free>;

// Test support fails loudly: a fixture that cannot be built is a broken test, not a pass.
void require(bool ok, const char* what) {
  if (!ok) {
    ADD_FAILURE() << "test PKI: " << what << " failed";
    throw std::runtime_error(what);
  }
}

void append(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

void put_u16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

template <size_t N>
void put(std::vector<uint8_t>& out, const std::array<uint8_t, N>& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

void add_extension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
  ExtensionPtr ext(X509V3_EXT_conf_nid(nullptr, ctx, nid, value));
  require(ext != nullptr && X509_add_ext(cert, ext.get(), -1) == 1, "certificate extension");
}

void add_raw_extension(X509* cert, std::string_view oid, std::span<const uint8_t> value) {
  Asn1ObjectPtr object(OBJ_txt2obj(std::string(oid).c_str(), 1));
  Asn1OctetsPtr octets(ASN1_OCTET_STRING_new());
  require(object && octets && ASN1_OCTET_STRING_set(octets.get(), value.data(), static_cast<int>(value.size())) == 1,
          "raw extension value");
  ExtensionPtr ext(X509_EXTENSION_create_by_OBJ(nullptr, object.get(), 0, octets.get()));
  require(ext != nullptr && X509_add_ext(cert, ext.get(), -1) == 1, "raw extension");
}

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string components(const std::vector<uint8_t>& svns) {
  std::string out = "[";
  for (size_t i = 0; i < svns.size(); ++i) {
    if (i > 0) out += ",";
    out += "{\"svn\":" + decimal(svns[i]) + (i == 0 ? ",\"category\":\"BIOS\",\"type\":\"Early Microcode Update\"" : "") + "}";
  }
  return out + "]";
}

std::string advisories(const std::optional<std::vector<std::string>>& ids) {
  if (!ids) return "";
  std::string out = ",\"advisoryIDs\":[";
  for (size_t i = 0; i < ids->size(); ++i) out += (i > 0 ? "," : "") + json_string((*ids)[i]);
  return out + "]";
}

std::string isv_levels(const std::vector<IsvLevelDraft>& levels) {
  std::string out = "[";
  for (size_t i = 0; i < levels.size(); ++i) {
    const IsvLevelDraft& level = levels[i];
    out += (i > 0 ? "," : "") + std::string("{\"tcb\":{\"isvsvn\":") + decimal(level.isvsvn) +
           "},\"tcbDate\":" + json_string(level.date) + ",\"tcbStatus\":" + json_string(level.status) +
           advisories(level.advisories) + "}";
  }
  return out + "]";
}

std::string module_members(const ModuleDraft& module) {
  return "\"mrsigner\":" + json_string(module.mrsigner) + ",\"attributes\":" + json_string(module.attributes) +
         ",\"attributesMask\":" + json_string(module.mask);
}

}  // namespace

std::string certificate_pem(const X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  require(bio && PEM_write_bio_X509(bio.get(), cert) == 1, "PEM writing");
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

std::vector<uint8_t> certificate_der(const X509* cert) {
  const int length = i2d_X509(cert, nullptr);
  require(length > 0, "DER writing");
  std::vector<uint8_t> out(static_cast<size_t>(length));
  unsigned char* cursor = out.data();
  i2d_X509(cert, &cursor);
  return out;
}

std::string date_text(int64_t unix_seconds) { return utc_time_text(static_cast<uint64_t>(unix_seconds)); }

std::vector<uint8_t> der(uint8_t tag, std::span<const uint8_t> content) {
  std::vector<uint8_t> out{tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else if (n < 0x100) {
    out.push_back(0x81);
    out.push_back(static_cast<uint8_t>(n));
  } else {
    out.push_back(0x82);
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.push_back(static_cast<uint8_t>(n));
  }
  append(out, content);
  return out;
}

std::vector<uint8_t> der_oid(std::string_view dotted) {
  std::vector<uint64_t> arcs;
  size_t start = 0;
  while (start <= dotted.size()) {
    const size_t dot = dotted.find('.', start);
    const std::string part(dotted.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    arcs.push_back(std::stoull(part));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  std::vector<uint8_t> content;
  const auto base128 = [&](uint64_t value) {
    std::vector<uint8_t> groups{static_cast<uint8_t>(value & 0x7F)};
    for (value >>= 7; value != 0; value >>= 7) groups.insert(groups.begin(), static_cast<uint8_t>(0x80 | (value & 0x7F)));
    append(content, groups);
  };
  base128(arcs[0] * 40 + arcs[1]);
  for (size_t i = 2; i < arcs.size(); ++i) base128(arcs[i]);
  return der(0x06, content);
}

std::vector<uint8_t> der_sequence(const std::vector<std::vector<uint8_t>>& elements) {
  std::vector<uint8_t> content;
  for (const auto& element : elements) append(content, element);
  return der(0x30, content);
}

std::vector<uint8_t> der_entry(std::string_view oid, const std::vector<uint8_t>& value) {
  return der_sequence({der_oid(oid), value});
}

std::vector<uint8_t> der_octets(std::span<const uint8_t> bytes) { return der(0x04, bytes); }

std::vector<uint8_t> der_integer(uint64_t value) {
  std::vector<uint8_t> content;
  do {
    content.insert(content.begin(), static_cast<uint8_t>(value & 0xFF));
    value >>= 8;
  } while (value != 0);
  if ((content[0] & 0x80) != 0) content.insert(content.begin(), 0);
  return der(0x02, content);
}

std::vector<uint8_t> sgx_extension_value(const PckDraft& draft) {
  if (draft.extension_value) return *draft.extension_value;
  const std::string base = "1.2.840.113741.1.13.1";
  std::vector<std::vector<uint8_t>> tcb;
  for (int i = 0; i < 16; ++i) tcb.push_back(der_entry(base + ".2." + decimal(i + 1), der_integer(draft.cpusvn[i])));
  tcb.push_back(der_entry(base + ".2.17", der_integer(draft.pcesvn)));
  tcb.push_back(der_entry(base + ".2.18", der_octets(draft.cpusvn)));
  const std::vector<uint8_t> ppid(16, 0xAB), pce_id(2, 0x00), instance(16, 0xCD);
  std::vector<std::vector<uint8_t>> top = {
      der_entry(base + ".1", der_octets(ppid)),
      der_entry(base + ".2", der_sequence(tcb)),
      der_entry(base + ".3", der_octets(pce_id)),
      der_entry(base + ".4", der_octets(draft.fmspc)),
  };
  if (draft.duplicate_fmspc) top.push_back(der_entry(base + ".4", der_octets(draft.fmspc)));
  const std::vector<uint8_t> type{draft.sgx_type};
  top.push_back(der_entry(base + ".5", der(0x0A, type)));
  top.push_back(der_entry(base + ".6", der_octets(instance)));
  if (draft.configuration) {
    std::vector<std::vector<uint8_t>> flags;
    const auto flag = [&](const char* arc, std::optional<bool> value) {
      if (!value) return;
      const std::vector<uint8_t> b{static_cast<uint8_t>(*value ? 0xFF : 0x00)};
      flags.push_back(der_entry(base + ".7." + arc, der(0x01, b)));
    };
    flag("1", draft.dynamic_platform);
    flag("2", draft.cached_keys);
    flag("3", draft.smt_enabled);
    top.push_back(der_entry(base + ".7", der_sequence(flags)));
  }
  return der_sequence(top);
}

dcap::X509Ptr make_certificate(const CertDraft& draft, const P256TestKey& subject_key, const X509* issuer,
                               const P256TestKey& issuer_key) {
  dcap::X509Ptr cert(X509_new());
  require(cert != nullptr && X509_set_version(cert.get(), 2) == 1, "certificate");
  require(ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert.get()), draft.serial) == 1, "serial");
  X509_NAME* name = X509_get_subject_name(cert.get());
  require(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(draft.common_name.c_str()),
                                     -1, -1, 0) == 1 &&
              X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Test Corporation"), -1,
                                         -1, 0) == 1,
          "subject");
  require(X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name) == 1, "issuer");
  require(ASN1_TIME_set(X509_getm_notBefore(cert.get()), static_cast<time_t>(draft.not_before)) != nullptr &&
              ASN1_TIME_set(X509_getm_notAfter(cert.get()), static_cast<time_t>(draft.not_after)) != nullptr,
          "validity");
  require(X509_set_pubkey(cert.get(), subject_key.pkey()) == 1, "public key");
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer ? const_cast<X509*>(issuer) : cert.get(), cert.get(), nullptr, nullptr, 0);
  if (draft.ca) {
    const std::string constraints =
        "critical,CA:TRUE" + (draft.path_length >= 0 ? ",pathlen:" + decimal(static_cast<uint64_t>(draft.path_length)) : "");
    add_extension(cert.get(), &ctx, NID_basic_constraints, constraints.c_str());
    add_extension(cert.get(), &ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    add_extension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE");
    add_extension(cert.get(), &ctx, NID_key_usage, "critical,digitalSignature,nonRepudiation");
  }
  add_extension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
  if (issuer) add_extension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");
  if (!draft.extended_key_usage.empty()) {
    std::string usages;
    for (const std::string& usage : draft.extended_key_usage) usages += (usages.empty() ? "" : ",") + usage;
    add_extension(cert.get(), &ctx, NID_ext_key_usage, usages.c_str());
  }
  if (draft.sgx_extension) {
    add_raw_extension(cert.get(), dcap::kSgxExtensionOid, *draft.sgx_extension);
    if (draft.sgx_extension_twice) add_raw_extension(cert.get(), dcap::kSgxExtensionOid, *draft.sgx_extension);
  }
  require(X509_sign(cert.get(), issuer_key.pkey(), EVP_sha256()) > 0, "certificate signing");
  return cert;
}

std::vector<uint8_t> make_crl(const CrlDraft& draft, const X509* issuer, const P256TestKey& issuer_key) {
  dcap::X509CrlPtr crl(X509_CRL_new());
  require(
      crl && X509_CRL_set_version(crl.get(), 1) == 1 && X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuer)) == 1,
      "CRL");
  Asn1TimePtr this_update(ASN1_TIME_set(nullptr, static_cast<time_t>(draft.this_update)));
  require(this_update && X509_CRL_set1_lastUpdate(crl.get(), this_update.get()) == 1, "CRL thisUpdate");
  if (draft.next_update) {
    Asn1TimePtr next_update(ASN1_TIME_set(nullptr, static_cast<time_t>(*draft.next_update)));
    require(next_update && X509_CRL_set1_nextUpdate(crl.get(), next_update.get()) == 1, "CRL nextUpdate");
  }
  for (const uint64_t serial : draft.revoked_serials) {
    RevokedPtr revoked(X509_REVOKED_new());
    Asn1IntegerPtr number(ASN1_INTEGER_new());
    require(revoked && number && ASN1_INTEGER_set_uint64(number.get(), serial) == 1 &&
                X509_REVOKED_set_serialNumber(revoked.get(), number.get()) == 1 &&
                X509_REVOKED_set_revocationDate(revoked.get(), this_update.get()) == 1 &&
                X509_CRL_add0_revoked(crl.get(), revoked.get()) == 1,
            "revoked entry");
    revoked.release();
  }
  if (draft.number) {
    Asn1IntegerPtr number(ASN1_INTEGER_new());
    require(number && ASN1_INTEGER_set_uint64(number.get(), *draft.number) == 1 &&
                X509_CRL_add1_ext_i2d(crl.get(), NID_crl_number, number.get(), 0, 0) == 1,
            "CRL number");
  }
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, const_cast<X509*>(issuer), nullptr, nullptr, crl.get(), 0);
  ExtensionPtr aki(X509V3_EXT_conf_nid(nullptr, &ctx, NID_authority_key_identifier, "keyid:always"));
  require(aki && X509_CRL_add_ext(crl.get(), aki.get(), -1) == 1, "CRL authority key identifier");
  require(X509_CRL_sort(crl.get()) == 1 && X509_CRL_sign(crl.get(), issuer_key.pkey(), EVP_sha256()) > 0, "CRL signing");
  const int length = i2d_X509_CRL(crl.get(), nullptr);
  require(length > 0, "CRL DER");
  std::vector<uint8_t> out(static_cast<size_t>(length));
  unsigned char* cursor = out.data();
  i2d_X509_CRL(crl.get(), &cursor);
  return out;
}

std::string TcbInfoDraft::json() const {
  std::string out = "{\"id\":" + json_string(id) + ",\"version\":" + decimal(version) +
                    ",\"issueDate\":" + json_string(issue_date) + ",\"nextUpdate\":" + json_string(next_update) +
                    ",\"fmspc\":" + json_string(fmspc) + ",\"pceId\":" + json_string(pce_id) +
                    ",\"tcbType\":" + decimal(tcb_type) + ",\"tcbEvaluationDataNumber\":" + decimal(evaluation_data_number);
  if (module) out += ",\"tdxModule\":{" + module_members(*module) + "}";
  if (identities) {
    out += ",\"tdxModuleIdentities\":[";
    for (size_t i = 0; i < identities->size(); ++i) {
      const ModuleIdentityDraft& identity = (*identities)[i];
      out += (i > 0 ? "," : "") + std::string("{\"id\":") + json_string(identity.id) + "," + module_members(identity.values) +
             ",\"tcbLevels\":" + isv_levels(identity.levels) + "}";
    }
    out += "]";
  }
  out += ",\"tcbLevels\":[";
  for (size_t i = 0; i < levels.size(); ++i) {
    const TcbLevelDraft& level = levels[i];
    out += (i > 0 ? "," : "") + std::string("{\"tcb\":{\"sgxtcbcomponents\":") + components(level.sgx) +
           ",\"pcesvn\":" + decimal(level.pcesvn) + (level.tdx ? ",\"tdxtcbcomponents\":" + components(*level.tdx) : "") +
           "},\"tcbDate\":" + json_string(level.date) + ",\"tcbStatus\":" + json_string(level.status) +
           advisories(level.advisories) + "}";
  }
  return out + "]}";
}

std::string QeIdentityDraft::json() const {
  return "{\"id\":" + json_string(id) + ",\"version\":" + decimal(version) + ",\"issueDate\":" + json_string(issue_date) +
         ",\"nextUpdate\":" + json_string(next_update) + ",\"tcbEvaluationDataNumber\":" + decimal(evaluation_data_number) +
         ",\"miscselect\":" + json_string(miscselect) + ",\"miscselectMask\":" + json_string(miscselect_mask) +
         ",\"attributes\":" + json_string(attributes) + ",\"attributesMask\":" + json_string(attributes_mask) +
         ",\"mrsigner\":" + json_string(mrsigner) + ",\"isvprodid\":" + decimal(isvprodid) +
         ",\"tcbLevels\":" + isv_levels(levels) + "}";
}

std::vector<uint8_t> encode_header(const dcap::Header& h) {
  std::vector<uint8_t> out;
  put_u16(out, h.version);
  put_u16(out, h.attestation_key_type);
  put_u32(out, h.tee_type);
  put_u16(out, h.qe_svn);
  put_u16(out, h.pce_svn);
  put(out, h.qe_vendor_id);
  put(out, h.user_data);
  return out;
}

std::vector<uint8_t> encode_enclave_report(const dcap::EnclaveReport& e) {
  std::vector<uint8_t> out;
  put(out, e.cpu_svn);
  put_u32(out, e.misc_select);
  put(out, e.reserved1);
  put(out, e.attributes);
  put(out, e.mr_enclave);
  put(out, e.reserved2);
  put(out, e.mr_signer);
  put(out, e.reserved3);
  put_u16(out, e.isv_prod_id);
  put_u16(out, e.isv_svn);
  put(out, e.reserved4);
  put(out, e.report_data);
  return out;
}

namespace {

void put_td10(std::vector<uint8_t>& out, const dcap::TdReport10& t) {
  put(out, t.tee_tcb_svn);
  put(out, t.mr_seam);
  put(out, t.mr_signer_seam);
  put(out, t.seam_attributes);
  put(out, t.td_attributes);
  put(out, t.xfam);
  put(out, t.mr_td);
  put(out, t.mr_config_id);
  put(out, t.mr_owner);
  put(out, t.mr_owner_config);
  put(out, t.rt_mr0);
  put(out, t.rt_mr1);
  put(out, t.rt_mr2);
  put(out, t.rt_mr3);
  put(out, t.report_data);
}

}  // namespace

std::vector<uint8_t> encode_report(const dcap::Report& report) {
  std::vector<uint8_t> out;
  if (const auto* enclave = std::get_if<dcap::EnclaveReport>(&report)) return encode_enclave_report(*enclave);
  if (const auto* td10 = std::get_if<dcap::TdReport10>(&report)) {
    put_td10(out, *td10);
    return out;
  }
  const auto& td15 = std::get<dcap::TdReport15>(report);
  put_td10(out, td15.base);
  put(out, td15.tee_tcb_svn2);
  put(out, td15.mr_service_td);
  return out;
}

std::vector<uint8_t> build_quote(QuoteDraft draft, const P256TestKey& attestation_key, const P256TestKey& pck_key,
                                 std::string_view pck_chain) {
  const std::array<uint8_t, 64> key = draft.attestation_key_bytes.value_or(attestation_key.point());
  if (draft.bind_attestation_key) {
    std::vector<uint8_t> bound(key.begin(), key.end());
    append(bound, draft.qe_auth_data);
    const std::array<uint8_t, 32> digest = crypto::sha256(bound);
    draft.qe_report.report_data.fill(0);
    std::copy(digest.begin(), digest.end(), draft.qe_report.report_data.begin());
  }
  const std::vector<uint8_t> qe_report = encode_enclave_report(draft.qe_report);
  const std::array<uint8_t, 64> qe_signature = pck_key.sign(qe_report);

  std::vector<uint8_t> signed_part = encode_header(draft.header);
  if (draft.body) {
    put_u16(signed_part, draft.body->body_type);
    put_u32(signed_part, draft.body->size);
  }
  append(signed_part, encode_report(draft.report));
  const std::array<uint8_t, 64> quote_signature = attestation_key.sign(signed_part);

  std::vector<uint8_t> inner_body;
  if (draft.inner_cert_body) {
    inner_body = *draft.inner_cert_body;
  } else {
    append(inner_body, as_bytes(pck_chain));
    inner_body.push_back(0);  // real quotes end the PEM text with a NUL byte
  }
  std::vector<uint8_t> qe_part = qe_report;
  put(qe_part, qe_signature);
  put_u16(qe_part, static_cast<uint16_t>(draft.qe_auth_data.size()));
  append(qe_part, draft.qe_auth_data);
  put_u16(qe_part, draft.inner_cert_type);
  put_u32(qe_part, static_cast<uint32_t>(inner_body.size()));
  append(qe_part, inner_body);

  std::vector<uint8_t> auth;
  put(auth, quote_signature);
  put(auth, key);
  if (draft.header.version == 3) {
    append(auth, qe_part);
  } else {
    put_u16(auth, draft.outer_cert_type);
    put_u32(auth, static_cast<uint32_t>(qe_part.size()));
    append(auth, qe_part);
  }
  std::vector<uint8_t> quote = signed_part;
  put_u32(quote, static_cast<uint32_t>(auth.size()));
  append(quote, auth);
  append(quote, draft.trailing);
  return quote;
}

TestIntelPki::TestIntelPki(uint64_t now) {
  const auto t = static_cast<int64_t>(now);
  root = make_certificate({"Test SGX Root CA", t - 700 * kDay, t + 7000 * kDay, true, 1, 1, std::nullopt, false, {}}, root_key,
                          nullptr, root_key);
  platform_ca =
      make_certificate({"Test SGX PCK Platform CA", t - 400 * kDay, t + 3650 * kDay, true, 0, 2, std::nullopt, false, {}},
                       platform_ca_key, root.get(), root_key);
  tcb_signing = make_certificate({"Test SGX TCB Signing", t - 300 * kDay, t + 2500 * kDay, false, -1, 3, std::nullopt, false, {}},
                                 tcb_signing_key, root.get(), root_key);
}

std::string sign_hex(const P256TestKey& key, std::string_view text) { return hex_encode(key.sign(as_bytes(text))); }

DcapScenario::DcapScenario(QuoteKind kind, uint64_t now_) : now(now_), pki(now_) {
  const auto t = static_cast<int64_t>(now);
  pck_cert = {"Test SGX PCK Certificate", t - 200 * kDay, t + 2500 * kDay, false, -1, 0x1001, std::nullopt, false, {}};
  root_crl = {t - kDay, t + 300 * kDay, {}, 1};
  pck_crl = {t - kDay, t + 25 * kDay, {0x0777}, 7};

  tcb_info.issue_date = date_text(t - 10 * kDay);
  tcb_info.next_update = date_text(t + 20 * kDay);
  qe_identity.issue_date = date_text(t - 10 * kDay);
  qe_identity.next_update = date_text(t + 22 * kDay);
  TcbLevelDraft up_to_date;
  TcbLevelDraft out_of_date;
  out_of_date.pcesvn = 5;
  out_of_date.date = "2018-01-04T00:00:00Z";
  out_of_date.status = "OutOfDate";
  out_of_date.advisories = std::vector<std::string>{"INTEL-SA-00001"};
  tcb_info.levels = {up_to_date, out_of_date};
  tcb_info.identities = std::vector<ModuleIdentityDraft>{
      {"TDX_03", ModuleDraft{}, {IsvLevelDraft{3, "2024-03-13T00:00:00Z", "UpToDate", std::nullopt}}},
      {"TDX_01",
       ModuleDraft{},
       {IsvLevelDraft{4, "2024-03-13T00:00:00Z", "UpToDate", std::nullopt},
        IsvLevelDraft{2, "2023-08-09T00:00:00Z", "OutOfDate", std::vector<std::string>{"INTEL-SA-00960"}}}},
  };

  dcap::Header& h = quote_draft.header;
  h.attestation_key_type = dcap::kAttestationKeyEcdsaP256;
  h.qe_svn = 9;
  h.pce_svn = 13;
  h.qe_vendor_id = dcap::kIntelQeVendorId;

  dcap::EnclaveReport& qe = quote_draft.qe_report;
  qe.attributes[0] = 0x11;
  const std::optional<std::vector<uint8_t>> signer = hex_decode(qe_identity.mrsigner);
  std::copy(signer->begin(), signer->end(), qe.mr_signer.begin());
  qe.isv_prod_id = qe_identity.isvprodid;
  qe.isv_svn = 6;

  dcap::TdReport10 td;
  td.tee_tcb_svn = {6, 1, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  td.mr_seam.fill(0x5E);
  td.td_attributes = {0, 0, 0, 0x10, 0, 0, 0, 0};  // SEPT_VE_DISABLE only
  td.xfam = {0xE7, 0x02, 0x06, 0, 0, 0, 0, 0};
  td.mr_td.fill(0x11);
  td.mr_config_id.fill(0x00);
  td.mr_owner.fill(0x00);
  td.mr_owner_config.fill(0x00);
  td.rt_mr0.fill(0x20);
  td.rt_mr1.fill(0x21);
  td.rt_mr2.fill(0x22);
  td.rt_mr3.fill(0x23);
  td.report_data.fill(0x77);

  switch (kind) {
    case QuoteKind::SgxV3: {
      h.version = 3;
      h.tee_type = dcap::kTeeTypeSgx;
      dcap::EnclaveReport enclave;
      enclave.cpu_svn = pck.cpusvn;
      enclave.attributes[0] = 0x05;  // initialised, 64-bit, not debug
      enclave.mr_enclave.fill(0x3C);
      enclave.mr_signer.fill(0x4D);
      enclave.isv_prod_id = 1;
      enclave.isv_svn = 2;
      enclave.report_data.fill(0x77);
      quote_draft.report = enclave;
      qe_identity.id = "QE";
      qe_identity.isvprodid = 1;
      qe.isv_prod_id = 1;
      tcb_info.id = "SGX";
      tcb_info.module.reset();
      tcb_info.identities.reset();
      for (TcbLevelDraft& level : tcb_info.levels) level.tdx.reset();
      break;
    }
    case QuoteKind::TdxV4:
      h.version = 4;
      h.tee_type = dcap::kTeeTypeTdx;
      quote_draft.report = td;
      break;
    case QuoteKind::TdxV5: {
      h.version = 5;
      h.tee_type = dcap::kTeeTypeTdx;
      quote_draft.body = dcap::Body{3, static_cast<uint32_t>(dcap::kTdReport15Bytes)};
      dcap::TdReport15 td15;
      td15.base = td;
      td15.tee_tcb_svn2 = td.tee_tcb_svn;
      quote_draft.report = td15;
      break;
    }
  }
}

std::string DcapScenario::pck_chain() const {
  CertDraft draft = pck_cert;
  if (!draft.sgx_extension && pck.in_certificate) draft.sgx_extension = sgx_extension_value(pck);
  const dcap::X509Ptr leaf = make_certificate(draft, pck_key, pki.platform_ca.get(), pki.platform_ca_key);
  return certificate_pem(leaf.get()) + certificate_pem(pki.platform_ca.get()) + certificate_pem(pki.root.get());
}

dcap::QuoteCollateralV3 DcapScenario::collateral() const {
  dcap::QuoteCollateralV3 c;
  c.pck_crl_issuer_chain = certificate_pem(pki.platform_ca.get()) + certificate_pem(pki.root.get());
  c.root_ca_crl = hex_encode(make_crl(root_crl, pki.root.get(), pki.root_key));
  c.pck_crl = hex_encode(make_crl(pck_crl, pki.platform_ca.get(), pki.platform_ca_key));
  c.tcb_info_issuer_chain = certificate_pem(pki.tcb_signing.get()) + certificate_pem(pki.root.get());
  c.tcb_info = tcb_info.json();
  c.tcb_info_signature = sign_hex(pki.tcb_signing_key, c.tcb_info);
  c.qe_identity_issuer_chain = c.tcb_info_issuer_chain;
  c.qe_identity = qe_identity.json();
  c.qe_identity_signature = sign_hex(pki.tcb_signing_key, c.qe_identity);
  if (chain_in_collateral) c.pck_certificate_chain = pck_chain();
  return c;
}

std::vector<uint8_t> DcapScenario::quote() const {
  return build_quote(quote_draft, attestation_key, pck_key, fixed_pck_chain ? *fixed_pck_chain : pck_chain());
}

}  // namespace orv::test
