// Small helpers over OpenSSL's X.509 and ASN.1 values: owning handles, OID and integer text,
// times as Unix seconds, and names compared and printed the way the timestamp checks need.
#pragma once

#include <openssl/asn1.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "crypto/openssl_ptr.h"

namespace orv::tsa {

using X509Ptr = crypto::OpenSslPtr<X509, X509_free>;
using X509NamePtr = crypto::OpenSslPtr<X509_NAME, X509_NAME_free>;
using AlgorPtr = crypto::OpenSslPtr<X509_ALGOR, X509_ALGOR_free>;
using GeneralNamePtr = crypto::OpenSslPtr<GENERAL_NAME, GENERAL_NAME_free>;

// A certificate with the DER it was decoded from; identity is equality of that DER, which for a
// certificate that passed the canonical rule is equality of every decoded field.
struct Cert {
  X509Ptr x509;
  std::vector<uint8_t> der;

  bool operator==(const Cert& other) const { return der == other.der; }
};

// nullopt unless the bytes are exactly one certificate; error holds the library's text.
std::optional<Cert> decode_cert(std::span<const uint8_t> der, std::string* error = nullptr);

// Dotted-decimal text of an OID.
std::string oid_text(const ASN1_OBJECT* oid);

// The content octets of an INTEGER as DER writes them (two's complement, minimal).
std::vector<uint8_t> integer_octets(const ASN1_INTEGER* value);

// Whole seconds since 1970 (negative before it); nullopt when the library cannot read the time.
std::optional<int64_t> unix_seconds(const ASN1_TIME* time);

// Same RDNs in the same order, each attribute of the same type with the same value.
bool same_name(const X509_NAME* a, const X509_NAME* b);

// RFC 4514 text as the library renders it (last RDN first, "," between RDNs, "+" inside one).
std::string name_text(const X509_NAME* name);

// The certificate's subject as text.
std::string subject_text(const X509* cert);

}  // namespace orv::tsa
