#include "dcap/quote.h"

#include <algorithm>
#include <string>

#include "core/byte_reader.h"
#include "core/text.h"

namespace orv::dcap {
namespace {

Failure cut(const char* field) { return failure(Malformed, std::string("Could not decode `") + field + "`"); }

// Reads one field and names it when the input ends first.
class FieldReader {
 public:
  explicit FieldReader(ByteReader& reader) : reader_(reader) {}

  template <size_t N>
  Expected<void, Failure> bytes(std::array<uint8_t, N>& out, const char* field) {
    if (!reader_.read_array(out)) return cut(field);
    return {};
  }
  Expected<void, Failure> u16(uint16_t& out, const char* field) {
    if (!reader_.read_u16le(out)) return cut(field);
    return {};
  }
  Expected<void, Failure> u32(uint32_t& out, const char* field) {
    if (!reader_.read_u32le(out)) return cut(field);
    return {};
  }

  // Data with a 16-bit length: at most 65,535 bytes, so no bound beyond the input's own.
  Expected<void, Failure> data16(std::vector<uint8_t>& out, const char* field) {
    std::span<const uint8_t> part;
    if (!reader_.read_u16le_prefixed(part)) return cut(field);
    out.assign(part.begin(), part.end());
    return {};
  }

  // Data with a 32-bit length, refused above kMaxDataLength before anything is read or copied.
  Expected<void, Failure> data32(std::span<const uint8_t>& out, const char* field) {
    uint32_t length = 0;
    ByteReader probe = reader_;
    if (!probe.read_u32le(length)) return cut(field);
    if (length > kMaxDataLength) return wrap(cut(field).message, failure(Malformed, "Data length exceeds maximum"));
    if (!probe.read_bytes(length, out)) return cut(field);
    reader_ = probe;
    return {};
  }

