#include "tsa/token.h"

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/ts.h>

#include <algorithm>
#include <limits>
#include <optional>

#include "core/byte_reader.h"
#include "core/hex.h"
#include "core/time_text.h"
#include "crypto/digest.h"
#include "tsa/certs.h"
#include "tsa/cms.h"
#include "tsa/der.h"

namespace orv::tsa {
namespace {

using TstInfoPtr = crypto::OpenSslPtr<TS_TST_INFO, TS_TST_INFO_free>;
using OctetStringPtr = crypto::OpenSslPtr<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;

Problem problem(ProblemCode code, std::string message) { return Problem{code, std::move(message), 0}; }

std::span<const uint8_t> bytes_of(const ASN1_STRING* value) {
  return {ASN1_STRING_get0_data(value), static_cast<size_t>(ASN1_STRING_length(value))};
}

bool equal_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b) { return std::ranges::equal(a, b); }

bool has_nid(const ASN1_OBJECT* oid, int nid) { return OBJ_obj2nid(oid) == nid; }

std::optional<int64_t> integer_value(const ASN1_INTEGER* value) {
  int64_t result = 0;
  if (value == nullptr || ASN1_INTEGER_get_int64(&result, value) != 1) {
    ERR_clear_error();
    return std::nullopt;
  }
  return result;
}

// Accuracy as the TSTInfo states it, each component already checked to fit its width.
struct Accuracy {
  uint32_t seconds = 0;
  std::optional<uint16_t> millis;
  std::optional<uint16_t> micros;
};

class Verification {
 public:
  Verification(std::span<const uint8_t> token, std::span<const uint8_t> subject, const PinnedAuthority& authority, uint64_t now)
      : token_(token), subject_(subject), authority_(authority), now_(now) {}

  Expected<Stamp, Problem> run() {
    ERR_clear_error();
    for (const auto step :
         {&Verification::input_and_anchor, &Verification::structure, &Verification::tst_info, &Verification::shape_and_algorithms,
          &Verification::signed_attributes, &Verification::signer_certificate, &Verification::signature,
          &Verification::signer_rules, &Verification::chain, &Verification::time}) {
      if (Expected<void, Problem> passed = (this->*step)(); !passed.ok()) {
        ERR_clear_error();
        return std::move(passed).error();
      }
    }
    return stamp();
  }

 private:
  // The token's size, then the trust anchor itself.
  Expected<void, Problem> input_and_anchor() {
    if (token_.size() > kMaxTokenBytes) return problem("TIMESTAMP_PARSE", "timestamp token is larger than 64 KiB");
    if (crypto::sha256_hex(authority_.root_der) != authority_.root_fingerprint) {
      return problem("TIMESTAMP_CHAIN_INVALID", "the compiled-in TSA root does not match its fingerprint");
    }
    Expected<Cert, std::string> root = decode_cert(authority_.root_der);
    if (!root) return problem("TIMESTAMP_CHAIN_INVALID", "compiled-in TSA root does not parse: " + root.error());
    root_ = std::move(root).value();
    return {};
  }

  // Bounded, then decoded stage by stage so that each failure names its stage, then held to
  // canonical DER.
  Expected<void, Problem> structure() {
    if (auto walk = check_der_structure(token_); !walk.ok()) {
      return problem("TIMESTAMP_PARSE", "token structure: " + walk.error());
    }

    Expected<cms::ContentInfoPtr, std::string> info = cms::decode_content_info(token_);
    if (!info) return problem("TIMESTAMP_PARSE", "token is not DER CMS: " + info.error());
    content_info_ = std::move(*info);

    if (!has_nid(content_info_->type, NID_pkcs7_signed)) return problem("TIMESTAMP_PARSE", "token is not CMS SignedData");

    // A SEQUENCE held as ANY keeps its whole element as found, which is what the canonical
    // comparison needs; any other content is encoded only so that the decoder can refuse it.
    const ASN1_TYPE* content = content_info_->content;
    if (content->type == V_ASN1_SEQUENCE) {
      signed_data_der_ = bytes_of(content->value.sequence);
    } else {
      non_sequence_content_ = cms::encode(*content).value_or(std::vector<uint8_t>());
      signed_data_der_ = non_sequence_content_;
    }
    Expected<cms::SignedDataPtr, std::string> decoded = cms::decode_signed_data(signed_data_der_);
    if (!decoded) return problem("TIMESTAMP_PARSE", "SignedData does not parse: " + decoded.error());
    signed_data_ = std::move(*decoded);
    if (auto found = decode_certificates(); !found.ok()) return found;

    if (!canonical()) return problem("TIMESTAMP_PARSE", "token is not in canonical DER form");
    return {};
  }

