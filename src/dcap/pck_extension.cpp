#include "dcap/pck_extension.h"

#include <algorithm>
#include <vector>

#include <openssl/objects.h>

#include "core/byte_reader.h"
#include "core/text.h"
#include "crypto/openssl_ptr.h"

namespace orv::dcap {
namespace {

const std::string kTcb = std::string(kSgxExtensionOid) + ".2";
const std::string kPceSvn = kTcb + ".17";
const std::string kCpuSvn = kTcb + ".18";
const std::string kFmspc = std::string(kSgxExtensionOid) + ".4";
const std::string kSgxType = std::string(kSgxExtensionOid) + ".5";
const std::string kConfiguration = std::string(kSgxExtensionOid) + ".7";
const std::string kDynamicPlatform = kConfiguration + ".1";
const std::string kCachedKeys = kConfiguration + ".2";
const std::string kSmtEnabled = kConfiguration + ".3";

struct Entry {
  std::string oid;
  DerElement value;
};

// A SEQUENCE of SEQUENCE { OID, value }, each OID at most once.
Expected<std::vector<Entry>, Failure> read_entries(std::span<const uint8_t> sequence_content) {
  std::vector<Entry> entries;
  ByteReader reader(sequence_content);
  while (!reader.empty()) {
    ByteReader inner;
    if (!reader.get_der(der_tag::kSequence, inner)) return failure(Malformed, "Failed to read entry inside Intel extension");
    DerElement oid, value;
    if (!inner.read_der(der_tag::kOid, oid)) return failure(Malformed, "Failed to read OID");
    std::optional<std::string> name = oid_text(oid.contents);
    if (!name) return failure(Malformed, "Failed to read OID");
    if (!inner.read_der(value)) return failure(Malformed, "Failed to read value");
    if (!inner.empty()) return failure(Malformed, "Failed to read entry inside Intel extension");
    for (const Entry& seen : entries) {
      if (seen.oid == *name) return failure(Malformed, "extension " + *name + " appears more than once");
    }
    entries.push_back({std::move(*name), value});
  }
  return entries;
}

const DerElement* find(const std::vector<Entry>& entries, const std::string& oid) {
  for (const Entry& entry : entries) {
    if (entry.oid == oid) return &entry.value;
  }
  return nullptr;
}

Expected<std::vector<Entry>, Failure> nested(const DerElement& value) {
  if (value.tag != der_tag::kSequence) return failure(Malformed, "Failed to load nested sequence");
  return read_entries(value.contents);
}

Failure missing(const std::string& oid) { return failure(Malformed, "Intel extension path " + oid + " is missing"); }

// A DER BOOLEAN is one byte; any nonzero byte reads as true, which only ever forbids more.
Expected<void, Failure> read_flag(const std::vector<Entry>& entries, const std::string& oid, std::optional<bool>& out) {
  const DerElement* value = find(entries, oid);
  if (value == nullptr) return {};
  if (value->tag != der_tag::kBoolean || value->contents.size() != 1) {
    return failure(Malformed, "Unexpected BOOLEAN length: " + decimal(value->contents.size()));
  }
  out = value->contents[0] != 0;
  return {};
}

}  // namespace

Expected<PckExtensions, Failure> parse_sgx_extension(std::span<const uint8_t> value) {
  ByteReader reader(value);
  DerElement outer;
  if (!reader.read_der(outer) || !reader.empty()) return failure(Malformed, "Failed to decode DER object");
  if (outer.tag != der_tag::kSequence) return failure(Malformed, "Failed to load sequence");
  Expected<std::vector<Entry>, Failure> top = read_entries(outer.contents);
  if (!top) return std::move(top).error();

  PckExtensions out;
  const DerElement* tcb_value = find(*top, kTcb);
  if (tcb_value == nullptr) return missing(kTcb);
  Expected<std::vector<Entry>, Failure> tcb = nested(*tcb_value);
  if (!tcb) return std::move(tcb).error();

  const DerElement* cpusvn = find(*tcb, kCpuSvn);
  if (cpusvn == nullptr) return missing(kCpuSvn);
  if (cpusvn->tag != der_tag::kOctetString) return failure(Malformed, "Failed to decode CpuSvn");
  if (cpusvn->contents.size() != out.cpusvn.size()) return failure(Malformed, "CpuSvn length mismatch");
  std::copy(cpusvn->contents.begin(), cpusvn->contents.end(), out.cpusvn.begin());

  const DerElement* pcesvn = find(*tcb, kPceSvn);
  if (pcesvn == nullptr) return missing(kPceSvn);
  if (pcesvn->tag != der_tag::kInteger) return failure(Malformed, "Failed to find PceSvn");
  {
    // A non-negative INTEGER that fits 16 bits: at most two value bytes after an optional 00.
    std::span<const uint8_t> digits = pcesvn->contents;
    if (digits.empty() || (digits[0] & 0x80) != 0) return failure(Malformed, "PceSvn length mismatch");
    if (digits.size() > 1 && digits[0] == 0x00) {
      if ((digits[1] & 0x80) == 0) return failure(Malformed, "PceSvn length mismatch");  // not minimal
      digits = digits.subspan(1);
    }
    if (digits.size() > 2) return failure(Malformed, "PceSvn length mismatch");
    uint32_t number = 0;
    for (const uint8_t byte : digits) number = (number << 8) | byte;
    out.pcesvn = static_cast<uint16_t>(number);
  }

  const DerElement* fmspc = find(*top, kFmspc);
  if (fmspc == nullptr) return missing(kFmspc);
  if (fmspc->tag != der_tag::kOctetString) return failure(Malformed, "Failed to find Fmspc");
  if (fmspc->contents.size() != out.fmspc.size()) return failure(Malformed, "Fmspc length mismatch");
  std::copy(fmspc->contents.begin(), fmspc->contents.end(), out.fmspc.begin());

  const DerElement* sgx_type = find(*top, kSgxType);
  if (sgx_type == nullptr) return missing(kSgxType);
  // The three defined types fit one byte; a longer or non-ENUMERATED value is not a type.
  if (sgx_type->tag != der_tag::kEnumerated || sgx_type->contents.size() != 1 || (sgx_type->contents[0] & 0x80) != 0) {
    return failure(Malformed, "Unexpected ENUMERATED length");
  }
  out.sgx_type = sgx_type->contents[0];

  if (const DerElement* configuration = find(*top, kConfiguration)) {
    Expected<std::vector<Entry>, Failure> flags = nested(*configuration);
    if (!flags) return std::move(flags).error();
    if (auto bad = read_flag(*flags, kDynamicPlatform, out.dynamic_platform); !bad.ok()) return std::move(bad).error();
    if (auto bad = read_flag(*flags, kCachedKeys, out.cached_keys); !bad.ok()) return std::move(bad).error();
    if (auto bad = read_flag(*flags, kSmtEnabled, out.smt_enabled); !bad.ok()) return std::move(bad).error();
  }
  return out;
}

bool has_sgx_extension(const X509* cert) {
  crypto::OpenSslPtr<ASN1_OBJECT, ASN1_OBJECT_free> oid(OBJ_txt2obj(std::string(kSgxExtensionOid).c_str(), 1));
  // Without the object the question cannot be answered; counting the certificate as a PCK one
  // keeps it from signing collateral.
  return !oid || X509_get_ext_by_OBJ(cert, oid.get(), -1) >= 0;
}

Expected<PckExtensions, Failure> read_pck_extensions(const X509* leaf) {
  crypto::OpenSslPtr<ASN1_OBJECT, ASN1_OBJECT_free> oid(OBJ_txt2obj(std::string(kSgxExtensionOid).c_str(), 1));
  if (!oid) return failure(Malformed, "Intel extension not found");
  const int first = X509_get_ext_by_OBJ(leaf, oid.get(), -1);
  const int second = first < 0 ? -1 : X509_get_ext_by_OBJ(leaf, oid.get(), first);
  if (first < 0) return failure(Malformed, "Intel extension not found");
  if (second >= 0) return failure(Malformed, "extension " + std::string(kSgxExtensionOid) + " appears more than once");
  X509_EXTENSION* extension = X509_get_ext(leaf, first);
  const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(extension);
  if (data == nullptr) return failure(Malformed, "Failed to decode DER object");
  return parse_sgx_extension({ASN1_STRING_get0_data(data), static_cast<size_t>(ASN1_STRING_length(data))});
}

}  // namespace orv::dcap
