// The certificate chains of Intel's collateral: PEM splitting, the CRL number, and path
// validation to one pinned root at a given time with both CRLs as revocation input.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include <openssl/x509.h>

#include "core/result.h"
#include "crypto/x509.h"
#include "dcap/failure.h"

namespace orv::dcap {

using crypto::X509CrlPtr;
using crypto::X509Ptr;
using X509StorePtr = crypto::OpenSslPtr<X509_STORE, X509_STORE_free>;

// More certificates than any Intel chain holds; bounds the work of path building.
inline constexpr size_t kMaxChainCertificates = 8;

// The DER of every "CERTIFICATE" PEM block in order. Text outside the blocks is ignored (a
// quote's chain ends with a NUL byte); a block that is not canonical base64, is unterminated,
// or one block too many, fails the whole text.
Expected<std::vector<std::vector<uint8_t>>, std::string> split_pem_certificates(std::string_view text);

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
