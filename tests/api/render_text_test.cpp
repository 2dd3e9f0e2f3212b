#include <gtest/gtest.h>

#include "api/render_text.h"
#include "api/report.h"

namespace orv::api {
namespace {

sig::ReceiptVerdict lab_receipt(bool valid) {
  sig::ReceiptVerdict v;
  v.format = sig::ReceiptFormat::LabReceipt;
  v.outcome = valid ? Outcome::Valid : Outcome::Invalid;
  v.valid = valid;
  if (!valid) v.problems = {{"SIGNATURE_INVALID", "model \u202egpt\u202c is signed by someone else"}, {"LINKAGE", "two"}};
  v.facts = {{"receipt_hash", "ab12"}, {"model", "caf\u00e9\x1b[1m"}};
  v.intermediate = {{"signed_at", "2025-01-31T08:05:09Z"}, {"key_id", "\u2066x"}};
  v.scope = "Scope: lab.";
  return v;
}

TEST(RenderText, ValidReceiptShowsFactsThenIntermediateValues) {
  EXPECT_EQ(render_text(lab_receipt(true), "r.json"),
            "VALID  r.json  (lab-receipt)\n"
            "  model: caf\u00e9\\u{001b}[1m\n"
            "  receipt_hash: ab12\n"
            "  \u00b7 key_id: \\u{2066}x\n"
            "  \u00b7 signed_at: 2025-01-31T08:05:09Z\n"
            "\n"
            "Scope: lab.\n"
            "RESULT: VALID\n");
}

TEST(RenderText, InvalidReceiptHidesFactsAndEscapesMessages) {
  EXPECT_EQ(render_text(lab_receipt(false), "dir/r\n.json"),
            "INVALID  dir/r\\u{000a}.json  (lab-receipt)\n"
            "  [SIGNATURE_INVALID] model \\u{202e}gpt\\u{202c} is signed by someone else\n"
            "  [LINKAGE] two\n"
            "  \u00b7 key_id: \\u{2066}x\n"
            "  \u00b7 signed_at: 2025-01-31T08:05:09Z\n"
            "\n"
            "Scope: lab.\n"
            "RESULT: INVALID\n");
  sig::ReceiptVerdict refused;
  refused.problems = {{"PIN_MISSING", "no key"}};
  refused.scope = "S";
  EXPECT_EQ(render_text(refused, "\x1b[2Jx\u2065"),
            "REFUSED  \\u{001b}[2Jx\u2065  (unknown)\n  [PIN_MISSING] no key\n\nS\nRESULT: REFUSED\n");
}

TEST(RenderText, ChainNumbersProblemLinesAndShowsHeadClaims) {
  sig::ChainReport r;
  r.outcome = Outcome::Invalid;
  r.length = 3;
  r.refusal_chain = true;
  r.head_receipt_hash = "ff\u200b00";
  r.problems = {{"HEAD_MISMATCH", "no line", 0}, {"CHAIN_LINK_BROKEN", "line 3 \u2028 links elsewhere", 3}};
  r.heads = {{1, Outcome::Valid, 3, "h", "2025-01-01T00:00:00Z"},
             {2, Outcome::Invalid, std::nullopt, std::nullopt, "2025-02-01T00:00:00Z\x07"},
             {3, Outcome::Refused, 9, std::nullopt, std::nullopt}};
  r.entries = {lab_receipt(true)};  // the text report never lists entries
  r.scope = "S";
  EXPECT_EQ(render_text(r, "c.jsonl"),
            "INVALID  c.jsonl  (chain, 3 refusals)\n"
            "  [HEAD_MISMATCH] no line\n"
            "  line 3: [CHAIN_LINK_BROKEN] line 3 \\u{2028} links elsewhere\n"
            "  head receipt_hash: ff\\u{200b}00\n"
            "  signed head 1: VALID (length 3, issued 2025-01-01T00:00:00Z)\n"
            "  signed head 2: INVALID (UNVERIFIED claims: length ?, issued 2025-02-01T00:00:00Z\\u{0007})\n"
            "  signed head 3: REFUSED (UNVERIFIED claims: length 9, issued ?)\n"
            "\n"
            "S\n"
            "RESULT: INVALID\n");
  sig::ChainReport empty;
  empty.outcome = Outcome::Valid;
  empty.valid = true;
  EXPECT_EQ(render_text(empty, "c"), "VALID  c  (chain, 0 receipts)\n\n\nRESULT: VALID\n");
}

tdx::Level2Report full_level2() {
  tdx::Level2Report r;
  r.outcome = Outcome::Valid;
  r.valid = true;
  r.evaluated_at = "2025-03-01T00:00:00Z";
  r.tcb_status = "SWHardeningNeeded";
  r.tcb_evaluation_data_number = 17;
  r.advisory_ids = {"INTEL-SA-00837", "INTEL-SA-\u202e"};
  r.fmspc = "90c06f000000";
  r.snapshot_fetched_at_claimed = "2025-02-28T00:00:00Z";
  r.collateral_valid_until = "2025-03-30T00:00:00Z";
  r.receipt_issued_at_claimed = "2025-02-27T00:00:00Z";
  r.prev_receipt_sha256 = "aa";
  r.sigsum_chain_key_hex = "bb";
  r.measurements = {{"mr_td", "00\x7f"}, {"mr_config_id", "11"}};
  r.mr_kms_observed = "22\t";
  r.notes = {"first note", "second"};
  r.scope = "S";
  return r;
}

TEST(RenderText, KeyReceiptShowsEveryPresentValue) {
  EXPECT_EQ(render_text(full_level2(), "k.json"),
            "VALID  k.json  (Level 2, Intel TDX leg)\n"
            "  TCB status (as found): SWHardeningNeeded\n"
            "  Intel TCB evaluation data number: 17\n"
            "  Intel advisories: INTEL-SA-00837, INTEL-SA-\\u{202e}\n"
            "  platform FMSPC: 90c06f000000\n"
            "  evaluated at (your clock): 2025-03-01T00:00:00Z\n"
            "  snapshot fetched (claimed): 2025-02-28T00:00:00Z\n"
            "  Intel collateral valid until: 2025-03-30T00:00:00Z\n"
            "  receipt issued (claimed, not attested): 2025-02-27T00:00:00Z\n"
            "  \u00b7 mr_config_id: 11\n"
            "  \u00b7 mr_td: 00\\u{007f}\n"
            "  \u00b7 mr_kms (observed, not pinned): 22\\u{0009}\n"
            "  note: first note\n"
            "  note: second\n"
            "\n"
            "S\n"
            "RESULT: VALID\n");
}

TEST(RenderText, KeyReceiptOmitsAbsentValues) {
  tdx::Level2Report r;
  r.problems = {{"PIN_MISSING", "no pin"}};
  r.evaluated_at = "E";
  r.scope = "S";
  EXPECT_EQ(render_text(r, "k"),
            "REFUSED  k  (Level 2, Intel TDX leg)\n"
            "  [PIN_MISSING] no pin\n"
            "  TCB status (as found): unknown\n"
            "  evaluated at (your clock): E\n"
            "  snapshot fetched (claimed): \n"
            "  receipt issued (claimed, not attested): \n"
            "\n"
            "S\n"
            "RESULT: REFUSED\n");
}

tsa::StampResult stamp(std::optional<uint64_t> accuracy) {
  return {"Sigstore\x1b", "2025-01-01T00:00:00Z", 1735689600,     accuracy, "2025-01-01T00:00:01Z", 1735689601, "SHA-256",
          "0a1b",         "1.3.6.1.4.1.57264.2",  "CN=tsa\u202e", "ff"};
}

TEST(RenderText, TimestampListsEachStamp) {
  tsa::TimestampReport r;
  r.outcome = Outcome::Valid;
  r.valid = true;
  r.stamps = {stamp(250), stamp(std::nullopt)};
  r.no_later_than = "2025-01-01T00:00:01Z";
  r.evaluated_at = "2025-06-01T00:00:00Z";
  r.scope = "S";
  const std::string lines =
      "    signer: CN=tsa\\u{202e}\n"
      "    serial 0a1b, policy 1.3.6.1.4.1.57264.2, imprint SHA-256\n";
  EXPECT_EQ(render_text(r, "f.bin"),
            "VALID  f.bin  (timestamp)\n"
            "  Sigstore\\u{001b}: 2025-01-01T00:00:00Z (accuracy 250 ms)\n" +
                lines + "  Sigstore\\u{001b}: 2025-01-01T00:00:00Z (accuracy not stated)\n" + lines +
                "  this file existed no later than: 2025-01-01T00:00:01Z\n"
                "  evaluated at (your clock): 2025-06-01T00:00:00Z\n"
                "\n"
                "S\n"
                "RESULT: VALID\n");
}

TEST(RenderText, KeyChainWordFollowsValidAlone) {
  tdx::KeyChainReport r;
  r.outcome = Outcome::Refused;  // never produced, but the word must not depend on it
  r.valid = false;
  r.length = 2;
  r.problems = {{"CHAIN_BROKEN", "broken", 2}, {"RECEIPT_MISSING", "kept receipt missing", 0}};
  r.head_receipt_sha256 = "cc";
  r.key_ids = {"k1", "k2\u200f"};
  r.sigsum_chain_keys = {"hidden"};
  r.contains = {false};
  r.scope = "S";
  EXPECT_EQ(render_text(r, "h.jsonl"),
            "INVALID  h.jsonl  (key-receipt history, 2 boots, hash links only)\n"
            "  line 2: [CHAIN_BROKEN] broken\n"
            "  [RECEIPT_MISSING] kept receipt missing\n"
            "  newest receipt sha256: cc\n"
            "  boot 1: key id k1\n"
            "  boot 2: key id k2\\u{200f}\n"
            "\n"
            "S\n"
            "RESULT: INVALID\n");
  EXPECT_EQ(report_status(r), 1);
  tdx::KeyChainReport ok;
  ok.valid = true;
  ok.level2_checked = true;
  EXPECT_EQ(render_text(ok, "h"), "VALID  h  (key-receipt history, 0 boots, every receipt Intel-verified)\n\n\nRESULT: VALID\n");
  EXPECT_EQ(report_status(ok), 0);
}

TEST(RenderText, AttestedRecordWithoutStamp) {
  tdx::AttestedRecordReport r;
  r.outcome = Outcome::Invalid;
  r.problems = {{"SIGNATURE_INVALID", "record: bad \u2066"}};
  r.record = lab_receipt(false);
  r.level2 = full_level2();
  r.scope = "S";
  EXPECT_EQ(render_text(r, "rec\tord.json"),
            "INVALID  rec\\u{0009}ord.json  (attested live record)\n"
            "  [SIGNATURE_INVALID] record: bad \\u{2066}\n"
            "  record signature: NOT valid\n"
            "  Intel TDX binding: valid against your expected TD\n"
            "  TCB status (as found): SWHardeningNeeded\n"
            "  key receipt timestamp: none given (its time is a claim)\n"
            "  evaluated at (your clock): 2025-03-01T00:00:00Z\n"
            "\n"
            "S\n"
            "RESULT: INVALID\n");
}

TEST(RenderText, AttestedRecordWithStamp) {
  tdx::AttestedRecordReport r;
  r.outcome = Outcome::Valid;
  r.valid = true;
  r.key_id = "k\u202e";
  r.record = lab_receipt(true);
  r.level2.evaluated_at = "E";
  r.timestamp = tsa::TimestampReport{};
  r.key_receipt_no_later_than = "2025-01-01T00:00:01Z";
  r.scope = "S";
  const std::string tail = "  evaluated at (your clock): E\n\nS\nRESULT: VALID\n";
  const std::string head =
      "VALID  a  (attested live record)\n"
      "  key id (SHA-256 of the key): k\\u{202e}\n"
      "  record signature: valid under the receipt's key\n"
      "  Intel TDX binding: NOT valid\n"
      "  TCB status (as found): unknown\n"
      "  model: caf\u00e9\\u{001b}[1m\n"
      "  receipt_hash: ab12\n";
  EXPECT_EQ(render_text(r, "a"), head + "  key receipt existed no later than: 2025-01-01T00:00:01Z (timestamp)\n" + tail);
  r.key_receipt_no_later_than.reset();
  EXPECT_EQ(render_text(r, "a"), head + "  key receipt timestamp: NOT valid\n" + tail);
}

TEST(RenderText, LogEvidenceShowsLogsWitnessesAndRekor) {
  tdx::LogEvidenceReport r;
  r.outcome = Outcome::Valid;
  r.valid = true;
  r.key_id = "kid";
  r.sigsum = {{std::string(16, 'a') + std::string(48, 'b'), 5, 9, {{"w1\x1b", 1738310709}, {"w2", 0}}, true},
              {std::string(64, 'c'), 0, 1, {}, false}};
  r.rekor_log_indexes = {12345, 0};
  r.scope = "S";
  EXPECT_EQ(render_text(r, "kr.json"),
            "VALID  kr.json  (public-log evidence)\n"
            "  key id (claimed until Level 2 passes): kid\n"
            "  Sigsum log aaaaaaaaaaaaaaaa: leaf 5 of 9 (boot gate attested)\n"
            "    cosigned by w1\\u{001b} at 2025-01-31T08:05:09Z\n"
            "    cosigned by w2 at 1970-01-01T00:00:00Z\n"
            "  Sigsum log cccccccccccccccc: leaf 0 of 1\n"
            "  Rekor: entry 12345\n"
            "  Rekor: entry 0\n"
            "\n"
            "S\n"
            "RESULT: VALID\n");
  tdx::LogEvidenceReport bad;
  bad.outcome = Outcome::Refused;
  bad.problems = {{"TLOG_PARSE", "m"}};
  EXPECT_EQ(render_text(bad, "e"), "INVALID  e  (public-log evidence)\n  [TLOG_PARSE] m\n\n\nRESULT: INVALID\n");
  EXPECT_EQ(report_status(bad), 1);
}

TEST(ReportStatus, FollowsTheOutcomeElsewhere) {
  sig::ReceiptVerdict v;
  EXPECT_EQ(report_status(v), 2);
  v.outcome = Outcome::Invalid;
  EXPECT_EQ(report_status(v), 1);
  tdx::AttestedRecordReport a;
  a.outcome = Outcome::Valid;
  EXPECT_EQ(report_status(a), 0);
  tsa::TimestampReport t;
  t.outcome = Outcome::Invalid;
  EXPECT_EQ(report_status(t), 1);
}

}  // namespace
}  // namespace orv::api
