#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <array>
#include <cctype>
#include <filesystem>

#include "core/hex.h"
#include "support/printers.h"
#include "support/shared_data.h"
#include "support/tdx_log_evidence.h"
#include "tdx/log_evidence.h"

namespace orv::tdx {
namespace {

using test::EvidenceProof;
using test::LogEvidenceFixture;

const LogEvidenceFixture& fx() { return LogEvidenceFixture::get(); }

LogEvidenceReport check(std::string_view receipt, std::string_view evidence) {
  static const LogEvidenceTrust trust = fx().trust();
  return verify_log_evidence(receipt, evidence, trust);
}
LogEvidenceReport check(std::string_view evidence) { return check(fx().receipt, evidence); }

// A failure before the proofs: exactly that problem, and nothing of a result.
void expect_stopped(const LogEvidenceReport& r, const Problem& problem) {
  EXPECT_EQ(r.problems, std::vector<Problem>{problem});
  EXPECT_FALSE(r.valid);
  EXPECT_EQ(r.outcome, Outcome::Invalid);
  EXPECT_FALSE(r.key_id.has_value());
  EXPECT_TRUE(r.sigsum.empty());
  EXPECT_TRUE(r.rekor_log_indexes.empty());
  EXPECT_EQ(r.scope, kLogEvidenceScope);
}

void expect_valid(const LogEvidenceReport& r) {
  EXPECT_TRUE(r.problems.empty()) << r.problems.front().code.text() << " " << r.problems.front().message;
  EXPECT_TRUE(r.valid);
  EXPECT_EQ(r.outcome, Outcome::Valid);
}

// The receipt with one member set to a raw JSON value, or removed when `value` is empty.
std::string with_member(const std::string& receipt, const char* name, const std::string& value) {
  rapidjson::Document doc;
  doc.Parse(receipt.c_str());
  doc.RemoveMember(name);
  if (!value.empty()) {
    rapidjson::Document parsed(&doc.GetAllocator());
    parsed.Parse(value.c_str());
    doc.AddMember(rapidjson::Value(name, doc.GetAllocator()), rapidjson::Value(parsed, doc.GetAllocator()), doc.GetAllocator());
  }
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  doc.Accept(writer);
  return buffer.GetString();
}

std::string member_of(const std::string& receipt, const char* name) {
  rapidjson::Document doc;
  doc.Parse(receipt.c_str());
  return doc[name].GetString();
}

std::string json_string(const std::string& text) { return "\"" + text + "\""; }

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The receipt with its quote changed by `edit`.
template <class Edit>
std::string with_quote(Edit edit) {
  std::vector<uint8_t> quote = hex_decode(member_of(fx().receipt, "quote_hex")).value();
  edit(quote);
  return with_member(fx().receipt, "quote_hex", json_string(hex_encode(quote)));
}

using Witnesses = std::vector<std::pair<std::string, uint64_t>>;

// ---- valid evidence ----

TEST(LogEvidence, OneGatedProofAndOneRekorEntry) {
  const LogEvidenceReport r =
      check(fx().evidence({fx().proof("log1-leaf7", fx().gate("log1-leaf7"))}, {fx().rekor("index5-size9")}));
  expect_valid(r);
  EXPECT_EQ(r.key_id, fx().key_id);
  ASSERT_EQ(r.sigsum.size(), 1u);
  EXPECT_EQ(r.sigsum[0].log_key_hex, fx().log_keys.at(0));
  EXPECT_EQ(r.sigsum[0].leaf_index, 7u);
  EXPECT_EQ(r.sigsum[0].tree_size, 10u);
  EXPECT_TRUE(r.sigsum[0].gate_attested);
  const Witnesses witnesses = {{"witness-1.test", test::cosignature_time(0)}, {"witness-2.test", test::cosignature_time(1)}};
  EXPECT_EQ(r.sigsum[0].witnesses, witnesses);
  EXPECT_EQ(r.rekor_log_indexes, std::vector<uint64_t>{5});
  EXPECT_EQ(r.scope, kLogEvidenceScope);

  // The committed evidence.json is this document; the command-line tests and fuzz seeds use it.
  expect_valid(check(test::log_evidence_file("evidence.json")));
}

TEST(LogEvidence, ProofWithoutGateAndNoRekorEntries) {
  // A single-leaf tree, cosigned by witness 3, an outsider (ignored) and witness 1.
  const LogEvidenceReport r = check(fx().evidence({fx().proof("log2-leaf0-size1")}));
  expect_valid(r);
  ASSERT_EQ(r.sigsum.size(), 1u);
  EXPECT_EQ(r.sigsum[0].log_key_hex, fx().log_keys.at(1));
  EXPECT_FALSE(r.sigsum[0].gate_attested);
  EXPECT_EQ(r.sigsum[0].leaf_index, 0u);
  EXPECT_EQ(r.sigsum[0].tree_size, 1u);
  const Witnesses in_line_order = {{"witness-3.test", test::cosignature_time(2)}, {"witness-1.test", test::cosignature_time(0)}};
  EXPECT_EQ(r.sigsum[0].witnesses, in_line_order);
  EXPECT_TRUE(r.rekor_log_indexes.empty());
}

TEST(LogEvidence, SixteenProofsAndSixteenRekorEntries) {
  std::vector<EvidenceProof> proofs;
  std::vector<std::string> rekor;
  for (uint64_t k = 1; k <= 16; ++k) {
    const std::string name = "log" + std::to_string(k % 2 == 1 ? 1 : 2) + "-leaf" + std::to_string(100 + k);
    proofs.push_back(fx().proof(name, k == 1 || k == 2 || k == 16 ? std::optional(fx().gate(name)) : std::nullopt));
    rekor.push_back(fx().rekor("index" + std::to_string(10 + k) + "-size40"));
  }
  const LogEvidenceReport r = check(fx().evidence(proofs, rekor));
  expect_valid(r);
  ASSERT_EQ(r.sigsum.size(), 16u);
  for (uint64_t k = 1; k <= 16; ++k) {
    const SigsumResult& s = r.sigsum[k - 1];
    EXPECT_EQ(s.log_key_hex, fx().log_keys.at(k % 2 == 1 ? 0 : 1)) << k;
    EXPECT_EQ(s.leaf_index, 100 + k);
    EXPECT_EQ(s.tree_size, 200 + k);
    EXPECT_EQ(s.gate_attested, k == 1 || k == 2 || k == 16) << k;
  }
  std::vector<uint64_t> indexes;
  for (uint64_t k = 1; k <= 16; ++k) indexes.push_back(10 + k);
  EXPECT_EQ(r.rekor_log_indexes, indexes);
}

// ---- steps 1 to 10: the first failure is the one problem ----

TEST(LogEvidenceStops, InputTooLarge) {
  const std::string evidence = test::log_evidence_file("evidence.json");
  const Problem too_large{"PARSE", "input too large"};
  expect_stopped(check(fx().receipt + std::string(kLogEvidenceReceiptLimit + 1 - fx().receipt.size(), ' '), evidence), too_large);
  expect_stopped(check(evidence + std::string(kLogEvidenceLimit + 1 - evidence.size(), ' ')), too_large);
  // Exactly at the limit is still judged.
  expect_valid(check(evidence + std::string(kLogEvidenceLimit - evidence.size(), ' ')));
}

TEST(LogEvidenceStops, NotStrictJsonReceiptFirst) {
  const std::string evidence = test::log_evidence_file("evidence.json");
  expect_stopped(check(R"({"a":1,"a":2})", "[1.5]"),
                 {"PARSE", "receipt is not strict JSON: duplicate key a at line 1 column 11"});
  expect_stopped(check("[1.5]"), {"PARSE",
                                  "evidence is not strict JSON: number 1.5 is not a canonical integer (fractions, exponents, -0 "
                                  "and integers beyond 64 bits are never issued) at line 1 column 5"});
  expect_stopped(check(evidence + "x"), {"PARSE", "evidence is not strict JSON: trailing characters at line 2 column 1"});
}

TEST(LogEvidenceStops, ReceiptUnreadableOrNotVersionThree) {
  expect_stopped(check(with_member(fx().receipt, "alg", ""), "{}"), {"PARSE", "not a key receipt: missing field `alg`"});
  expect_stopped(check("5", "{}"), {"PARSE", "not a key receipt: invalid type: integer `5`, expected struct LiveKeyReceipt"});
  // A version-2 receipt is refused before the evidence is read: "{}" is not evidence.
  expect_stopped(check(test::log_evidence_file("receipt-v2.json"), "{}"),
                 {"UNSUPPORTED_SCHEMA", "only orvelant/live-key-receipt/v3 receipts carry log keys"});
}

TEST(LogEvidenceStops, LogKeysOfTheReceipt) {
  const std::string sigsum_key = member_of(fx().receipt, "sigsum_chain_key_hex");
  const std::string rekor_key = member_of(fx().receipt, "rekor_key_spki_b64");
  const Problem bad_sigsum{"PARSE", "sigsum_chain_key_hex is missing or not 64 lowercase hex"};
  expect_stopped(check(with_member(fx().receipt, "sigsum_chain_key_hex", json_string(upper(sigsum_key))), "{}"), bad_sigsum);

  expect_stopped(check(with_member(fx().receipt, "rekor_key_spki_b64", ""), "{}"), {"PARSE", "rekor_key_spki_b64 is missing"});
  const std::string no_padding = rekor_key.substr(0, rekor_key.find('='));
  expect_stopped(check(with_member(fx().receipt, "rekor_key_spki_b64", json_string(no_padding)), "{}"),
                 {"PARSE", "rekor_key_spki_b64 is not canonical base64 of an uncompressed P-256 key"});
}

TEST(LogEvidenceStops, EvidenceUnreadableOrOfAnotherSchema) {
  expect_stopped(check(R"({"schema":"x","key_id":"","sigsum":[],"rekor":[],"extra":1})"),
                 {"PARSE", "not log evidence: unknown field `extra`, expected one of `schema`, `key_id`, `sigsum`, `rekor`"});
  expect_stopped(check(R"({"schema":"x","key_id":"","sigsum":[{"log_key_hex":"","leaf_index":-1,"proof":""}],"rekor":[]})"),
                 {"PARSE", "not log evidence: invalid type: integer `-1`, expected u64"});
  expect_stopped(
      check(test::evidence_json(fx().key_id, {fx().proof("log1-leaf7")}, {}, "orvelant/live-key-log-evidence/v1")),
      {"UNSUPPORTED_SCHEMA", "evidence schema 'orvelant/live-key-log-evidence/v1' is not orvelant/live-key-log-evidence/v2"});
}

TEST(LogEvidenceStops, EvidenceForAnotherKeyId) {
  const Problem wrong{"WRONG_RECEIPT", "the evidence is for a different key id than this receipt"};
  const std::vector<EvidenceProof> proofs = {fx().proof("log1-leaf7")};
  expect_stopped(check(test::evidence_json(std::string(64, 'a'), proofs, {})), wrong);
  expect_stopped(check(test::evidence_json(upper(fx().key_id), proofs, {})), wrong);
  // A receipt whose key is not 3904 lowercase hex digits has no key id at all.
  const std::string key = member_of(fx().receipt, "public_key_hex");
  const std::string evidence = fx().evidence(proofs);
  expect_stopped(check(with_member(fx().receipt, "public_key_hex", json_string(upper(key))), evidence), wrong);
}

TEST(LogEvidenceStops, QuoteMustCarryTheBinding) {
  const std::string evidence = fx().evidence({fx().proof("log1-leaf7")});
  const Problem unbound{"KEY_NOT_BOUND", "the receipt's quote does not carry the binding of its key and log keys"};
  expect_stopped(check(with_quote([](std::vector<uint8_t>& q) { q[600] ^= 1; }), evidence), unbound);
  expect_stopped(check(with_quote([](std::vector<uint8_t>& q) { q.resize(631); }), evidence), unbound);
  expect_stopped(check(with_quote([](std::vector<uint8_t>& q) { q[0] = 5; }), evidence), unbound);
  expect_stopped(check(with_quote([](std::vector<uint8_t>& q) { q[4] = 0; }), evidence), unbound);
  expect_stopped(check(with_quote([](std::vector<uint8_t>& q) { q[7] = 1; }), evidence), unbound);
  const std::string quote = member_of(fx().receipt, "quote_hex");
  expect_stopped(check(with_member(fx().receipt, "quote_hex", json_string(quote + "0")), evidence), unbound);
  // The binding covers the log keys and the link: a receipt naming another Sigsum key, or
  // without its link, is not what the quote was made for.
  expect_stopped(check(with_member(fx().receipt, "sigsum_chain_key_hex", json_string(std::string(64, 'a'))), evidence), unbound);
  expect_stopped(check(with_member(fx().receipt, "prev_receipt_sha256", ""), evidence), unbound);
  expect_stopped(check(with_member(fx().receipt, "prev_receipt_sha256", json_string(std::string(64, 'a'))), evidence), unbound);

  // Only the report data is read: a quote cut to 632 bytes, in upper-case hex, or turned into
  // version 5 with a TD 1.0 body descriptor before its report, still binds (these receipts are
  // other bytes than the logged ones, so their proof then fails).
  const auto as_version5 = [](std::vector<uint8_t>& q) {
    q[0] = 5;
    const std::array<uint8_t, 6> body = {2, 0, 0x48, 0x02, 0, 0};
    q.insert(q.begin() + 48, body.begin(), body.end());
  };
  for (const std::string& receipt : {with_quote([](std::vector<uint8_t>& q) { q.resize(632); }), with_quote(as_version5),
                                     with_member(fx().receipt, "quote_hex", json_string(upper(quote)))}) {
    const LogEvidenceReport r = check(receipt, evidence);
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_EQ(r.problems[0].code, "SIGSUM");
    EXPECT_EQ(r.key_id, fx().key_id);
  }
}

TEST(LogEvidenceStops, ProofAndEntryCounts) {
  const Problem count{"PARSE", "evidence must list 1 to 16 Sigsum proofs and at most 16 Rekor entries"};
  const EvidenceProof proof = fx().proof("log1-leaf7");
  expect_stopped(check(fx().evidence({})), count);
  expect_stopped(check(fx().evidence(std::vector<EvidenceProof>(17, proof))), count);
  expect_stopped(check(fx().evidence({proof}, std::vector<std::string>(17, "not even JSON"))), count);
  // Sixteen entries are judged, each on its own.
  const LogEvidenceReport r = check(fx().evidence({proof}, std::vector<std::string>(16, "not even JSON")));
  ASSERT_EQ(r.problems.size(), 16u);
  EXPECT_EQ(r.problems[15], (Problem{"REKOR", "Rekor entry 16 is not JSON"}));
  EXPECT_EQ(r.sigsum.size(), 1u);
}

// ---- steps 11 and 12: each proof and entry on its own ----

TEST(LogEvidenceProofs, FailedProofsDoNotHideTheOthers) {
  EvidenceProof upper_key = fx().proof("log1-leaf7");
  upper_key.log_key_hex = upper(upper_key.log_key_hex);
  EvidenceProof short_key = fx().proof("log1-leaf7");
  short_key.log_key_hex.pop_back();

  const LogEvidenceReport r =
      check(fx().evidence({upper_key, short_key, fx().proof("log2-leaf3-one-witness"), fx().proof("outsider-log-leaf7"),
                           fx().proof("outsider-submitter-leaf7"), fx().proof("log2-leaf9")},
                          {fx().rekor("index5-size9")}));
  const std::vector<Problem> expected = {
      {"PARSE", "Sigsum proof 1: log_key_hex is malformed"},
      {"PARSE", "Sigsum proof 2: log_key_hex is malformed"},
      {"SIGSUM", "Sigsum proof 3: [TLOG_WITNESS_QUORUM_NOT_MET] witness quorum not met (1 of 3 policy witnesses cosigned)"},
      {"SIGSUM", "Sigsum proof 4: [TLOG_LOG_SIGNATURE_INVALID] the tree head is not signed by a log in the pinned policy"},
      // Logged, but not under the Sigsum key that the receipt names.
      {"SIGSUM", "Sigsum proof 5: [TLOG_LEAF_INVALID] the logged leaf is not the pinned submitter's signature over this message"},
  };
  EXPECT_EQ(r.problems, expected);
  EXPECT_FALSE(r.valid);
  EXPECT_EQ(r.outcome, Outcome::Invalid);
  EXPECT_EQ(r.key_id, fx().key_id);
  ASSERT_EQ(r.sigsum.size(), 1u);
  EXPECT_EQ(r.sigsum[0].leaf_index, 9u);
  EXPECT_EQ(r.rekor_log_indexes, std::vector<uint64_t>{5});
}

TEST(LogEvidenceProofs, NotForTheStatedLogOrLeafIndex) {
  EvidenceProof other_index = fx().proof("log1-leaf7");
  other_index.leaf_index = 8;
  EvidenceProof other_log = fx().proof("log1-leaf7");
  other_log.log_key_hex = fx().log_keys.at(1);  // also in the policy, but not the log that signed
  const LogEvidenceReport r = check(fx().evidence({other_index, other_log}));
  EXPECT_EQ(r.problems, (std::vector<Problem>{{"SIGSUM", "Sigsum proof 1: not for the stated log or leaf index"},
                                              {"SIGSUM", "Sigsum proof 2: not for the stated log or leaf index"}}));
  EXPECT_TRUE(r.sigsum.empty());
}

TEST(LogEvidenceProofs, EvidenceOfAnotherReceiptOfTheSameKey) {
  // The next boot's receipt has the same key id and a quote bound to it, but its bytes are not
  // the ones logged.
  const LogEvidenceReport r = check(
      test::log_evidence_file("receipt-next.json"),
      fx().evidence({fx().proof("log1-leaf7", fx().gate("log1-leaf7")), fx().proof("log2-leaf9")}, {fx().rekor("index5-size9")}));
  const std::string leaf = "[TLOG_LEAF_INVALID] the logged leaf is not the pinned submitter's signature over this message";
  EXPECT_EQ(r.problems,
            (std::vector<Problem>{{"SIGSUM", "Sigsum proof 1: " + leaf},
                                  {"SIGSUM", "Sigsum proof 2: " + leaf},
                                  {"REKOR", "Rekor entry 1: [TLOG_LEAF_INVALID] the entry is for a different artifact"}}));
  EXPECT_EQ(r.key_id, fx().key_id);
  EXPECT_TRUE(r.sigsum.empty());
  EXPECT_TRUE(r.rekor_log_indexes.empty());
}

TEST(LogEvidenceProofs, GateSignatureMustVerifyUnderTheReceiptKey) {
  const std::string good = fx().gate("log1-leaf7");
  std::string flipped = good;
  flipped[100] = flipped[100] == '0' ? '1' : '0';
  const std::vector<std::string> bad = {upper(good),
                                        flipped,
                                        good.substr(2),
                                        std::string(good.size(), 'g'),
                                        fx().gate("log1-leaf7-no-context"),
                                        fx().gate("log1-leaf7-other-key"),
                                        fx().gate("log1-leaf101")};  // signed for another leaf
  std::vector<EvidenceProof> proofs;
  for (const std::string& signature : bad) proofs.push_back(fx().proof("log1-leaf7", signature));
  proofs.push_back(fx().proof("log1-leaf7", good));
  const LogEvidenceReport r = check(fx().evidence(proofs));

  ASSERT_EQ(r.problems.size(), bad.size());
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_EQ(r.problems[i], (Problem{"GATE_SIGNATURE", "Sigsum proof " + std::to_string(i + 1) +
                                                            ": the gate attestation does not verify under the receipt's key"}));
  }
  // Each proof itself verified, so each is listed; only the last is gate attested.
  ASSERT_EQ(r.sigsum.size(), bad.size() + 1);
  for (size_t i = 0; i < bad.size(); ++i) EXPECT_FALSE(r.sigsum[i].gate_attested) << i;
  EXPECT_TRUE(r.sigsum.back().gate_attested);
}

TEST(LogEvidenceProofs, RekorEntryProblems) {
  const LogEvidenceReport r =
      check(fx().evidence({fx().proof("log1-leaf7")},
                          {"{\"logIndex\":", fx().rekor("other-log"), fx().rekor("other-signer"), fx().rekor("index3-size4")}));
  EXPECT_EQ(r.problems,
            (std::vector<Problem>{{"REKOR", "Rekor entry 1 is not JSON"},
                                  {"REKOR", "Rekor entry 2: [TLOG_UNKNOWN_LOG] the entry is from a different log"},
                                  {"REKOR", "Rekor entry 3: [TLOG_LEAF_INVALID] the entry is signed by a different key"}}));
  EXPECT_EQ(r.rekor_log_indexes, std::vector<uint64_t>{3});
  EXPECT_EQ(r.sigsum.size(), 1u);
}

TEST(LogEvidenceProofs, TrustThatDoesNotParseFailsEveryProofAndEntry) {
  const LogEvidenceTrust broken = make_log_evidence_trust("log 00\n", "origin: x\n");
  ASSERT_FALSE(broken.sigsum_policy.ok());
  ASSERT_FALSE(broken.rekor_log.ok());
  const LogEvidenceReport r = verify_log_evidence(fx().receipt, test::log_evidence_file("evidence.json"), broken);
  ASSERT_EQ(r.problems.size(), 2u);
  EXPECT_EQ(r.problems[0], (Problem{"SIGSUM", "Sigsum proof 1: [TLOG_POLICY_INVALID] policy line 1: bad log key"}));
  EXPECT_EQ(r.problems[1].code, "REKOR");
  EXPECT_EQ(r.problems[1].message.rfind("Rekor entry 1: [TLOG_PARSE] ", 0), 0u) << r.problems[1].message;
  EXPECT_FALSE(r.valid);
}

TEST(LogEvidence, FuzzSeedsReachTheLastChecks) {
  // Split as fuzz_log_evidence splits its input: receipt, NUL, evidence; or evidence alone for
  // the committed receipt.
  const std::filesystem::path seeds = std::filesystem::path(ORV_SOURCE_DIR) / "fuzz/seeds/fuzz_log_evidence";
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(seeds)) {
    const std::string input = test::read_file(entry.path());
    const size_t nul = input.find('\0');
    const LogEvidenceReport r = nul == std::string::npos ? check(input) : check(input.substr(0, nul), input.substr(nul + 1));
    if (entry.path().filename() == "evidence-three-proofs.json") {
      // Its third proof carries a gate signed for another leaf.
      EXPECT_EQ(r.problems, (std::vector<Problem>{{"GATE_SIGNATURE",
                                                   "Sigsum proof 3: the gate attestation does not "
                                                   "verify under the receipt's key"}}));
      EXPECT_EQ(r.sigsum.size(), 3u);
      EXPECT_EQ(r.rekor_log_indexes.size(), 2u);
    } else {
      expect_valid(r);
    }
    ++count;
  }
  EXPECT_EQ(count, 3u);
}

}  // namespace
}  // namespace orv::tdx
