// Real signed material from the pinned logs, read from the shared folder at run time and
// verified through the real compiled-in policy and Rekor log.
#include <gtest/gtest.h>

#include "core/base64.h"
#include "core/hex.h"
#include "crypto/digest.h"
#include "support/shared_data.h"
#include "support/tlog_fixtures.h"
#include "tlog/rekor.h"
#include "tlog/sigsum.h"

namespace orv::tlog {
namespace {

namespace fs = std::filesystem;

template <size_t N>
std::array<uint8_t, N> hex_file(const fs::path& path) {
  std::string text = test::read_file(path);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  const std::optional<std::vector<uint8_t>> bytes = hex_decode(text);
  std::array<uint8_t, N> out{};
  EXPECT_TRUE(bytes && bytes->size() == N) << path;
  if (bytes && bytes->size() == N) std::copy(bytes->begin(), bytes->end(), out.begin());
  return out;
}

std::string outcome_of(const Expected<VerifiedSigsumProof, TlogError>& result) {
  return result ? "ok" : std::string(result.error().code.text()) + ": " + result.error().message;
}

class RealSigsum : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto dir = test::shared_dir();
    if (!dir) GTEST_SKIP() << "shared test material not present (fresh clone)";
    trust = *dir / "trust";
    vectors = trust / "testvectors";
    realdata = *dir / "realdata";
    policy_text = test::read_file(trust / "sigsum-policy.txt");
    const Expected<SigsumPolicy, TlogError> parsed = parse_sigsum_policy(policy_text);
    ASSERT_TRUE(parsed.ok()) << parsed.error().message;
    policy = *parsed;
    seasalp = test::read_file(vectors / "sigsum-seasalp-34684.proof");
    seasalp_message = hex_file<32>(vectors / "sigsum-seasalp-34684.message.hex");
    seasalp_submitter = hex_file<32>(vectors / "sigsum-seasalp-34684.submitter-key.hex");
  }

  Expected<VerifiedSigsumProof, TlogError> verify_seasalp(const std::string& proof, const SigsumPolicy& under) const {
    return verify_sigsum_proof(proof, seasalp_message, seasalp_submitter, under);
  }

  fs::path trust, vectors, realdata;
  std::string policy_text;
  SigsumPolicy policy;
  std::string seasalp;
  Hash seasalp_message{};
  crypto::Ed25519Key seasalp_submitter{};
};

TEST_F(RealSigsum, SeasalpProofVerifiesUnderTheCompiledInPolicy) {
  // The message is SHA-256 of the logged file, as for receipts.
  EXPECT_EQ(crypto::sha256(as_bytes(test::read_file(vectors / "sigsum-seasalp-34684.data"))), seasalp_message);
  ASSERT_EQ(seasalp.back(), '\n');

  const Expected<VerifiedSigsumProof, TlogError> result = verify_seasalp(seasalp, policy);
  ASSERT_TRUE(result.ok()) << outcome_of(result);
  EXPECT_EQ(hex_encode(result->log_key), "0ec7e16843119b120377a73913ac6acbc2d03d82432e2c36b841b09a95841f25");
  EXPECT_EQ(result->leaf_index, 34683u);
  EXPECT_EQ(result->tree_size, 34684u);
  EXPECT_EQ(hex_encode(result->root_hash), "84700b46cd71b0ad1f3f38a108ded3de4cc4ad56e048345418c3c3d1c09ad7ae");
  // All three policy witnesses, in the order of their lines among the 17.
  ASSERT_EQ(result->witnesses.size(), 3u);
  EXPECT_EQ(result->witnesses[0].witness, "tillitis.se/tillitis-witness-1");
  EXPECT_EQ(result->witnesses[1].witness, "witness.glasklar.is");
  EXPECT_EQ(result->witnesses[2].witness, "witness.mullvad.net");
  for (const SigsumCosignature& cosignature : result->witnesses) EXPECT_EQ(cosignature.timestamp, 1774444419u);

  // The same bytes without their final line feed are the same proof.
  EXPECT_EQ(outcome_of(verify_seasalp(seasalp.substr(0, seasalp.size() - 1), policy)), "ok");
}

