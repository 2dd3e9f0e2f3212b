#include "tsa/certs.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <limits>

#include "crypto/digest.h"

namespace orv::tsa {
namespace {

using BasicConstraintsPtr = crypto::OpenSslPtr<BASIC_CONSTRAINTS, BASIC_CONSTRAINTS_free>;
using BitStringPtr = crypto::OpenSslPtr<ASN1_BIT_STRING, ASN1_BIT_STRING_free>;
using ExtKeyUsagePtr = crypto::OpenSslPtr<EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free>;
using PkeyCtxPtr = crypto::OpenSslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;

Problem problem(ProblemCode code, std::string message) { return Problem{code, std::move(message), 0}; }

const EVP_MD* evp_md(Digest digest) {
  switch (digest) {
    case Digest::Sha256: return EVP_sha256();
    case Digest::Sha384: return EVP_sha384();
    case Digest::Sha512: return EVP_sha512();
  }
  return nullptr;
}

// One of the three extensions the rules read. A second copy makes the certificate ambiguous
// (RFC 5280 section 4.2 allows each extension once), so it counts as not parsing.
struct Extension {
  X509_EXTENSION* found = nullptr;
  bool repeated = false;
};

Extension find_extension(const X509* cert, int nid) {
  Extension result;
  for (int i = 0; i < X509_get_ext_count(cert); ++i) {
    X509_EXTENSION* ext = X509_get_ext(cert, i);
    if (OBJ_obj2nid(X509_EXTENSION_get_object(ext)) != nid) continue;
    if (result.found) result.repeated = true;
    result.found = ext;
  }
  return result;
}

// Decodes an extension's value, which must be exactly one value of the type.
template <class T, T* (*Decode)(T**, const unsigned char**, long), void (*Free)(T*)>
crypto::OpenSslPtr<T, Free> decode_value(X509_EXTENSION* ext) {
  const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(ext);
  const unsigned char* cursor = ASN1_STRING_get0_data(value);
  const unsigned char* end = cursor + ASN1_STRING_length(value);
  crypto::OpenSslPtr<T, Free> decoded(Decode(nullptr, &cursor, ASN1_STRING_length(value)));
  ERR_clear_error();
  if (decoded && cursor != end) decoded.reset();
  return decoded;
}

Expected<void, Problem> check_critical_extensions(const X509* cert) {
  for (int i = 0; i < X509_get_ext_count(cert); ++i) {
    X509_EXTENSION* ext = X509_get_ext(cert, i);
    if (!X509_EXTENSION_get_critical(ext)) continue;
    const int nid = OBJ_obj2nid(X509_EXTENSION_get_object(ext));
    if (nid == NID_basic_constraints || nid == NID_key_usage || nid == NID_ext_key_usage) continue;
    return problem("TIMESTAMP_CHAIN_INVALID",
                   "certificate '" + crypto::subject_text(cert) + "' has a critical extension this verifier does not process");
  }
  return {};
}

// basicConstraints: absent gives a null pointer and no problem.
Expected<BasicConstraintsPtr, Problem> basic_constraints(const X509* cert) {
  const Extension ext = find_extension(cert, NID_basic_constraints);
  if (!ext.found) return BasicConstraintsPtr();
  BasicConstraintsPtr bc;
  if (!ext.repeated) bc = decode_value<BASIC_CONSTRAINTS, d2i_BASIC_CONSTRAINTS, BASIC_CONSTRAINTS_free>(ext.found);
  int64_t path_len = 0;
  // pathLenConstraint is INTEGER (0..MAX); a negative one is not a constraint anyone can meet.
  if (!bc || (bc->pathlen && ASN1_INTEGER_get_int64(&path_len, bc->pathlen) == 1 && path_len < 0)) {
    ERR_clear_error();
    return problem("TIMESTAMP_PARSE", "basic constraints do not parse");
  }
  return bc;
}

Expected<BitStringPtr, Problem> key_usage(const X509* cert) {
  const Extension ext = find_extension(cert, NID_key_usage);
  if (!ext.found) return BitStringPtr();
  BitStringPtr bits;
  if (!ext.repeated) bits = decode_value<ASN1_BIT_STRING, d2i_ASN1_BIT_STRING, ASN1_BIT_STRING_free>(ext.found);
  if (!bits) return problem("TIMESTAMP_PARSE", "key usage does not parse");
  return bits;
}

bool validity_covers(const X509* cert, uint64_t gen_time) {
  const std::optional<crypto::Window> window = crypto::certificate_window(cert);
  if (!window) return false;
  // genTime is at most year 9999, far inside int64; clamping only guards the conversion.
  const int64_t at = gen_time > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                                           : static_cast<int64_t>(gen_time);
  return window->not_before <= at && at <= window->not_after;
}

}  // namespace

Expected<Cert, std::string> decode_cert(std::span<const uint8_t> der) {
  Expected<crypto::X509Ptr, std::string> x509 = crypto::decode_certificate(der);
  if (!x509) return fail(std::move(x509).error());
  return Cert{std::move(x509).value(), std::vector<uint8_t>(der.begin(), der.end())};
}

std::string_view digest_name(Digest digest) {
  switch (digest) {
    case Digest::Sha256: return "SHA-256";
    case Digest::Sha384: return "SHA-384";
    case Digest::Sha512: return "SHA-512";
  }
  return "";
}

std::vector<uint8_t> digest_of(Digest digest, std::span<const uint8_t> data) {
  switch (digest) {
    case Digest::Sha256: {
      const auto value = crypto::sha256(data);
      return {value.begin(), value.end()};
    }
    case Digest::Sha384: {
      const auto value = crypto::sha384(data);
      return {value.begin(), value.end()};
    }
    case Digest::Sha512: {
      const auto value = crypto::sha512(data);
      return {value.begin(), value.end()};
    }
  }
  return {};
}

std::optional<Digest> supported_digest(const X509_ALGOR* algorithm) {
  const ASN1_OBJECT* oid = nullptr;
  X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
  switch (OBJ_obj2nid(oid)) {
    case NID_sha256: return Digest::Sha256;
    case NID_sha384: return Digest::Sha384;
    case NID_sha512: return Digest::Sha512;
    default: return std::nullopt;
  }
}

bool parameters_absent_or_null(const X509_ALGOR* algorithm) {
  int type = V_ASN1_UNDEF;
  const void* value = nullptr;
  X509_ALGOR_get0(nullptr, &type, &value, algorithm);
  // The library refuses a NULL with contents when it decodes one, so the type settles it.
  return type == V_ASN1_UNDEF || type == V_ASN1_NULL;
}

std::optional<Scheme> signature_scheme(const X509_ALGOR* algorithm, std::optional<Digest> digest) {
  const ASN1_OBJECT* oid = nullptr;
  X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
  switch (OBJ_obj2nid(oid)) {
    case NID_sha256WithRSAEncryption: return Scheme{SchemeKind::RsaPkcs1, Digest::Sha256};
    case NID_sha384WithRSAEncryption: return Scheme{SchemeKind::RsaPkcs1, Digest::Sha384};
    case NID_sha512WithRSAEncryption: return Scheme{SchemeKind::RsaPkcs1, Digest::Sha512};
    case NID_ecdsa_with_SHA256: return Scheme{SchemeKind::Ecdsa, Digest::Sha256};
    case NID_ecdsa_with_SHA384: return Scheme{SchemeKind::Ecdsa, Digest::Sha384};
    case NID_ecdsa_with_SHA512: return Scheme{SchemeKind::Ecdsa, Digest::Sha512};
    case NID_rsaEncryption:
      if (digest) return Scheme{SchemeKind::RsaPkcs1, *digest};
      return std::nullopt;
    default: return std::nullopt;
  }
}

bool scheme_parameters_ok(const X509_ALGOR* algorithm, SchemeKind kind) {
  if (kind == SchemeKind::RsaPkcs1) return parameters_absent_or_null(algorithm);
  int type = V_ASN1_UNDEF;
  X509_ALGOR_get0(nullptr, &type, nullptr, algorithm);
  return type == V_ASN1_UNDEF;
}

Expected<SigningKey, Problem> extract_signing_key(const X509* cert) {
  const ASN1_BIT_STRING* bits = X509_get0_pubkey_bitstr(cert);
  if (bits == nullptr || ((bits->flags & ASN1_STRING_FLAG_BITS_LEFT) && (bits->flags & 0x07))) {
    return problem("TIMESTAMP_PARSE", "public key has unused bits");
  }
  ASN1_OBJECT* algorithm = nullptr;
  const unsigned char* point = nullptr;
  int point_len = 0;
  X509_ALGOR* parameters = nullptr;
  if (X509_PUBKEY_get0_param(&algorithm, &point, &point_len, &parameters, X509_get_X509_PUBKEY(cert)) != 1) {
    ERR_clear_error();
    return problem("TIMESTAMP_UNSUPPORTED", "certificate key is not RSA or ECDSA");
  }
  EVP_PKEY* key = X509_get0_pubkey(cert);
  ERR_clear_error();
  const int nid = OBJ_obj2nid(algorithm);
  if (nid == NID_X9_62_id_ecPublicKey) {
    int type = V_ASN1_UNDEF;
    const void* curve = nullptr;
    if (parameters) X509_ALGOR_get0(nullptr, &type, &curve, parameters);
    if (type != V_ASN1_OBJECT) return problem("TIMESTAMP_PARSE", "EC key has no named curve");
    const int curve_nid = OBJ_obj2nid(static_cast<const ASN1_OBJECT*>(curve));
    const char* bad = curve_nid == NID_X9_62_prime256v1 ? "P-256 key does not parse"
                      : curve_nid == NID_secp384r1      ? "P-384 key does not parse"
                                                        : nullptr;
    if (!bad) return problem("TIMESTAMP_UNSUPPORTED", "EC curve is not P-256 or P-384");
    // The point at infinity (a lone 00) decodes but is no key; the check also rejects points
    // off the curve.
    if (key == nullptr || point_len < 2) return problem("TIMESTAMP_PARSE", bad);
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    const bool sound = ctx && EVP_PKEY_public_check(ctx.get()) == 1;
    ERR_clear_error();
    if (!sound) return problem("TIMESTAMP_PARSE", bad);
    EVP_PKEY_up_ref(key);
    return SigningKey{crypto::PkeyPtr(key), SchemeKind::Ecdsa};
  }
  if (nid == NID_rsaEncryption) {
    if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA)
      return problem("TIMESTAMP_PARSE", "RSA public key does not parse");
    if (EVP_PKEY_get_bits(key) < 2048) return problem("TIMESTAMP_UNSUPPORTED", "RSA key is shorter than 2048 bits");
    EVP_PKEY_up_ref(key);
    return SigningKey{crypto::PkeyPtr(key), SchemeKind::RsaPkcs1};
  }
  return problem("TIMESTAMP_UNSUPPORTED", "certificate key is not RSA or ECDSA");
}

