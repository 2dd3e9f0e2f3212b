#include "support/tsa_pki.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <map>
#include <stdexcept>

#include "core/hex.h"
#include "crypto/digest.h"
#include "support/tsa_der.h"

namespace orv::test::tsa {
namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* value) const { Free(value); }
};
template <class T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

using X509Owned = Owned<X509, X509_free>;
using CtxOwned = Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using MdCtxOwned = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;

EVP_PKEY* generate(KeyKind kind) {
  switch (kind) {
    case KeyKind::Rsa2048:
    case KeyKind::Rsa2047: {
      CtxOwned ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr));
      EVP_PKEY* key = nullptr;
      if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
          EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), kind == KeyKind::Rsa2048 ? 2048 : 2047) != 1 ||
          EVP_PKEY_keygen(ctx.get(), &key) != 1) {
        throw std::runtime_error("RSA key generation failed");
      }
      return key;
    }
    case KeyKind::P256: return EVP_EC_gen("P-256");
    case KeyKind::P384: return EVP_EC_gen("P-384");
    case KeyKind::P521: return EVP_EC_gen("P-521");
    case KeyKind::Ed25519: return EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
  }
  return nullptr;
}

const EVP_MD* md_of(Hash hash) {
  switch (hash) {
    case Hash::Sha256: return EVP_sha256();
    case Hash::Sha384: return EVP_sha384();
    case Hash::Sha512: return EVP_sha512();
    case Hash::Sha1: return EVP_sha1();
  }
  return nullptr;
}

X509Owned decode(const std::string& der) {
  const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
  X509Owned cert(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  if (!cert) throw std::runtime_error("test certificate does not decode");
  return cert;
}

template <class T, int (*Encode)(const T*, unsigned char**)>
std::string encoded(const T* value) {
  unsigned char* out = nullptr;
  const int len = Encode(value, &out);
  if (len <= 0) throw std::runtime_error("encoding failed");
  std::string bytes(reinterpret_cast<const char*>(out), static_cast<size_t>(len));
  OPENSSL_free(out);
  return bytes;
}

std::string key_usage_value(const std::vector<int>& bits) {
  int highest = -1;
  for (const int bit : bits) highest = std::max(highest, bit);
  if (highest < 0) return der::bytes({0x03, 0x01, 0x00});
  std::string octets(static_cast<size_t>(highest / 8 + 1), '\0');
  for (const int bit : bits) octets[static_cast<size_t>(bit / 8)] |= static_cast<char>(0x80 >> (bit % 8));
  const int unused = 7 - highest % 8;
  return der::tlv(0x03, std::string(1, static_cast<char>(unused)) + octets);
}

void add_extension(X509* cert, const Extension& ext) {
  ASN1_OBJECT* oid = OBJ_txt2obj(ext.oid.c_str(), 1);
  ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(value, reinterpret_cast<const unsigned char*>(ext.value.data()), static_cast<int>(ext.value.size()));
  X509_EXTENSION* extension = X509_EXTENSION_create_by_OBJ(nullptr, oid, ext.critical ? 1 : 0, value);
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
  ASN1_OCTET_STRING_free(value);
  ASN1_OBJECT_free(oid);
}

std::string sign(const TestKey& key, Hash hash, const std::string& message) {
  MdCtxOwned ctx(EVP_MD_CTX_new());
  const bool edwards = key.kind() == KeyKind::Ed25519;
  if (EVP_DigestSignInit(ctx.get(), nullptr, edwards ? nullptr : md_of(hash), nullptr, key.pkey()) != 1) {
    throw std::runtime_error("cannot sign");
  }
  size_t len = 0;
  const auto* data = reinterpret_cast<const unsigned char*>(message.data());
  EVP_DigestSign(ctx.get(), nullptr, &len, data, message.size());
  std::string signature(len, '\0');
  if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &len, data, message.size()) != 1) {
    throw std::runtime_error("signing failed");
  }
  signature.resize(len);
  return signature;
}

bool is_ec(const TestKey& key) {
  return key.kind() == KeyKind::P256 || key.kind() == KeyKind::P384 || key.kind() == KeyKind::P521;
}

std::string ecdsa_oid(Hash hash) {
  switch (hash) {
    case Hash::Sha384: return "1.2.840.10045.4.3.3";
    case Hash::Sha512: return "1.2.840.10045.4.3.4";
    default: return "1.2.840.10045.4.3.2";
  }
}

std::string base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int len = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(len));
  return out;
}

}  // namespace

void TestKey::Free::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }

const TestKey& TestKey::get(KeyKind kind, int index) {
  static std::map<std::pair<KeyKind, int>, std::unique_ptr<TestKey>> keys;
  auto& slot = keys[{kind, index}];
  if (!slot) slot.reset(new TestKey(kind, generate(kind)));
  return *slot;
}

TestCert make_cert(const CertSpec& spec, const TestKey& subject_key, const TestCert* issuer, const TestKey& issuer_key) {
  X509Owned cert(X509_new());
  X509_set_version(cert.get(), X509_VERSION_3);
  ASN1_INTEGER_set_int64(X509_get_serialNumber(cert.get()), spec.serial);
  X509_NAME* subject = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(spec.organization.c_str()), -1,
                             -1, 0);
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(spec.common_name.c_str()), -1,
                             -1, 0);
  if (issuer) {
    X509Owned issuer_cert = decode(issuer->der);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer_cert.get()));
  } else {
    X509_set_issuer_name(cert.get(), subject);
  }
  ASN1_TIME_set(X509_getm_notBefore(cert.get()), static_cast<time_t>(spec.not_before));
  ASN1_TIME_set(X509_getm_notAfter(cert.get()), static_cast<time_t>(spec.not_after));
  X509_set_pubkey(cert.get(), subject_key.pkey());

  if (spec.ca) {
    std::vector<std::string> members;
    if (*spec.ca) members.push_back(der::boolean(true));
    if (spec.path_len >= 0) members.push_back(der::integer(spec.path_len));
    add_extension(cert.get(), {"2.5.29.19", true, der::seq(members)});
  }
  if (spec.key_usage) add_extension(cert.get(), {"2.5.29.15", true, key_usage_value(*spec.key_usage)});
  if (spec.ext_key_usage) {
    std::vector<std::string> oids;
    for (const std::string& oid : *spec.ext_key_usage) oids.push_back(der::oid(oid));
    add_extension(cert.get(), {"2.5.29.37", spec.ext_key_usage_critical, der::seq(oids)});
  }
  for (const Extension& ext : spec.extra) add_extension(cert.get(), ext);

  const EVP_MD* md = spec.digest.empty() ? nullptr : EVP_get_digestbyname(spec.digest.c_str());
  if (X509_sign(cert.get(), issuer_key.pkey(), md) <= 0) throw std::runtime_error("cannot sign certificate");
  return TestCert{encoded<X509, i2d_X509>(cert.get())};
}

CertSpec ca_spec(std::string name, int path_len) {
  CertSpec spec;
  spec.common_name = std::move(name);
  spec.not_before = kGenTime - 5 * kYear;
  spec.not_after = kGenTime + 10 * kYear;
  spec.ca = true;
  spec.path_len = path_len;
  spec.key_usage = std::vector<int>{5, 6};
  return spec;
}

CertSpec signer_spec(std::string name) {
  CertSpec spec;
  spec.common_name = std::move(name);
  spec.serial = 0x1001;
  spec.key_usage = std::vector<int>{0};
  spec.ext_key_usage = std::vector<std::string>{"1.3.6.1.5.5.7.3.8"};
  return spec;
}

orv::tsa::PinnedAuthority Hierarchy::authority(std::string name) const {
  return {std::move(name), std::vector<uint8_t>(root.der.begin(), root.der.end()), crypto::sha256_hex(as_bytes(root.der)),
          kTestPolicy};
}

std::vector<std::string> Hierarchy::token_certs() const {
  std::vector<std::string> certs{signer.der};
  for (const TestCert& cert : intermediates) certs.push_back(cert.der);
  return certs;
}

Hierarchy make_hierarchy(KeyKind root, KeyKind signer, int intermediates) {
  Hierarchy h;
  h.root_key = &TestKey::get(root, 0);
  h.root = make_cert(ca_spec("Test Root"), *h.root_key, nullptr, *h.root_key);
  const TestCert* issuer = &h.root;
  const TestKey* issuer_key = h.root_key;
  h.intermediates.reserve(static_cast<size_t>(intermediates));
  for (int i = 0; i < intermediates; ++i) {
    h.intermediate_keys.push_back(&TestKey::get(root, 10 + i));
    CertSpec spec = ca_spec("Test Intermediate " + std::to_string(i + 1));
    spec.serial = 100 + i;
    h.intermediates.push_back(make_cert(spec, *h.intermediate_keys.back(), issuer, *issuer_key));
    issuer = &h.intermediates.back();
    issuer_key = h.intermediate_keys.back();
  }
  // Intermediates are kept root first; the token lists them from the signer upwards.
  std::reverse(h.intermediates.begin(), h.intermediates.end());
  std::reverse(h.intermediate_keys.begin(), h.intermediate_keys.end());
  h.signer_key = &TestKey::get(signer, 1);
  h.signer = make_cert(signer_spec(), *h.signer_key, issuer, *issuer_key);
  return h;
}