  Expected<void, Problem> decode_certificates() {
    for (int i = 0; i < cms::certificate_count(*signed_data_); ++i) {
      const cms::CertificateChoice* choice = cms::certificate_at(*signed_data_, i);
      if (choice->type != 0) {
        other_certificate_ = true;
        continue;
      }
      const std::optional<std::vector<uint8_t>> der = cms::encode(*choice->d.certificate);
      Expected<Cert, std::string> cert = der ? decode_cert(*der) : fail("certificate does not encode");
      if (!cert) return problem("TIMESTAMP_PARSE", "SignedData does not parse: " + cert.error());
      certs_.push_back(std::move(cert).value());
    }
    return {};
  }

  // The library decodes some BER forms and keeps some values verbatim, so the comparison is
  // made against fresh encodings of the decoded values, and what those cannot show (lengths and
  // booleans inside verbatim values, a default version written out) is checked directly.
  bool canonical() const {
    if (!has_minimal_encoding(token_)) return false;
    const std::optional<std::vector<uint8_t>> wrapper = cms::encode(*content_info_);
    if (!wrapper || !equal_bytes(*wrapper, token_)) return false;
    const std::optional<std::vector<uint8_t>> signed_data = cms::encode(*signed_data_);
    if (!signed_data || !equal_bytes(*signed_data, signed_data_der_)) return false;
    for (int i = 0; i < cms::certificate_count(*signed_data_); ++i) {
      const cms::CertificateChoice* choice = cms::certificate_at(*signed_data_, i);
      if (choice->type != 0) continue;
      const ASN1_INTEGER* version = choice->d.certificate->tbs->version;
      if (version != nullptr && integer_value(version) == 0) return false;
    }
    return true;
  }