TEST_F(RealSigsum, SeasalpProofFailsForAnythingElse) {
  EXPECT_EQ(verify_sigsum_proof(seasalp, test::sha256_of("another receipt"), seasalp_submitter, policy).error().code,
            "TLOG_LEAF_INVALID");
  const test::Ed25519TestKey stranger;
  EXPECT_EQ(verify_sigsum_proof(seasalp, seasalp_message, stranger.public_key(), policy).error().code, "TLOG_LEAF_INVALID");

  // A policy without seasalp among its logs.
  std::string without_log = policy_text;
  without_log.erase(without_log.find("log 0ec7"),
                    without_log.find('\n', without_log.find("log 0ec7")) - without_log.find("log 0ec7") + 1);
  const Expected<SigsumPolicy, TlogError> log2_only = parse_sigsum_policy(without_log);
  ASSERT_TRUE(log2_only.ok());
  ASSERT_EQ(log2_only->logs.size(), 1u);
  EXPECT_EQ(outcome_of(verify_seasalp(seasalp, *log2_only)),
            "TLOG_LOG_SIGNATURE_INVALID: the tree head is not signed by a log in the pinned policy");

  // A policy in which only one of its three witnesses is a real one.
  test::SigsumTestPolicy fake;
  std::string one_real = policy_text;
  const std::vector<std::string> replaced = {"b2106db9065ec97f25e09c18839216751a6e26d8ed8b41e485a563d3d1498536",
                                             "15d6d0141543247b74bab3c1076372d9c894f619c376d64b29aa312cc00f61ad"};
  for (size_t i = 0; i < replaced.size(); ++i) {
    one_real.replace(one_real.find(replaced[i]), replaced[i].size(), fake.witnesses[i].public_hex());
  }
  const Expected<SigsumPolicy, TlogError> mostly_fake = parse_sigsum_policy(one_real);
  ASSERT_TRUE(mostly_fake.ok()) << mostly_fake.error().message;
  EXPECT_EQ(outcome_of(verify_seasalp(seasalp, *mostly_fake)),
            "TLOG_WITNESS_QUORUM_NOT_MET: witness quorum not met (1 of 3 policy witnesses cosigned)");

  // Real bytes, rewritten with CR LF line ends.
  std::string crlf;
  for (const char c : seasalp) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(outcome_of(verify_seasalp(crlf, policy)), "TLOG_PARSE: proof is too large or contains CR");
}

// The submitter key of the ginkgo proof is not known: with any other key it fails at the leaf.
TEST_F(RealSigsum, GinkgoProofFailsAtTheLeafWithoutItsSubmitterKey) {
  const std::string ginkgo = test::read_file(vectors / "sigsum-ginkgo-4248.proof");
  const Hash message = hex_file<32>(vectors / "sigsum-ginkgo-4248.message.hex");
  EXPECT_EQ(crypto::sha256(as_bytes(test::read_file(vectors / "sigsum-ginkgo-4248.data"))), message);
  EXPECT_EQ(outcome_of(verify_sigsum_proof(ginkgo, message, seasalp_submitter, policy)),
            "TLOG_LEAF_INVALID: the logged leaf is not the pinned submitter's signature over this message");
}

// A real proof from a log outside the policy, with its true submitter and message.
TEST_F(RealSigsum, ProofFromALogOutsideThePolicyFails) {
  const fs::path dir = realdata / "sigsum/mullvad-otherlog-20260203";
  const std::string bytes = test::read_file(dir / "message.bin");
  ASSERT_EQ(bytes.size(), 32u);
  Hash message{};
  std::copy(bytes.begin(), bytes.end(), message.begin());
  EXPECT_EQ(outcome_of(verify_sigsum_proof(test::read_file(dir / "proof.txt"), message, hex_file<32>(dir / "submitter-key.hex"),
                                           policy)),
            "TLOG_LOG_SIGNATURE_INVALID: the tree head is not signed by a log in the pinned policy");
}

class RealRekor : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto dir = test::shared_dir();
    if (!dir) GTEST_SKIP() << "shared test material not present (fresh clone)";
    vectors = *dir / "trust/testvectors";
    realdata = *dir / "realdata";
    const Expected<RekorLog, TlogError> read = read_rekor_log_file(test::read_file(*dir / "trust/rekor-log.txt"));
    ASSERT_TRUE(read.ok()) << read.error().message;
    log = *read;
    entry = test::read_file(vectors / "rekor-v2-entry-412114.json");
    digest = hex_file<32>(vectors / "rekor-v2-entry-412114.artifact-digest.hex");
    const std::string spki = test::read_file(vectors / "rekor-v2-entry-412114.signer-spki.der");
    signer.assign(spki.begin(), spki.end());
  }
  std::string outcome(const std::string& text, const Hash& expected_digest, const std::vector<uint8_t>& key,
                      const RekorLog& under) const {
    const Expected<VerifiedRekorEntry, TlogError> result = verify_rekor_entry(text, expected_digest, key, under);
    return result ? "ok " + std::to_string(result->log_index)
                  : std::string(result.error().code.text()) + ": " + result.error().message;
  }

  fs::path vectors, realdata;
  RekorLog log;
  std::string entry;
  Hash digest{};
  std::vector<uint8_t> signer;
};

