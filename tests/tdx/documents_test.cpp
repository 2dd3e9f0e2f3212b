#include <gtest/gtest.h>

#include <string>

#include "core/hex.h"
#include "core/time_text.h"
#include "crypto/digest.h"
#include "json/document.h"
#include "support/printers.h"
#include "tdx/documents.h"

namespace orv::tdx {
namespace {

json::Document parsed(const std::string& text) {
  Expected<json::Document, std::string> document = json::parse(text);
  EXPECT_TRUE(document.ok()) << text;
  return document ? std::move(document).value() : json::Document();
}

std::string receipt_json(const std::string& schema, const std::string& extra = "") {
  return R"({"schema":")" + schema + R"(","alg":"ML-DSA-65","public_key_hex":"00","quote_hex":"",)" +
         R"("event_log":[{"imr":3,"event_type":134217729,"digest":"","event":"app-id","event_payload":"ab"}],)" +
         R"("issued_at":"2026-01-01T00:00:00Z")" + extra + "}";
}

LiveKeyReceipt receipt(const std::string& schema, const std::string& extra = "") {
  auto result = parse_key_receipt(parsed(receipt_json(schema, extra)).root());
  EXPECT_TRUE(result.ok());
  return result.ok() ? *result : LiveKeyReceipt{};
}

std::optional<Problem> binding_problem(const LiveKeyReceipt& r) {
  auto result = key_binding(r, std::vector<uint8_t>(1952, 7));
  return !result.ok() ? std::optional(result.error()) : std::nullopt;
}

// A P-256 key in SubjectPublicKeyInfo DER, 91 bytes, and the same bytes claiming a compressed point.
const std::string kRekorKey =
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEJu/OvQ7p40pmkYfhizqRIrL3M5RbZJzJ+fkh6fna2BKQI4venMe7Mw0VDGdwTdJa5wVSBXRLbzG/"
    "QHB0WHLQ5g==";
const std::string kCompressedMarker =
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgACJu/OvQ7p40pmkYfhizqRIrL3M5RbZJzJ+fkh6fna2BKQI4venMe7Mw0VDGdwTdJa5wVSBXRLbzG/"
    "QHB0WHLQ5g==";

TEST(StrictUtcTime, CalendarAndForm) {
  for (const char* good : {"2024-02-29T00:00:00Z", "2024-02-29T00:00:00.5Z", "1970-01-01T00:00:00Z",
                           "2000-02-29T23:59:59.000001Z", "2026-12-31T12:00:00Z"}) {
    EXPECT_TRUE(is_strict_utc_time(good)) << good;
  }
  for (const char* bad : {"2025-02-29T00:00:00Z", "2024-02-29T00:00:00.Z", "2024-02-29T00:00:00+00:00", "2024-02-29 00:00:00Z",
                          "1969-12-31T23:59:59Z", "1900-02-29T00:00:00Z", "2024-04-31T00:00:00Z", "2024-01-01T24:00:00Z",
                          "2024-01-01T00:60:00Z", "2024-01-01T00:00:60Z", "2024-1-01T00:00:00Z", "2024-01-01T00:00:00z",
                          "2024-01-01T00:00:00.5", "2024-01-01T00:00:00.\u0661Z", ""}) {
    EXPECT_FALSE(is_strict_utc_time(bad)) << bad;
  }
}

TEST(PrevLink, GenesisDigestOrError) {
  EXPECT_EQ(parse_prev_link(std::nullopt).kind, PrevLink::Kind::Absent);
  EXPECT_EQ(parse_prev_link("GENESIS").kind, PrevLink::Kind::Genesis);
  const PrevLink link = parse_prev_link(std::string(62, '0') + "0f");
  EXPECT_EQ(link.kind, PrevLink::Kind::Digest);
  EXPECT_EQ(link.digest[31], 0x0f);
  for (const std::string& bad :
       {std::string(64, '0'), std::string(62, '0') + "0F", std::string(63, '1'), std::string("genesis")}) {
    EXPECT_EQ(parse_prev_link(bad).kind, PrevLink::Kind::Error) << bad;
  }
}

TEST(KeyReceipt, MappingFailuresAreTheMappingMessage) {
  const auto result = parse_key_receipt(parsed(receipt_json(std::string(kReceiptSchemaV1), R"(,"extra":1)")).root());
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().rfind("unknown field `extra`", 0), 0u);

  const std::string bad_event =
      R"({"schema":"x","alg":"","public_key_hex":"","quote_hex":"","event_log":[{"imr":3}],"issued_at":""})";
  EXPECT_EQ(parse_key_receipt(parsed(bad_event).root()).error(), "missing field `event_type`");
  const LiveKeyReceipt r = receipt(std::string(kReceiptSchemaV1));
  ASSERT_EQ(r.event_log.size(), 1u);
  EXPECT_EQ(r.event_log[0].event_type, 134217729u);
  EXPECT_EQ(r.event_log[0].event, "app-id");
}

TEST(KeyBinding, SchemaFixesTheFieldsAndTheBoundBytes) {
  const std::vector<uint8_t> key(1952, 7);
  const auto bound = key_binding(receipt(std::string(kReceiptSchemaV2), R"(,"prev_receipt_sha256":"GENESIS")"), key);
  ASSERT_TRUE(bound.ok());
  std::string expected_input = std::string(kReceiptSchemaV2) + "\n" + std::string(1952, '\x07') + std::string(32, '\0');
  EXPECT_EQ(hex_encode(*bound), hex_encode(crypto::sha512(as_bytes(expected_input))));

  const std::string unsupported = "receipt schema '" + std::string(kReceiptSchemaV1) +
                                  "' with these fields is not orvelant/live-key-receipt/v1, "
                                  "orvelant/live-key-receipt/v2 or orvelant/live-key-receipt/v3";
  EXPECT_EQ(binding_problem(receipt(std::string(kReceiptSchemaV1), R"(,"prev_receipt_sha256":"GENESIS")")),
            (Problem{"UNSUPPORTED_SCHEMA", unsupported}));
  EXPECT_EQ(binding_problem(receipt("orvelant/live-key-receipt/v4"))->code, "UNSUPPORTED_SCHEMA");
  EXPECT_EQ(
      binding_problem(receipt(std::string(kReceiptSchemaV3),
                              R"(,"prev_receipt_sha256":"GENESIS","sigsum_chain_key_hex":")" + std::string(64, 'a') + "\"")),
      (Problem{"UNSUPPORTED_SCHEMA", unsupported.substr(0, 16) + "orvelant/live-key-receipt/v3" + unsupported.substr(44)}));
  EXPECT_EQ(binding_problem(receipt(std::string(kReceiptSchemaV2), R"(,"prev_receipt_sha256":"GENESIS ")")),
            (Problem{"PARSE", "prev_receipt_sha256 is missing or not GENESIS / 64 lowercase hex"}));
}

