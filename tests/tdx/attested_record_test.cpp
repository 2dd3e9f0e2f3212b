#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/hex.h"
#include "core/text.h"
#include "crypto/digest.h"
#include "support/printers.h"
#include "support/shared_data.h"
#include "support/tdx_level2.h"
#include "support/tsa_pki.h"
#include "tdx/attested_record.h"

namespace orv::tdx {
namespace {

namespace tsa_test = test::tsa;

// Live records are signed ahead of time by tests/data/live/make_live_records.py; a key receipt
// made here binds the same committed service key, whose private half the tests never hold.
std::string live_file(std::string_view name) {
  return test::read_file(std::filesystem::path(ORV_SOURCE_DIR) / "tests/data/live" / name);
}

std::string example_file(std::string_view name) {
  return test::read_file(std::filesystem::path(ORV_SOURCE_DIR) / "examples" / name);
}

class AttestedRecord : public ::testing::Test {
 protected:
  // The scenario runs at the test authority's time, so that one clock serves both.
  AttestedRecord() {
    s.dcap = test::DcapScenario(test::QuoteKind::TdxV4, tsa_test::kNow);
    s.live_key = hex_decode(trim_unicode(live_file("service-key.hex"))).value_or(std::vector<uint8_t>{});
    receipt = s.receipt_json();
  }

  AttestedRecordReport judge(std::string_view record, std::optional<std::string> stamp = std::nullopt, uint64_t later = 0) {
    const std::string snapshot = s.snapshot_json();
    const std::string expected = expected_td.empty() ? s.expected_json() : expected_td;
    const std::vector<uint8_t> root = s.dcap.root_der();
    AttestedRecordInputs in{record, receipt, snapshot, expected, std::nullopt, s.now() + later, root, authorities};
    if (stamp) in.stamp = *stamp;
    return verify_attested_record(in);
  }

  std::string stamp_over(const std::string& bytes) const {
    return tsa_test::stamp_file({{"Test", tsa_test::openssl_ts_token(hierarchy, bytes)}});
  }

  static std::vector<std::string> codes(const std::vector<Problem>& problems) {
    std::vector<std::string> out;
    for (const Problem& p : problems) out.emplace_back(p.code.text());
    return out;
  }

