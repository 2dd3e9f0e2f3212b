// The CMS structures a timestamp token is made of, declared as OpenSSL ASN.1 templates so that
// the library decodes each stage on its own and encodes the decoded values afresh. OpenSSL's own
// CMS and X509 types keep the bytes they were decoded from (a certificate's tbs, its names) and
// write those back out; these templates hold decoded fields only, so an encoding is a real one.
#pragma once

#include <openssl/asn1.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/result.h"

namespace orv::tsa::cms {

// ContentInfo ::= SEQUENCE { contentType OID, content [0] EXPLICIT ANY }
struct ContentInfo {
  ASN1_OBJECT* type;
  ASN1_TYPE* content;
};

struct Validity {
  ASN1_TIME* not_before;
  ASN1_TIME* not_after;
};

struct PublicKeyInfo {
  X509_ALGOR* algorithm;
  ASN1_BIT_STRING* key;
};

// Extension with critical as BOOLEAN DEFAULT FALSE: OpenSSL's own X509_EXTENSION keeps an
// explicit FALSE and writes it back, which DER forbids.
struct Extension {
  ASN1_OBJECT* oid;
  ASN1_BOOLEAN critical;
  ASN1_OCTET_STRING* value;
};

// Name ::= SEQUENCE OF SET OF AttributeTypeAndValue, held as nested stacks.
struct TbsCertificate {
  ASN1_INTEGER* version;  // [0] EXPLICIT, DEFAULT v1
  ASN1_INTEGER* serial;
  X509_ALGOR* signature;
  OPENSSL_STACK* issuer;
  Validity* validity;
  OPENSSL_STACK* subject;
  PublicKeyInfo* key;
  ASN1_BIT_STRING* issuer_uid;
  ASN1_BIT_STRING* subject_uid;
  OPENSSL_STACK* extensions;  // of Extension
};

struct Certificate {
  TbsCertificate* tbs;
  X509_ALGOR* signature_algorithm;
  ASN1_BIT_STRING* signature;
};

// CertificateChoices: type 0 is an X.509 certificate; 1 to 4 are the other forms, kept whole.
struct CertificateChoice {
  int type;
  union {
    Certificate* certificate;
    ASN1_STRING* other;
  } d;
};

struct IssuerAndSerial {
  OPENSSL_STACK* issuer;
  ASN1_INTEGER* serial;
};

// SignerIdentifier: type 0 issuerAndSerialNumber, 1 subjectKeyIdentifier.
struct SignerId {
  int type;
  union {
    IssuerAndSerial* issuer_and_serial;
    ASN1_OCTET_STRING* key_id;
  } d;
};

struct SignerInfo {
  ASN1_INTEGER* version;
  SignerId* sid;
  X509_ALGOR* digest_algorithm;
  STACK_OF(X509_ATTRIBUTE) * signed_attrs;
  X509_ALGOR* signature_algorithm;
  ASN1_OCTET_STRING* signature;
  STACK_OF(X509_ATTRIBUTE) * unsigned_attrs;
};

struct EncapsulatedContent {
  ASN1_OBJECT* type;
  ASN1_TYPE* content;  // [0] EXPLICIT, optional; left as ANY so its form is judged apart
};

struct SignedData {
  ASN1_INTEGER* version;
  STACK_OF(X509_ALGOR) * digest_algorithms;
  EncapsulatedContent* encap;
  OPENSSL_STACK* certificates;  // of CertificateChoice; [0] IMPLICIT, optional
  STACK_OF(ASN1_TYPE) * crls;   // [1] IMPLICIT, optional; only its presence matters
  OPENSSL_STACK* signer_infos;  // of SignerInfo
};

struct ContentInfoDeleter {
  void operator()(ContentInfo* value) const;
};
struct SignedDataDeleter {
  void operator()(SignedData* value) const;
};
using ContentInfoPtr = std::unique_ptr<ContentInfo, ContentInfoDeleter>;
using SignedDataPtr = std::unique_ptr<SignedData, SignedDataDeleter>;

// Each decode must consume its input exactly; the error is the library's own text.
Expected<ContentInfoPtr, std::string> decode_content_info(std::span<const uint8_t> der);
Expected<SignedDataPtr, std::string> decode_signed_data(std::span<const uint8_t> der);

// Fresh DER encodings of decoded values; nullopt when the library cannot encode them.
std::optional<std::vector<uint8_t>> encode(const ContentInfo& value);
std::optional<std::vector<uint8_t>> encode(const SignedData& value);
std::optional<std::vector<uint8_t>> encode(const Certificate& value);
std::optional<std::vector<uint8_t>> encode(const ASN1_TYPE& value);
// A name as DER (SEQUENCE OF RDN).
std::optional<std::vector<uint8_t>> encode_name(const OPENSSL_STACK* name);
// Signed attributes as the DER SET OF the signature covers (RFC 5652 section 5.4).
std::optional<std::vector<uint8_t>> encode_attribute_set(const STACK_OF(X509_ATTRIBUTE) * attributes);

// Typed access to the stacks above.
int certificate_count(const SignedData& value);
const CertificateChoice* certificate_at(const SignedData& value, int index);
int signer_count(const SignedData& value);
const SignerInfo* signer_at(const SignedData& value, int index);

}  // namespace orv::tsa::cms
