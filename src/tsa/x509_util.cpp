#include "tsa/x509_util.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <cstring>
#include <ctime>

#include "core/byte_reader.h"
#include "core/text.h"
#include "tsa/cms.h"

namespace orv::tsa {
namespace {

using BioPtr = crypto::OpenSslPtr<BIO, BIO_free_all>;

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
int64_t days_from_civil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

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

std::optional<Cert> decode_cert(std::span<const uint8_t> der, std::string* error) {
  ERR_clear_error();
  const unsigned char* cursor = der.data();
  X509Ptr x509(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  if (!x509) {
    if (error) *error = cms::library_error("certificate decoding failed");
    return std::nullopt;
  }
  if (cursor != der.data() + der.size()) {
    if (error) *error = "trailing data after the certificate";
    return std::nullopt;
  }
  return Cert{std::move(x509), std::vector<uint8_t>(der.begin(), der.end())};
}

std::string oid_text(const ASN1_OBJECT* oid) {
  const int needed = OBJ_obj2txt(nullptr, 0, oid, 1);
  if (needed <= 0) return "";
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  const int written = OBJ_obj2txt(text.data(), needed + 1, oid, 1);
  text.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return text;
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

std::optional<int64_t> unix_seconds(const ASN1_TIME* time) {
  std::tm tm{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) {
    ERR_clear_error();
    return std::nullopt;
  }
  const int64_t days = days_from_civil(int64_t{tm.tm_year} + 1900, int64_t{tm.tm_mon} + 1, tm.tm_mday);
  return days * 86400 + int64_t{tm.tm_hour} * 3600 + int64_t{tm.tm_min} * 60 + tm.tm_sec;
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
    if (std::memcmp(ASN1_STRING_get0_data(xv), ASN1_STRING_get0_data(yv),
                    static_cast<size_t>(ASN1_STRING_length(xv))) != 0) {
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

}  // namespace orv::tsa