std::string hash_oid(Hash hash) {
  switch (hash) {
    case Hash::Sha256: return "2.16.840.1.101.3.4.2.1";
    case Hash::Sha384: return "2.16.840.1.101.3.4.2.2";
    case Hash::Sha512: return "2.16.840.1.101.3.4.2.3";
    case Hash::Sha1: return "1.3.14.3.2.26";
  }
  return "";
}

std::string hash_of(Hash hash, std::string_view data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(data.data(), data.size(), out, &len, md_of(hash), nullptr);
  return std::string(reinterpret_cast<const char*>(out), len);
}

TokenBuilder::TokenBuilder(const Hierarchy& h, std::string subject_bytes)
    : hierarchy(&h),
      subject(std::move(subject_bytes)),
      tst_version(der::integer(1)),
      policy(der::oid(kTestPolicy)),
      imprint_parameters(der::null()),
      serial(der::integer(0x5eed)),
      gen_time(der::generalized_time("20250601120000Z")),
      econtent_type(der::oid("1.2.840.113549.1.9.16.1.4")),
      content_type(der::oid("1.2.840.113549.1.7.2")),
      sd_version(der::integer(3)),
      si_version(der::integer(1)) {}

std::string TokenBuilder::tst_der() const {
  if (tst_info) return *tst_info;
  const std::string imprint = imprint_value.value_or(hash_of(imprint_hash, subject));
  return der::seq({tst_version, policy,
                   der::seq({der::algorithm(hash_oid(imprint_hash), imprint_parameters), der::octets(imprint)}), serial, gen_time,
                   accuracy, nonce, tsa, extensions});
}

std::string TokenBuilder::attribute(std::string_view oid, const std::vector<std::string>& values) {
  return der::seq({der::oid(oid), der::set(values)});
}

std::string TokenBuilder::content_type_attribute() const {
  return attribute("1.2.840.113549.1.9.3", {der::oid("1.2.840.113549.1.9.16.1.4")});
}

std::string TokenBuilder::message_digest_attribute(const std::string& tst) const {
  return attribute("1.2.840.113549.1.9.4", {der::octets(hash_of(signer_hash, tst))});
}

std::string TokenBuilder::signing_time_attribute() const {
  return attribute("1.2.840.113549.1.9.5", {der::tlv(0x17, "250601120000Z")});
}

std::string TokenBuilder::signing_certificate_v2_attribute(std::optional<Hash> hash) const {
  // Without a hash the ESSCertIDv2 leaves hashAlgorithm at its SHA-256 default.
  std::string id = hash ? der::seq({der::algorithm(hash_oid(*hash)), der::octets(hash_of(*hash, hierarchy->signer.der))})
                        : der::seq({der::octets(hash_of(Hash::Sha256, hierarchy->signer.der))});
  return attribute("1.2.840.113549.1.9.16.2.47", {der::seq({der::seq({id})})});
}

std::string TokenBuilder::signer_info() const {
  const X509Owned signer_cert = decode(hierarchy->signer.der);
  const std::string issuer_and_serial =
      der::seq({encoded<X509_NAME, i2d_X509_NAME>(X509_get_issuer_name(signer_cert.get())),
                encoded<ASN1_INTEGER, i2d_ASN1_INTEGER>(X509_get0_serialNumber(signer_cert.get()))});
  const std::string tst = tst_der();

  std::vector<std::string> attrs = signed_attributes.value_or(std::vector<std::string>{
      content_type_attribute(), signing_time_attribute(), message_digest_attribute(tst), signing_certificate_v2_attribute()});
  if (edit_signed_attributes) edit_signed_attributes(attrs);
  if (sort_signed_attributes) attrs = der::sorted(attrs);
  std::string attrs_contents;
  for (const std::string& attr : attrs) attrs_contents += attr;

  const TestKey& key = *hierarchy->signer_key;
  const std::string default_signature_algorithm =
      is_ec(key) ? der::algorithm(ecdsa_oid(signer_hash)) : der::algorithm("1.2.840.113549.1.1.1", der::null());
  const std::string signed_part = der::tlv(0x31, attrs_contents);
  const std::string signature_value = signature.value_or(sign(key, signer_hash, signed_part));

  std::string contents = si_version + sid.value_or(issuer_and_serial) +
                         digest_algorithm.value_or(der::algorithm(hash_oid(signer_hash), der::null()));
  if (signed_attributes_present) contents += der::tlv(0xA0, attrs_contents);
  contents += signature_algorithm.value_or(default_signature_algorithm) + der::octets(signature_value) + unsigned_attributes;
  return der::tlv(0x30, contents);
}

