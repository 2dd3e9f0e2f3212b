#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "core/hex.h"
#include "crypto/digest.h"
#include "support/printers.h"
#include "support/tdx_history.h"
#include "tdx/key_chain.h"
#include "tdx/level2.h"

namespace orv::tdx {
namespace {

using test::KeyHistory;
using test::sha256_hex_of;

constexpr std::string_view kNotLinked = "does not link to the receipt before it (a boot is missing, edited or reordered)";
constexpr std::string_view kNotBound = "the quote does not bind this key and link";

struct Judge {
  std::vector<std::string> contains;
  std::optional<std::string> snapshot;
  std::vector<std::string> expected;
  uint64_t now = test::kTestNow;
  std::vector<uint8_t> root;

  KeyChainReport operator()(std::string_view history) const {
    KeyChainInputs in{history, contains, std::nullopt, expected, now, root};
    if (snapshot) in.snapshot = *snapshot;
    return verify_key_chain(in);
  }
};

// Level 2 for every receipt against the history's own snapshot and expected TD.
Judge with_level2(const KeyHistory& h) {
  return Judge{{}, h.scenario.snapshot_json(), {h.scenario.expected_json()}, h.scenario.now(), h.scenario.dcap.root_der()};
}

struct Line {
  uint64_t line;
  ProblemCode code;
  std::string_view message;
};

std::vector<Problem> problems(std::initializer_list<Line> list) {
  std::vector<Problem> out;
  for (const auto& [line, code, message] : list) out.push_back({code, std::string(message), line});
  return out;
}

TEST(KeyChain, UnbrokenHistoryOfLinksAndBindings) {
  KeyHistory h;
  h.append(kReceiptSchemaV2);
  h.append(kReceiptSchemaV2);
  h.append(kReceiptSchemaV3);
  const KeyChainReport report = Judge{}(h.text());
  EXPECT_EQ(report.problems, std::vector<Problem>{});
  EXPECT_TRUE(report.valid);
  EXPECT_EQ(report.outcome, Outcome::Valid);
  EXPECT_EQ(report.length, 3u);
  EXPECT_EQ(report.head_receipt_sha256, sha256_hex_of(h.lines[2]));
  ASSERT_EQ(report.key_ids.size(), 3u);
  for (uint32_t boot = 1; boot <= 3; ++boot) {
    EXPECT_EQ(report.key_ids[boot - 1], crypto::sha256_hex(KeyHistory::boot_key(boot)));
  }
  EXPECT_EQ(report.sigsum_chain_keys, std::vector<std::string>{std::string(64, 'c')});
  EXPECT_FALSE(report.level2_checked);
  EXPECT_EQ(report.scope, kKeyChainScope);

  // One final line feed is the file's, not an empty last line.
  EXPECT_TRUE(Judge{}(h.text() + "\n").valid);
  const KeyChainReport two_feeds = Judge{}(h.text() + "\n\n");
  ASSERT_EQ(two_feeds.problems.size(), 1u);
  EXPECT_EQ(two_feeds.problems[0].line, 4u);
  EXPECT_EQ(two_feeds.problems[0].code, "PARSE");
  EXPECT_TRUE(two_feeds.problems[0].message.starts_with("not strict JSON: ")) << two_feeds.problems[0].message;
  EXPECT_EQ(two_feeds.length, 4u);
  EXPECT_EQ(two_feeds.head_receipt_sha256, sha256_hex_of(""));

  KeyHistory single;
  single.append(kReceiptSchemaV2);
  EXPECT_TRUE(Judge{}(single.text()).valid);
}

TEST(KeyChain, RemovedReorderedOrRestartedBootsBreakTheLinks) {
  KeyHistory h;
  for (int i = 0; i < 4; ++i) h.append();
  const auto joined = [](std::vector<std::string> lines) {
    KeyHistory copy;
    copy.lines = std::move(lines);
    return copy.text();
  };
  EXPECT_EQ(Judge{}(joined({h.lines[0], h.lines[2], h.lines[1], h.lines[3]})).problems,
            problems({{2, "CHAIN_BROKEN", kNotLinked}, {3, "CHAIN_BROKEN", kNotLinked}, {4, "CHAIN_BROKEN", kNotLinked}}));
  EXPECT_EQ(Judge{}(joined({h.lines[0], h.lines[2], h.lines[3]})).problems, problems({{2, "CHAIN_BROKEN", kNotLinked}}));
  EXPECT_EQ(Judge{}(joined({h.lines[1], h.lines[2]})).problems,
            problems({{1, "CHAIN_START", "the first receipt must link to GENESIS"}}));

  KeyHistory restarted;
  restarted.append();
  restarted.lines.push_back(restarted.receipt(kReceiptSchemaV2, KeyHistory::boot_key(9), "GENESIS"));
  restarted.append();
  EXPECT_EQ(Judge{}(restarted.text()).problems, problems({{2, "CHAIN_BROKEN", "a second GENESIS: the history restarted"}}));
}

TEST(KeyChain, DamagedLineIsReportedOnce) {
  KeyHistory h;
  h.append();
  h.lines.push_back(h.receipt(kReceiptSchemaV2, KeyHistory::boot_key(2), h.link_to_last()) + ",");
  h.append();  // links to the damaged bytes
  const KeyChainReport report = Judge{}(h.text());
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].line, 2u);
  EXPECT_EQ(report.problems[0].code, "PARSE");
  EXPECT_TRUE(report.problems[0].message.starts_with("not strict JSON: trailing characters at line 1 column "))
      << report.problems[0].message;
  EXPECT_EQ(report.key_ids.size(), 2u);
}

