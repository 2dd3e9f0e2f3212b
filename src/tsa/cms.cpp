#include "tsa/cms.h"

#include <cstddef>

#include <openssl/asn1t.h>
#include <openssl/err.h>

#include "crypto/x509.h"

namespace orv::tsa::cms {

// OpenSSL's template macros are C: their expansions use C casts. The templates themselves are
// static tables the library interprets; nothing in them is code of ours.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#if defined(__clang__)
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif

ASN1_SEQUENCE(ContentInfo) =
    {
        ASN1_SIMPLE(ContentInfo, type, ASN1_OBJECT),
        ASN1_EXP(ContentInfo, content, ASN1_ANY, 0),
} ASN1_SEQUENCE_END(ContentInfo)

        ASN1_SEQUENCE(Validity) =
            {
                ASN1_SIMPLE(Validity, not_before, ASN1_TIME),
                ASN1_SIMPLE(Validity, not_after, ASN1_TIME),
} ASN1_SEQUENCE_END(Validity)

                ASN1_SEQUENCE(PublicKeyInfo) =
                    {
                        ASN1_SIMPLE(PublicKeyInfo, algorithm, X509_ALGOR),
                        ASN1_SIMPLE(PublicKeyInfo, key, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END(PublicKeyInfo)

                        ASN1_SEQUENCE(Extension) =
                            {
                                ASN1_SIMPLE(Extension, oid, ASN1_OBJECT),
                                ASN1_OPT(Extension, critical, ASN1_FBOOLEAN),
                                ASN1_SIMPLE(Extension, value, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(Extension)

                                ASN1_ITEM_TEMPLATE(RelativeName) = ASN1_EX_TEMPLATE_TYPE(
                                    ASN1_TFLG_SET_OF, 0, RelativeName, X509_NAME_ENTRY) ASN1_ITEM_TEMPLATE_END(RelativeName)

                                    ASN1_ITEM_TEMPLATE(Name) = ASN1_EX_TEMPLATE_TYPE(ASN1_TFLG_SEQUENCE_OF, 0, Name,
                                                                                     RelativeName) ASN1_ITEM_TEMPLATE_END(Name)

                                        ASN1_SEQUENCE(TbsCertificate) =
                                            {
                                                ASN1_EXP_OPT(TbsCertificate, version, ASN1_INTEGER, 0),
                                                ASN1_SIMPLE(TbsCertificate, serial, ASN1_INTEGER),
                                                ASN1_SIMPLE(TbsCertificate, signature, X509_ALGOR),
                                                ASN1_SIMPLE(TbsCertificate, issuer, Name),
                                                ASN1_SIMPLE(TbsCertificate, validity, Validity),
                                                ASN1_SIMPLE(TbsCertificate, subject, Name),
                                                ASN1_SIMPLE(TbsCertificate, key, PublicKeyInfo),
                                                ASN1_IMP_OPT(TbsCertificate, issuer_uid, ASN1_BIT_STRING, 1),
                                                ASN1_IMP_OPT(TbsCertificate, subject_uid, ASN1_BIT_STRING, 2),
                                                ASN1_EXP_SEQUENCE_OF_OPT(TbsCertificate, extensions, Extension, 3),
} ASN1_SEQUENCE_END(TbsCertificate)

                                                ASN1_SEQUENCE(Certificate) =
                                                    {
                                                        ASN1_SIMPLE(Certificate, tbs, TbsCertificate),
                                                        ASN1_SIMPLE(Certificate, signature_algorithm, X509_ALGOR),
                                                        ASN1_SIMPLE(Certificate, signature, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END(Certificate)

                                                        ASN1_CHOICE(CertificateChoice) =
                                                            {
                                                                ASN1_SIMPLE(CertificateChoice, d.certificate, Certificate),
                                                                ASN1_IMP(CertificateChoice, d.other, ASN1_SEQUENCE, 0),
                                                                ASN1_IMP(CertificateChoice, d.other, ASN1_SEQUENCE, 1),
                                                                ASN1_IMP(CertificateChoice, d.other, ASN1_SEQUENCE, 2),
                                                                ASN1_IMP(CertificateChoice, d.other, ASN1_SEQUENCE, 3),
} ASN1_CHOICE_END(CertificateChoice)

                                                                ASN1_SEQUENCE(IssuerAndSerial) =
                                                                    {
                                                                        ASN1_SIMPLE(IssuerAndSerial, issuer, Name),
                                                                        ASN1_SIMPLE(IssuerAndSerial, serial, ASN1_INTEGER),
} ASN1_SEQUENCE_END(IssuerAndSerial)

                                                                        ASN1_CHOICE(SignerId) =
                                                                            {
                                                                                ASN1_SIMPLE(SignerId, d.issuer_and_serial,
                                                                                            IssuerAndSerial),
                                                                                ASN1_IMP(SignerId, d.key_id, ASN1_OCTET_STRING,
                                                                                         0),
} ASN1_CHOICE_END(SignerId)

                                                                                ASN1_SEQUENCE(SignerInfo) =
                                                                                    {
                                                                                        ASN1_SIMPLE(SignerInfo, version,
                                                                                                    ASN1_INTEGER),
                                                                                        ASN1_SIMPLE(SignerInfo, sid, SignerId),
                                                                                        ASN1_SIMPLE(SignerInfo, digest_algorithm,
                                                                                                    X509_ALGOR),
                                                                                        ASN1_IMP_SET_OF_OPT(SignerInfo,
                                                                                                            signed_attrs,
                                                                                                            X509_ATTRIBUTE, 0),
                                                                                        ASN1_SIMPLE(SignerInfo,
                                                                                                    signature_algorithm,
                                                                                                    X509_ALGOR),
                                                                                        ASN1_SIMPLE(SignerInfo, signature,
                                                                                                    ASN1_OCTET_STRING),
                                                                                        ASN1_IMP_SET_OF_OPT(SignerInfo,
                                                                                                            unsigned_attrs,
                                                                                                            X509_ATTRIBUTE, 1),
} ASN1_SEQUENCE_END(SignerInfo)

                                                                                        ASN1_SEQUENCE(EncapsulatedContent) =
                                                                                            {
                                                                                                ASN1_SIMPLE(EncapsulatedContent,
                                                                                                            type, ASN1_OBJECT),
                                                                                                ASN1_EXP_OPT(EncapsulatedContent,
                                                                                                             content, ASN1_ANY,
                                                                                                             0),
} ASN1_SEQUENCE_END(EncapsulatedContent)

                                                                                                ASN1_SEQUENCE(SignedData) =
                                                                                                    {
                                                                                                        ASN1_SIMPLE(SignedData, version, ASN1_INTEGER),
                                                                                                        ASN1_SET_OF(SignedData, digest_algorithms, X509_ALGOR),
                                                                                                        ASN1_SIMPLE(SignedData, encap, EncapsulatedContent),
                                                                                                        ASN1_IMP_SET_OF_OPT(SignedData, certificates, CertificateChoice, 0),
                                                                                                        ASN1_IMP_SET_OF_OPT(SignedData, crls, ASN1_ANY, 1),
                                                                                                        ASN1_SET_OF(SignedData, signer_infos, SignerInfo),
} ASN1_SEQUENCE_END(SignedData)

                                                                                                        ASN1_ITEM_TEMPLATE(
                                                                                                            AttributeSet) =
                                                                                                            ASN1_EX_TEMPLATE_TYPE(
                                                                                                                ASN1_TFLG_SET_OF,
                                                                                                                0, AttributeSet,
                                                                                                                X509_ATTRIBUTE)
                                                                                                                ASN1_ITEM_TEMPLATE_END(
                                                                                                                    AttributeSet)
#pragma GCC diagnostic pop

                                                                                                                    namespace {

  ASN1_VALUE* as_value(const void* value) { return reinterpret_cast<ASN1_VALUE*>(const_cast<void*>(value)); }

  template <class T>
  Expected<T*, std::string> decode(std::span<const uint8_t> der, const ASN1_ITEM* item, const char* what) {
    ERR_clear_error();
    const unsigned char* cursor = der.data();
    ASN1_VALUE* value = ASN1_item_d2i(nullptr, &cursor, static_cast<long>(der.size()), item);
    if (value == nullptr) return fail(crypto::library_error("decoding failed"));
    if (cursor != der.data() + der.size()) {
      ASN1_item_free(value, item);
      return fail(std::string("trailing data after the ") + what);
    }
    return reinterpret_cast<T*>(value);
  }

  std::optional<std::vector<uint8_t>> encode_item(const void* value, const ASN1_ITEM* item) {
    unsigned char* out = nullptr;
    const int len = ASN1_item_i2d(as_value(value), &out, item);
    if (len <= 0 || out == nullptr) {
      ERR_clear_error();
      return std::nullopt;
    }
    std::vector<uint8_t> bytes(out, out + len);
    OPENSSL_free(out);
    return bytes;
  }

}  // namespace

void ContentInfoDeleter::operator()(ContentInfo* value) const { ASN1_item_free(as_value(value), ContentInfo_it()); }
void SignedDataDeleter::operator()(SignedData* value) const { ASN1_item_free(as_value(value), SignedData_it()); }

Expected<ContentInfoPtr, std::string> decode_content_info(std::span<const uint8_t> der) {
  Expected<ContentInfo*, std::string> value = decode<ContentInfo>(der, ContentInfo_it(), "ContentInfo");
  if (!value) return fail(value.error());
  return ContentInfoPtr(*value);
}

Expected<SignedDataPtr, std::string> decode_signed_data(std::span<const uint8_t> der) {
  Expected<SignedData*, std::string> value = decode<SignedData>(der, SignedData_it(), "SignedData");
  if (!value) return fail(value.error());
  return SignedDataPtr(*value);
}

std::optional<std::vector<uint8_t>> encode(const ContentInfo& value) { return encode_item(&value, ContentInfo_it()); }
std::optional<std::vector<uint8_t>> encode(const SignedData& value) { return encode_item(&value, SignedData_it()); }
std::optional<std::vector<uint8_t>> encode(const Certificate& value) { return encode_item(&value, Certificate_it()); }
std::optional<std::vector<uint8_t>> encode(const ASN1_TYPE& value) { return encode_item(&value, ASN1_ANY_it()); }

std::optional<std::vector<uint8_t>> encode_name(const OPENSSL_STACK* name) { return encode_item(name, Name_it()); }

std::optional<std::vector<uint8_t>> encode_attribute_set(const STACK_OF(X509_ATTRIBUTE) * attributes) {
  return encode_item(attributes, AttributeSet_it());
}

int certificate_count(const SignedData& value) { return value.certificates ? OPENSSL_sk_num(value.certificates) : 0; }

const CertificateChoice* certificate_at(const SignedData& value, int index) {
  return static_cast<const CertificateChoice*>(OPENSSL_sk_value(value.certificates, index));
}

int signer_count(const SignedData& value) { return OPENSSL_sk_num(value.signer_infos); }

const SignerInfo* signer_at(const SignedData& value, int index) {
  return static_cast<const SignerInfo*>(OPENSSL_sk_value(value.signer_infos, index));
}

}  // namespace orv::tsa::cms
