#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "core/hex.h"
#include "dcap/quote.h"
#include "support/intel_pki.h"

namespace orv::dcap {
namespace {

using test::DcapScenario;
using test::QuoteKind;

struct FieldWidth {
  const char* name;
  size_t width;
};

std::string decode_failure(std::span<const uint8_t> raw) {
  Expected<Quote, dcap::Failure> quote = decode_quote(raw);
  return quote ? "decoded" : quote.error().text();
}

std::vector<uint8_t> cut(std::vector<uint8_t> bytes, size_t length) {
  bytes.resize(length);
  return bytes;
}

void put_u32_at(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

// Cutting a structure anywhere inside a field names that field: at its first byte and at its
// last. Every field of every structure is walked, so a misplaced width shows up as a wrong name.
void expect_each_field_named(const std::vector<uint8_t>& quote, size_t start, const std::vector<FieldWidth>& fields,
                             const std::string& prefix) {
  size_t offset = start;
  for (const FieldWidth& field : fields) {
    const std::string expected = prefix + "Could not decode `" + field.name + "`";
    EXPECT_EQ(decode_failure(cut(quote, offset)), expected) << "cut at the start of " << field.name;
    EXPECT_EQ(decode_failure(cut(quote, offset + field.width - 1)), expected) << "cut at the end of " << field.name;
    offset += field.width;
  }
}

const std::vector<FieldWidth> kHeaderFields = {
    {"Header::version", 2}, {"Header::attestation_key_type", 2}, {"Header::tee_type", 4},   {"Header::qe_svn", 2},
    {"Header::pce_svn", 2}, {"Header::qe_vendor_id", 16},        {"Header::user_data", 20},
};

const std::vector<FieldWidth> kEnclaveFields = {
    {"EnclaveReport::cpu_svn", 16},    {"EnclaveReport::misc_select", 4}, {"EnclaveReport::reserved1", 28},
    {"EnclaveReport::attributes", 16}, {"EnclaveReport::mr_enclave", 32}, {"EnclaveReport::reserved2", 32},
    {"EnclaveReport::mr_signer", 32},  {"EnclaveReport::reserved3", 96},  {"EnclaveReport::isv_prod_id", 2},
    {"EnclaveReport::isv_svn", 2},     {"EnclaveReport::reserved4", 60},  {"EnclaveReport::report_data", 64},
};

const std::vector<FieldWidth> kTd10Fields = {
    {"TDReport10::tee_tcb_svn", 16},     {"TDReport10::mr_seam", 48},      {"TDReport10::mr_signer_seam", 48},
    {"TDReport10::seam_attributes", 8},  {"TDReport10::td_attributes", 8}, {"TDReport10::xfam", 8},
    {"TDReport10::mr_td", 48},           {"TDReport10::mr_config_id", 48}, {"TDReport10::mr_owner", 48},
    {"TDReport10::mr_owner_config", 48}, {"TDReport10::rt_mr0", 48},       {"TDReport10::rt_mr1", 48},
    {"TDReport10::rt_mr2", 48},          {"TDReport10::rt_mr3", 48},       {"TDReport10::report_data", 64},
};

TEST(QuoteDecoding, EveryHeaderAndReportFieldIsNamedWhenCutShort) {
  const std::vector<uint8_t> sgx = DcapScenario(QuoteKind::SgxV3).quote();
  const std::vector<uint8_t> td10 = DcapScenario(QuoteKind::TdxV4).quote();
  const std::vector<uint8_t> td15 = DcapScenario(QuoteKind::TdxV5).quote();
  const std::string top = "Failed to decode quote: ";
  expect_each_field_named(td10, 0, kHeaderFields, top);
  expect_each_field_named(td15, 48, {{"Body::body_type", 2}, {"Body::size", 4}}, top);
  expect_each_field_named(sgx, 48, kEnclaveFields, top);
  expect_each_field_named(td10, 48, kTd10Fields, top);
  expect_each_field_named(td15, 54, kTd10Fields, top + "Could not decode `TDReport15::base`: ");
  expect_each_field_named(td15, 54 + 584, {{"TDReport15::tee_tcb_svn2", 16}, {"TDReport15::mr_service_td", 48}}, top);
  EXPECT_EQ(decode_failure({}), top + "Could not decode `Header::version`");
}

// The authentication data is read inside its declared length: shrinking that length to a cut
// point reaches each of its fields; for version 4 the QE report certification data is read
// inside the outer certification data's length, shrunk the same way.
std::vector<uint8_t> auth_cut(const std::vector<uint8_t>& quote, size_t signed_length, size_t auth_bytes,
                              std::optional<size_t> outer_body_bytes = std::nullopt) {
  std::vector<uint8_t> out = cut(quote, signed_length + 4 + auth_bytes);
  put_u32_at(out, signed_length, static_cast<uint32_t>(auth_bytes));
  if (outer_body_bytes) put_u32_at(out, signed_length + 4 + 130, static_cast<uint32_t>(*outer_body_bytes));
  return out;
}

TEST(QuoteDecoding, EveryAuthenticationFieldIsNamedWhenCutShort) {
  const std::string top = "Failed to decode quote: ";
  const std::vector<uint8_t> v3 = DcapScenario(QuoteKind::SgxV3).quote();
  const size_t v3_signed = 432;
  const std::vector<std::pair<size_t, std::string>> v3_cases = {
      {0, "Could not decode `AuthDataV3::ecdsa_signature`"},
      {63, "Could not decode `AuthDataV3::ecdsa_signature`"},
      {64, "Could not decode `AuthDataV3::ecdsa_attestation_key`"},
      {128, "Could not decode `AuthDataV3::qe_report`"},
      {511, "Could not decode `AuthDataV3::qe_report`"},
      {512, "Could not decode `AuthDataV3::qe_report_signature`"},
      {576, "Could not decode `AuthDataV3::qe_auth_data`"},
      {577, "Could not decode `AuthDataV3::qe_auth_data`"},
      {609, "Could not decode `AuthDataV3::qe_auth_data`"},
      {610, "Could not decode `AuthDataV3::certification_data`: Could not decode `CertificationData::cert_type`"},
      {612, "Could not decode `AuthDataV3::certification_data`: Could not decode `CertificationData::body`"},
      {616, "Could not decode `AuthDataV3::certification_data`: Could not decode `CertificationData::body`"},
  };
  for (const auto& [length, message] : v3_cases) {
    EXPECT_EQ(decode_failure(auth_cut(v3, v3_signed, length)), top + message) << "version 3 cut at " << length;
  }

  const std::vector<uint8_t> v4 = DcapScenario(QuoteKind::TdxV4).quote();
  const size_t v4_signed = 632;
  const std::vector<std::pair<size_t, std::string>> v4_cases = {
      {0, "Could not decode `AuthDataV4::ecdsa_signature`"},
      {64, "Could not decode `AuthDataV4::ecdsa_attestation_key`"},
      {128, "Could not decode `AuthDataV4::certification_data`: Could not decode `CertificationData::cert_type`"},
      {130, "Could not decode `AuthDataV4::certification_data`: Could not decode `CertificationData::body`"},
      {200, "Could not decode `AuthDataV4::certification_data`: Could not decode `CertificationData::body`"},
  };
  for (const auto& [length, message] : v4_cases) {
    EXPECT_EQ(decode_failure(auth_cut(v4, v4_signed, length)), top + message) << "version 4 cut at " << length;
  }
  const std::vector<std::pair<size_t, std::string>> qe_cases = {
      {0, "Could not decode `QEReportCertificationData::qe_report`"},
      {383, "Could not decode `QEReportCertificationData::qe_report`"},
      {384, "Could not decode `QEReportCertificationData::qe_report_signature`"},
      {448, "Could not decode `QEReportCertificationData::qe_auth_data`"},
      {481, "Could not decode `QEReportCertificationData::qe_auth_data`"},
      {482,
       "Could not decode `QEReportCertificationData::certification_data`: Could not decode "
       "`CertificationData::cert_type`"},
      {484, "Could not decode `QEReportCertificationData::certification_data`: Could not decode `CertificationData::body`"},
      {500, "Could not decode `QEReportCertificationData::certification_data`: Could not decode `CertificationData::body`"},
  };
  for (const auto& [body, message] : qe_cases) {
    EXPECT_EQ(decode_failure(auth_cut(v4, v4_signed, 134 + body, body)), top + message) << "QE data cut at " << body;
  }
  // Without the signature-data length itself, or with fewer bytes than it declares.
  EXPECT_EQ(decode_failure(cut(v4, v4_signed + 3)), top + "Could not decode `Quote::auth_data`");
  EXPECT_EQ(decode_failure(cut(v4, v4.size() - 1)), top + "Could not decode `Quote::auth_data`");
}

TEST(QuoteDecoding, LengthsAreBoundedBeforeAnythingIsRead) {
  const std::string top = "Failed to decode quote: ";
  std::vector<uint8_t> quote = DcapScenario(QuoteKind::TdxV4).quote();
  put_u32_at(quote, 632, 1048577);
  EXPECT_EQ(decode_failure(quote), top + "Could not decode `Quote::auth_data`: Data length exceeds maximum");
  // The maximum itself passes the bound and then fails only because the bytes are not there.
  put_u32_at(quote, 632, 1048576);
  EXPECT_EQ(decode_failure(quote), top + "Could not decode `Quote::auth_data`");
  put_u32_at(quote, 632, 0xFFFFFFFF);
  EXPECT_EQ(decode_failure(quote), top + "Could not decode `Quote::auth_data`: Data length exceeds maximum");

  // A whole quote padded to carry 1,048,576 bytes of authentication data decodes.
  std::vector<uint8_t> big = DcapScenario(QuoteKind::TdxV4).quote();
  big.resize(636 + 1048576, 0);
  put_u32_at(big, 632, 1048576);
  EXPECT_EQ(decode_failure(big), "decoded");

  std::vector<uint8_t> inner = DcapScenario(QuoteKind::TdxV4).quote();
  put_u32_at(inner, 636 + 130, 1048577);  // the outer certification data's length
  EXPECT_EQ(decode_failure(inner),
            top +
                "Could not decode `AuthDataV4::certification_data`: Could not decode `CertificationData::body`: Data "
                "length exceeds maximum");
}

TEST(QuoteDecoding, VersionsTeeTypesAndBodyTypesSelectTheReport) {
  const std::string top = "Failed to decode quote: ";
  DcapScenario td(QuoteKind::TdxV4);
  Expected<Quote, dcap::Failure> v4 = decode_quote(td.quote());
  ASSERT_TRUE(v4.ok()) << v4.error().text();
  EXPECT_EQ(v4->report_kind(), ReportKind::TdReport10);
  EXPECT_EQ(v4->signed_length, 632u);
  EXPECT_FALSE(v4->body.has_value());
  EXPECT_EQ(v4->auth_data.certification_data.cert_type, 5);

  // The same TD bytes under version 3 are refused: version 3 carries SGX reports only.
  td.quote_draft.header.version = 3;
  EXPECT_EQ(decode_failure(td.quote()), top + "Invalid TEE type");
  td.quote_draft.header.version = 4;
  td.quote_draft.header.tee_type = 0x80;
  EXPECT_EQ(decode_failure(td.quote()), top + "Invalid TEE type");
  for (const uint16_t version : {0, 1, 2, 6, 0xFFFF}) {
    td.quote_draft.header.version = version;
    EXPECT_EQ(decode_failure(td.quote()), top + "Unsupported quote version") << version;
  }

  DcapScenario v5(QuoteKind::TdxV5);
  Expected<Quote, dcap::Failure> td15 = decode_quote(v5.quote());
  ASSERT_TRUE(td15.ok()) << td15.error().text();
  EXPECT_EQ(td15->report_kind(), ReportKind::TdReport15);
  EXPECT_EQ(td15->signed_length, 702u);
  ASSERT_NE(td15->td_report10(), nullptr);
  EXPECT_EQ(td15->td_report10(), &td15->td_report15()->base);
  EXPECT_EQ(td15->td_report10()->mr_td, std::get<TdReport15>(v5.quote_draft.report).base.mr_td);
  for (const uint16_t body_type : {0, 4, 0xFFFF}) {
    v5.quote_draft.body->body_type = body_type;
    EXPECT_EQ(decode_failure(v5.quote()), top + "Unsupported body type") << body_type;
  }
  // Version 5 chooses the report by body type alone; the size is read, not compared.
  v5.quote_draft.body = Body{2, 12345};
  // Copied out first: assigning another alternative ends the one the reference points into.
  const TdReport10 base = std::get<TdReport15>(v5.quote_draft.report).base;
  v5.quote_draft.report = base;
  Expected<Quote, dcap::Failure> td10 = decode_quote(v5.quote());
  ASSERT_TRUE(td10.ok()) << td10.error().text();
  EXPECT_EQ(td10->report_kind(), ReportKind::TdReport10);
  EXPECT_EQ(td10->signed_length, 638u);
  EXPECT_EQ(td10->body->size, 12345u);

  Expected<Quote, dcap::Failure> sgx = decode_quote(DcapScenario(QuoteKind::SgxV3).quote());
  ASSERT_TRUE(sgx.ok());
  EXPECT_EQ(sgx->report_kind(), ReportKind::SgxEnclave);
  EXPECT_EQ(sgx->signed_length, 432u);
  EXPECT_EQ(sgx->td_report10(), nullptr);
  EXPECT_EQ(require_td_report(*sgx).error().text(), "Failed to get TD10 report");
}

// Read from the raw bytes alone, before any verification: version 4 keeps report_data right
// after the header's TD report start, version 5 six bytes later, after its body descriptor.
TEST(ClaimedReportData, SitsWhereTheVersionAndBodyTypePutIt) {
  std::array<uint8_t, 64> bound{};
  bound.fill(0xB5);
  const auto claimed = [](std::vector<uint8_t> raw, size_t length) { return claimed_report_data(cut(raw, length)); };

  DcapScenario v4(QuoteKind::TdxV4);
  std::get<TdReport10>(v4.quote_draft.report).report_data = bound;
  EXPECT_EQ(claimed(v4.quote(), 632), bound);
  EXPECT_EQ(claimed(v4.quote(), 631), std::nullopt);

  DcapScenario v5(QuoteKind::TdxV5);
  TdReport15& td15 = std::get<TdReport15>(v5.quote_draft.report);
  td15.base.report_data = bound;
  const std::vector<uint8_t> body3 = v5.quote();
  EXPECT_EQ(claimed(body3, 702), bound);
  EXPECT_EQ(claimed(body3, 701), std::nullopt);
  // The bytes at the version 4 place of a version 5 quote are not its report_data.
  std::vector<uint8_t> at_v4_place = body3;
  std::copy(bound.begin(), bound.end(), at_v4_place.begin() + 568);
  std::fill_n(at_v4_place.begin() + 632, 6, uint8_t{0});
  EXPECT_NE(claimed(at_v4_place, 702), bound);

  v5.quote_draft.body = Body{2, static_cast<uint32_t>(kTdReport10Bytes)};
  const TdReport10 td10 = td15.base;  // copied out: the assignment ends the report td15 refers to
  v5.quote_draft.report = td10;
  const std::vector<uint8_t> body2 = v5.quote();
  EXPECT_EQ(claimed(body2, 638), bound);
  EXPECT_EQ(claimed(body2, 637), std::nullopt);
  // Body type 1 is an SGX enclave report, and other TEE types or versions carry none here.
  std::vector<uint8_t> body1 = body2;
  body1[48] = 1;
  EXPECT_EQ(claimed(body1, body1.size()), std::nullopt);
  std::vector<uint8_t> sgx_tee = body2;
  sgx_tee[4] = 0;
  EXPECT_EQ(claimed(sgx_tee, sgx_tee.size()), std::nullopt);
  std::vector<uint8_t> v3 = body2;
  v3[0] = 3;
  EXPECT_EQ(claimed(v3, v3.size()), std::nullopt);
}

TEST(QuoteDecoding, BytesAfterTheAuthenticationDataAreIgnored) {
  const std::vector<uint8_t> plain = DcapScenario().quote();
  std::vector<uint8_t> padded = plain;
  padded.resize(plain.size() + 70, 0);
  Expected<Quote, dcap::Failure> quote = decode_quote(padded);
  ASSERT_TRUE(quote.ok()) << quote.error().text();
  // The quote's own chain comes back as written: PEM text and one NUL byte.
  const std::vector<uint8_t>& body = quote->auth_data.certification_data.body;
  ASSERT_FALSE(body.empty());
  EXPECT_EQ(body.back(), 0);
  EXPECT_EQ(std::string(body.begin(), body.begin() + 27), "-----BEGIN CERTIFICATE-----");
}

TEST(QuoteHeader, AcceptanceChecksVendorThenTeeThenKeyType) {
  Header header;
  header.version = 4;
  header.tee_type = kTeeTypeTdx;
  header.attestation_key_type = 2;
  header.qe_vendor_id = kIntelQeVendorId;
  EXPECT_TRUE(check_header(header).ok());

  Header vendor = header;
  vendor.qe_vendor_id[15] ^= 0x01;
  vendor.attestation_key_type = 3;  // the vendor is judged first
  EXPECT_EQ(check_header(vendor).error().text(), "Unknown QE vendor ID");

  Header sgx = header;
  sgx.tee_type = kTeeTypeSgx;
  EXPECT_EQ(check_header(sgx).error().text(), "SGX TEE quote must have version 3");
  sgx.version = 3;
  EXPECT_TRUE(check_header(sgx).ok());
  sgx.version = 5;
  EXPECT_EQ(check_header(sgx).error().text(), "SGX TEE quote must have version 3");

  Header other = header;
  other.version = 5;
  other.tee_type = 0x7F;
  EXPECT_EQ(check_header(other).error().text(), "Unsupported TEE type: 127");

  Header key = header;
  key.attestation_key_type = 3;
  EXPECT_EQ(check_header(key).error().text(), "Unsupported DCAP attestation key type");
}

TEST(QuoteSignedScope, CoversHeaderBodyAndReportOfTheRawBytes) {
  for (const auto& [kind, length] : {std::pair{QuoteKind::SgxV3, size_t{432}}, std::pair{QuoteKind::TdxV4, size_t{632}},
                                     std::pair{QuoteKind::TdxV5, size_t{702}}}) {
    const std::vector<uint8_t> raw = DcapScenario(kind).quote();
    Expected<Quote, dcap::Failure> quote = decode_quote(raw);
    ASSERT_TRUE(quote.ok());
    Expected<std::span<const uint8_t>, dcap::Failure> scope = signed_scope(*quote, raw);
    ASSERT_TRUE(scope.ok());
    EXPECT_EQ(scope->size(), length);
    EXPECT_EQ(scope->data(), raw.data());
    EXPECT_EQ(signed_scope(*quote, std::span(raw).first(length - 1)).error().text(), "Failed to get signed quote scope");
  }
}

TEST(TdAttributes, OnlySeptVeDisableAndTheFreeFeatureBitsPass) {
  const uint64_t sept = uint64_t{1} << 28;
  EXPECT_TRUE(check_td_attributes(sept, false).ok());
  EXPECT_TRUE(check_td_attributes(sept | (uint64_t{1} << 30), false).ok());
  EXPECT_TRUE(check_td_attributes(sept | (uint64_t{1} << 31), false).ok());
  EXPECT_TRUE(check_td_attributes(sept | (uint64_t{1} << 63), false).ok());
  EXPECT_EQ(check_td_attributes(sept | 1, false).error().text(), "Debug mode is enabled");
  EXPECT_TRUE(check_td_attributes(sept | 1, true).ok());
  EXPECT_EQ(check_td_attributes(0, false).error().text(), "SEPT_VE_DISABLE is not enabled");
  // A reserved bit of the low byte outranks the debug bit beside it.
  EXPECT_EQ(check_td_attributes(sept | 1 | 2, false).error().text(), "Reserved bits in TD attributes are set");
  EXPECT_EQ(check_td_attributes(sept | 0x80, true).error().text(), "Reserved bits in TD attributes are set");
  for (const int bit : {8, 17, 27, 29, 32, 45, 62}) {
    EXPECT_EQ(check_td_attributes(sept | (uint64_t{1} << bit), true).error().text(), "Reserved bits in TD attributes are set")
        << "bit " << bit;
  }
  // Debug is judged before the high reserved bits, and both before SEPT_VE_DISABLE.
  EXPECT_EQ(check_td_attributes(1 | (uint64_t{1} << 40), false).error().text(), "Debug mode is enabled");
  EXPECT_EQ(check_td_attributes(uint64_t{1} << 40, false).error().text(), "Reserved bits in TD attributes are set");

  TdReport10 report;
  report.td_attributes = {0, 0, 0, 0x10, 0, 0, 0, 0x80};
  EXPECT_EQ(td_attributes_word(report), sept | (uint64_t{1} << 63));
}

TEST(ReportChecks, DebugEnclavesAndServiceTdsNeedTheirSwitch) {
  DcapScenario sgx(QuoteKind::SgxV3);
  std::get<EnclaveReport>(sgx.quote_draft.report).attributes[0] |= 0x02;
  Expected<Quote, dcap::Failure> debug = decode_quote(sgx.quote());
  ASSERT_TRUE(debug.ok());
  EXPECT_EQ(check_report(*debug, false, false).error().text(), "Debug mode is enabled");
  EXPECT_TRUE(check_report(*debug, true, false).ok());

  DcapScenario v5(QuoteKind::TdxV5);
  std::get<TdReport15>(v5.quote_draft.report).mr_service_td[47] = 1;
  Expected<Quote, dcap::Failure> service = decode_quote(v5.quote());
  ASSERT_TRUE(service.ok());
  EXPECT_EQ(check_report(*service, false, false).error().text(), "Invalid MR service TD");
  EXPECT_TRUE(check_report(*service, false, true).ok());
  // The service TD is judged before the attributes.
  std::get<TdReport15>(v5.quote_draft.report).base.td_attributes = {};
  Expected<Quote, dcap::Failure> both = decode_quote(v5.quote());
  EXPECT_EQ(check_report(*both, false, false).error().text(), "Invalid MR service TD");
  EXPECT_EQ(check_report(*both, false, true).error().text(), "SEPT_VE_DISABLE is not enabled");
}

}  // namespace
}  // namespace orv::dcap