bool verify_signature(const SigningKey& key, SchemeKind scheme, Digest hash, std::span<const uint8_t> message,
                      std::span<const uint8_t> signature) {
  if (key.kind != scheme || !key.key) return false;
  if (scheme == SchemeKind::RsaPkcs1 && signature.size() != static_cast<size_t>(EVP_PKEY_get_size(key.key.get()))) {
    return false;
  }
  crypto::MdCtxPtr ctx(EVP_MD_CTX_new());
  EVP_PKEY_CTX* pctx = nullptr;
  bool ok = ctx && EVP_DigestVerifyInit(ctx.get(), &pctx, evp_md(hash), nullptr, key.key.get()) == 1;
  if (ok && scheme == SchemeKind::RsaPkcs1) ok = EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) == 1;
  ok = ok && EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(), message.size()) == 1;
  ERR_clear_error();
  return ok;
}

Expected<void, Problem> check_signer_certificate(const X509* cert) {
  if (auto found = check_critical_extensions(cert); !found.ok()) return found;

  auto bc = basic_constraints(cert);
  if (!bc) return bc.error();
  if (const auto& value = *bc; value && value->ca) {
    return problem("TIMESTAMP_CHAIN_INVALID", "signer certificate is a CA certificate");
  }

  auto usage = key_usage(cert);
  if (!usage) return usage.error();
  if (const auto& bits = *usage; bits && !ASN1_BIT_STRING_get_bit(bits.get(), 0) && !ASN1_BIT_STRING_get_bit(bits.get(), 1)) {
    return problem("TIMESTAMP_CHAIN_INVALID", "signer certificate may not sign");
  }

  const Extension eku = find_extension(cert, NID_ext_key_usage);
  if (!eku.found) return problem("TIMESTAMP_CHAIN_INVALID", "signer certificate has no extended key usage");
  if (!X509_EXTENSION_get_critical(eku.found))
    return problem("TIMESTAMP_CHAIN_INVALID", "signer extended key usage is not critical");
  ExtKeyUsagePtr purposes;
  if (!eku.repeated) {
    purposes = decode_value<EXTENDED_KEY_USAGE, d2i_EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free>(eku.found);
  }
  if (!purposes) return problem("TIMESTAMP_PARSE", "extended key usage does not parse");
  if (sk_ASN1_OBJECT_num(purposes.get()) != 1 || OBJ_obj2nid(sk_ASN1_OBJECT_value(purposes.get(), 0)) != NID_time_stamp) {
    return problem("TIMESTAMP_CHAIN_INVALID", "signer certificate is not exclusively for time-stamping");
  }
  return {};
}