TEST(LogKeys, SigsumAndRekorKeyForms) {
  const std::string sigsum = R"(,"prev_receipt_sha256":"GENESIS","sigsum_chain_key_hex":")" + std::string(64, 'a') + "\"";
  const auto keys =
      read_log_keys(receipt(std::string(kReceiptSchemaV3), sigsum + R"(,"rekor_key_spki_b64":")" + kRekorKey + "\""));
  ASSERT_TRUE(keys.ok()) << keys.error().message;
  EXPECT_EQ(keys->rekor_spki.size(), 91u);

  const std::string not_p256 = "rekor_key_spki_b64 is not canonical base64 of an uncompressed P-256 key";
  for (const std::string& bad : {kRekorKey.substr(0, kRekorKey.size() - 2), kRekorKey + "AAAA", kCompressedMarker,
                                 kRekorKey.substr(0, 4) + "A" + kRekorKey.substr(5)}) {
    const auto result = read_log_keys(receipt(std::string(kReceiptSchemaV3), sigsum + R"(,"rekor_key_spki_b64":")" + bad + "\""));
    ASSERT_FALSE(result.ok()) << bad;
    EXPECT_EQ(result.error().message, not_p256);
  }
  EXPECT_EQ(read_log_keys(receipt(std::string(kReceiptSchemaV3), sigsum)).error().message, "rekor_key_spki_b64 is missing");
  EXPECT_EQ(read_log_keys(receipt(std::string(kReceiptSchemaV3), R"(,"sigsum_chain_key_hex":")" + std::string(64, 'A') + "\""))
                .error()
                .message,
            "sigsum_chain_key_hex is missing or not 64 lowercase hex");
}

TEST(Snapshot, CollateralNamesAreCheckedBeforeTheirTypes) {
  const std::string collateral =
      R"("pck_crl_issuer_chain":"a","root_ca_crl":"b","pck_crl":"c","tcb_info_issuer_chain":"d","tcb_info":"e",)"
      R"("tcb_info_signature":"f","qe_identity_issuer_chain":"g","qe_identity":"h","qe_identity_signature":"i")";
  const auto snapshot = [&](const std::string& inner) {
    return parse_snapshot(parsed(R"({"schema":"s","fetched_at":"t","source":"u","collateral":{)" + inner + "}}").root());
  };
  const auto ok = snapshot(collateral);
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok->collateral.qe_identity, "h");
  EXPECT_FALSE(ok->collateral.pck_certificate_chain.has_value());
  EXPECT_EQ(snapshot(collateral + R"(,"pck_certificate":"x")").error(),
            (Problem{"SNAPSHOT_PARSE", "collateral snapshot has an unknown collateral field"}));
  EXPECT_EQ(snapshot(R"("tcb_info":5)").error().message,
            "collateral snapshot does not parse: invalid type: integer `5`, expected a string");
}

TEST(ExpectedTd, OptionalMrKmsAndRequiredRest) {
  std::string text = R"({"schema":"orvelant/expected-td/v1","td_attributes":"a","xfam":"b","mr_td":"c",)"
                     R"("mr_config_id":"d","mr_owner":"e","mr_owner_config":"f","rt_mr0":"g","rt_mr1":"h","rt_mr2":"i",)"
                     R"("app_id":"j","compose_hash":"k","os_image_hash":"l","key_provider":"m",)"
                     R"("min_tcb_evaluation_data_number":17})";
  const auto ok = parse_expected_td(parsed(text).root());
  ASSERT_TRUE(ok.ok());
  EXPECT_FALSE(ok->mr_kms.has_value());
  EXPECT_EQ(ok->min_tcb_evaluation_data_number, 17u);

  const std::string no_xfam = text.substr(0, text.find(R"("xfam")")) + text.substr(text.find(R"("mr_td")"));
  EXPECT_EQ(parse_expected_td(parsed(no_xfam).root()).error(),
            (Problem{"EXPECTED_MISSING", "expected TD does not parse: missing field `xfam`"}));
  const std::string other = "orvelant/expected-td/v2";
  text.replace(text.find("orvelant/expected-td/v1"), other.size(), other);
  EXPECT_EQ(parse_expected_td(parsed(text).root()).error(),
            (Problem{"EXPECTED_MISSING", "expected TD schema is not orvelant/expected-td/v1"}));
}

}  // namespace
}  // namespace orv::tdx