  // The encapsulated TSTInfo and what it says, ending with the file's hash, which is told before
  // anything about signatures so that a token for another file is reported as exactly that.
  Expected<void, Problem> tst_info() {
    if (integer_value(signed_data_->version) != 3) return problem("TIMESTAMP_PARSE", "SignedData version is not 3");
    const cms::EncapsulatedContent* encap = signed_data_->encap;
    if (!has_nid(encap->type, NID_id_smime_ct_TSTInfo)) return problem("TIMESTAMP_PARSE", "token content is not a TSTInfo");
    if (encap->content == nullptr) return problem("TIMESTAMP_PARSE", "token carries no TSTInfo");
    if (encap->content->type != V_ASN1_OCTET_STRING) {
      return problem("TIMESTAMP_PARSE", "TSTInfo is not an OCTET STRING: " + octet_string_error(encap->content));
    }
    tst_der_ = bytes_of(encap->content->value.octet_string);

    ERR_clear_error();
    const unsigned char* cursor = tst_der_.data();
    tst_.reset(d2i_TS_TST_INFO(nullptr, &cursor, static_cast<long>(tst_der_.size())));
    if (!tst_) return problem("TIMESTAMP_PARSE", "TSTInfo does not parse: " + crypto::library_error("decoding failed"));
    if (cursor != tst_der_.data() + tst_der_.size()) {
      return problem("TIMESTAMP_PARSE", "TSTInfo does not parse: trailing data after the TSTInfo");
    }
    if (auto values = read_tst_values(); !values.ok()) {
      return problem("TIMESTAMP_PARSE", "TSTInfo does not parse: " + values.error());
    }

    if (TS_TST_INFO_get_version(tst_.get()) != 1) return problem("TIMESTAMP_UNSUPPORTED", "TSTInfo version is not 1");
    policy_ = crypto::oid_text(TS_TST_INFO_get_policy_id(tst_.get()));
    if (policy_ != authority_.policy) {
      return problem("TIMESTAMP_POLICY", "TSA policy " + policy_ + " is not the pinned " + authority_.name + " policy");
    }
    const STACK_OF(X509_EXTENSION)* extensions = TS_TST_INFO_get_exts(tst_.get());
    for (int i = 0; i < sk_X509_EXTENSION_num(extensions); ++i) {
      if (X509_EXTENSION_get_critical(sk_X509_EXTENSION_value(extensions, i))) {
        return problem("TIMESTAMP_UNSUPPORTED", "TSTInfo has a critical extension");
      }
    }
    if (accuracy_) {
      const auto in_range = [](const std::optional<uint16_t>& part) { return !part || (*part >= 1 && *part <= 999); };
      if (!in_range(accuracy_->millis) || !in_range(accuracy_->micros)) {
        return problem("TIMESTAMP_PARSE", "TSTInfo accuracy is out of range");
      }
    }

    const TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(tst_.get());
    const X509_ALGOR* algorithm = TS_MSG_IMPRINT_get_algo(const_cast<TS_MSG_IMPRINT*>(imprint));
    const std::optional<Digest> digest = supported_digest(algorithm);
    if (!digest) return problem("TIMESTAMP_UNSUPPORTED", "imprint hash is not SHA-256/384/512");
    if (!parameters_absent_or_null(algorithm)) {
      return problem("TIMESTAMP_PARSE", "imprint hash algorithm has unexpected parameters");
    }
    imprint_digest_ = *digest;
    const ASN1_OCTET_STRING* hashed = TS_MSG_IMPRINT_get_msg(const_cast<TS_MSG_IMPRINT*>(imprint));
    if (!equal_bytes(digest_of(*digest, subject_), bytes_of(hashed))) {
      return problem("TIMESTAMP_IMPRINT_MISMATCH", "the timestamp is for a different file (hash mismatch)");
    }
    return {};
  }

  // The library's text for an eContent that is not an OCTET STRING: the same value decoded as one.
  static std::string octet_string_error(const ASN1_TYPE* content) {
    const std::optional<std::vector<uint8_t>> der = cms::encode(*content);
    if (!der) return "the content does not encode";
    ERR_clear_error();
    const unsigned char* cursor = der->data();
    OctetStringPtr value(d2i_ASN1_OCTET_STRING(nullptr, &cursor, static_cast<long>(der->size())));
    return crypto::library_error("not an OCTET STRING");
  }

  // genTime and accuracy held in the widths the facts use; values outside them do not decode.
  Expected<void, std::string> read_tst_values() {
    const std::optional<int64_t> gen_time = crypto::unix_seconds(TS_TST_INFO_get_time(tst_.get()));
    if (!gen_time) return fail("genTime is not a valid GeneralizedTime");
    if (*gen_time < 0) return fail("genTime is before 1970");
    gen_time_ = static_cast<uint64_t>(*gen_time);

    const TS_ACCURACY* accuracy = TS_TST_INFO_get_accuracy(tst_.get());
    if (accuracy == nullptr) return {};
    Accuracy value;
    const auto read = [](const ASN1_INTEGER* field, int64_t max, int64_t& out) {
      if (field == nullptr) return true;
      const std::optional<int64_t> number = integer_value(field);
      if (!number || *number < 0 || *number > max) return false;
      out = *number;
      return true;
    };
    int64_t seconds = 0;
    int64_t millis = -1;
    int64_t micros = -1;
    if (!read(TS_ACCURACY_get_seconds(accuracy), std::numeric_limits<uint32_t>::max(), seconds)) {
      return fail("accuracy seconds do not fit 32 unsigned bits");
    }
    if (!read(TS_ACCURACY_get_millis(accuracy), std::numeric_limits<uint16_t>::max(), millis)) {
      return fail("accuracy millis do not fit 16 unsigned bits");
    }
    if (!read(TS_ACCURACY_get_micros(accuracy), std::numeric_limits<uint16_t>::max(), micros)) {
      return fail("accuracy micros do not fit 16 unsigned bits");
    }
    value.seconds = static_cast<uint32_t>(seconds);
    if (millis >= 0) value.millis = static_cast<uint16_t>(millis);
    if (micros >= 0) value.micros = static_cast<uint16_t>(micros);
    accuracy_ = value;
    return {};
  }

