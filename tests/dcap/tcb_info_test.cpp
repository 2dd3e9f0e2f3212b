// Reading Intel's TCB info and QE identity documents, and their RFC 3339 dates.
#include <gtest/gtest.h>

#include <string>

#include "core/hex.h"
#include "core/time_text.h"
#include "dcap/tcb_info.h"
#include "support/intel_pki.h"

namespace orv::dcap {
namespace {

std::string tcb_failure(const std::string& text) {
  Expected<TcbInfo, std::string> info = parse_tcb_info(text);
  return info ? "parsed" : info.error();
}

std::string qe_failure(const std::string& text) {
  Expected<QeIdentity, std::string> identity = parse_qe_identity(text);
  return identity ? "parsed" : identity.error();
}

std::string with(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

test::TcbInfoDraft tdx_info() {
  test::DcapScenario s(test::QuoteKind::TdxV4);
  return s.tcb_info;
}

TEST(TcbInfoDocument, ReadsEveryMemberTheEvaluationUses) {
  test::TcbInfoDraft draft = tdx_info();
  draft.levels[0].advisories = std::vector<std::string>{"INTEL-SA-00837", "INTEL-SA-00615"};
  Expected<TcbInfo, std::string> info = parse_tcb_info(draft.json());
  ASSERT_TRUE(info.ok()) << info.error();
  EXPECT_EQ(info->id, "TDX");
  EXPECT_EQ(info->version, 3u);
  EXPECT_EQ(info->fmspc, "20a06f000000");
  EXPECT_EQ(info->pce_id, "0000");
  EXPECT_EQ(info->tcb_evaluation_data_number, 17u);
  ASSERT_TRUE(info->tdx_module.has_value());
  EXPECT_EQ(info->tdx_module->attributes_mask, "FFFFFFFFFFFFFFFF");
  ASSERT_TRUE(info->tdx_module_identities.has_value());
  ASSERT_EQ(info->tdx_module_identities->size(), 2u);
  EXPECT_EQ((*info->tdx_module_identities)[1].id, "TDX_01");
  EXPECT_EQ((*info->tdx_module_identities)[1].tcb_levels[1].tcb_status, TcbStatus::OutOfDate);
  EXPECT_EQ((*info->tdx_module_identities)[1].tcb_levels[1].advisory_ids, std::vector<std::string>{"INTEL-SA-00960"});
  ASSERT_EQ(info->tcb_levels.size(), 2u);
  const TcbLevel& first = info->tcb_levels[0];
  EXPECT_EQ(first.sgx_components, (std::vector<uint8_t>{2, 2, 2, 2, 2, 255, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(first.tdx_components.has_value());
  EXPECT_EQ((*first.tdx_components)[0], 5);
  EXPECT_EQ(first.pcesvn, 13);
  EXPECT_EQ(first.tcb_date, "2024-03-13T00:00:00Z");
  EXPECT_EQ(first.advisory_ids, (std::vector<std::string>{"INTEL-SA-00837", "INTEL-SA-00615"}));
  EXPECT_EQ(info->tcb_levels[1].tcb_status, TcbStatus::OutOfDate);

  test::TcbInfoDraft sgx = draft;
  sgx.id = "SGX";
  sgx.module.reset();
  sgx.identities.reset();
  for (auto& level : sgx.levels) level.tdx.reset();
  info = parse_tcb_info(sgx.json());
  ASSERT_TRUE(info.ok()) << info.error();
  EXPECT_FALSE(info->tdx_module || info->tdx_module_identities || info->tcb_levels[0].tdx_components);
}

TEST(TcbInfoDocument, MembersAreTypedAndUniqueButUnknownOnesAreIgnored) {
  const std::string good = tdx_info().json();
  EXPECT_EQ(tcb_failure(with(good, "{\"id\"", "{\"note\":[1,{\"x\":null}],\"id\"")), "parsed");
  EXPECT_EQ(tcb_failure("[]"), "invalid type: sequence, expected struct TcbInfo");
  EXPECT_EQ(tcb_failure(with(good, "\"version\":3", "\"version\":\"3\"")), "invalid type: string \"3\", expected u32");
  EXPECT_EQ(tcb_failure(with(good, "\"version\":3", "\"version\":3.0")), "invalid type: floating point `3`, expected u32");
  EXPECT_EQ(tcb_failure(with(good, "\"version\":3", "\"version\":4294967296")),
            "invalid value: integer `4294967296`, expected u32");
  EXPECT_EQ(tcb_failure(with(good, "\"pcesvn\":13", "\"pcesvn\":-1")), "invalid value: integer `-1`, expected u16");
  EXPECT_EQ(tcb_failure(with(good, "\"tcbType\":0", "\"tcbType\":null")), "invalid type: null, expected u32");
  EXPECT_EQ(tcb_failure(with(good, "\"tdxModule\":{", "\"tdxModule\":7,\"y\":{")),
            "invalid type: integer `7`, expected struct TdxModule");
  EXPECT_EQ(tcb_failure(with(good, "\"tcbLevels\":[{\"tcb\":{\"sgx", "\"tcbLevels\":[7,{\"tcb\":{\"sgx")),
            "invalid type: integer `7`, expected struct TcbLevel");
  EXPECT_EQ(tcb_failure(with(good, "{\"svn\":0}", "{\"svn\":true}")), "invalid type: boolean `true`, expected u8");
  EXPECT_EQ(tcb_failure(with(good, "{\"svn\":0}", "{}")), "missing field `svn`");
  EXPECT_EQ(tcb_failure(with(good, "\"tcbStatus\":\"UpToDate\"", "\"tcbStatus\":\"UpToDate\",\"tcbStatus\":\"Revoked\"")),
            "duplicate field `tcbStatus`");
  EXPECT_EQ(tcb_failure(with(good, "\"tcbStatus\":\"UpToDate\"", "\"tcbStatus\":\"uptodate\"")),
            "unknown variant `uptodate`, expected one of `UpToDate`, `OutOfDateConfigurationNeeded`, `OutOfDate`, "
            "`ConfigurationAndSWHardeningNeeded`, `ConfigurationNeeded`, `SWHardeningNeeded`, `Revoked`");
  test::TcbInfoDraft draft = tdx_info();
  draft.levels[0].advisories = std::vector<std::string>{"A"};
  EXPECT_EQ(tcb_failure(with(draft.json(), "[\"A\"]", "[\"A\",1]")), "invalid type: integer `1`, expected a string");
  EXPECT_EQ(tcb_failure(with(good, "\"id\":\"TDX_03\",", "")), "missing field `id`");
  // A string member holding anything else, and a sequence member holding a string.
  EXPECT_EQ(tcb_failure(with(good, "\"tcbDate\":\"2024-03-13T00:00:00Z\"", "\"tcbDate\":5")),
            "invalid type: integer `5`, expected a string");
  EXPECT_EQ(tcb_failure(with(draft.json(), "[\"A\"]", "\"A\"")), "invalid type: string \"A\", expected a sequence");
  EXPECT_EQ(tcb_failure(good + " x"), "trailing characters at line 1 column " + std::to_string(good.size() + 2));
}

// The message quotes at most 80 bytes of a value and never ends inside a character: the text is
// shown on terminals and written into JSON reports, which both need whole UTF-8.
TEST(TcbInfoDocument, LongValuesAreCutAtACharacterBoundary) {
  const std::string good = tdx_info().json();
  const std::string ascii(80, 'a');
  EXPECT_EQ(tcb_failure(with(good, "\"version\":3", "\"version\":\"" + ascii + "\"")),
            "invalid type: string \"" + ascii + "\", expected u32");
  EXPECT_EQ(tcb_failure(with(good, "\"version\":3", "\"version\":\"" + ascii + "b\"")),
            "invalid type: string \"" + ascii + "\"..., expected u32");
  const std::string before(79, 'a');
  EXPECT_EQ(tcb_failure(with(good, "\"version\":3", "\"version\":\"" + before + "\u00e9\u20ac\"")),
            "invalid type: string \"" + before + "\"..., expected u32");
}

TEST(TcbInfoDocument, SizeIsBoundedBeforeParsing) {
  const std::string good = tdx_info().json();
  std::string padded = good;
  padded.insert(padded.size() - 1, ",\"pad\":\"" + std::string(kMaxCollateralDocumentBytes, 'x') + "\"");
  EXPECT_EQ(tcb_failure(padded), "document is larger than 1048576 bytes");
  EXPECT_EQ(qe_failure(std::string(kMaxCollateralDocumentBytes + 1, ' ')), "document is larger than 1048576 bytes");
  std::string deep = std::string(200, '[') + std::string(200, ']');
  EXPECT_EQ(tcb_failure(deep).rfind("recursion limit exceeded", 0), 0u) << tcb_failure(deep);
}

TEST(QeIdentityDocument, HexMembersHaveTheirWidths) {
  test::DcapScenario s(test::QuoteKind::TdxV4);
  const std::string good = s.qe_identity.json();
  Expected<QeIdentity, std::string> identity = parse_qe_identity(good);
  ASSERT_TRUE(identity.ok()) << identity.error();
  EXPECT_EQ(identity->id, "TD_QE");
  EXPECT_EQ(identity->isvprodid, 2);
  EXPECT_EQ(hex_encode(identity->mrsigner), "dc9e2a7c6f948f17474e34a7fc43ed030f7c1563f1babddf6340c82e0e54a8c5");
  EXPECT_EQ(hex_encode(identity->attributes_mask), "fbffffffffffffff0000000000000000");
  EXPECT_EQ(hex_encode(identity->miscselect_mask), "ffffffff");
  ASSERT_EQ(identity->tcb_levels.size(), 1u);
  EXPECT_EQ(identity->tcb_levels[0].isvsvn, 4);

  EXPECT_EQ(qe_failure(with(good, "\"miscselect\":\"00000000\"", "\"miscselect\":\"000000\"")),
            "invalid value: string \"000000\", expected 4 bytes of hex in `miscselect`");
  EXPECT_EQ(qe_failure(with(good, "\"attributesMask\":\"FB", "\"attributesMask\":\"XB")),
            "invalid value: string \"XBFFFFFFFFFFFFFF0000000000000000\", expected 16 bytes of hex in `attributesMask`");
  EXPECT_EQ(qe_failure(with(good, "\"isvprodid\":2", "\"isvprodid\":65536")), "invalid value: integer `65536`, expected u16");
  EXPECT_EQ(qe_failure(with(good, "{\"isvsvn\":4}", "{\"isvsvn\":4,\"isvsvn\":5}")), "duplicate field `isvsvn`");
  EXPECT_EQ(qe_failure(with(good, "\"tcbLevels\":[", "\"tcbLevels\":{},\"x\":[")), "invalid type: map, expected a sequence");
}

TEST(Rfc3339, AcceptsIntelsFormsAndOffsets) {
  const auto seconds = [](const char* text) {
    Expected<DateTime, std::string> parsed = parse_rfc3339(text);
    EXPECT_TRUE(parsed.ok()) << text;
    return parsed ? parsed->seconds : INT64_MIN;
  };
  EXPECT_EQ(seconds("2025-09-02T07:41:59Z"), 1756798919);
  EXPECT_EQ(seconds("1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(seconds("1969-12-31T23:59:59Z"), -1);
  EXPECT_EQ(seconds("2024-02-29T12:00:00z"), 1709208000);
  EXPECT_EQ(seconds("2024-02-29t12:00:00+02:30"), 1709208000 - 9000);
  EXPECT_EQ(seconds("2024-02-29T12:00:00-00:01"), 1709208060);
  EXPECT_EQ(seconds("9999-12-31T23:59:59Z"), 253402300799);
  EXPECT_EQ(seconds("0000-03-01T00:00:00Z"), -62162035200);
  Expected<DateTime, std::string> fraction = parse_rfc3339("2025-09-02T07:41:59.000001Z");
  ASSERT_TRUE(fraction.ok());
  EXPECT_EQ(fraction->seconds, 1756798919);
  EXPECT_TRUE(fraction->fractional);
  EXPECT_EQ(fraction->ceil_seconds(), 1756798920);
  Expected<DateTime, std::string> zeros = parse_rfc3339("2025-09-02T07:41:59.000Z");
  ASSERT_TRUE(zeros.ok());
  EXPECT_FALSE(zeros->fractional);
}

TEST(Rfc3339, RefusesEverythingElse) {
  for (const char* text : {"",
                           "2025-09-02",
                           "2025-09-02T07:41:59",
                           "2025-09-02 07:41:59Z",
                           "2025-9-02T07:41:59Z",
                           "2025-02-29T00:00:00Z",
                           "2100-02-29T00:00:00Z",
                           "2025-04-31T00:00:00Z",
                           "2025-13-01T00:00:00Z",
                           "2025-00-01T00:00:00Z",
                           "2025-01-00T00:00:00Z",
                           "2025-01-01T24:00:00Z",
                           "2025-01-01T00:60:00Z",
                           "2016-12-31T23:59:60Z",
                           "2025-01-01T00:00:00.Z",
                           "2025-01-01T00:00:00+0100",
                           "2025-01-01T00:00:00+24:00",
                           "2025-01-01T00:00:00+01:60",
                           "2025-01-01T00:00:00ZZ",
                           "+2025-01-01T00:00:00Z",
                           "2025-01-01T00:00:00Z\n",
                           "２025-01-01T00:00:00Z",
                           "2025-01-01T00:00:00.5",
                           "2025-01-01T00:00:00 Z",
                           "2025-01-01T00:00:00UTC"}) {
    EXPECT_FALSE(parse_rfc3339(text).ok()) << text;
  }
  EXPECT_EQ(parse_rfc3339("x").error(), "invalid RFC 3339 date-time");
}

}  // namespace
}  // namespace orv::dcap