std::string TokenBuilder::build() const {
  const std::string tst = tst_der();
  const std::string encap = der::seq({econtent_type, econtent.value_or(der::context(0, der::octets(tst)))});

  std::vector<std::string> certs = certificates.value_or(hierarchy->token_certs());
  if (sort_certificates) certs = der::sorted(certs);
  std::string certs_contents;
  for (const std::string& cert : certs) certs_contents += cert;

  std::vector<std::string> signers{signer_info()};
  signers.insert(signers.end(), extra_signer_infos.begin(), extra_signer_infos.end());

  std::string signed_data =
      sd_version +
      der::set(
          der::sorted(digest_algorithms.value_or(std::vector<std::string>{der::algorithm(hash_oid(signer_hash), der::null())}))) +
      encap;
  if (certificates_present) signed_data += der::tlv(0xA0, certs_contents);
  signed_data += crls + der::set(der::sorted(signers));
  return der::seq({content_type, der::context(0, der::tlv(0x30, signed_data))});
}

namespace {

int fixed_time(TS_RESP_CTX*, void*, long* seconds, long* micros) {
  *seconds = static_cast<long>(kGenTime);
  *micros = 0;
  return 1;
}

}  // namespace

std::string openssl_ts_token(const Hierarchy& hierarchy, const std::string& subject, Hash imprint, bool with_accuracy,
                             bool with_nonce) {
  Owned<TS_RESP_CTX, TS_RESP_CTX_free> ctx(TS_RESP_CTX_new());
  X509Owned signer = decode(hierarchy.signer.der);
  TS_RESP_CTX_set_signer_cert(ctx.get(), signer.get());
  TS_RESP_CTX_set_signer_key(ctx.get(), hierarchy.signer_key->pkey());
  TS_RESP_CTX_set_signer_digest(ctx.get(), EVP_sha256());
  TS_RESP_CTX_set_ess_cert_id_digest(ctx.get(), EVP_sha256());
  ASN1_OBJECT* policy = OBJ_txt2obj(kTestPolicy, 1);
  TS_RESP_CTX_set_def_policy(ctx.get(), policy);
  ASN1_OBJECT_free(policy);
  TS_RESP_CTX_add_md(ctx.get(), md_of(imprint));
  if (with_accuracy) TS_RESP_CTX_set_accuracy(ctx.get(), 1, 500, 0);
  TS_RESP_CTX_set_time_cb(ctx.get(), fixed_time, nullptr);
  STACK_OF(X509)* chain = sk_X509_new_null();
  std::vector<X509Owned> intermediates;
  for (const TestCert& cert : hierarchy.intermediates) {
    intermediates.push_back(decode(cert.der));
    sk_X509_push(chain, intermediates.back().get());
  }
  TS_RESP_CTX_set_certs(ctx.get(), chain);
  sk_X509_free(chain);

  const std::string digest = hash_of(imprint, subject);
  std::string nonce_der;
  if (with_nonce) nonce_der = der::integer(0x00C0FFEE12345678);
  const std::string request =
      der::seq({der::integer(1), der::seq({der::algorithm(hash_oid(imprint), der::null()), der::octets(digest)}), nonce_der,
                der::boolean(true)});
  Owned<BIO, BIO_free_all> request_bio(BIO_new_mem_buf(request.data(), static_cast<int>(request.size())));
  Owned<TS_RESP, TS_RESP_free> response(TS_RESP_create_response(ctx.get(), request_bio.get()));
  if (!response || TS_RESP_get_token(response.get()) == nullptr) throw std::runtime_error("TS responder failed");
  return encoded<PKCS7, i2d_PKCS7>(TS_RESP_get_token(response.get()));
}

std::string stamp_file(const std::vector<std::pair<std::string, std::string>>& tokens) {
  std::string out = "{\"schema\":\"orvelant/timestamp/v1\",\"tokens\":[";
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (i > 0) out += ",";
    out += "{\"tsa\":\"" + tokens[i].first + "\",\"token_b64\":\"" + base64(tokens[i].second) + "\"}";
  }
  return out + "]}";
}

}  // namespace orv::test::tsa