TEST(KeyChain, SchemasThatCannotChainOrGoBackwards) {
  KeyHistory h;
  h.append(kReceiptSchemaV3);
  h.append(kReceiptSchemaV2);
  h.append(kReceiptSchemaV3);
  const std::string downgrade = "a orvelant/live-key-receipt/v2 receipt after a orvelant/live-key-receipt/v3 one";
  EXPECT_EQ(Judge{}(h.text()).problems, problems({{2, "DOWNGRADE", downgrade}}));

  // The downgrade does not reset what came before: every later v2 is one too.
  KeyHistory twice;
  twice.append(kReceiptSchemaV3);
  twice.append(kReceiptSchemaV2);
  twice.append(kReceiptSchemaV2);
  EXPECT_EQ(Judge{}(twice.text()).problems, problems({{2, "DOWNGRADE", downgrade}, {3, "DOWNGRADE", downgrade}}));

  // v1 has no link to chain with.
  KeyHistory v1;
  v1.append();
  v1.lines.push_back(v1.receipt(kReceiptSchemaV1, KeyHistory::boot_key(2), std::nullopt));
  EXPECT_EQ(Judge{}(v1.text()).problems, problems({{2, "UNSUPPORTED_SCHEMA",
                                                    "only orvelant/live-key-receipt/v2 and orvelant/live-key-receipt/v3 "
                                                    "receipts chain"},
                                                   {2, "PARSE", "prev_receipt_sha256 is missing or malformed"}}));
}

// A v2 receipt naming log keys its binding does not cover, and a v3 receipt whose log key does
// not read, are refused at their line before any binding is compared.
TEST(KeyChain, LogKeysMustFitTheSchema) {
  KeyHistory h;
  h.append();
  std::string v2_with_keys = h.receipt(kReceiptSchemaV3, KeyHistory::boot_key(2), h.link_to_last());
  v2_with_keys.replace(v2_with_keys.find(kReceiptSchemaV3), kReceiptSchemaV3.size(), kReceiptSchemaV2);
  h.lines.push_back(v2_with_keys);
  EXPECT_EQ(Judge{}(h.text()).problems,
            problems({{2, "UNSUPPORTED_SCHEMA",
                       "receipt schema 'orvelant/live-key-receipt/v2' with these fields is not "
                       "orvelant/live-key-receipt/v1, orvelant/live-key-receipt/v2 or orvelant/live-key-receipt/v3"}}));

  KeyHistory v3;
  v3.append(kReceiptSchemaV3);
  std::string bad_key = v3.receipt(kReceiptSchemaV3, KeyHistory::boot_key(2), v3.link_to_last());
  bad_key[bad_key.find("\"sigsum_chain_key_hex\":\"") + 24] = 'g';
  v3.lines.push_back(bad_key);
  EXPECT_EQ(Judge{}(v3.text()).problems, problems({{2, "PARSE", "sigsum_chain_key_hex is missing or not 64 lowercase hex"}}));
}

