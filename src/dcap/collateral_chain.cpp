#include "dcap/collateral_chain.h"

#include <climits>
#include <ctime>
#include <string>

#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "core/base64.h"
#include "core/text.h"

namespace orv::dcap {
namespace {

using X509StoreCtxPtr = crypto::OpenSslPtr<X509_STORE_CTX, X509_STORE_CTX_free>;
// The stacks only borrow their elements; OpenSSL names their free functions by macro.
void free_cert_stack(STACK_OF(X509) * stack) { sk_X509_free(stack); }
void free_crl_stack(STACK_OF(X509_CRL) * stack) { sk_X509_CRL_free(stack); }
using CertStackPtr = crypto::OpenSslPtr<STACK_OF(X509), free_cert_stack>;
using CrlStackPtr = crypto::OpenSslPtr<STACK_OF(X509_CRL), free_crl_stack>;
using Asn1IntegerPtr = crypto::OpenSslPtr<ASN1_INTEGER, ASN1_INTEGER_free>;

constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kEnd = "-----END CERTIFICATE-----";

bool pem_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The names a reader of the failure text can act on, and the kind each failure is.
struct Reason {
  std::string_view name;
  FailureKind kind;
};

Reason reason_of(int error) {
  switch (error) {
    case X509_V_ERR_CERT_HAS_EXPIRED: return {"CertExpired", Expired};
    case X509_V_ERR_CERT_NOT_YET_VALID: return {"CertNotValidYet", NotYetValid};
    case X509_V_ERR_CRL_HAS_EXPIRED: return {"CrlExpired", Expired};
    case X509_V_ERR_CRL_NOT_YET_VALID: return {"CrlNotValidYet", NotYetValid};
    case X509_V_ERR_CERT_REVOKED: return {"CertRevoked", Revoked};
    case X509_V_ERR_UNABLE_TO_GET_CRL: return {"UnknownRevocationStatus", Untrusted};
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT: return {"UnknownIssuer", Untrusted};
    case X509_V_ERR_CERT_SIGNATURE_FAILURE: return {"BadSignature", BadSignature};
    case X509_V_ERR_CRL_SIGNATURE_FAILURE: return {"BadCrlSignature", BadSignature};
    case X509_V_ERR_INVALID_PURPOSE: return {"RequiredEkuNotFound", Untrusted};
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN: return {"CaUsedAsEndEntity", Untrusted};
    case X509_V_ERR_PATH_LENGTH_EXCEEDED: return {"PathLenConstraintViolated", Untrusted};
    case X509_V_ERR_CERT_CHAIN_TOO_LONG: return {"MaximumPathDepthExceeded", Untrusted};
    default: return {"InvalidCertificate", Untrusted};
  }
}

// A certificate is valid through the last second of its notAfter (RFC 5280, section 4.1.2.5);
// OpenSSL counts that second as expired. Only that exact case is let through.
int inclusive_not_after(int ok, X509_STORE_CTX* ctx) {
  if (ok == 1 || X509_STORE_CTX_get_error(ctx) != X509_V_ERR_CERT_HAS_EXPIRED) return ok;
  const X509* cert = X509_STORE_CTX_get_current_cert(ctx);
  const std::optional<int64_t> not_after = cert ? crypto::unix_seconds(X509_get0_notAfter(cert)) : std::nullopt;
  const time_t at = X509_VERIFY_PARAM_get_time(X509_STORE_CTX_get0_param(ctx));
  if (not_after && *not_after == static_cast<int64_t>(at)) {
    X509_STORE_CTX_set_error(ctx, X509_V_OK);
    return 1;
  }
  return ok;
}

}  // namespace

Expected<std::vector<std::vector<uint8_t>>, std::string> split_pem_certificates(std::string_view text) {
  std::vector<std::vector<uint8_t>> out;
  size_t pos = 0;
  while (true) {
    const size_t begin = text.find(kBegin, pos);
    if (begin == std::string_view::npos) break;
    const size_t body_start = begin + kBegin.size();
    const size_t end = text.find(kEnd, body_start);
    if (end == std::string_view::npos) return fail("PEM block without an end line");
    if (out.size() == kMaxChainCertificates) {
      return fail("more than " + decimal(kMaxChainCertificates) + " certificates");
    }
    std::string base64;
    base64.reserve(end - body_start);
    for (size_t i = body_start; i < end; ++i) {
      if (!pem_space(text[i])) base64 += text[i];
    }
    std::optional<std::vector<uint8_t>> der = base64_decode(base64);
    if (!der || der->empty()) return fail("PEM block is not base64");
    out.push_back(std::move(*der));
    pos = end + kEnd.size();
  }
  return out;
}

CrlNumber crl_number(const X509_CRL* crl) {
  int critical = 0;
  Asn1IntegerPtr number(static_cast<ASN1_INTEGER*>(X509_CRL_get_ext_d2i(crl, NID_crl_number, &critical, nullptr)));
  if (!number) return {std::nullopt, CrlNumberError::Absent};
  uint64_t value = 0;
  if (ASN1_INTEGER_get_uint64(&value, number.get()) != 1 || value > UINT32_MAX) {
    return {std::nullopt, CrlNumberError::TooLarge};
  }
  return {static_cast<uint32_t>(value), CrlNumberError::Absent};
}

std::optional<TrustAnchor> TrustAnchor::create(X509Ptr root, X509CrlPtr root_ca_crl, X509CrlPtr pck_crl, uint64_t now) {
  TrustAnchor anchor;
  anchor.store_.reset(X509_STORE_new());
  // The store holds the pinned root and nothing else: no default paths, no system store.
  if (!anchor.store_ || !root || X509_STORE_add_cert(anchor.store_.get(), root.get()) != 1) return std::nullopt;
  anchor.root_ = std::move(root);
  anchor.root_ca_crl_ = std::move(root_ca_crl);
  anchor.pck_crl_ = std::move(pck_crl);
  anchor.now_ = now;
  return anchor;
}

Expected<void, Failure> TrustAnchor::validate(X509* leaf, std::span<const X509Ptr> intermediates) const {
  const auto broken = [](FailureKind kind, std::string cause) {
    return failure(kind, "Failed to verify certificate chain", std::move(cause));
  };
  CertStackPtr untrusted(sk_X509_new_null());
  CrlStackPtr crls(sk_X509_CRL_new_null());
  X509StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (!untrusted || !crls || !ctx) return broken(Internal, "out of memory");
  for (const X509Ptr& cert : intermediates) {
    if (sk_X509_push(untrusted.get(), cert.get()) <= 0) return broken(Internal, "out of memory");
  }
  if (sk_X509_CRL_push(crls.get(), root_ca_crl_.get()) <= 0 || sk_X509_CRL_push(crls.get(), pck_crl_.get()) <= 0) {
    return broken(Internal, "out of memory");
  }
  if (X509_STORE_CTX_init(ctx.get(), store_.get(), leaf, untrusted.get()) != 1) return broken(Internal, "out of memory");
  // The context borrows the CRL stack; both stacks are freed after it.
  X509_STORE_CTX_set0_crls(ctx.get(), crls.get());
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
  // Every certificate of the path, the root included, needs an authoritative, current CRL.
  X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL | X509_V_FLAG_X509_STRICT);
  X509_VERIFY_PARAM_set_depth(param, static_cast<int>(kMaxChainCertificates));
  // The TLS server purpose asks serverAuth of an end entity only when it carries extended key
  // usage at all.
  X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
  // time_t is 64 bits here; a later time than it holds is past every certificate anyway.
  const time_t at = now_ > static_cast<uint64_t>(INT64_MAX) ? static_cast<time_t>(INT64_MAX) : static_cast<time_t>(now_);
  X509_VERIFY_PARAM_set_time(param, at);
  X509_STORE_CTX_set_verify_cb(ctx.get(), inclusive_not_after);
  const int verified = X509_verify_cert(ctx.get());
  if (verified == 1) return {};
  const int error = X509_STORE_CTX_get_error(ctx.get());
  const int depth = X509_STORE_CTX_get_error_depth(ctx.get());
  // An internal failure without a verification error is still a failure, never a pass.
  const int reason = error == X509_V_OK ? X509_V_ERR_UNSPECIFIED : error;
  const Reason found = reason_of(reason);
  return broken(found.kind, std::string(found.name) + " (" + X509_verify_cert_error_string(reason) + ", at depth " +
                                std::to_string(depth) + ")");
}

}  // namespace orv::dcap
