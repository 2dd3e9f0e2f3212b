#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sig/chain.h"
#include "sig/scope.h"
#include "support/notary.h"
#include "support/printers.h"
#include "support/progress_log.h"

namespace orv::sig {
namespace {

using test::LabReceiptBuilder;
using test::P384TestKey;
using test::RefusalBuilder;
using test::TestChain;

class Chain : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    notary_ = new P384TestKey();
    agent_ = new P384TestKey();
    chain_ = new TestChain(test::lab_receipt_chain(*notary_, *agent_, 4));
  }
  static void TearDownTestSuite() {
    delete chain_;
    delete notary_;
    delete agent_;
  }

  static ChainReport judge(const std::string& text, const std::vector<std::string>& heads = {}) {
    return check_chain(text, heads, notary_->public_pem());
  }
  static std::string head(uint64_t length, const std::string& head_hash = "") {
    return test::chain_head(*notary_, chain_->hashes[0], length, head_hash.empty() ? chain_->hashes[length - 1] : head_hash);
  }
  static std::string lines(std::initializer_list<int> which) {
    std::string out;
    for (int i : which) out += chain_->lines[static_cast<size_t>(i)] + "\n";
    return out;
  }

  static P384TestKey* notary_;
  static P384TestKey* agent_;
  static TestChain* chain_;
};
P384TestKey* Chain::notary_ = nullptr;
P384TestKey* Chain::agent_ = nullptr;
TestChain* Chain::chain_ = nullptr;

TEST_F(Chain, ValidChainWithHeadsAndBlankLines) {
  const std::string text = "\n" + chain_->lines[0] + "\n  \n" + lines({1, 2, 3}) + "\n";
  const ChainReport report = judge(text, {head(2), head(4)});
  EXPECT_TRUE(report.problems.empty()) << report.problems[0].message;
  EXPECT_EQ(report.outcome, Outcome::Valid);
  EXPECT_EQ(report.length, 4u);
  EXPECT_EQ(report.head_receipt_hash, chain_->hashes[3]);
  ASSERT_EQ(report.heads.size(), 2u);
  EXPECT_EQ(report.heads[1].outcome, Outcome::Valid);
  EXPECT_EQ(report.heads[1].length, 4u);
  EXPECT_EQ(report.heads[1].issued_at, "2026-12-01T00:00:00Z");
  EXPECT_FALSE(report.refusal_chain);
  EXPECT_EQ(report.scope, kLabReceiptScope);
  EXPECT_EQ(report.entries.size(), 4u);
}

TEST_F(Chain, EntriesAreKeptOnlyWhenAsked) {
  const std::vector<std::string> heads = {head(1)};
  const ChainReport report = check_chain(lines({0, 2}), heads, notary_->public_pem(), false);
  EXPECT_TRUE(report.entries.empty());
  EXPECT_EQ(report.length, 2u);
  EXPECT_EQ(report.head_receipt_hash, chain_->hashes[2]);
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].code, "CHAIN_LINK_BROKEN");
  EXPECT_EQ(report.heads[0].outcome, Outcome::Valid);
}

TEST_F(Chain, LinksAreJudgedEntryByEntryWithoutCascade) {
  const ChainReport gap = judge(lines({0, 2, 3}));
  ASSERT_EQ(gap.problems.size(), 1u);
  EXPECT_EQ(gap.problems[0], (Problem{"CHAIN_LINK_BROKEN",
                                      "prev_receipt_hash " + chain_->hashes[1] + " does not link to " + chain_->hashes[0], 2}));

  const ChainReport not_first = judge(lines({1, 2}));
  EXPECT_EQ(
      not_first.problems,
      (std::vector<Problem>{{"CHAIN_LINK_BROKEN", "prev_receipt_hash " + chain_->hashes[0] + " does not link to GENESIS", 1}}));

  // A tampered but strict entry keeps its own problems on its line; the next link still holds
  // because its claimed hash serves as the link.
  std::string tampered = chain_->lines[1];
  tampered.replace(tampered.find("summarise"), 9, "summarize");
  const ChainReport bad = judge(chain_->lines[0] + "\n" + tampered + "\n" + lines({2, 3}));
  std::vector<std::string> codes;
  for (const Problem& p : bad.problems) codes.push_back(std::string(p.code.text()) + "@" + std::to_string(p.line));
  EXPECT_EQ(codes, (std::vector<std::string>{"HASH_MISMATCH@2", "COUNTERSIGNATURE_INVALID@2", "LINKAGE@2", "LINKAGE@2"}));
  EXPECT_EQ(bad.length, 4u);
}