TEST(KeyChain, EachQuoteMustBindItsOwnKeyAndLink) {
  // The quote of line 2 was made for another predecessor; only its link text was changed.
  KeyHistory h;
  h.append();
  const std::string other_link = sha256_hex_of("another boot");
  std::string line = h.receipt(kReceiptSchemaV2, KeyHistory::boot_key(2), other_link);
  line.replace(line.find(other_link), other_link.size(), h.link_to_last());
  h.lines.push_back(line);
  EXPECT_EQ(Judge{}(h.text()).problems, problems({{2, "KEY_NOT_BOUND", kNotBound}}));

  // A key reused in a later boot, and a key that is not lowercase.
  KeyHistory reused;
  reused.append();
  reused.lines.push_back(reused.receipt(kReceiptSchemaV2, KeyHistory::boot_key(1), reused.link_to_last()));
  const KeyChainReport again = Judge{}(reused.text());
  EXPECT_EQ(again.problems, problems({{2, "KEY_REUSED", "the same key appears in two boots"}}));
  EXPECT_EQ(again.key_ids.size(), 2u);

  KeyHistory upper;
  upper.append();
  std::string key_hex = hex_encode(KeyHistory::boot_key(1));
  std::string shouted = key_hex;
  std::transform(shouted.begin(), shouted.end(), shouted.begin(), [](unsigned char c) { return std::toupper(c); });
  upper.lines[0].replace(upper.lines[0].find(key_hex), key_hex.size(), shouted);
  const KeyChainReport not_lower = Judge{}(upper.text());
  EXPECT_EQ(not_lower.problems, problems({{1, "PARSE", "public_key_hex is not a lowercase ML-DSA-65 key"}}));
  EXPECT_TRUE(not_lower.key_ids.empty());
}

TEST(KeyChain, HistoryLevelLimits) {
  for (const std::string_view empty : {"", "\n"}) {
    const KeyChainReport report = Judge{}(empty);
    EXPECT_EQ(report.problems, problems({{0, "PARSE", "the chain is empty"}}));
    EXPECT_EQ(report.length, 0u);
    EXPECT_FALSE(report.head_receipt_sha256.has_value());
    EXPECT_EQ(report.outcome, Outcome::Invalid);
  }
  std::string lines;
  for (size_t i = 0; i < kMaxHistoryReceipts; ++i) lines += "{}\n";
  const KeyChainReport at_limit = Judge{}(lines);
  EXPECT_EQ(at_limit.length, kMaxHistoryReceipts);
  EXPECT_EQ(at_limit.problems.size(), kMaxHistoryReceipts);
  EXPECT_FALSE(has_code(at_limit.problems, "TOO_LARGE"));
  EXPECT_EQ(at_limit.problems[0].message, "not a key receipt: missing field `schema`");
  const KeyChainReport over = Judge{}(lines + "{}");
  EXPECT_EQ(over.problems, problems({{0, "TOO_LARGE", "the chain has more than 10,000 receipts"}}));
  EXPECT_TRUE(over.key_ids.empty());
}

TEST(KeyChain, KeptReceiptsMustAppearByteForByte) {
  KeyHistory h;
  h.append();
  h.append();
  KeyHistory elsewhere;
  elsewhere.append();
  Judge judge;
  judge.contains = {h.lines[0] + "\n", h.lines[1], h.lines[1] + "\r\n", elsewhere.lines[0]};
  const KeyChainReport report = judge(h.text());
  EXPECT_EQ(report.contains, (std::vector<bool>{true, true, false, false}));
  EXPECT_EQ(report.problems, problems({{0, "RECEIPT_MISSING", "a receipt you kept is not in this history"},
                                       {0, "RECEIPT_MISSING", "a receipt you kept is not in this history"}}));
}

