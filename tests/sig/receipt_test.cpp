#include <gtest/gtest.h>

#include <string>

#include "sig/receipt.h"
#include "sig/scope.h"
#include "support/printers.h"

namespace orv::sig {
namespace {

const std::string kAnyKey = "00";

ReceiptVerdict judged(const std::string& document, const std::string& key = kAnyKey) { return check_receipt(document, key); }

void expect_undetected(const ReceiptVerdict& verdict, const std::string& code, Outcome outcome) {
  ASSERT_EQ(verdict.problems.size(), 1u);
  EXPECT_EQ(verdict.problems[0].code, code);
  EXPECT_EQ(verdict.outcome, outcome);
  EXPECT_FALSE(verdict.valid);
  EXPECT_EQ(verdict.format, ReceiptFormat::Unknown);
  EXPECT_EQ(verdict.scope, kLabReceiptScope);
}

TEST(ReceiptEntry, SizeGuardsRefuseBeforeParsing) {
  const ReceiptVerdict big = judged(std::string(1048577, ' '));
  expect_undetected(big, "INPUT_TOO_LARGE", Outcome::Refused);
  EXPECT_EQ(big.problems[0].message, "the document is 1048577 bytes; the limit is 1048576 bytes. Refusing without parsing it");

  const ReceiptVerdict big_key = judged("{}", std::string(65537, 'a'));
  expect_undetected(big_key, "INPUT_TOO_LARGE", Outcome::Refused);
  EXPECT_EQ(big_key.problems[0].message, "the pinned key is 65537 bytes; the limit is 65536 bytes. Refusing without parsing it");

  // Exactly at the limit passes the guard and reaches the parser.
  expect_undetected(judged(std::string(1048576, ' ')), "PARSE", Outcome::Invalid);
  expect_undetected(judged("{}", std::string(65536, 'a')), "UNKNOWN_FORMAT", Outcome::Refused);
}

TEST(ReceiptEntry, NotJsonAndNotStrictAreTold) {
  for (const std::string doc : {"", "{", "[1,]", "{\"a\":\"\\udc00\"}", "nul"}) {
    const ReceiptVerdict verdict = judged(doc);
    expect_undetected(verdict, "PARSE", Outcome::Invalid);
    EXPECT_EQ(verdict.problems[0].message.rfind("document is not JSON: ", 0), 0u) << doc;
  }
  for (const std::string doc : {"{\"a\":1.0}", "{\"a\":1,\"a\":2}", "{\"a\":-0}", "{\"a\":1e2}"}) {
    const ReceiptVerdict verdict = judged(doc);
    expect_undetected(verdict, "NON_CANONICAL_JSON", Outcome::Invalid);
    EXPECT_EQ(verdict.problems[0].message.rfind("document is not strict JSON: ", 0), 0u) << doc;
  }
  EXPECT_EQ(judged("{\"a\":1,\"\\u0061\":2}")
                .problems[0]
                .message.rfind("document is not strict JSON: duplicate key a at line 1 column ", 0),
            0u);
}

TEST(ReceiptEntry, UnknownShapesRefuse) {
  for (const std::string doc :
       {"{}", "[]", "5", "\"x\"", "{\"record\":{}}", "{\"core\":{}}", "{\"signature_hex\":\"\",\"broker_signature_hex\":\"\"}"}) {
    const ReceiptVerdict verdict = judged(doc);
    expect_undetected(verdict, "UNKNOWN_FORMAT", Outcome::Refused);
    EXPECT_EQ(verdict.problems[0].message,
              "not a lab receipt (core + broker_signature_hex) or a live record (record + signature_hex)");
  }
}

TEST(ReceiptEntry, DetectionOrderPrefersRefusalThenLabReceipt) {
  const auto format_of = [](const std::string& doc) {
    const Expected<json::Document, std::string> parsed = json::parse(doc);
    return parsed ? detect_format(parsed->root()) : ReceiptFormat::Unknown;
  };
  EXPECT_EQ(format_of(R"({"core":{"schema":"tamsel-fabric/refusal/v1"},"broker_signature_hex":""})"), ReceiptFormat::Refusal);
  EXPECT_EQ(format_of(R"({"core":{"schema":"tamsel-fabric/records/v2"},"broker_signature_hex":""})"), ReceiptFormat::LabReceipt);
  EXPECT_EQ(format_of(R"({"core":"tamsel-fabric/refusal/v1","broker_signature_hex":1})"), ReceiptFormat::LabReceipt);
  EXPECT_EQ(format_of(R"({"record":{},"signature_hex":"","core":{},"broker_signature_hex":""})"), ReceiptFormat::LabReceipt);
  EXPECT_EQ(format_of(R"({"record":1,"signature_hex":2})"), ReceiptFormat::LiveRecord);
}

}  // namespace
}  // namespace orv::sig
