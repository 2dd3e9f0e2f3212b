// Timestamp signer certificates: signature schemes, verification keys, the signer's own rules,
// and the path from the signer to a pinned root through the certificates a token carries. Every
// certificate is judged at the token's genTime; nothing is fetched and revocation is not seen.
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "core/verdict.h"
#include "crypto/openssl_ptr.h"
#include "crypto/x509.h"

namespace orv::tsa {

// A certificate with the DER it was decoded from; identity is equality of that DER, which for a
// certificate that passed the canonical rule is equality of every decoded field.
struct Cert {
  crypto::X509Ptr x509;
  std::vector<uint8_t> der;

  bool operator==(const Cert& other) const { return der == other.der; }
};

// Exactly one certificate, or the library's reason.
Expected<Cert, std::string> decode_cert(std::span<const uint8_t> der);

enum class Digest { Sha256, Sha384, Sha512 };

std::string_view digest_name(Digest digest);  // "SHA-256", "SHA-384", "SHA-512"
std::vector<uint8_t> digest_of(Digest digest, std::span<const uint8_t> data);

// The digest an AlgorithmIdentifier names, only for exactly the three SHA-2 OIDs.
std::optional<Digest> supported_digest(const X509_ALGOR* algorithm);
// Parameters absent, or an ASN.1 NULL with empty contents.
bool parameters_absent_or_null(const X509_ALGOR* algorithm);

enum class SchemeKind { RsaPkcs1, Ecdsa };

struct Scheme {
  SchemeKind kind;
  Digest hash;
};

// The scheme of a signatureAlgorithm; `digest` is what rsaEncryption hashes with (certificate
// signatures pass none, so rsaEncryption is not supported for them).
std::optional<Scheme> signature_scheme(const X509_ALGOR* algorithm, std::optional<Digest> digest);
// Whether the parameters follow the scheme's rule: RSA absent or NULL, ECDSA absent.
bool scheme_parameters_ok(const X509_ALGOR* algorithm, SchemeKind kind);

struct SigningKey {
  crypto::PkeyPtr key;
  SchemeKind kind;
};

Expected<SigningKey, Problem> extract_signing_key(const X509* cert);

// RSA PKCS#1 v1.5 with the DigestInfo of `hash` and a signature exactly as long as the modulus,
// or ECDSA with a DER Ecdsa-Sig-Value; a key of the other kind gives false.
bool verify_signature(const SigningKey& key, SchemeKind scheme, Digest hash, std::span<const uint8_t> message,
                      std::span<const uint8_t> signature);

// The four signer rules in order (critical extensions, basicConstraints, keyUsage, extKeyUsage).
Expected<void, Problem> check_signer_certificate(const X509* cert);

// Whether `issuer` signed `child` (name, algorithm, key and signature over a fresh tbs encoding).
bool issued_by(const X509* issuer, X509* child);
// The CA rules for an issuer with `below` intermediates already under it.
Expected<void, Problem> check_issuer(const X509* issuer, size_t below);

inline constexpr size_t kMaxIntermediates = 5;

// The signer followed by the intermediates, each issued by the next, the last by the root.
using Path = std::vector<const Cert*>;

Expected<Path, Problem> build_path(const Cert& signer, std::span<const Cert> token_certs, const Cert& root, uint64_t gen_time);

// Every certificate the token carries must be one of the path's.
Expected<void, Problem> check_all_on_path(std::span<const Cert> token_certs, const Path& path);

}  // namespace orv::tsa