TEST(KeyChain, LevelTwoForEveryReceipt) {
  KeyHistory h;
  h.append(kReceiptSchemaV2);
  h.append(kReceiptSchemaV3);
  const Judge judge = with_level2(h);
  const KeyChainReport report = judge(h.text());
  EXPECT_EQ(report.problems, std::vector<Problem>{});
  EXPECT_TRUE(report.level2_checked);

  Judge later = judge;
  later.now += 400 * 86400;
  const std::string failed = "the receipt does not pass Level 2 against any expected TD (COLLATERAL_EXPIRED)";
  EXPECT_EQ(later(h.text()).problems, problems({{1, "LEVEL2_FAILED", failed}, {2, "LEVEL2_FAILED", failed}}));

  // A boot of another configuration passes against its own expected TD, wherever it is listed.
  const std::string first_td = h.scenario.expected_json();
  const auto mr_td = h.scenario.td().mr_td;
  h.scenario.td().mr_td[0] ^= 1;
  const std::string second_td = h.scenario.expected_json();
  h.append(kReceiptSchemaV3);
  h.scenario.td().mr_td = mr_td;
  h.append(kReceiptSchemaV3);
  Judge one = judge;
  EXPECT_EQ(one(h.text()).problems,
            problems({{3, "LEVEL2_FAILED", "the receipt does not pass Level 2 against any expected TD (MEASUREMENT_MISMATCH)"}}));
  for (const auto& order : {std::vector<std::string>{first_td, second_td}, std::vector<std::string>{second_td, first_td}}) {
    Judge both = judge;
    both.expected = order;
    EXPECT_TRUE(both(h.text()).valid);
  }
}

TEST(KeyChain, LevelTwoNeedsBothInputs) {
  KeyHistory h;
  h.append();
  const std::vector<Problem> missing =
      problems({{0, "EXPECTED_MISSING", "Level 2 on the chain needs a snapshot and at least one expected-TD file"}});
  Judge no_expected = with_level2(h);
  no_expected.expected.clear();
  Judge blank_snapshot = with_level2(h);
  blank_snapshot.snapshot = " \n";
  Judge no_snapshot = with_level2(h);
  no_snapshot.snapshot.reset();
  for (const Judge& judge : {no_expected, blank_snapshot, no_snapshot}) {
    const KeyChainReport report = judge(h.text());
    EXPECT_EQ(report.problems, missing);
    EXPECT_EQ(report.outcome, Outcome::Invalid);
    EXPECT_FALSE(report.valid);
    EXPECT_EQ(report.length, 0u);
    EXPECT_FALSE(report.level2_checked);
  }
}

// Version 5 quotes carry report_data after their body descriptor, for TD 1.5 and TD 1.0 reports.
TEST(KeyChain, VersionFiveQuotesBindAfterTheirBodyDescriptor) {
  for (const uint16_t body_type : {3, 2}) {
    KeyHistory h(test::QuoteKind::TdxV5);
    if (body_type == 2) {
      test::QuoteDraft& draft = h.scenario.dcap.quote_draft;
      draft.body = dcap::Body{2, static_cast<uint32_t>(dcap::kTdReport10Bytes)};
      const dcap::TdReport10 td10 = std::get<dcap::TdReport15>(draft.report).base;  // copied before it ends
      draft.report = td10;
    }
    h.append(kReceiptSchemaV2);
    h.append(kReceiptSchemaV3);
    EXPECT_EQ(Judge{}(h.text()).problems, std::vector<Problem>{}) << body_type;
    EXPECT_EQ(with_level2(h)(h.text()).problems, std::vector<Problem>{}) << body_type;
  }
}

TEST(KeyChain, ReusedCollateralJudgesLikeAFreshOne) {
  KeyHistory h;
  h.append();
  const std::string snapshot = h.scenario.snapshot_json();
  const std::string expected = h.scenario.expected_json();
  const std::vector<uint8_t> root = h.scenario.dcap.root_der();
  const uint64_t now = h.scenario.now();
  const std::optional<dcap::VerifiedCollateral> verified = verify_snapshot_collateral(snapshot, root, now);
  ASSERT_TRUE(verified.has_value());
  EXPECT_FALSE(verify_snapshot_collateral(snapshot, root, now + 400 * 86400).has_value());
  EXPECT_FALSE(verify_snapshot_collateral(snapshot + ",", root, now).has_value());

  const std::string pin = hex_encode(KeyHistory::boot_key(1));
  Level2Inputs in{h.lines[0], pin, snapshot, expected, now, root};
  in.verified_collateral = &*verified;
  EXPECT_EQ(evaluate_level2(in).report.outcome, Outcome::Valid);
  // Collateral verified at another time never stands in for the evaluation's own clock.
  in.now = now + 400 * 86400;
  const Level2Report later = evaluate_level2(in).report;
  ASSERT_EQ(later.problems.size(), 1u);
  EXPECT_EQ(later.problems[0].code, "COLLATERAL_EXPIRED");
}

}  // namespace
}  // namespace orv::tdx