  // The SignedData's shape and the signer's algorithms.
  Expected<void, Problem> shape_and_algorithms() {
    if (cms::signer_count(*signed_data_) != 1) return problem("TIMESTAMP_PARSE", "token must have exactly one signer");
    signer_ = cms::signer_at(*signed_data_, 0);
    if (signer_->unsigned_attrs != nullptr) return problem("TIMESTAMP_PARSE", "token carries unsigned attributes");
    if (signed_data_->crls != nullptr) return problem("TIMESTAMP_PARSE", "token carries revocation lists");
    if (other_certificate_) return problem("TIMESTAMP_PARSE", "token carries a non-X.509 certificate");
    if (integer_value(signer_->version) != 1) return problem("TIMESTAMP_PARSE", "SignerInfo version is not 1");

    const X509_ALGOR* signer_digest = signer_->digest_algorithm;
    const STACK_OF(X509_ALGOR)* digests = signed_data_->digest_algorithms;
    if (sk_X509_ALGOR_num(digests) != 1 || !same_digest_oid(sk_X509_ALGOR_value(digests, 0), signer_digest) ||
        !parameters_absent_or_null(sk_X509_ALGOR_value(digests, 0)) || !parameters_absent_or_null(signer_digest)) {
      return problem("TIMESTAMP_PARSE", "SignedData digest algorithms do not match the signer");
    }
    const std::optional<Digest> digest = supported_digest(signer_digest);
    if (!digest) return problem("TIMESTAMP_UNSUPPORTED", "signer digest is not SHA-256/384/512");
    signer_digest_ = *digest;

    const std::optional<Scheme> scheme = signature_scheme(signer_->signature_algorithm, signer_digest_);
    if (!scheme) return problem("TIMESTAMP_UNSUPPORTED", "signature algorithm is not RSA PKCS#1 v1.5 or ECDSA");
    if (!scheme_parameters_ok(signer_->signature_algorithm, scheme->kind)) {
      return problem("TIMESTAMP_PARSE", "signature algorithm has unexpected parameters");
    }
    if (scheme->hash != signer_digest_) return problem("TIMESTAMP_UNSUPPORTED", "signature and digest algorithms disagree");
    scheme_ = *scheme;
    return {};
  }

  static bool same_digest_oid(const X509_ALGOR* a, const X509_ALGOR* b) {
    const ASN1_OBJECT* x = nullptr;
    const ASN1_OBJECT* y = nullptr;
    X509_ALGOR_get0(&x, nullptr, nullptr, a);
    X509_ALGOR_get0(&y, nullptr, nullptr, b);
    return OBJ_cmp(x, y) == 0;
  }

