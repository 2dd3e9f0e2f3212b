#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/hex.h"
#include "support/printers.h"
#include "support/tdx_level2.h"
#include "tdx/level2.h"

namespace orv::tdx {
namespace {

using test::Level2Scenario;

struct Evaluated {
  Level2Result result;
  std::vector<std::string> codes() const {
    std::vector<std::string> out;
    for (const Problem& p : result.report.problems) out.emplace_back(p.code.text());
    return out;
  }
  const Level2Report& report() const { return result.report; }
};

Evaluated evaluate(Level2Scenario& s, std::string pin = "", uint64_t now = 0, std::string receipt = "",
                   std::string expected = "") {
  const std::string receipt_text = receipt.empty() ? s.receipt_json() : receipt;
  const std::string snapshot = s.snapshot_json();
  const std::string expected_text = expected.empty() ? s.expected_json() : expected;
  const std::string pin_text = pin.empty() ? s.pin_hex() : pin;
  const std::vector<uint8_t> root = s.dcap.root_der();
  return {evaluate_level2({receipt_text, pin_text, snapshot, expected_text, now ? now : s.now(), root})};
}

TEST(Level2, MatchingReceiptsOfEverySchemaAreValid) {
  for (const std::string_view schema : {kReceiptSchemaV1, kReceiptSchemaV2, kReceiptSchemaV3}) {
    Level2Scenario s(test::QuoteKind::TdxV4, std::string(schema));
    const Evaluated run = evaluate(s);
    EXPECT_TRUE(run.report().problems.empty()) << schema << ": " << run.report().problems[0].message;
    EXPECT_EQ(run.report().outcome, Outcome::Valid);
    EXPECT_EQ(run.report().tcb_status, "UpToDate");
    EXPECT_EQ(run.report().measurements.count("rt_mr3"), 1u);
    EXPECT_EQ(run.report().measurements.at("app_id"), "a1b2c3");
    EXPECT_EQ(run.report().notes.size(), 4u);
    EXPECT_EQ(run.report().receipt_issued_at_claimed, "2030-03-17T17:46:40Z");
    EXPECT_EQ(run.report().prev_receipt_sha256.has_value(), schema != kReceiptSchemaV1);
    EXPECT_EQ(run.report().sigsum_chain_key_hex.has_value(), schema == kReceiptSchemaV3);
    ASSERT_TRUE(run.result.receipt.has_value());
  }
  Level2Scenario v5(test::QuoteKind::TdxV5);
  EXPECT_EQ(evaluate(v5).report().outcome, Outcome::Valid);
}

TEST(Level2, ExpiredCollateralIsToldApart) {
  Level2Scenario s;
  const Evaluated later = evaluate(s, "", s.now() + 400 * 86400);
  ASSERT_EQ(later.report().problems.size(), 1u);
  EXPECT_EQ(later.report().problems[0].code, "COLLATERAL_EXPIRED");
  const std::string& message = later.report().problems[0].message;
  EXPECT_EQ(message.rfind("TDX quote does not verify against Intel's root at your time ", 0), 0u);
  EXPECT_NE(message.find("(snapshot claims 2030-03-17T00:00:00Z): "), std::string::npos);
  EXPECT_TRUE(message.ends_with(". Obtain a newer Intel collateral snapshot.")) << message;
  EXPECT_EQ(later.report().notes.size(), 2u);
}

TEST(Level2, OnlyExpiryIsToldApartNotTheWordExpired) {
  Level2Scenario s;
  s.dcap.qe_identity.id = "expired";
  EXPECT_EQ(evaluate(s).codes(), std::vector<std::string>{"QUOTE_INVALID"});
}

TEST(Level2, RefusalsComeBeforeAnyParsing) {
  Level2Scenario s;
  EXPECT_EQ(evaluate(s, " \n").report().problems,
            (std::vector<Problem>{{"PIN_MISSING", "refusing to verify without a pinned live service key"}}));
  EXPECT_EQ(evaluate(s, "abcd").report().problems,
            (std::vector<Problem>{{"PIN_INVALID", "the pinned live key is not a 1952-byte ML-DSA-65 public key in hex"}}));
  EXPECT_EQ(
      evaluate(s, "", 0, "", "\n\t").report().problems,
      (std::vector<Problem>{{"EXPECTED_MISSING", "refusing to verify without the pinned expected trust-domain measurements"}}));
  const Evaluated big = evaluate(s, "", 0, std::string(1048577, ' '));
  EXPECT_EQ(big.report().problems, (std::vector<Problem>{{"INPUT_TOO_LARGE", "the receipt is larger than 1048576 bytes"}}));
  EXPECT_EQ(big.report().outcome, Outcome::Refused);
  const Evaluated strict = evaluate(s, "", 0, "{\"a\":1.5}");
  EXPECT_EQ(strict.codes(), std::vector<std::string>{"NON_CANONICAL_JSON"});
  EXPECT_EQ(strict.report().problems[0].message.rfind("the receipt is not strict JSON: number 1.5", 0), 0u);
  EXPECT_EQ(strict.report().outcome, Outcome::Invalid);

  // An upper-case pin with a trailing newline is the same key.
  std::string upper = s.pin_hex();
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  EXPECT_EQ(evaluate(s, upper + "\n").report().outcome, Outcome::Valid);
}

TEST(Level2, ReceiptAgainstThePins) {
  Level2Scenario s;
  std::string other_key = s.pin_hex();
  other_key[0] = other_key[0] == '0' ? '1' : '0';
  // The quote binds the pinned key, the receipt names another: only the embedded key is wrong.
  const std::string receipt = s.receipt_json();
  std::string renamed = receipt;
  renamed.replace(renamed.find(s.pin_hex()), other_key.size(), other_key);
  EXPECT_EQ(evaluate(s, "", 0, renamed).codes(), std::vector<std::string>{"EMBEDDED_KEY_MISMATCH"});

  Level2Scenario unbound;
  unbound.bind_key = false;
  EXPECT_EQ(evaluate(unbound).report().problems,
            (std::vector<Problem>{{"KEY_NOT_BOUND", "the quote's report_data does not bind the pinned live key"}}));
  // All 64 bytes bind: a quote that differs only in the second half is made for another key.
  Level2Scenario second_half;
  second_half.receipt_json();
  second_half.td().report_data[63] ^= 1;
  second_half.bind_key = false;
  EXPECT_EQ(evaluate(second_half).codes(), std::vector<std::string>{"KEY_NOT_BOUND"});

  std::string alg = receipt;
  alg.replace(alg.find("\"ML-DSA-65\""), 11, "\"ML-DSA-87\"");
  EXPECT_EQ(evaluate(s, "", 0, alg).report().problems,
            (std::vector<Problem>{{"UNSUPPORTED_ALG", "alg 'ML-DSA-87' is not ML-DSA-65"}}));

  std::string not_hex = receipt;
  not_hex.replace(not_hex.find("\"quote_hex\":\"") + 13, 1, "z");
  EXPECT_EQ(evaluate(s, "", 0, not_hex).report().problems, (std::vector<Problem>{{"PARSE", "quote_hex is not hex"}}));
}

// Which members a receipt carries is part of its schema, since the binding covers exactly those
// of its schema: a link on a v1 receipt would be unproven, and a v3 log key must be read to bind.
TEST(Level2, ReceiptMembersMustFitItsSchema) {
  const Problem not_bound{"KEY_NOT_BOUND", "the quote's report_data does not bind the pinned live key"};
  Level2Scenario v1;
  std::string linked = v1.receipt_json();
  linked.insert(linked.size() - 1, ",\"prev_receipt_sha256\":\"GENESIS\"");
  const Evaluated run = evaluate(v1, "", 0, linked);
  EXPECT_EQ(run.report().problems,
            (std::vector<Problem>{{"UNSUPPORTED_SCHEMA",
                                   "receipt schema 'orvelant/live-key-receipt/v1' with these fields is not "
                                   "orvelant/live-key-receipt/v1, orvelant/live-key-receipt/v2 or "
                                   "orvelant/live-key-receipt/v3"},
                                  not_bound}));
  EXPECT_EQ(run.report().outcome, Outcome::Invalid);

  Level2Scenario v3(test::QuoteKind::TdxV4, std::string(kReceiptSchemaV3));
  v3.sigsum_chain_key_hex = std::string(64, 'C');
  EXPECT_EQ(evaluate(v3).report().problems,
            (std::vector<Problem>{{"PARSE", "sigsum_chain_key_hex is missing or not 64 lowercase hex"}, not_bound}));
}

TEST(Level2, TrustDomainAgainstTheExpectedFile) {
  Level2Scenario s;
  std::string expected = s.expected_json();
  const std::string xfam = "\"xfam\":\"";
  const size_t at = expected.find(xfam) + xfam.size();
  expected[at] = expected[at] == '0' ? '1' : '0';
  const Evaluated run = evaluate(s, "", 0, "", expected);
  EXPECT_EQ(run.report().problems, (std::vector<Problem>{{"MEASUREMENT_MISMATCH", "xfam is not the pinned value"}}));
  EXPECT_EQ(run.report().measurements.count("xfam"), 0u);
  // A pin that is only the start of the value, or empty, pins nothing.
  const size_t end = expected.find('"', at);
  for (const size_t kept : {size_t{0}, (end - at) / 2}) {
    const std::string prefix = s.expected_json().erase(at + kept, end - at - kept);
    EXPECT_EQ(evaluate(s, "", 0, "", prefix).codes(), std::vector<std::string>{"MEASUREMENT_MISMATCH"}) << kept;
  }

  // The quote's RTMR3 is the replay of the log in its first order; the receipt then lists two
  // RTMR3 events the other way round: every digest still matches, the replay does not.
  Level2Scenario swapped;
  swapped.receipt_json();
  std::swap(swapped.event_log[2], swapped.event_log[3]);
  swapped.replay_rtmr3 = false;
  EXPECT_EQ(evaluate(swapped).report().problems,
            (std::vector<Problem>{{"EVENT_LOG_MISMATCH", "the event log does not replay to the quote's RTMR3"}}));

  Level2Scenario twice;
  twice.event_log.push_back(twice.event_log[2]);
  EXPECT_EQ(evaluate(twice).report().problems,
            (std::vector<Problem>{{"EVENT_LOG_MISMATCH", "RTMR3 event 'compose-hash' appears more than once"}}));

  Level2Scenario empty_digest;
  empty_digest.event_log[1].digest = "";
  EXPECT_EQ(evaluate(empty_digest).report().outcome, Outcome::Valid);

  Level2Scenario wrong_digest;
  wrong_digest.event_log[1].digest = std::string(96, '0');
  EXPECT_EQ(evaluate(wrong_digest).report().problems,
            (std::vector<Problem>{{"EVENT_DIGEST_MISMATCH", "event 'app-id' does not hash to its digest"}}));
}

TEST(Level2, DocumentsAndQuoteKind) {
  Level2Scenario s;
  std::string snapshot = s.snapshot_json();
  const std::string receipt = s.receipt_json();
  const std::vector<uint8_t> root = s.dcap.root_der();
  const auto judge = [&](const std::string& snap) {
    return evaluate_level2({receipt, s.pin_hex(), snap, s.expected_json(), s.now(), root}).report.problems;
  };
  std::string other_schema = snapshot;
  other_schema.replace(other_schema.find("snapshot/v1"), 11, "snapshot/v2");
  EXPECT_EQ(judge(other_schema), (std::vector<Problem>{{"UNSUPPORTED_SCHEMA",
                                                        "snapshot schema 'orvelant/intel-collateral-snapshot/v2' is not "
                                                        "orvelant/intel-collateral-snapshot/v1"}}));
  std::string fetched = snapshot;
  fetched.replace(fetched.find("2030-03-17T00:00:00Z"), 20, "2030-03-17 00:00:00Z");
  EXPECT_EQ(judge(fetched), (std::vector<Problem>{{"SNAPSHOT_PARSE", "snapshot fetched_at is not a strict RFC 3339 UTC time"}}));

  // A genuine SGX quote is still not a TDX quote.
  Level2Scenario sgx(test::QuoteKind::SgxV3);
  const Evaluated run = evaluate(sgx);
  EXPECT_EQ(run.report().problems, (std::vector<Problem>{{"QUOTE_INVALID", "quote is not a TDX quote"}}));
  EXPECT_TRUE(run.report().tcb_status.has_value());

  Level2Scenario bad_payload;
  bad_payload.event_log[2].event_payload = "c0ffe";
  EXPECT_EQ(evaluate(bad_payload).report().problems,
            (std::vector<Problem>{{"EVENT_DIGEST_MISMATCH", "event 'compose-hash' payload is not hex"},
                                  {"EVENT_LOG_MISMATCH", "event 'compose-hash' payload is not hex"},
                                  {"MEASUREMENT_MISMATCH", "RTMR3 event 'compose-hash' is not the pinned value"}}));
}

TEST(Level2, KmsMeasurementIsObservedOrPinned) {
  Level2Scenario observed;
  observed.event_log.push_back({3, 134217729, "", "mr-kms", "AB12"});
  observed.fill_event_digests();
  const Evaluated run = evaluate(observed);
  EXPECT_EQ(run.report().outcome, Outcome::Valid);
  EXPECT_EQ(run.report().mr_kms_observed, "ab12");

  // Two values for one measurement: neither is reported as what the TD ran.
  Level2Scenario twice;
  twice.event_log.push_back({3, 134217729, "", "mr-kms", "ab12"});
  twice.event_log.push_back({3, 134217729, "", "mr-kms", "cd34"});
  twice.fill_event_digests();
  const Evaluated ambiguous = evaluate(twice);
  EXPECT_EQ(ambiguous.report().problems,
            (std::vector<Problem>{{"EVENT_LOG_MISMATCH", "RTMR3 event 'mr-kms' appears more than once"}}));
  EXPECT_EQ(ambiguous.report().outcome, Outcome::Invalid);
  EXPECT_FALSE(ambiguous.report().mr_kms_observed.has_value());

  Level2Scenario pinned_absent;
  pinned_absent.expected_mr_kms = "ab12";
  const Evaluated missing = evaluate(pinned_absent);
  EXPECT_EQ(missing.report().problems, (std::vector<Problem>{{"EVENT_LOG_MISMATCH", "no RTMR3 event 'mr-kms'"}}));
  EXPECT_EQ(missing.report().notes.size(), 3u);  // no note about an unpinned KMS
}

}  // namespace
}  // namespace orv::tdx