TEST_F(Chain, ReadingStopsAtALineItCannotTake) {
  const ChainReport unparseable = judge(chain_->lines[0] + "\n{oops\n" + lines({1, 2}), {head(3)});
  ASSERT_EQ(unparseable.problems.size(), 2u);
  EXPECT_EQ(unparseable.problems[0].code, "CHAIN_ENTRY_UNPARSEABLE");
  EXPECT_EQ(unparseable.problems[0].line, 2u);
  EXPECT_EQ(unparseable.problems[0].message.rfind("unparseable entry (", 0), 0u);
  EXPECT_EQ(unparseable.problems[1],
            (Problem{"HEAD_BEYOND_CHAIN",
                     "head 1: the notary signed for 3 receipts but this chain has 1: receipts were withheld or truncated", 0}));
  EXPECT_EQ(unparseable.length, 1u);

  const ChainReport not_strict = judge(chain_->lines[0] + "\n{\"a\":1.5}\n" + lines({1}));
  ASSERT_EQ(not_strict.problems.size(), 1u);
  EXPECT_EQ(not_strict.problems[0].code, "NON_CANONICAL_JSON");
  EXPECT_EQ(not_strict.problems[0].message.rfind("entry is not strict JSON: number 1.5 is not a canonical integer", 0), 0u);

  const std::string huge = "\"" + std::string(1048575, 'x') + "\"";
  const ChainReport too_large = judge(chain_->lines[0] + "\n" + huge + "\n" + lines({1}));
  EXPECT_EQ(too_large.problems,
            (std::vector<Problem>{{"CHAIN_ENTRY_TOO_LARGE", "entry is 1048577 bytes; the limit is 1048576 bytes", 2}}));

  EXPECT_EQ(judge(" \n\n\t\n").problems, (std::vector<Problem>{{"CHAIN_EMPTY", "chain contains no receipts", 0}}));
}

TEST_F(Chain, ProgressCountsEntriesUpToWhereReadingStops) {
  test::ProgressLog log;
  const auto judge_told = [&](const std::string& text) {
    log.told.clear();
    static_cast<void>(check_chain(text, {}, notary_->public_pem(), false, log.listener()));
    return log.told;
  };
  EXPECT_EQ(judge_told("\n" + lines({0, 1}) + "  \n" + lines({2, 3})), (test::Told{{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}}));
  EXPECT_EQ(judge_told(chain_->lines[0] + "\n{oops\n" + lines({1})), (test::Told{{0, 3}, {1, 3}, {2, 3}}));
}

