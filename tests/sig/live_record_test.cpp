#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "core/hex.h"
#include "crypto/digest.h"
#include "sig/live_record.h"
#include "sig/receipt.h"
#include "sig/scope.h"
#include "support/printers.h"
#include "support/shared_data.h"

namespace orv::sig {
namespace {

std::string fixture(const std::string& name) {
  return test::read_file(std::filesystem::path(ORV_SOURCE_DIR) / "tests/data/live" / name);
}

std::string replace_once(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << "fixture lacks " << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The text of a string member's value as it stands in the fixture.
std::string member_text(const std::string& text, const std::string& name) {
  const std::string key = "\"" + name + "\": \"";
  const size_t start = text.find(key) + key.size();
  return text.substr(start, text.find('"', start) - start);
}

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

std::vector<std::string> codes(const ReceiptVerdict& verdict) {
  std::vector<std::string> out;
  for (const Problem& p : verdict.problems) out.emplace_back(p.code.text());
  return out;
}

ReceiptVerdict judge(const std::string& document, const std::string& key) {
  ReceiptVerdict verdict = check_receipt(document, key);
  EXPECT_EQ(verdict.format, ReceiptFormat::LiveRecord);
  return verdict;
}

class LiveRecord : public ::testing::Test {
 protected:
  const std::string valid = fixture("valid.json");
  const std::string key = fixture("service-key.hex");
};

TEST_F(LiveRecord, ValidRecordVerifiesWithFactsAndIntermediates) {
  const ReceiptVerdict verdict = judge(valid, key);
  EXPECT_EQ(verdict.outcome, Outcome::Valid);
  EXPECT_TRUE(verdict.valid);
  EXPECT_TRUE(verdict.problems.empty());
  EXPECT_EQ(verdict.format, ReceiptFormat::LiveRecord);
  EXPECT_EQ(verdict.scope, kLiveRecordScope);
  EXPECT_EQ(verdict.facts.at("record_id"), verdict.intermediate.at("signed_bytes_sha256"));
  EXPECT_EQ(verdict.facts.at("agent_id"), "agent-7");
  EXPECT_EQ(verdict.facts.at("timestamp"), "2026-11-30T09:15:00Z");
  EXPECT_EQ(verdict.facts.at("monotonic_counter"), "41");
  EXPECT_EQ(verdict.facts.size(), 10u);
  const auto pin = hex_decode(std::string(key.begin(), key.end() - 1));
  ASSERT_TRUE(pin.has_value());
  EXPECT_EQ(verdict.intermediate.at("pinned_key_sha256"), crypto::sha256_hex(*pin));
  EXPECT_EQ(verdict.intermediate.at("embedded_key_sha256"), crypto::sha256_hex(*pin));
  // Eight length prefixes, the field texts, and the counter.
  EXPECT_EQ(verdict.intermediate.at("signed_bytes_len"), "273");
}

TEST_F(LiveRecord, LargestCounterAndHostileTextStillVerify) {
  EXPECT_EQ(judge(fixture("max-counter.json"), key).outcome, Outcome::Valid);
  const ReceiptVerdict hostile = judge(fixture("hostile-text.json"), key);
  EXPECT_EQ(hostile.outcome, Outcome::Valid);
  EXPECT_EQ(hostile.facts.at("nonce"), "\x1b[31mred");  // raw here; the text report escapes it
}

TEST_F(LiveRecord, PinIsTrimmedAndAcceptsEitherCase) {
  const std::string bare = std::string(key.begin(), key.end() - 1);
  EXPECT_EQ(judge(valid, "  \t" + bare + "\r\n\n").outcome, Outcome::Valid);
  EXPECT_EQ(judge(valid, upper(bare)).outcome, Outcome::Valid);
}

TEST_F(LiveRecord, MissingOrMalformedPinRefuses) {
  const std::string bare = std::string(key.begin(), key.end() - 1);
  for (const std::string& empty : {std::string(), std::string(" \n\t "), std::string("\u3000")}) {
    const ReceiptVerdict verdict = judge(valid, empty);
    EXPECT_EQ(verdict.outcome, Outcome::Refused);
    ASSERT_EQ(verdict.problems.size(), 1u);
    EXPECT_EQ(verdict.problems[0], (Problem{"PIN_MISSING", "refusing to verify without a pinned service key"}));
    EXPECT_TRUE(verdict.facts.empty());
  }
  for (const std::string& bad : {bare.substr(2), bare + "00", bare.substr(1), "zz" + bare.substr(2)}) {
    const ReceiptVerdict verdict = judge(valid, bad);
    EXPECT_EQ(verdict.outcome, Outcome::Refused);
    ASSERT_EQ(verdict.problems.size(), 1u);
    EXPECT_EQ(verdict.problems[0],
              (Problem{"PIN_INVALID",
                       "the pinned key is not a 1952-byte ML-DSA-65 public key in hex; live records need the "
                       "service key"}));
  }
}

TEST_F(LiveRecord, CaseAndEncodingFaultsAreReportedOnTheirOwn) {
  const std::string signature = member_text(valid, "signature_hex");
  const std::string public_key = member_text(valid, "public_key_hex");

  const ReceiptVerdict upper_key = judge(replace_once(valid, public_key, upper(public_key)), key);
  EXPECT_EQ(codes(upper_key), std::vector<std::string>{"KEY_NOT_CANONICAL"});
  EXPECT_EQ(upper_key.outcome, Outcome::Invalid);

  const ReceiptVerdict upper_sig = judge(replace_once(valid, signature, upper(signature)), key);
  EXPECT_EQ(codes(upper_sig), std::vector<std::string>{"SIGNATURE_NOT_CANONICAL"});
  EXPECT_EQ(upper_sig.problems[0].message, "signature_hex is not lowercase hex; issued signatures are always lowercase");

  // Not hex at all: no verification is attempted, so no SIGNATURE_INVALID either.
  const ReceiptVerdict odd = judge(replace_once(valid, signature, signature.substr(1)), key);
  EXPECT_EQ(odd.problems, (std::vector<Problem>{{"SIGNATURE_NOT_HEX", "signature_hex is not hex"}}));

  const ReceiptVerdict short_sig = judge(replace_once(valid, signature, signature.substr(2)), key);
  EXPECT_EQ(short_sig.problems,
            (std::vector<Problem>{{"SIGNATURE_INVALID", "ML-DSA-65 signature is INVALID under the pinned key"}}));
}

TEST_F(LiveRecord, AlgorithmAndSchemaAreJudgedApartFromTheSignature) {
  const ReceiptVerdict alg = judge(replace_once(valid, "\"ML-DSA-65\"", "\"ML-DSA-87\""), key);
  EXPECT_EQ(alg.problems, (std::vector<Problem>{{"UNSUPPORTED_ALG", "alg 'ML-DSA-87' is not ML-DSA-65"}}));

  const ReceiptVerdict schema = judge(fixture("schema-v2.json"), key);
  EXPECT_EQ(schema.problems,
            (std::vector<Problem>{
                {"UNSUPPORTED_SCHEMA", "record schema_version 'v2' is not supported; this verifier accepts [\"v1\"]"}}));
}

TEST_F(LiveRecord, EmbeddedKeyIsNeverTrusted) {
  // Signed by another key that it also embeds: both the mismatch and the bad signature show.
  const ReceiptVerdict verdict = judge(fixture("other-key.json"), key);
  EXPECT_EQ(codes(verdict), (std::vector<std::string>{"EMBEDDED_KEY_MISMATCH", "SIGNATURE_INVALID"}));
  EXPECT_EQ(verdict.outcome, Outcome::Invalid);
  EXPECT_EQ(verdict.problems[0].message,
            "the record's embedded public_key_hex does not match the pinned key (embedded keys are never trusted)");

  const std::string public_key = member_text(valid, "public_key_hex");
  const ReceiptVerdict not_hex = judge(replace_once(valid, public_key, public_key + "0"), key);
  EXPECT_EQ(codes(not_hex), std::vector<std::string>{"EMBEDDED_KEY_MISMATCH"});
  EXPECT_EQ(not_hex.intermediate.count("embedded_key_sha256"), 0u);
}

TEST_F(LiveRecord, AnyChangeToTheSignedFieldsBreaksTheSignature) {
  const std::vector<std::pair<std::string, std::string>> edits = {
      {"\"monotonic_counter\": 41", "\"monotonic_counter\": 42"},
      {"\"agent-7\"", "\"agent-8\""},
      {"\"tenant-acme\"", "\"tenant-acme \""},
      {"\"2026-11-30T09:15:00Z\"", "\"2026-11-30T09:15:01Z\""},
  };
  for (const auto& [from, to] : edits) {
    const ReceiptVerdict verdict = judge(replace_once(valid, from, to), key);
    EXPECT_EQ(codes(verdict), std::vector<std::string>{"SIGNATURE_INVALID"}) << to;
    EXPECT_EQ(verdict.facts.at("record_id"), verdict.intermediate.at("signed_bytes_sha256"));
  }
}

TEST_F(LiveRecord, SeveralFaultsAccumulateInOrder) {
  std::string doc = replace_once(valid, "\"ML-DSA-65\"", "\"ed25519\"");
  const std::string public_key = member_text(valid, "public_key_hex");
  doc = replace_once(doc, public_key, upper(public_key));
  doc = replace_once(doc, "\"agent-7\"", "\"agent-9\"");
  EXPECT_EQ(codes(judge(doc, key)), (std::vector<std::string>{"UNSUPPORTED_ALG", "KEY_NOT_CANONICAL", "SIGNATURE_INVALID"}));
}

TEST_F(LiveRecord, RecordOfTheWrongShapeDoesNotParse) {
  const std::vector<std::string> shapes = {
      replace_once(valid, "\"alg\":", "\"extra\": 1, \"alg\":"),
      replace_once(valid, "\"nonce\":", "\"extra\": \"x\", \"nonce\":"),
      replace_once(valid, "\"alg\": \"ML-DSA-65\",", ""),
      replace_once(valid, "\"monotonic_counter\": 41", "\"monotonic_counter\": \"41\""),
      replace_once(valid, "\"monotonic_counter\": 41", "\"monotonic_counter\": -41"),
  };
  for (const std::string& doc : shapes) {
    const ReceiptVerdict verdict = judge(doc, key);
    ASSERT_EQ(verdict.problems.size(), 1u);
    EXPECT_EQ(verdict.problems[0].code, "PARSE");
    EXPECT_EQ(verdict.problems[0].message.rfind("record does not parse: ", 0), 0u) << verdict.problems[0].message;
    EXPECT_EQ(verdict.outcome, Outcome::Invalid);
    EXPECT_EQ(verdict.format, ReceiptFormat::LiveRecord);
    EXPECT_EQ(verdict.scope, kLiveRecordScope);
    EXPECT_TRUE(verdict.facts.empty());
  }
}

TEST(LiveRecordSignedBytes, FieldBoundariesAreUnambiguous) {
  CompletionRecord a{"v1", "ab", "c", "t", "i", "o", "ts", "n", 7};
  CompletionRecord b{"v1", "a", "bc", "t", "i", "o", "ts", "n", 7};
  EXPECT_NE(live_record_signed_bytes(a), live_record_signed_bytes(b));
  const std::vector<uint8_t> bytes = live_record_signed_bytes(a);
  ASSERT_EQ(bytes.size(), 8u * 8 + 2 + 2 + 1 + 1 + 1 + 1 + 2 + 1 + 8);
  EXPECT_EQ(hex_encode(std::span(bytes).first(10)), "00000000000000027631");
  EXPECT_EQ(hex_encode(std::span(bytes).last(8)), "0000000000000007");
}

}  // namespace
}  // namespace orv::sig