  // Exactly one attribute of the type, holding exactly one value.
  Expected<const ASN1_TYPE*, Problem> attribute(int nid) const {
    const ASN1_OBJECT* type = OBJ_nid2obj(nid);
    const X509_ATTRIBUTE* found = nullptr;
    int count = 0;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(signer_->signed_attrs); ++i) {
      const X509_ATTRIBUTE* candidate = sk_X509_ATTRIBUTE_value(signer_->signed_attrs, i);
      if (OBJ_cmp(X509_ATTRIBUTE_get0_object(const_cast<X509_ATTRIBUTE*>(candidate)), type) != 0) continue;
      ++count;
      found = candidate;
    }
    if (count != 1 || X509_ATTRIBUTE_count(found) != 1) {
      return problem("TIMESTAMP_PARSE", "signed attribute " + crypto::oid_text(type) + " must appear exactly once");
    }
    return X509_ATTRIBUTE_get0_type(const_cast<X509_ATTRIBUTE*>(found), 0);
  }

  // Content type and message digest, the two signed attributes that bind the TSTInfo.
  Expected<void, Problem> signed_attributes() {
    if (signer_->signed_attrs == nullptr) return problem("TIMESTAMP_PARSE", "token has no signed attributes");

    auto content_type = attribute(NID_pkcs9_contentType);
    if (!content_type) return content_type.error();
    const ASN1_TYPE* type_value = *content_type;
    if (type_value->type != V_ASN1_OBJECT) return problem("TIMESTAMP_PARSE", "content-type attribute does not parse");
    if (!has_nid(type_value->value.object, NID_id_smime_ct_TSTInfo)) {
      return problem("TIMESTAMP_PARSE", "signed content-type is not TSTInfo");
    }

    auto message_digest = attribute(NID_pkcs9_messageDigest);
    if (!message_digest) return message_digest.error();
    const ASN1_TYPE* digest_value = *message_digest;
    if (digest_value->type != V_ASN1_OCTET_STRING) return problem("TIMESTAMP_PARSE", "message-digest attribute does not parse");
    if (!equal_bytes(digest_of(signer_digest_, tst_der_), bytes_of(digest_value->value.octet_string))) {
      return problem("TIMESTAMP_SIGNATURE_INVALID", "signed digest does not match the TSTInfo");
    }
    return {};
  }

  // The signer certificate, found by issuer and serial, and pinned by signing-certificate-v2.
  Expected<void, Problem> signer_certificate() {
    signer_cert_ = find_signer();
    if (!signer_cert_) return problem("TIMESTAMP_CHAIN_INVALID", "the signer certificate is not in the token");
    unsigned char* der = nullptr;
    const int len = i2d_X509(signer_cert_->x509.get(), &der);
    if (len <= 0 || der == nullptr) return problem("TIMESTAMP_PARSE", "signer certificate does not re-encode");
    signer_der_.assign(der, der + len);
    OPENSSL_free(der);

    auto value = attribute(NID_id_smime_aa_signingCertificateV2);
    if (!value) return value.error();
    const std::optional<std::vector<uint8_t>> attribute_der = cms::encode(**value);
    return check_signing_certificate_v2(attribute_der.value_or(std::vector<uint8_t>()));
  }

  const Cert* find_signer() const {
    const cms::SignerId* sid = signer_->sid;
    if (sid->type != 0 || certs_.empty()) return nullptr;
    const cms::IssuerAndSerial* id = sid->d.issuer_and_serial;
    const std::optional<std::vector<uint8_t>> issuer_der = cms::encode_name(id->issuer);
    if (!issuer_der) return nullptr;
    const unsigned char* cursor = issuer_der->data();
    const crypto::X509NamePtr issuer(d2i_X509_NAME(nullptr, &cursor, static_cast<long>(issuer_der->size())));
    ERR_clear_error();
    if (!issuer) return nullptr;
    for (const Cert& cert : certs_) {
      if (crypto::same_name(X509_get_issuer_name(cert.x509.get()), issuer.get()) &&
          ASN1_INTEGER_cmp(X509_get0_serialNumber(cert.x509.get()), id->serial) == 0) {
        return &cert;
      }
    }
    return nullptr;
  }