TEST_F(Chain, HeadsMustBeContainedInTheChain) {
  const std::string chain = lines({0, 1, 2});
  const auto head_problems = [&](const std::string& h) { return judge(chain, {h}).problems; };

  EXPECT_EQ(head_problems(head(4)),
            (std::vector<Problem>{{"HEAD_BEYOND_CHAIN",
                                   "head 1: the notary signed for 4 receipts but this chain has 3: receipts were "
                                   "withheld or truncated"}}));
  EXPECT_EQ(head_problems(head(2, chain_->hashes[0])),
            (std::vector<Problem>{{"HEAD_MISMATCH",
                                   "head 1: receipt 2 of this chain differs from the signed head: the chain was forked "
                                   "or rewritten"}}));
  EXPECT_EQ(head_problems(test::chain_head(*notary_, chain_->hashes[0], 0, chain_->hashes[0])),
            (std::vector<Problem>{{"HEAD_MISMATCH", "head 1: head covers zero receipts"}}));
  EXPECT_EQ(head_problems(test::chain_head(*notary_, chain_->hashes[1], 1, chain_->hashes[1])),
            (std::vector<Problem>{{"HEAD_OTHER_CHAIN", "head 1: head names a different chain (first_receipt_hash differs)"}}));

  P384TestKey other;
  const std::string foreign = test::chain_head(other, chain_->hashes[0], 3, chain_->hashes[2]);
  const ChainReport report = judge(chain, {head(3), foreign});
  EXPECT_EQ(report.problems,
            (std::vector<Problem>{{"EMBEDDED_KEY_MISMATCH", "head 2: embedded broker_pub_pem does not match the pinned key"},
                                  {"HEAD_SIGNATURE_INVALID", "head 2: head signature is INVALID under the pinned key"}}));
  EXPECT_EQ(report.heads[0].outcome, Outcome::Valid);
  EXPECT_EQ(report.heads[1].outcome, Outcome::Invalid);
  EXPECT_EQ(report.heads[1].length, 3u);  // shown, but as an unverified claim

  std::string other_schema = head(3);
  other_schema.replace(other_schema.find("chain-head/v1"), 13, "chain-head/v2");
  EXPECT_EQ(head_problems(other_schema),
            (std::vector<Problem>{
                {"UNSUPPORTED_SCHEMA", "head 1: schema 'tamsel-fabric/chain-head/v2' is not tamsel-fabric/chain-head/v1"},
                {"HEAD_SIGNATURE_INVALID", "head 1: head signature is INVALID under the pinned key"}}));
  std::string upper = head(3);
  const size_t sig_at = upper.find("\"signature_hex\":\"") + 17;
  for (size_t i = sig_at; upper[i] != '"'; ++i) upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[i])));
  EXPECT_EQ(head_problems(upper),
            (std::vector<Problem>{{"SIGNATURE_NOT_CANONICAL", "head 1: signature_hex is not lowercase hex"}}));

  const ChainReport garbage = judge(chain, {"{\"core\":{}}", "[1,]"});
  ASSERT_EQ(garbage.problems.size(), 2u);
  EXPECT_EQ(garbage.problems[0].message, "head 1: not a signed chain head: missing field `schema`");
  EXPECT_EQ(garbage.problems[0].code, "HEAD_PARSE");
  EXPECT_EQ(garbage.problems[1].code, "NON_CANONICAL_JSON");
  EXPECT_FALSE(garbage.heads[0].length.has_value());
}

TEST_F(Chain, RefusalsBeforeAnythingIsRead) {
  const ChainReport too_many = judge(lines({0}), std::vector<std::string>(1025, head(1)));
  EXPECT_EQ(too_many.problems, (std::vector<Problem>{{"TOO_MANY_HEADS", "1025 chain heads given; the limit is 1024"}}));
  EXPECT_EQ(too_many.outcome, Outcome::Refused);
  EXPECT_TRUE(too_many.entries.empty());
  EXPECT_EQ(judge(lines({0}), std::vector<std::string>(1024, head(1))).outcome, Outcome::Valid);

  const ChainReport big_head = judge(lines({0}), {std::string(65537, ' ')});
  EXPECT_EQ(big_head.problems,
            (std::vector<Problem>{
                {"INPUT_TOO_LARGE", "a chain head is 65537 bytes; the limit is 65536 bytes. Refusing without parsing it"}}));
  const ChainReport no_pin = check_chain(lines({0}), {}, "\n");
  EXPECT_EQ(no_pin.problems, (std::vector<Problem>{{"PIN_MISSING", "refusing to verify without a pinned notary key"}}));
  EXPECT_EQ(check_chain(lines({0}), {}, "x").problems[0].message,
            "the pinned key is not a P-384 public key in PEM form; chains need the notary key");
}

TEST_F(Chain, RefusalChainsLinkRefusals) {
  RefusalBuilder first(*notary_, "GENESIS", 1);
  first.seal();
  RefusalBuilder second(*notary_, first.refusal_hash(), 2);
  second.seal();
  RefusalBuilder third(*notary_, "wrong", 3);
  third.set("schema", "tamsel-fabric/refusal/v9");
  third.seal();
  const ChainReport report = judge(first.text() + "\n" + second.text() + "\n" + third.text() + "\n");
  EXPECT_TRUE(report.refusal_chain);
  EXPECT_EQ(report.scope, kRefusalScope);
  EXPECT_EQ(report.problems, (std::vector<Problem>{
                                 {"UNSUPPORTED_SCHEMA", "schema 'tamsel-fabric/refusal/v9' is not tamsel-fabric/refusal/v1", 3},
                                 {"CHAIN_LINK_BROKEN", "prev_refusal_hash wrong does not link to " + second.refusal_hash(), 3}}));
}

}  // namespace
}  // namespace orv::sig
