#include "crypto/x509.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <climits>
#include <cstring>
#include <ctime>

#include "core/byte_reader.h"
#include "core/text.h"
#include "core/time_text.h"

namespace orv::crypto {
namespace {

using BioPtr = OpenSslPtr<BIO, BIO_free_all>;

std::optional<std::string> print_name(const X509_NAME* name, unsigned long flags) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || X509_NAME_print_ex(bio.get(), name, 0, flags) < 0) {
    ERR_clear_error();
    return std::nullopt;
  }
  char* data = nullptr;
  const long len = BIO_get_mem_data(bio.get(), &data);
  if (len < 0) return std::nullopt;
  return std::string(data, static_cast<size_t>(len));
}

}  // namespace

Expected<X509Ptr, std::string> decode_certificate(std::span<const uint8_t> der) {
  ERR_clear_error();
  if (der.empty() || der.size() > static_cast<size_t>(LONG_MAX)) return fail("certificate decoding failed");
  const unsigned char* cursor = der.data();
  X509Ptr cert(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  if (!cert) return fail(library_error("certificate decoding failed"));
  if (cursor != der.data() + der.size()) return fail("trailing data after the certificate");
  return cert;
}

X509CrlPtr decode_crl(std::span<const uint8_t> der) {
  if (der.empty() || der.size() > static_cast<size_t>(LONG_MAX)) return nullptr;
  const unsigned char* cursor = der.data();
  X509CrlPtr crl(d2i_X509_CRL(nullptr, &cursor, static_cast<long>(der.size())));
  if (crl && cursor != der.data() + der.size()) return nullptr;
  return crl;
}

std::optional<int64_t> unix_seconds(const ASN1_TIME* time) {
  std::tm tm{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) {
    ERR_clear_error();
    return std::nullopt;
  }
  const int64_t days =
      days_from_civil(int64_t{tm.tm_year} + 1900, static_cast<unsigned>(tm.tm_mon + 1), static_cast<unsigned>(tm.tm_mday));
  return days * 86400 + int64_t{tm.tm_hour} * 3600 + int64_t{tm.tm_min} * 60 + tm.tm_sec;
}

std::optional<Window> certificate_window(const X509* certificate) {
  const std::optional<int64_t> from = unix_seconds(X509_get0_notBefore(certificate));
  const std::optional<int64_t> until = unix_seconds(X509_get0_notAfter(certificate));
  if (!from || !until) return std::nullopt;
  return Window{*from, *until};
}

std::optional<Window> crl_window(const X509_CRL* crl) {
  const std::optional<int64_t> from = unix_seconds(X509_CRL_get0_lastUpdate(crl));
  const std::optional<int64_t> until = unix_seconds(X509_CRL_get0_nextUpdate(crl));
  if (!from || !until) return std::nullopt;
  return Window{*from, *until};
}

std::string oid_text(const ASN1_OBJECT* oid) {
  const int length = OBJ_length(oid);
  if (length <= 0) return "";
  return orv::oid_text({OBJ_get0_data(oid), static_cast<size_t>(length)}).value_or("");
}

std::vector<uint8_t> integer_octets(const ASN1_INTEGER* value) {
  unsigned char* der = nullptr;
  const int len = i2d_ASN1_INTEGER(value, &der);
  if (len <= 0 || der == nullptr) return {};
  std::vector<uint8_t> octets;
  ByteReader reader(std::span<const uint8_t>(der, static_cast<size_t>(len)));
  if (DerElement element; reader.read_der(V_ASN1_INTEGER, element)) {
    octets.assign(element.contents.begin(), element.contents.end());
  }
  OPENSSL_free(der);
  return octets;
}

bool same_name(const X509_NAME* a, const X509_NAME* b) {
  const int count = X509_NAME_entry_count(a);
  if (count != X509_NAME_entry_count(b)) return false;
  for (int i = 0; i < count; ++i) {
    const X509_NAME_ENTRY* x = X509_NAME_get_entry(a, i);
    const X509_NAME_ENTRY* y = X509_NAME_get_entry(b, i);
    // Entries of one RDN share a set number, so equal numbers mean equal grouping.
    if (X509_NAME_ENTRY_set(x) != X509_NAME_ENTRY_set(y)) return false;
    if (OBJ_cmp(X509_NAME_ENTRY_get_object(x), X509_NAME_ENTRY_get_object(y)) != 0) return false;
    const ASN1_STRING* xv = X509_NAME_ENTRY_get_data(x);
    const ASN1_STRING* yv = X509_NAME_ENTRY_get_data(y);
    if (ASN1_STRING_type(xv) != ASN1_STRING_type(yv) || ASN1_STRING_length(xv) != ASN1_STRING_length(yv)) return false;
    if (std::memcmp(ASN1_STRING_get0_data(xv), ASN1_STRING_get0_data(yv), static_cast<size_t>(ASN1_STRING_length(xv))) != 0) {
      return false;
    }
  }
  return true;
}

std::string name_text(const X509_NAME* name) {
  // UTF-8 as the strings hold it; bytes the library cannot convert fall back to its \XX escapes,
  // so the text is always valid UTF-8.
  if (std::optional<std::string> text = print_name(name, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB)) {
    if (is_valid_utf8(*text)) return *text;
  }
  return print_name(name, XN_FLAG_RFC2253).value_or("");
}

std::string subject_text(const X509* cert) { return name_text(X509_get_subject_name(cert)); }

std::string library_error(const char* fallback) {
  std::string text;
  const char* data = nullptr;
  int flags = 0;
  while (const unsigned long code = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) {
    const char* reason = ERR_reason_error_string(code);
    std::string item = reason ? reason : "error " + std::to_string(ERR_GET_REASON(code));
    if (data != nullptr && (flags & ERR_TXT_STRING) && *data != '\0') item += std::string(" (") + data + ")";
    if (!text.empty()) text += ", ";
    text += item;
  }
  return text.empty() ? fallback : text;
}

}  // namespace orv::crypto