  // SigningCertificateV2 ::= SEQUENCE { certs SEQUENCE OF ESSCertIDv2, policies ... OPTIONAL }
  // ESSCertIDv2 ::= SEQUENCE { hashAlgorithm DEFAULT sha256, certHash OCTET STRING, issuerSerial ... }
  Expected<void, Problem> check_signing_certificate_v2(std::span<const uint8_t> der) const {
    ByteReader outer(der);
    DerElement attribute;
    if (!outer.read_der(der_tag::kSequence, attribute) || !outer.empty()) {
      return problem("TIMESTAMP_PARSE", "signing-certificate-v2 does not parse");
    }
    if (attribute.contents.empty()) return problem("TIMESTAMP_PARSE", "signing-certificate-v2 is empty");

    ByteReader members(attribute.contents);
    DerElement ids;
    if (!members.read_der(der_tag::kSequence, ids)) return problem("TIMESTAMP_PARSE", "signing-certificate-v2 ids do not parse");
    if (ids.contents.empty()) return problem("TIMESTAMP_PARSE", "signing-certificate-v2 has no cert id");

    ByteReader id_list(ids.contents);
    ByteReader fields;
    if (!id_list.get_der(der_tag::kSequence, fields)) return problem("TIMESTAMP_PARSE", "ESSCertIDv2 does not parse");
    DerElement first;
    if (!fields.read_der(first)) return problem("TIMESTAMP_PARSE", "ESSCertIDv2 has no hash");

    Digest digest = Digest::Sha256;
    DerElement cert_hash = first;
    if (first.tag == der_tag::kSequence) {
      const unsigned char* cursor = first.whole.data();
      const crypto::AlgorPtr algorithm(d2i_X509_ALGOR(nullptr, &cursor, static_cast<long>(first.whole.size())));
      ERR_clear_error();
      if (!algorithm || cursor != first.whole.data() + first.whole.size()) {
        return problem("TIMESTAMP_PARSE", "ESSCertIDv2 hash algorithm does not parse");
      }
      const std::optional<Digest> named = supported_digest(algorithm.get());
      if (!named) return problem("TIMESTAMP_UNSUPPORTED", "ESSCertIDv2 hash is not SHA-256/384/512");
      digest = *named;
      if (!fields.read_der(cert_hash)) return problem("TIMESTAMP_PARSE", "ESSCertIDv2 has no hash");
    }
    if (cert_hash.tag != der_tag::kOctetString) return problem("TIMESTAMP_PARSE", "ESSCertIDv2 hash is not an OCTET STRING");
    if (!equal_bytes(digest_of(digest, signer_der_), cert_hash.contents)) {
      return problem("TIMESTAMP_CHAIN_INVALID", "signed certificate id does not match the signer certificate");
    }
    return {};
  }

  // The signature over the signed attributes, encoded afresh as a DER SET OF.
  Expected<void, Problem> signature() {
    const std::optional<std::vector<uint8_t>> signed_attrs = cms::encode_attribute_set(signer_->signed_attrs);
    if (!signed_attrs) return problem("TIMESTAMP_PARSE", "signed attributes do not re-encode");
    auto key = extract_signing_key(signer_cert_->x509.get());
    if (!key) return key.error();
    if (!verify_signature(*key, scheme_.kind, signer_digest_, *signed_attrs, bytes_of(signer_->signature))) {
      return problem("TIMESTAMP_SIGNATURE_INVALID", "the TSA signature does not verify");
    }
    return {};
  }

  // The signer certificate's own rules and the TSTInfo's tsa name, after the signature verified.
  Expected<void, Problem> signer_rules() {
    if (auto found = check_signer_certificate(signer_cert_->x509.get()); !found.ok()) return found;
    const GENERAL_NAME* tsa = TS_TST_INFO_get_tsa(tst_.get());
    if (tsa != nullptr && !tsa_is_signer(tsa))
      return problem("TIMESTAMP_CHAIN_INVALID", "the TSA named in the token is not the signer");
    return {};
  }