 private:
  ByteReader& reader_;
};

#define ORV_READ(expr)                                         \
  do {                                                         \
    if (Expected<void, Failure> read_ = (expr); !read_.ok()) { \
      return std::move(read_).error();                         \
    }                                                          \
  } while (false)

Expected<void, Failure> read_header(ByteReader& reader, Header& h) {
  FieldReader r(reader);
  ORV_READ(r.u16(h.version, "Header::version"));
  ORV_READ(r.u16(h.attestation_key_type, "Header::attestation_key_type"));
  ORV_READ(r.u32(h.tee_type, "Header::tee_type"));
  ORV_READ(r.u16(h.qe_svn, "Header::qe_svn"));
  ORV_READ(r.u16(h.pce_svn, "Header::pce_svn"));
  ORV_READ(r.bytes(h.qe_vendor_id, "Header::qe_vendor_id"));
  ORV_READ(r.bytes(h.user_data, "Header::user_data"));
  return {};
}

Expected<void, Failure> read_enclave_report(ByteReader& reader, EnclaveReport& e) {
  FieldReader r(reader);
  ORV_READ(r.bytes(e.cpu_svn, "EnclaveReport::cpu_svn"));
  ORV_READ(r.u32(e.misc_select, "EnclaveReport::misc_select"));
  ORV_READ(r.bytes(e.reserved1, "EnclaveReport::reserved1"));
  ORV_READ(r.bytes(e.attributes, "EnclaveReport::attributes"));
  ORV_READ(r.bytes(e.mr_enclave, "EnclaveReport::mr_enclave"));
  ORV_READ(r.bytes(e.reserved2, "EnclaveReport::reserved2"));
  ORV_READ(r.bytes(e.mr_signer, "EnclaveReport::mr_signer"));
  ORV_READ(r.bytes(e.reserved3, "EnclaveReport::reserved3"));
  ORV_READ(r.u16(e.isv_prod_id, "EnclaveReport::isv_prod_id"));
  ORV_READ(r.u16(e.isv_svn, "EnclaveReport::isv_svn"));
  ORV_READ(r.bytes(e.reserved4, "EnclaveReport::reserved4"));
  ORV_READ(r.bytes(e.report_data, "EnclaveReport::report_data"));
  return {};
}

Expected<void, Failure> read_td_report10(ByteReader& reader, TdReport10& t) {
  FieldReader r(reader);
  ORV_READ(r.bytes(t.tee_tcb_svn, "TDReport10::tee_tcb_svn"));
  ORV_READ(r.bytes(t.mr_seam, "TDReport10::mr_seam"));
  ORV_READ(r.bytes(t.mr_signer_seam, "TDReport10::mr_signer_seam"));
  ORV_READ(r.bytes(t.seam_attributes, "TDReport10::seam_attributes"));
  ORV_READ(r.bytes(t.td_attributes, "TDReport10::td_attributes"));
  ORV_READ(r.bytes(t.xfam, "TDReport10::xfam"));
  ORV_READ(r.bytes(t.mr_td, "TDReport10::mr_td"));
  ORV_READ(r.bytes(t.mr_config_id, "TDReport10::mr_config_id"));
  ORV_READ(r.bytes(t.mr_owner, "TDReport10::mr_owner"));
  ORV_READ(r.bytes(t.mr_owner_config, "TDReport10::mr_owner_config"));
  ORV_READ(r.bytes(t.rt_mr0, "TDReport10::rt_mr0"));
  ORV_READ(r.bytes(t.rt_mr1, "TDReport10::rt_mr1"));
  ORV_READ(r.bytes(t.rt_mr2, "TDReport10::rt_mr2"));
  ORV_READ(r.bytes(t.rt_mr3, "TDReport10::rt_mr3"));
  ORV_READ(r.bytes(t.report_data, "TDReport10::report_data"));
  return {};
}

Expected<void, Failure> read_td_report15(ByteReader& reader, TdReport15& t) {
  if (auto fault = read_td_report10(reader, t.base); !fault.ok()) {
    return wrap(cut("TDReport15::base").message, std::move(fault).error());
  }
  FieldReader r(reader);
  ORV_READ(r.bytes(t.tee_tcb_svn2, "TDReport15::tee_tcb_svn2"));
  ORV_READ(r.bytes(t.mr_service_td, "TDReport15::mr_service_td"));
  return {};
}

Expected<void, Failure> read_certification_data(ByteReader& reader, CertificationData& out) {
  FieldReader r(reader);
  ORV_READ(r.u16(out.cert_type, "CertificationData::cert_type"));
  std::span<const uint8_t> body;
  ORV_READ(r.data32(body, "CertificationData::body"));
  out.body.assign(body.begin(), body.end());
  return {};
}

Expected<void, Failure> read_nested_certification_data(ByteReader& reader, CertificationData& out, const char* field) {
  if (auto fault = read_certification_data(reader, out); !fault.ok()) {
    return wrap(cut(field).message, std::move(fault).error());
  }
  return {};
}

Expected<void, Failure> read_auth_data_v3(ByteReader& reader, AuthData& a) {
  FieldReader r(reader);
  ORV_READ(r.bytes(a.ecdsa_signature, "AuthDataV3::ecdsa_signature"));
  ORV_READ(r.bytes(a.ecdsa_attestation_key, "AuthDataV3::ecdsa_attestation_key"));
  ORV_READ(r.bytes(a.qe_report, "AuthDataV3::qe_report"));
  ORV_READ(r.bytes(a.qe_report_signature, "AuthDataV3::qe_report_signature"));
  ORV_READ(r.data16(a.qe_auth_data, "AuthDataV3::qe_auth_data"));
  ORV_READ(read_nested_certification_data(reader, a.certification_data, "AuthDataV3::certification_data"));
  return {};
}

Expected<void, Failure> read_auth_data_v4(ByteReader& reader, AuthData& a) {
  FieldReader r(reader);
  ORV_READ(r.bytes(a.ecdsa_signature, "AuthDataV4::ecdsa_signature"));
  ORV_READ(r.bytes(a.ecdsa_attestation_key, "AuthDataV4::ecdsa_attestation_key"));
  // The outer certification data's type is not examined: its body is always read as the QE
  // report certification data.
  uint16_t outer_type = 0;
  std::span<const uint8_t> outer_body;
  {
    ByteReader probe = reader;
    FieldReader outer(probe);
    Expected<void, Failure> read = outer.u16(outer_type, "CertificationData::cert_type");
    if (read.ok()) read = outer.data32(outer_body, "CertificationData::body");
    if (!read.ok()) return wrap(cut("AuthDataV4::certification_data").message, std::move(read).error());
    reader = probe;
  }
  ByteReader inner(outer_body);
  FieldReader q(inner);
  ORV_READ(q.bytes(a.qe_report, "QEReportCertificationData::qe_report"));
  ORV_READ(q.bytes(a.qe_report_signature, "QEReportCertificationData::qe_report_signature"));
  ORV_READ(q.data16(a.qe_auth_data, "QEReportCertificationData::qe_auth_data"));
  ORV_READ(read_nested_certification_data(inner, a.certification_data, "QEReportCertificationData::certification_data"));
  return {};
}

Expected<void, Failure> read_quote(ByteReader& reader, Quote& quote) {
  ORV_READ(read_header(reader, quote.header));
  size_t report_bytes = 0;
  switch (quote.header.version) {
    case 3:
      if (quote.header.tee_type != kTeeTypeSgx) return failure(Unsupported, "Invalid TEE type");
      quote.report = EnclaveReport{};
      break;
    case 4:
      if (quote.header.tee_type == kTeeTypeSgx) {
        quote.report = EnclaveReport{};
      } else if (quote.header.tee_type == kTeeTypeTdx) {
        quote.report = TdReport10{};
      } else {
        return failure(Unsupported, "Invalid TEE type");
      }
      break;
    case 5: {
      Body body;
      FieldReader r(reader);
      ORV_READ(r.u16(body.body_type, "Body::body_type"));
      ORV_READ(r.u32(body.size, "Body::size"));
      quote.body = body;
      if (body.body_type == 1) {
        quote.report = EnclaveReport{};
      } else if (body.body_type == 2) {
        quote.report = TdReport10{};
      } else if (body.body_type == 3) {
        quote.report = TdReport15{};
      } else {
        return failure(Unsupported, "Unsupported body type");
      }
      break;
    }
    default: return failure(Unsupported, "Unsupported quote version");
  }
  if (auto* enclave = std::get_if<EnclaveReport>(&quote.report)) {
    ORV_READ(read_enclave_report(reader, *enclave));
    report_bytes = kEnclaveReportBytes;
  } else if (auto* td10 = std::get_if<TdReport10>(&quote.report)) {
    ORV_READ(read_td_report10(reader, *td10));
    report_bytes = kTdReport10Bytes;
  } else {
    ORV_READ(read_td_report15(reader, std::get<TdReport15>(quote.report)));
    report_bytes = kTdReport15Bytes;
  }
  quote.signed_length = kHeaderBytes + (quote.body ? kBodyBytes : 0) + report_bytes;

  // The authentication data is decoded inside its declared length only.
  std::span<const uint8_t> auth;
  FieldReader r(reader);
  ORV_READ(r.data32(auth, "Quote::auth_data"));
  ByteReader auth_reader(auth);
  if (quote.header.version == 3) {
    ORV_READ(read_auth_data_v3(auth_reader, quote.auth_data));
  } else {
    ORV_READ(read_auth_data_v4(auth_reader, quote.auth_data));
  }
  return {};
}

#undef ORV_READ

}  // namespace

const TdReport10* Quote::td_report10() const {
  if (const auto* td10 = std::get_if<TdReport10>(&report)) return td10;
  if (const auto* td15 = std::get_if<TdReport15>(&report)) return &td15->base;
  return nullptr;
}

const TdReport15* Quote::td_report15() const { return std::get_if<TdReport15>(&report); }

const EnclaveReport* Quote::enclave_report() const { return std::get_if<EnclaveReport>(&report); }

Expected<Quote, Failure> decode_quote(std::span<const uint8_t> raw) {
  Quote quote{.header = {}, .body = std::nullopt, .report = EnclaveReport{}, .auth_data = {}, .signed_length = 0};
  ByteReader reader(raw);
  if (auto fault = read_quote(reader, quote); !fault.ok()) return wrap("Failed to decode quote", std::move(fault).error());
  return quote;
}

Expected<EnclaveReport, Failure> decode_enclave_report(std::span<const uint8_t> bytes) {
  EnclaveReport report;
  ByteReader reader(bytes);
  if (auto fault = read_enclave_report(reader, report); !fault.ok()) return std::move(fault).error();
  return report;
}

Expected<void, Failure> check_header(const Header& header) {
  if (header.qe_vendor_id != kIntelQeVendorId) return failure(Unsupported, "Unknown QE vendor ID");
  if (header.tee_type == kTeeTypeSgx) {
    if (header.version != 3) return failure(Unsupported, "SGX TEE quote must have version 3");
  } else if (header.tee_type != kTeeTypeTdx) {
    return failure(Unsupported, "Unsupported TEE type: " + decimal(header.tee_type));
  }
  if (header.attestation_key_type != kAttestationKeyEcdsaP256)
    return failure(Unsupported, "Unsupported DCAP attestation key type");
  return {};
}

Expected<std::span<const uint8_t>, Failure> signed_scope(const Quote& quote, std::span<const uint8_t> raw) {
  if (quote.signed_length == 0 || raw.size() < quote.signed_length) return failure(Malformed, "Failed to get signed quote scope");
  return raw.first(quote.signed_length);
}

std::optional<std::array<uint8_t, 64>> claimed_report_data(std::span<const uint8_t> raw) {
  // report_data closes the first 584 bytes (TD 1.0) of both report kinds.
  constexpr size_t kReportDataInReport = kTdReport10Bytes - 64;
  ByteReader reader(raw);
  uint16_t version = 0;
  uint32_t tee_type = 0;
  if (!reader.read_u16le(version) || !reader.skip(2) || !reader.read_u32le(tee_type) || tee_type != kTeeTypeTdx ||
      !reader.skip(kHeaderBytes - 8)) {
    return std::nullopt;
  }
  size_t report_bytes = kTdReport10Bytes;
  if (version == 5) {
    uint16_t body_type = 0;
    if (!reader.read_u16le(body_type) || !reader.skip(kBodyBytes - 2) || (body_type != 2 && body_type != 3)) {
      return std::nullopt;
    }
    if (body_type == 3) report_bytes = kTdReport15Bytes;
  } else if (version != 4) {
    return std::nullopt;
  }
  std::array<uint8_t, 64> data{};
  ByteReader report = reader;
  if (!report.skip(kReportDataInReport) || !report.read_array(data) || !reader.skip(report_bytes)) return std::nullopt;
  return data;
}

Expected<const TdReport10*, Failure> require_td_report(const Quote& quote) {
  const TdReport10* report = quote.td_report10();
  if (!report) return failure(Unsupported, "Failed to get TD10 report");
  return report;
}

uint64_t td_attributes_word(const TdReport10& report) {
  uint64_t word = 0;
  for (size_t i = 0; i < report.td_attributes.size(); ++i) word |= static_cast<uint64_t>(report.td_attributes[i]) << (8 * i);
  return word;
}

Expected<void, Failure> check_td_attributes(uint64_t td_attributes, bool debug_allowed) {
  constexpr uint64_t kDebug = uint64_t{1} << 0;
  constexpr uint64_t kSeptVeDisable = uint64_t{1} << 28;
  // Bits 8 to 27, bit 29 and bits 32 to 62; bits 30, 31 and 63 are features a TD may use.
  constexpr uint64_t kReservedHigh = (((uint64_t{1} << 28) - 1) & ~uint64_t{0xFF}) | (uint64_t{1} << 29) |
                                     (((uint64_t{1} << 63) - 1) & ~((uint64_t{1} << 32) - 1));
  if ((td_attributes & 0xFF) > 1) return failure(NotAccepted, "Reserved bits in TD attributes are set");
  if ((td_attributes & kDebug) != 0 && !debug_allowed) return failure(NotAccepted, "Debug mode is enabled");
  if ((td_attributes & kReservedHigh) != 0) return failure(NotAccepted, "Reserved bits in TD attributes are set");
  if ((td_attributes & kSeptVeDisable) == 0) return failure(NotAccepted, "SEPT_VE_DISABLE is not enabled");
  return {};
}

Expected<void, Failure> check_report(const Quote& quote, bool debug_allowed, bool service_td_allowed) {
  if (const EnclaveReport* enclave = quote.enclave_report()) {
    // SGX attributes bit 1 marks a debug enclave, whose memory the host can read.
    if ((enclave->attributes[0] & 0x02) != 0 && !debug_allowed) return failure(NotAccepted, "Debug mode is enabled");
    return {};
  }
  if (const TdReport15* td15 = quote.td_report15()) {
    bool zero = true;
    for (const uint8_t byte : td15->mr_service_td) zero = zero && byte == 0;
    if (!zero && !service_td_allowed) return failure(NotAccepted, "Invalid MR service TD");
  }
  const TdReport10* td = quote.td_report10();
  return check_td_attributes(td_attributes_word(*td), debug_allowed);
}

}  // namespace orv::dcap