  test::Level2Scenario s;
  std::string receipt;
  std::string expected_td;
  tsa_test::Hierarchy hierarchy = tsa_test::make_hierarchy(tsa_test::KeyKind::P256, tsa_test::KeyKind::P256);
  std::vector<tsa::PinnedAuthority> authorities{hierarchy.authority("Test")};
};

TEST_F(AttestedRecord, RecordUnderTheAttestedKeyIsValid) {
  const AttestedRecordReport report = judge(live_file("valid.json"));
  EXPECT_EQ(report.problems, std::vector<Problem>{});
  EXPECT_EQ(report.outcome, Outcome::Valid);
  EXPECT_TRUE(report.valid);
  EXPECT_EQ(report.key_id, crypto::sha256_hex(s.live_key));
  EXPECT_EQ(report.record.format, sig::ReceiptFormat::LiveRecord);
  EXPECT_TRUE(report.record.valid);
  EXPECT_EQ(report.record.facts.at("agent_id"), "agent-7");
  EXPECT_TRUE(report.level2.valid);
  EXPECT_FALSE(report.timestamp.has_value());
  EXPECT_FALSE(report.key_receipt_no_later_than.has_value());
  EXPECT_EQ(report.scope, kAttestedRecordScope);
}

TEST_F(AttestedRecord, EachCheckFailsTheWholeAndNamesItsOrigin) {
  // Signed by another key: Intel's binding still holds, the record does not.
  const AttestedRecordReport other = judge(live_file("other-key.json"));
  EXPECT_EQ(codes(other.problems), (std::vector<std::string>{"EMBEDDED_KEY_MISMATCH", "SIGNATURE_INVALID"}));
  for (const Problem& p : other.problems) EXPECT_TRUE(p.message.starts_with("record: ")) << p.message;
  EXPECT_TRUE(other.level2.valid);
  EXPECT_EQ(other.outcome, Outcome::Invalid);

  // A record the key really signed, under a key the quote does not bind.
  s.bind_key = false;
  s.td().report_data[0] ^= 1;
  receipt = s.receipt_json();
  const AttestedRecordReport unbound = judge(live_file("valid.json"));
  EXPECT_EQ(unbound.problems,
            (std::vector<Problem>{{"KEY_NOT_BOUND", "key receipt: the quote's report_data does not bind the pinned live key"}}));
  EXPECT_TRUE(unbound.record.valid);
  EXPECT_EQ(unbound.outcome, Outcome::Invalid);

  // All three run: one result carries every failure, in the order of the checks.
  const AttestedRecordReport all = judge(live_file("other-key.json"), stamp_over(receipt + " "));
  EXPECT_EQ(codes(all.problems), (std::vector<std::string>{"KEY_NOT_BOUND", "EMBEDDED_KEY_MISMATCH", "SIGNATURE_INVALID",
                                                           "TIMESTAMP_IMPRINT_MISMATCH"}));
  EXPECT_TRUE(all.problems.back().message.starts_with("timestamp: ")) << all.problems.back().message;
}

TEST_F(AttestedRecord, KeyReceiptMustNameExactlyOneKey) {
  const std::string key = hex_encode(s.live_key);
  receipt.replace(0, 1, "{\"public_key_hex\":\"" + key + "\",");
  const AttestedRecordReport report = judge(live_file("valid.json"));
  // Level 2's own missing pin is left out: the first problem already says why.
  EXPECT_EQ(report.problems, (std::vector<Problem>{{"PARSE", "key receipt: not strict JSON with exactly one public_key_hex"},
                                                   {"PIN_MISSING", "record: refusing to verify without a pinned service key"}}));
  EXPECT_EQ(report.level2.problems[0].code, "PIN_MISSING");
  EXPECT_FALSE(report.key_id.has_value());
  EXPECT_EQ(report.outcome, Outcome::Refused);
}

TEST_F(AttestedRecord, OnlyALiveRecordCanBeAttested) {
  const AttestedRecordReport unknown = judge("{}");
  ASSERT_EQ(unknown.problems.size(), 1u);
  EXPECT_EQ(unknown.problems[0].code, "UNKNOWN_FORMAT");
  EXPECT_TRUE(unknown.problems[0].message.starts_with("record: not a lab receipt")) << unknown.problems[0].message;
  EXPECT_EQ(unknown.outcome, Outcome::Invalid);

  // A receipt naming the notary's key makes a lab receipt verify cleanly; that is still not an
  // attested record.
  receipt = "{\"public_key_hex\":\"";
  for (const char c : example_file("notary-key.pem")) receipt += c == '\n' ? std::string("\\n") : std::string(1, c);
  receipt += "\"}";
  const AttestedRecordReport lab = judge(example_file("lab-receipt.json"));
  EXPECT_EQ(lab.record.format, sig::ReceiptFormat::LabReceipt);
  EXPECT_TRUE(lab.record.valid);
  EXPECT_EQ(lab.problems, (std::vector<Problem>{
                              {"PIN_INVALID", "key receipt: the pinned live key is not a 1952-byte ML-DSA-65 public key in hex"},
                              {"UNKNOWN_FORMAT", "the document is not a live-service record"}}));
  EXPECT_FALSE(lab.key_id.has_value());
  EXPECT_FALSE(lab.valid);
}

TEST_F(AttestedRecord, LevelTwoFailuresKeepTheirCodeAndOutcome) {
  const AttestedRecordReport expired = judge(live_file("valid.json"), std::nullopt, 400 * 86400);
  ASSERT_EQ(expired.problems.size(), 1u);
  EXPECT_EQ(expired.problems[0].code, "COLLATERAL_EXPIRED");
  EXPECT_TRUE(expired.problems[0].message.starts_with("key receipt: TDX quote does not verify against Intel's root"));
  EXPECT_EQ(expired.outcome, Outcome::Invalid);

  expected_td = "{}";
  const AttestedRecordReport refused = judge(live_file("valid.json"));
  ASSERT_EQ(refused.problems.size(), 1u);
  EXPECT_EQ(refused.problems[0].code, "EXPECTED_MISSING");
  EXPECT_TRUE(refused.problems[0].message.starts_with("key receipt: expected TD does not parse: "));
  EXPECT_EQ(refused.outcome, Outcome::Refused);
}

TEST_F(AttestedRecord, StampCoversTheKeyReceiptsExactBytes) {
  const AttestedRecordReport stamped = judge(live_file("valid.json"), stamp_over(receipt));
  EXPECT_EQ(stamped.problems, std::vector<Problem>{});
  EXPECT_EQ(stamped.outcome, Outcome::Valid);
  ASSERT_TRUE(stamped.timestamp.has_value());
  EXPECT_TRUE(stamped.timestamp->valid);
  EXPECT_EQ(stamped.key_receipt_no_later_than, "2025-06-01T12:00:00Z");

  const AttestedRecordReport other_bytes = judge(live_file("valid.json"), stamp_over(receipt + "\n"));
  EXPECT_EQ(codes(other_bytes.problems), std::vector<std::string>{"TIMESTAMP_IMPRINT_MISMATCH"});
  EXPECT_FALSE(other_bytes.key_receipt_no_later_than.has_value());
  EXPECT_EQ(other_bytes.outcome, Outcome::Invalid);

  // A stamp that was named but is empty failed to prove anything; it is not "none given".
  for (const std::string blank : {"", " \n"}) {
    const AttestedRecordReport empty = judge(live_file("valid.json"), blank);
    ASSERT_EQ(empty.problems.size(), 1u);
    EXPECT_EQ(empty.problems[0].code, "TIMESTAMP_PARSE");
    EXPECT_TRUE(empty.problems[0].message.starts_with("timestamp: timestamp file: ")) << empty.problems[0].message;
    EXPECT_TRUE(empty.timestamp.has_value());
    EXPECT_EQ(empty.outcome, Outcome::Invalid);
  }
}

}  // namespace
}  // namespace orv::tdx