  bool tsa_is_signer(const GENERAL_NAME* tsa) const {
    unsigned char* der = nullptr;
    const int len = i2d_GENERAL_NAME(tsa, &der);
    if (len <= 0 || der == nullptr) {
      ERR_clear_error();
      return false;
    }
    const unsigned char* cursor = der;
    const crypto::GeneralNamePtr name(d2i_GENERAL_NAME(nullptr, &cursor, len));
    const bool whole = cursor == der + len;
    OPENSSL_free(der);
    ERR_clear_error();
    return name && whole && name->type == GEN_DIRNAME &&
           crypto::same_name(name->d.directoryName, X509_get_subject_name(signer_cert_->x509.get()));
  }

  // The path to the pinned root, and no certificate carried beside it.
  Expected<void, Problem> chain() {
    auto path = build_path(*signer_cert_, certs_, *root_, gen_time_);
    if (!path) return path.error();
    return check_all_on_path(certs_, *path);
  }

  // genTime may run a little ahead of the local clock, never further.
  Expected<void, Problem> time() {
    if (gen_time_ > saturating_add(now_, kClockSkewSeconds)) {
      return problem("TIMESTAMP_IN_FUTURE",
                     "timestamp " + utc_time_text(gen_time_) + " is later than your clock " + utc_time_text(now_));
    }
    return {};
  }

  Stamp stamp() const {
    Stamp result;
    result.tsa = authority_.name;
    result.gen_time_unix = gen_time_;
    result.gen_time = utc_time_text(gen_time_);
    uint64_t seconds_added = 0;
    if (accuracy_) {
      const uint64_t micros_ms = accuracy_->micros ? (uint64_t{*accuracy_->micros} + 999) / 1000 : 0;
      const uint64_t ms = uint64_t{accuracy_->seconds} * 1000 + accuracy_->millis.value_or(0) + micros_ms;
      result.accuracy_ms = ms;
      seconds_added = (ms + 999) / 1000;
    }
    result.no_later_than_unix = saturating_add(gen_time_, seconds_added);
    result.no_later_than = utc_time_text(result.no_later_than_unix);
    result.imprint_alg = std::string(digest_name(imprint_digest_));
    std::vector<uint8_t> serial = crypto::integer_octets(TS_TST_INFO_get_serial(tst_.get()));
    if (serial.size() > 1 && serial[0] == 0) serial.erase(serial.begin());
    result.serial_hex = hex_encode(serial);
    result.policy = policy_;
    result.signer = crypto::subject_text(signer_cert_->x509.get());
    if (const ASN1_INTEGER* nonce = TS_TST_INFO_get_nonce(tst_.get()))
      result.nonce_hex = hex_encode(crypto::integer_octets(nonce));
    return result;
  }

  std::span<const uint8_t> token_;
  std::span<const uint8_t> subject_;
  const PinnedAuthority& authority_;
  uint64_t now_;

  std::optional<Cert> root_;
  cms::ContentInfoPtr content_info_;
  std::span<const uint8_t> signed_data_der_;
  std::vector<uint8_t> non_sequence_content_;
  cms::SignedDataPtr signed_data_;
  std::vector<Cert> certs_;  // the token's X.509 certificates, in token order
  bool other_certificate_ = false;
  std::span<const uint8_t> tst_der_;
  TstInfoPtr tst_;
  uint64_t gen_time_ = 0;
  std::optional<Accuracy> accuracy_;
  std::string policy_;
  Digest imprint_digest_ = Digest::Sha256;
  const cms::SignerInfo* signer_ = nullptr;
  Digest signer_digest_ = Digest::Sha256;
  Scheme scheme_{SchemeKind::RsaPkcs1, Digest::Sha256};
  const Cert* signer_cert_ = nullptr;
  std::vector<uint8_t> signer_der_;
};

}  // namespace

Expected<Stamp, Problem> verify_timestamp_token(std::span<const uint8_t> token, std::span<const uint8_t> subject,
                                                const PinnedAuthority& authority, uint64_t now) {
  return Verification(token, subject, authority, now).run();
}

}  // namespace orv::tsa
