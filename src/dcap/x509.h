// Certificates and CRLs of Intel's collateral over OpenSSL: PEM splitting, strict DER parsing,
// path validation to one pinned root at a given time with both CRLs as revocation input, and
// the time values the report shows.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include <openssl/x509.h>

#include "core/result.h"
#include "crypto/openssl_ptr.h"
#include "dcap/failure.h"

namespace orv::dcap {

using X509Ptr = crypto::OpenSslPtr<X509, X509_free>;
using X509CrlPtr = crypto::OpenSslPtr<X509_CRL, X509_CRL_free>;
using X509StorePtr = crypto::OpenSslPtr<X509_STORE, X509_STORE_free>;

// More certificates than any Intel chain holds; bounds the work of path building.
inline constexpr size_t kMaxChainCertificates = 8;

// The DER of every "CERTIFICATE" PEM block in order. Text outside the blocks is ignored (a
// quote's chain ends with a NUL byte); a block that is not canonical base64, is unterminated,
// or one block too many, fails the whole text.
Expected<std::vector<std::vector<uint8_t>>, std::string> split_pem_certificates(std::string_view text);

// One certificate or CRL from exactly its DER bytes; null otherwise.
X509Ptr parse_certificate(std::span<const uint8_t> der);
X509CrlPtr parse_crl(std::span<const uint8_t> der);

// Seconds since the epoch of an ASN.1 time; nullopt when OpenSSL cannot read it.
std::optional<int64_t> asn1_time_seconds(const ASN1_TIME* time);

struct Window {
  int64_t not_before = 0;
  int64_t not_after = 0;
};

std::optional<Window> certificate_window(const X509* certificate);
// thisUpdate and nextUpdate; nullopt when nextUpdate is absent, since such a CRL never expires.
std::optional<Window> crl_window(const X509_CRL* crl);
// The CRL number extension (2.5.29.20): "absent", "too large" or the value.
enum class CrlNumberError { Absent, TooLarge };
struct CrlNumber {
  std::optional<uint32_t> value;
  CrlNumberError error = CrlNumberError::Absent;
};
CrlNumber crl_number(const X509_CRL* crl);

// The pinned root, both CRLs and the evaluation time: everything path validation needs.
class TrustAnchor {
 public:
  // Nothing only when OpenSSL cannot allocate the store.
  static std::optional<TrustAnchor> create(X509Ptr root, X509CrlPtr root_ca_crl, X509CrlPtr pck_crl, uint64_t now);

  // "Failed to verify certificate chain" with the reason as its cause, such as "CertExpired",
  // "CrlExpired", "CertRevoked" or "UnknownRevocationStatus".
  Expected<void, Failure> validate(X509* leaf, std::span<const X509Ptr> intermediates) const;

  const X509* root() const { return root_.get(); }
  const X509_CRL* root_ca_crl() const { return root_ca_crl_.get(); }
  const X509_CRL* pck_crl() const { return pck_crl_.get(); }
  uint64_t now() const { return now_; }

 private:
  TrustAnchor() = default;
  X509Ptr root_;
  X509CrlPtr root_ca_crl_;
  X509CrlPtr pck_crl_;
  X509StorePtr store_;
  uint64_t now_ = 0;
};

}  // namespace orv::dcap