bool issued_by(const X509* issuer, X509* child) {
  if (!crypto::same_name(X509_get_issuer_name(child), X509_get_subject_name(issuer))) return false;
  const ASN1_BIT_STRING* signature = nullptr;
  const X509_ALGOR* algorithm = nullptr;
  X509_get0_signature(&signature, &algorithm, child);
  const std::optional<Scheme> scheme = signature_scheme(algorithm, std::nullopt);
  if (!scheme || !scheme_parameters_ok(algorithm, scheme->kind)) return false;
  auto key = extract_signing_key(issuer);
  if (!key.ok()) return false;
  // A signature is whole octets; unused bits would mean it is not one.
  if ((signature->flags & ASN1_STRING_FLAG_BITS_LEFT) && (signature->flags & 0x07)) return false;
  // i2d_re_X509_tbs encodes the decoded fields afresh instead of replaying the cached bytes.
  unsigned char* tbs = nullptr;
  const int tbs_len = i2d_re_X509_tbs(child, &tbs);
  if (tbs_len <= 0 || tbs == nullptr) {
    ERR_clear_error();
    return false;
  }
  const bool verified = verify_signature(
      *key, scheme->kind, scheme->hash, std::span<const uint8_t>(tbs, static_cast<size_t>(tbs_len)),
      std::span<const uint8_t>(ASN1_STRING_get0_data(signature), static_cast<size_t>(ASN1_STRING_length(signature))));
  OPENSSL_free(tbs);
  return verified;
}