TEST_F(RealRekor, PinnedLogIsLog2025OneWithItsPublishedIdentifier) {
  EXPECT_EQ(log.origin, "log2025-1.rekor.sigstore.dev");
  EXPECT_EQ(hex_encode(log.key), "b7cae5a759271b08df6dc5c060f600927d1788bcf5c7c3b8b7462412189edb8e");
  EXPECT_EQ(hex_encode(log.log_id), "cf1199155bddd051268d1f16ac5c0c75c009f6fb5a63f4177f8e18d7051e3fa0");
  const Expected<RekorLog, TlogError> from_spki =
      make_rekor_log("log2025-1.rekor.sigstore.dev", "MCowBQYDK2VwAyEAt8rlp1knGwjfbcXAYPYAkn0XiLz1x8O4t0YkEhie244=");
  ASSERT_TRUE(from_spki.ok());
  EXPECT_EQ(from_spki->log_id, log.log_id);
  const std::string der = test::read_file(vectors.parent_path() / "rekor-log2025-1.spki.der");
  const Expected<RekorLog, TlogError> from_der = make_rekor_log("log2025-1.rekor.sigstore.dev", as_bytes(der));
  ASSERT_TRUE(from_der.ok());
  EXPECT_EQ(from_der->log_id, log.log_id);
}

// The real entry carries "integratedTime": "0" and "inclusionPromise": null.
TEST_F(RealRekor, HashedrekordEntryVerifies) {
  EXPECT_NE(entry.find("\"inclusionPromise\": null"), std::string::npos);
  EXPECT_EQ(outcome(entry, digest, signer, log), "ok 412114");
  EXPECT_EQ(outcome(entry, test::sha256_of("other"), signer, log), "TLOG_LEAF_INVALID: the entry is for a different artifact");
  const test::P256TestKey other;
  EXPECT_EQ(outcome(entry, digest, other.spki_der(), log), "TLOG_LEAF_INVALID: the entry is signed by a different key");

  // The same entry judged against another pinned log, or the same key under another origin.
  const test::RekorTestLog another;
  EXPECT_EQ(outcome(entry, digest, signer, another.pinned()), "TLOG_UNKNOWN_LOG: the entry is from a different log");
  const Expected<RekorLog, TlogError> renamed =
      make_rekor_log("log2025-2.rekor.sigstore.dev", "MCowBQYDK2VwAyEAt8rlp1knGwjfbcXAYPYAkn0XiLz1x8O4t0YkEhie244=");
  ASSERT_TRUE(renamed.ok());
  EXPECT_EQ(outcome(entry, digest, signer, *renamed), "TLOG_UNKNOWN_LOG: the entry is from a different log");

  // One changed digit of the size in the signed checkpoint.
  std::string tampered = entry;
  const size_t at = tampered.find("412115\\n");
  ASSERT_NE(at, std::string::npos);
  tampered[at + 5] = '6';
  EXPECT_EQ(outcome(tampered, digest, signer, log), "TLOG_LOG_SIGNATURE_INVALID: the checkpoint is not signed by the pinned log");
}

// Real entries of the pinned log signed with a Fulcio certificate: never accepted, even with
// the certificate's own key and the artifact's true digest.
TEST_F(RealRekor, CertificateSignedEntriesAreRefused) {
  for (const char* sample : {"tkgsn-run-30183326061", "tkgsn-run-30187731233"}) {
    SCOPED_TRACE(sample);
    const fs::path dir = realdata / "rekor-v2" / sample;
    std::string spki_text = test::read_file(dir / "signing-key.spki.b64");
    while (!spki_text.empty() && spki_text.back() == '\n') spki_text.pop_back();
    const std::optional<std::vector<uint8_t>> spki = base64_decode(spki_text);
    ASSERT_TRUE(spki);
    EXPECT_EQ(outcome(test::read_file(dir / "entry.json"), hex_file<32>(dir / "artifact.sha256.hex"), *spki, log),
              "TLOG_LEAF_INVALID: the entry is signed by a certificate, not the pinned key");
  }
}

}  // namespace
}  // namespace orv::tlog
