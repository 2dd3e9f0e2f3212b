// X.509 and ASN.1 values over OpenSSL, read one way for Intel's collateral and for timestamp
// tokens alike: owning handles, exactly one certificate or CRL from its DER, times as Unix
// seconds, OID and INTEGER contents, names compared and printed, and the library's error text.
#pragma once

#include <openssl/asn1.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/result.h"
#include "crypto/openssl_ptr.h"

namespace orv::crypto {

using X509Ptr = OpenSslPtr<X509, X509_free>;
using X509CrlPtr = OpenSslPtr<X509_CRL, X509_CRL_free>;
using X509NamePtr = OpenSslPtr<X509_NAME, X509_NAME_free>;
using AlgorPtr = OpenSslPtr<X509_ALGOR, X509_ALGOR_free>;
using GeneralNamePtr = OpenSslPtr<GENERAL_NAME, GENERAL_NAME_free>;

// Exactly one certificate or CRL in all of der: trailing bytes would let two byte strings stand
// for one object. The certificate's error is the library's text, or "trailing data after the
// certificate".
Expected<X509Ptr, std::string> decode_certificate(std::span<const uint8_t> der);
X509CrlPtr decode_crl(std::span<const uint8_t> der);

// Whole seconds since 1970 (negative before it); nullopt when the library cannot read the time.
std::optional<int64_t> unix_seconds(const ASN1_TIME* time);

struct Window {
  int64_t not_before = 0;
  int64_t not_after = 0;
};
std::optional<Window> certificate_window(const X509* certificate);
// thisUpdate and nextUpdate; nullopt also when nextUpdate is absent.
std::optional<Window> crl_window(const X509_CRL* crl);

// Dotted-decimal text of an OID; empty when it has no such text (an arc beyond 64 bits).
std::string oid_text(const ASN1_OBJECT* oid);

// The content octets of an INTEGER as DER writes them (two's complement, minimal).
std::vector<uint8_t> integer_octets(const ASN1_INTEGER* value);

// Same RDNs in the same order, each attribute of the same type with the same value.
bool same_name(const X509_NAME* a, const X509_NAME* b);
// RFC 4514 text as the library renders it (last RDN first, "," between RDNs, "+" inside one).
std::string name_text(const X509_NAME* name);
std::string subject_text(const X509* cert);

// The library's pending error texts, oldest first, as one line; clears the queue.
std::string library_error(const char* fallback);

}  // namespace orv::crypto
