#include <gtest/gtest.h>

#include "core/hex.h"
#include "support/tlog_fixtures.h"
#include "tlog/sigsum.h"

namespace orv::tlog {
namespace {

using test::SigsumProofBuilder;

class SigsumProof : public ::testing::Test {
 protected:
  test::SigsumTestPolicy trust;  // 2 logs, witnesses "witness-1" to "witness-3", 2 of 3
  SigsumPolicy policy = trust.policy();
  test::Ed25519TestKey submitter;
  Hash message = test::sha256_of("receipt bytes");

  const test::Ed25519TestKey& log() const { return trust.logs[0]; }
  const test::Ed25519TestKey& witness(size_t i) const { return trust.witnesses[i]; }

  // A proof that passes: cosigned by witnesses 1 and 2.
  SigsumProofBuilder proof(uint64_t size = 10, uint64_t index = 7) const {
    SigsumProofBuilder builder(log(), submitter, message, size, index);
    builder.cosign(witness(0), 1767225600).cosign(witness(1), 1767225601);
    return builder;
  }

  Expected<VerifiedSigsumProof, TlogError> verify(const std::string& text) const {
    return verify_sigsum_proof(text, message, submitter.public_key(), policy);
  }
  // "ok", or "CODE: message".
  std::string outcome(const std::string& text) const {
    const Expected<VerifiedSigsumProof, TlogError> result = verify(text);
    return result ? "ok" : std::string(result.error().code.text()) + ": " + result.error().message;
  }
};

std::string parse(const std::string& message) { return "TLOG_PARSE: " + message; }
std::string inclusion(const std::string& message) { return "TLOG_INCLUSION_PROOF_INVALID: " + message; }

TEST_F(SigsumProof, VerifiesAndReportsLogLeafSizeAndWitnesses) {
  const Expected<VerifiedSigsumProof, TlogError> result = verify(proof().text());
  ASSERT_TRUE(result.ok()) << result.error().message;
  EXPECT_EQ(result->log_key, log().public_key());
  EXPECT_EQ(result->log_key_hash, log().key_hash());
  EXPECT_EQ(result->leaf_index, 7u);
  EXPECT_EQ(result->tree_size, 10u);
  EXPECT_EQ(result->root_hash, proof().root());
  ASSERT_EQ(result->witnesses.size(), 2u);
  EXPECT_EQ(result->witnesses[0].witness, "witness-1");
  EXPECT_EQ(result->witnesses[0].timestamp, 1767225600u);
  EXPECT_EQ(result->witnesses[1].witness, "witness-2");
  EXPECT_EQ(result->witnesses[1].timestamp, 1767225601u);

  // The second policy log is as good as the first.
  SigsumProofBuilder other(trust.logs[1], submitter, message);
  other.cosign(witness(2)).cosign(witness(0));
  const Expected<VerifiedSigsumProof, TlogError> second = verify(other.text());
  ASSERT_TRUE(second.ok()) << second.error().message;
  EXPECT_EQ(second->log_key, trust.logs[1].public_key());
  ASSERT_EQ(second->witnesses.size(), 2u);
  EXPECT_EQ(second->witnesses[0].witness, "witness-3");  // in the order of the lines
}

TEST_F(SigsumProof, TreesOfManySizesAtFirstMiddleAndLastIndex) {
  std::vector<uint64_t> sizes;
  for (uint64_t size = 1; size <= 33; ++size) sizes.push_back(size);
  for (int bits : {6, 10, 20, 31, 32, 33, 40, 61, 62}) {
    const uint64_t power = uint64_t{1} << bits;
    sizes.insert(sizes.end(), {power - 1, power});
    if (bits < 62) sizes.push_back(power + 1);
  }
  for (const uint64_t size : sizes) {
    for (const uint64_t index : {uint64_t{0}, size / 2, size - 1}) {
      SCOPED_TRACE("size " + std::to_string(size) + " index " + std::to_string(index));
      const Expected<VerifiedSigsumProof, TlogError> result = verify(proof(size, index).text());
      ASSERT_TRUE(result.ok()) << result.error().message;
      EXPECT_EQ(result->leaf_index, index);
      EXPECT_EQ(result->tree_size, size);
    }
  }
}

TEST_F(SigsumProof, LastLineFeedIsOptionalButNoBlankLineMayFollow) {
  std::string text = proof().text();
  ASSERT_EQ(text.back(), '\n');
  EXPECT_EQ(outcome(text.substr(0, text.size() - 1)), "ok");
  EXPECT_EQ(outcome(text + "\n"), parse("proof must have 2 or 3 blocks"));
  EXPECT_EQ(outcome("\n" + text), parse("proof must have 2 or 3 blocks"));
}

TEST_F(SigsumProof, SizeLimitAndCarriageReturns) {
  // Filled to exactly the limit with cosignature lines of witnesses outside the policy, which
  // are read and then ignored.
  SigsumProofBuilder builder = proof();
  size_t remaining = kMaxSigsumProofBytes - builder.text().size();
  const std::string foreign_hash(64, 'a'), foreign_sig(128, 'b');
  auto line_size = [&](size_t digits) { return std::string("cosignature=").size() + 64 + 1 + digits + 1 + 128 + 1; };
  while (remaining > 0) {
    size_t digits = 1;
    if (remaining < 2 * line_size(1)) digits = remaining - line_size(1) + 1;  // the last line takes the rest
    if (remaining >= line_size(1) && remaining - line_size(1) < line_size(1) && digits > 19) digits = 19;
    ASSERT_GE(remaining, line_size(digits));
    ASSERT_LE(digits, 19u) << "cannot fill " << remaining << " bytes";
    builder.tree_head.push_back("cosignature=" + foreign_hash + " 1" + std::string(digits - 1, '0') + " " + foreign_sig);
    remaining -= line_size(digits);
  }
  ASSERT_EQ(builder.text().size(), kMaxSigsumProofBytes);
  EXPECT_EQ(outcome(builder.text()), "ok");
  builder.tree_head.back().insert(std::string("cosignature=").size() + 66, "0");
  EXPECT_EQ(outcome(builder.text()), parse("proof is too large or contains CR"));

  std::string crlf;
  for (const char c : proof().text()) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(outcome(crlf), parse("proof is too large or contains CR"));
}

TEST_F(SigsumProof, BlocksAndKeyValueLines) {
  const SigsumProofBuilder good = proof();
  EXPECT_EQ(outcome(""), parse("proof must have 2 or 3 blocks"));
  EXPECT_EQ(outcome("version=2\n"), parse("proof must have 2 or 3 blocks"));
  EXPECT_EQ(outcome(good.text() + "\nleaf_index=1\n"), parse("proof must have 2 or 3 blocks"));

  // Every line is read as key=value first, wherever it stands and whatever else is wrong.
  for (const std::string bad : {"version2", "=2", "version=", "log= 00", "log=00 ", "="}) {
    for (int block = 0; block < 3; ++block) {
      SigsumProofBuilder builder = proof();
      std::vector<std::string>& lines = block == 0 ? builder.header : block == 1 ? builder.tree_head : builder.inclusion;
      lines.push_back(bad);
      EXPECT_EQ(outcome(builder.text()), parse("malformed key=value line")) << bad << " in block " << block;
    }
  }
  SigsumProofBuilder late = proof();
  late.header[0] = "version=1";
  late.inclusion.back() = "node_hash";
  EXPECT_EQ(outcome(late.text()), parse("malformed key=value line"));
  // A value may hold "=" and inner spaces: only the first "=" splits.
  SigsumProofBuilder equals = proof();
  equals.tree_head.push_back("x=a=b");
  EXPECT_EQ(outcome(equals.text()), parse("tree head: unexpected line"));
}

TEST_F(SigsumProof, Header) {
  auto with_header = [&](std::vector<std::string> header) {
    SigsumProofBuilder builder = proof();
    builder.header = std::move(header);
    return outcome(builder.text());
  };
  const SigsumProofBuilder good = proof();
  const std::string& version = good.header[0];
  const std::string& log_line = good.header[1];
  const std::string& leaf = good.header[2];
  const std::string not_header = parse("proof header is not version=2 / log / leaf");
  EXPECT_EQ(with_header({"version=1", log_line, leaf}), not_header);
  EXPECT_EQ(with_header({"version=02", log_line, leaf}), not_header);
  EXPECT_EQ(with_header({log_line, version, leaf}), not_header);
  EXPECT_EQ(with_header({version, log_line}), not_header);
  EXPECT_EQ(with_header({version, log_line, leaf, "extra=1"}), not_header);
  EXPECT_EQ(with_header({version, "logs=" + log_line.substr(4), leaf}), not_header);

  EXPECT_EQ(with_header({version, log_line.substr(0, log_line.size() - 1), leaf}), parse("bad log key hash"));
  EXPECT_EQ(with_header({version, log_line + "00", leaf}), parse("bad log key hash"));
  EXPECT_EQ(with_header({version, "log=" + std::string(64, 'g'), leaf}), parse("bad log key hash"));

  const std::string key_hash = leaf.substr(5, 64), signature = leaf.substr(70);
  ASSERT_EQ(signature.size(), 128u);
  for (const std::string& bad :
       {key_hash + signature, key_hash + "  " + signature, key_hash.substr(2) + " " + signature,
        key_hash + " " + signature + "00", key_hash + " " + signature + " x", key_hash + " " + std::string(128, 'z')}) {
    EXPECT_EQ(with_header({version, log_line, "leaf=" + bad}), parse("bad leaf line")) << bad;
  }
}

TEST_F(SigsumProof, LeafMustBeTheSubmittersSignatureOverThisMessage) {
  const std::string leaf_invalid = "TLOG_LEAF_INVALID: the logged leaf is not the pinned submitter's signature over this message";
  const std::string text = proof().text();
  const test::Ed25519TestKey stranger;
  EXPECT_EQ(verify_sigsum_proof(text, message, stranger.public_key(), policy).error().code, "TLOG_LEAF_INVALID");
  EXPECT_EQ(outcome(SigsumProofBuilder(log(), stranger, message).text()), leaf_invalid);
  const Expected<VerifiedSigsumProof, TlogError> other_message =
      verify_sigsum_proof(text, test::sha256_of("other receipt"), submitter.public_key(), policy);
  ASSERT_FALSE(other_message.ok());
  EXPECT_EQ(std::string(other_message.error().code.text()) + ": " + other_message.error().message, leaf_invalid);

  // The submitter's key hash with a stranger's signature, and a signature with one bit changed.
  SigsumProofBuilder forged = proof();
  SigsumProofBuilder by_stranger(log(), stranger, message);
  forged.header[2] = forged.header[2].substr(0, 70) + by_stranger.header[2].substr(70);
  EXPECT_EQ(outcome(forged.text()), leaf_invalid);
  SigsumProofBuilder flipped = proof();
  flipped.header[2].back() = flipped.header[2].back() == '0' ? '1' : '0';
  EXPECT_EQ(outcome(flipped.text()), leaf_invalid);
}

TEST_F(SigsumProof, TreeHeadLines) {
  auto with = [&](size_t line, std::string value) {
    SigsumProofBuilder builder = proof();
    builder.tree_head[line] = std::move(value);
    return outcome(builder.text());
  };
  auto without = [&](size_t line) {
    SigsumProofBuilder builder = proof();
    builder.tree_head.erase(builder.tree_head.begin() + static_cast<long>(line));
    return outcome(builder.text());
  };
  EXPECT_EQ(without(0), parse("tree head: expected size"));
  EXPECT_EQ(without(1), parse("tree head: expected root_hash"));
  EXPECT_EQ(without(2), parse("tree head: expected signature"));
  SigsumProofBuilder only_size = proof();
  only_size.tree_head.resize(1);
  EXPECT_EQ(outcome(only_size.text()), parse("tree head: expected root_hash"));
  EXPECT_EQ(with(0, "root_hash=00"), parse("tree head: expected size"));

  for (const std::string size : {"007", "+7", "-1", "1 0", "0x10", "18446744073709551616"}) {
    EXPECT_EQ(with(0, "size=" + size), parse("tree head size is not canonical")) << size;
  }
  EXPECT_EQ(with(0, "size=4611686018427387905"), parse("tree head size is implausibly large"));  // 2^62 + 1
  EXPECT_EQ(with(0, "size=18446744073709551615"), parse("tree head size is implausibly large"));
  const std::string root = proof().tree_head[1], signature = proof().tree_head[2];
  EXPECT_EQ(with(1, root.substr(0, root.size() - 2)), parse("bad root_hash"));
  EXPECT_EQ(with(1, root + "00"), parse("bad root_hash"));
  EXPECT_EQ(with(2, signature.substr(0, signature.size() - 2)), parse("bad signature"));
  EXPECT_EQ(with(2, "signature=" + std::string(128, 'x')), parse("bad signature"));
  EXPECT_EQ(with(3, "leaf_index=1"), parse("tree head: unexpected line"));

  const std::string line = proof().tree_head[3];  // cosignature=<hash> <time> <signature>
  const std::string hash = line.substr(12, 64), time = "1767225600", sig = line.substr(12 + 64 + 1 + 11);
  ASSERT_EQ(sig.size(), 128u);
  for (const std::string& bad : {hash + " " + time, hash + " " + time + " " + sig + " x", hash + "  " + time + " " + sig,
                                 hash.substr(1) + " " + time + " " + sig, hash + " 01767225600 " + sig, hash + " -1 " + sig,
                                 hash + " 18446744073709551616 " + sig, hash + " " + time + " " + sig.substr(2),
                                 hash + " " + time + " " + std::string(128, 'q')}) {
    EXPECT_EQ(with(3, "cosignature=" + bad), parse("malformed cosignature line")) << bad;
  }
}

TEST_F(SigsumProof, TreeHeadMustBeSignedByAPolicyLog) {
  const std::string not_signed = "TLOG_LOG_SIGNATURE_INVALID: the tree head is not signed by a log in the pinned policy";
  // A log outside the policy with a perfectly valid signature.
  const test::Ed25519TestKey outsider;
  SigsumProofBuilder foreign(outsider, submitter, message);
  foreign.cosign(witness(0)).cosign(witness(1));
  EXPECT_EQ(outcome(foreign.text()), not_signed);
  // The header names policy log 1; policy log 2 signed.
  SigsumProofBuilder swapped = proof();
  swapped.tree_head[2] = SigsumProofBuilder(trust.logs[1], submitter, message).tree_head[2];
  EXPECT_EQ(outcome(swapped.text()), not_signed);
  SigsumProofBuilder mislabelled(trust.logs[1], submitter, message);
  mislabelled.header[1] = proof().header[1];
  EXPECT_EQ(outcome(mislabelled.text()), not_signed);
  // The signature covers size and root: another size fails.
  SigsumProofBuilder resized = proof();
  resized.tree_head[0] = "size=11";
  EXPECT_EQ(outcome(resized.text()), not_signed);
}

TEST_F(SigsumProof, WitnessQuorum) {
  const std::string not_met = "TLOG_WITNESS_QUORUM_NOT_MET: witness quorum not met (";
  auto cosigned_by = [&](std::initializer_list<size_t> witnesses) {
    SigsumProofBuilder builder(log(), submitter, message);
    for (const size_t w : witnesses) builder.cosign(witness(w));
    return outcome(builder.text());
  };
  EXPECT_EQ(cosigned_by({0, 1}), "ok");
  EXPECT_EQ(cosigned_by({2, 0}), "ok");
  EXPECT_EQ(cosigned_by({0, 1, 2}), "ok");
  EXPECT_EQ(cosigned_by({1}), not_met + "1 of 3 policy witnesses cosigned)");
  EXPECT_EQ(cosigned_by({}), not_met + "0 of 3 policy witnesses cosigned)");
  // Two lines of one witness count once.
  EXPECT_EQ(cosigned_by({1, 1}), not_met + "1 of 3 policy witnesses cosigned)");

  // Witnesses outside the policy are ignored: not counted, not an error, not reported.
  const test::Ed25519TestKey outsider;
  SigsumProofBuilder with_outsider(log(), submitter, message);
  with_outsider.cosign(outsider).cosign(witness(0)).cosign(outsider).cosign(witness(2));
  const Expected<VerifiedSigsumProof, TlogError> result = verify(with_outsider.text());
  ASSERT_TRUE(result.ok()) << result.error().message;
  ASSERT_EQ(result->witnesses.size(), 2u);
  EXPECT_EQ(result->witnesses[1].witness, "witness-3");
  SigsumProofBuilder outsider_only(log(), submitter, message);
  outsider_only.cosign(outsider).cosign(witness(0));
  EXPECT_EQ(outcome(outsider_only.text()), not_met + "1 of 3 policy witnesses cosigned)");

  // A cosignature that does not verify is not counted, but a later valid line of the same
  // witness is; the time on the line is part of what was signed.
  SigsumProofBuilder bad_then_good(log(), submitter, message);
  bad_then_good.cosign(witness(0), 100).cosign(witness(1), 100);
  bad_then_good.tree_head[3].replace(12 + 64 + 1, 3, "101");
  EXPECT_EQ(outcome(bad_then_good.text()), not_met + "1 of 3 policy witnesses cosigned)");
  bad_then_good.cosign(witness(0), 102);
  const Expected<VerifiedSigsumProof, TlogError> recovered = verify(bad_then_good.text());
  ASSERT_TRUE(recovered.ok()) << recovered.error().message;
  EXPECT_EQ(recovered->witnesses[0].witness, "witness-2");
  EXPECT_EQ(recovered->witnesses[1].witness, "witness-1");
  EXPECT_EQ(recovered->witnesses[1].timestamp, 102u);

  // A cosignature over another tree head of the same log does not count.
  SigsumProofBuilder other_head(log(), submitter, message, 11, 3);
  other_head.cosign(witness(0));
  SigsumProofBuilder stale = proof();
  stale.tree_head.erase(stale.tree_head.begin() + 3);
  stale.tree_head.push_back(other_head.tree_head[3]);
  EXPECT_EQ(outcome(stale.text()), not_met + "1 of 3 policy witnesses cosigned)");

  // Policies that ask for one named witness, or for none.
  test::SigsumTestPolicy single(1, 3, 1);
  SigsumPolicy none = single.policy();
  none.quorum.reset();
  SigsumProofBuilder uncosigned(single.logs[0], submitter, message);
  EXPECT_TRUE(verify_sigsum_proof(uncosigned.text(), message, submitter.public_key(), none).ok());
}

TEST_F(SigsumProof, SizeZeroAndOne) {
  SigsumProofBuilder empty = proof(10, 7);
  empty.inclusion.clear();
  empty.tree_head.resize(3);
  empty.sign_tree_head(0, test::sha256_of("")).cosign(witness(0)).cosign(witness(1));
  EXPECT_EQ(outcome(empty.text()), inclusion("a proof for an empty tree is invalid"));

  const SigsumProofBuilder single = proof(1, 0);
  ASSERT_TRUE(single.inclusion.empty());
  const Expected<VerifiedSigsumProof, TlogError> result = verify(single.text());
  ASSERT_TRUE(result.ok()) << result.error().message;
  EXPECT_EQ(result->leaf_index, 0u);
  EXPECT_EQ(result->tree_size, 1u);

  // A third block is refused for size 1 even when it is well formed.
  SigsumProofBuilder with_block = proof(1, 0);
  with_block.inclusion = {"leaf_index=0"};
  EXPECT_EQ(outcome(with_block.text()), inclusion("unexpected inclusion block for size 1"));
  SigsumProofBuilder other_root = proof(1, 0);
  other_root.tree_head.resize(3);
  other_root.sign_tree_head(1, test::filler_hash(9)).cosign(witness(0)).cosign(witness(1));
  EXPECT_EQ(outcome(other_root.text()), inclusion("single-leaf tree root is not this leaf"));
}

TEST_F(SigsumProof, InclusionBlock) {
  auto with_inclusion = [&](std::vector<std::string> lines) {
    SigsumProofBuilder builder = proof();
    builder.inclusion = std::move(lines);
    return outcome(builder.text());
  };
  const std::vector<std::string> good = proof().inclusion;
  EXPECT_EQ(with_inclusion({}), inclusion("missing inclusion proof"));
  EXPECT_EQ(with_inclusion({good[1], good[0]}), parse("inclusion block must start with leaf_index"));
  for (const std::string index : {"07", "+7", "-1", "7 ", "18446744073709551616"}) {
    std::vector<std::string> lines = good;
    lines[0] = "leaf_index=" + index;
    EXPECT_EQ(with_inclusion(lines), parse(index.back() == ' ' ? "malformed key=value line" : "bad leaf_index")) << index;
  }
  std::vector<std::string> lines = good;
  lines.push_back("leaf_index=7");
  EXPECT_EQ(with_inclusion(lines), parse("unexpected line in inclusion block"));
  lines = good;
  lines[1] = lines[1].substr(0, lines[1].size() - 2);
  EXPECT_EQ(with_inclusion(lines), parse("bad node_hash"));

  // Wrong index, wrong path, an index beyond the tree.
  const std::string does_not_verify = inclusion("the inclusion proof does not verify");
  for (const std::string index : {"6", "8", "10", "11", "0"}) {
    lines = good;
    lines[0] = "leaf_index=" + index;
    EXPECT_EQ(with_inclusion(lines), does_not_verify) << index;
  }
  lines = good;
  lines[2].back() = lines[2].back() == 'a' ? 'b' : 'a';
  EXPECT_EQ(with_inclusion(lines), does_not_verify);
  lines = good;
  lines.pop_back();
  EXPECT_EQ(with_inclusion(lines), does_not_verify);
  lines = good;
  lines.push_back(good[1]);
  EXPECT_EQ(with_inclusion(lines), does_not_verify);
}

// No tree within the size limit has a path longer than 62, so 64 node hashes are read and
// fail to verify, while a 65th is refused as it is read.
TEST_F(SigsumProof, AtMostSixtyFourNodeHashes) {
  SigsumProofBuilder longest = proof(uint64_t{1} << 62, (uint64_t{1} << 62) - 1);
  ASSERT_EQ(longest.inclusion.size(), 1u + 62u);
  EXPECT_EQ(outcome(longest.text()), "ok");
  longest.inclusion.push_back(longest.inclusion[1]);
  longest.inclusion.push_back(longest.inclusion[2]);
  ASSERT_EQ(longest.inclusion.size(), 1u + 64u);
  EXPECT_EQ(outcome(longest.text()), inclusion("the inclusion proof does not verify"));
  longest.inclusion.push_back(longest.inclusion[3]);
  EXPECT_EQ(outcome(longest.text()), parse("inclusion path too long"));
  longest.inclusion.back() = "node_hash=zz";
  EXPECT_EQ(outcome(longest.text()), parse("bad node_hash"));  // the line is judged before the count
}

TEST_F(SigsumProof, OriginIsTheSigsumPrefixAndTheLowercaseKeyHash) {
  EXPECT_EQ(sigsum_origin(log().key_hash()), "sigsum.org/v1/tree/" + hex_encode(log().key_hash()));
  // Hex in proofs is case-insensitive on the wire; the origin that was signed is lowercase.
  SigsumProofBuilder upper = proof();
  for (char& c : upper.header[1]) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  upper.header[1].replace(0, 4, "log=");
  EXPECT_EQ(outcome(upper.text()), "ok");
}

}  // namespace
}  // namespace orv::tlog