Expected<void, Problem> check_issuer(const X509* issuer, size_t below) {
  if (auto found = check_critical_extensions(issuer); !found.ok()) return found;

  auto bc = basic_constraints(issuer);
  if (!bc) return bc.error();
  const auto& constraints = *bc;
  if (!constraints || !constraints->ca) return problem("TIMESTAMP_CHAIN_INVALID", "issuer certificate is not a CA");
  if (constraints->pathlen) {
    int64_t limit = 0;
    // A limit too large for 64 bits limits nothing that five intermediates could reach.
    if (ASN1_INTEGER_get_int64(&limit, constraints->pathlen) == 1 && static_cast<uint64_t>(limit) < below) {
      return problem("TIMESTAMP_CHAIN_INVALID", "certificate path is longer than a CA allows");
    }
    ERR_clear_error();
  }

  auto usage = key_usage(issuer);
  if (!usage) return usage.error();
  if (const auto& bits = *usage; bits && !ASN1_BIT_STRING_get_bit(bits.get(), 5)) {
    return problem("TIMESTAMP_CHAIN_INVALID", "issuer certificate may not sign certificates");
  }
  return {};
}

Expected<Path, Problem> build_path(const Cert& signer, std::span<const Cert> token_certs, const Cert& root, uint64_t gen_time) {
  Path path{&signer};
  size_t below = 0;
  while (true) {
    if (below == kMaxIntermediates) return problem("TIMESTAMP_CHAIN_INVALID", "certificate chain is too long");
    const Cert& current = *path.back();
    if (!validity_covers(current.x509.get(), gen_time)) {
      return problem("TIMESTAMP_CHAIN_INVALID",
                     "certificate '" + crypto::subject_text(current.x509.get()) + "' was not valid at the stamp time");
    }
    if (issued_by(root.x509.get(), current.x509.get())) {
      if (auto found = check_issuer(root.x509.get(), below); !found.ok()) return found.error();
      if (!validity_covers(root.x509.get(), gen_time)) {
        return problem("TIMESTAMP_CHAIN_INVALID", "the pinned root was not valid at the stamp time");
      }
      return path;
    }
    const auto next = std::find_if(token_certs.begin(), token_certs.end(), [&](const Cert& candidate) {
      return !(candidate == current) && issued_by(candidate.x509.get(), current.x509.get());
    });
    if (next == token_certs.end()) return problem("TIMESTAMP_CHAIN_INVALID", "the signer does not chain to the pinned TSA root");
    if (auto found = check_issuer(next->x509.get(), below); !found.ok()) return found.error();
    path.push_back(&*next);
    ++below;
  }
}

Expected<void, Problem> check_all_on_path(std::span<const Cert> token_certs, const Path& path) {
  for (const Cert& cert : token_certs) {
    const bool on_path = std::any_of(path.begin(), path.end(), [&](const Cert* member) { return *member == cert; });
    if (!on_path) return problem("TIMESTAMP_CHAIN_INVALID", "token carries a certificate that is not on the verified path");
  }
  return {};
}

}  // namespace orv::tsa
