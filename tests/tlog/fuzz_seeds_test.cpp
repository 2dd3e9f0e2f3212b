// The committed fuzz seeds are valid material under the fuzz targets' fixed trust, so that each
// run starts from inputs that reach the last check. ORV_WRITE_FUZZ_SEEDS=1 rewrites them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "../../fuzz/fuzz_rekor_fixture.h"
#include "../../fuzz/fuzz_sigsum_fixture.h"
#include "support/shared_data.h"
#include "support/tlog_fixtures.h"
#include "tlog/note.h"
#include "tlog/rekor.h"
#include "tlog/sigsum.h"

namespace orv::tlog {
namespace {

namespace fs = std::filesystem;

const fs::path kSeeds = fs::path(ORV_SOURCE_DIR) / "fuzz/seeds";

bool writing() { return std::getenv("ORV_WRITE_FUZZ_SEEDS") != nullptr; }

void write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<fs::path> seeds_in(const std::string& target) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(kSeeds / target, ec)) files.push_back(entry.path());
  return files;
}

test::RekorTestLog fuzz_rekor_log() {
  return test::RekorTestLog(std::string(fuzz::kRekorOrigin), fuzz::seed_of(fuzz::kRekorLogLabel));
}

TEST(FuzzSeeds, SigsumSeedsVerifyUnderTheFuzzPolicy) {
  const Expected<SigsumPolicy, TlogError> policy = parse_sigsum_policy(fuzz::sigsum_fuzz_policy_text());
  ASSERT_TRUE(policy.ok()) << policy.error().message;
  const test::Ed25519TestKey submitter(fuzz::seed_of(fuzz::kSigsumSubmitterLabel));
  const Hash message = fuzz::sigsum_fuzz_message();
  if (writing()) {
    std::vector<test::Ed25519TestKey> logs, witnesses;
    for (const auto label : fuzz::kSigsumLogLabels) logs.emplace_back(fuzz::seed_of(label));
    for (const auto label : fuzz::kSigsumWitnessLabels) witnesses.emplace_back(fuzz::seed_of(label));
    const test::Ed25519TestKey outsider(fuzz::seed_of("fuzz sigsum outsider"));
    auto proof = [&](size_t log, uint64_t size, uint64_t index, std::initializer_list<size_t> cosigners) {
      test::SigsumProofBuilder builder(logs[log], submitter, message, size, index);
      for (const size_t w : cosigners) builder.cosign(w < 3 ? witnesses[w] : outsider, 1767225600 + w);
      return builder.text();
    };
    write(kSeeds / "fuzz_sigsum/size1.proof", proof(0, 1, 0, {0, 1, 2}));
    write(kSeeds / "fuzz_sigsum/size10-index7.proof", proof(0, 10, 7, {0, 1}));
    write(kSeeds / "fuzz_sigsum/log2-size33-index32.proof", proof(1, 33, 32, {3, 2, 0}));
    write(kSeeds / "fuzz_sigsum/size2pow62.proof", proof(1, uint64_t{1} << 62, (uint64_t{1} << 62) - 1, {1, 2}));
  }
  const std::vector<fs::path> files = seeds_in("fuzz_sigsum");
  EXPECT_GE(files.size(), 4u);
  for (const fs::path& file : files) {
    const Expected<VerifiedSigsumProof, TlogError> result =
        verify_sigsum_proof(test::read_file(file), message, submitter.public_key(), *policy);
    EXPECT_TRUE(result.ok()) << file << ": " << result.error().message;
  }
}

TEST(FuzzSeeds, RekorSeedsVerifyUnderTheFuzzLog) {
  const test::RekorTestLog log = fuzz_rekor_log();
  ASSERT_EQ(log.spki_base64(), fuzz::rekor_fuzz_log_spki_base64());
  const Expected<RekorLog, TlogError> pinned = make_rekor_log(fuzz::kRekorOrigin, fuzz::rekor_fuzz_log_spki_base64());
  ASSERT_TRUE(pinned.ok()) << pinned.error().message;
  const std::vector<uint8_t> signer_spki = fuzz::rekor_fuzz_signer_spki();
  ASSERT_EQ(signer_spki.size(), 91u);
  if (writing()) {
    const test::P256TestKey signer(fuzz::kRekorSignerPem);
    for (const auto& [index, size] : std::vector<std::pair<uint64_t, uint64_t>>{{5, 9}, {0, 1}, {412114, 412115}}) {
      const test::RekorEntryBuilder entry(log, signer, fuzz::rekor_fuzz_digest(), index, size);
      write(kSeeds / "fuzz_rekor" / ("entry-" + std::to_string(index) + "-of-" + std::to_string(size) + ".json"), entry.text());
    }
  }
  const std::vector<fs::path> files = seeds_in("fuzz_rekor");
  EXPECT_GE(files.size(), 3u);
  for (const fs::path& file : files) {
    const Expected<VerifiedRekorEntry, TlogError> result =
        verify_rekor_entry(test::read_file(file), fuzz::rekor_fuzz_digest(), signer_spki, *pinned);
    EXPECT_TRUE(result.ok()) << file << ": " << result.error().message;
  }
}

TEST(FuzzSeeds, NoteSeedsAreSignedCheckpoints) {
  const test::RekorTestLog log = fuzz_rekor_log();
  if (writing()) {
    const std::string body = compose_checkpoint_body(log.origin(), 412115, test::filler_hash(1));
    const std::string note = log.sign_note(body);
    write(kSeeds / "fuzz_note/checkpoint.note", note);
    write(kSeeds / "fuzz_note/extension-and-witness.note",
          log.sign_note(body + "extension\n") + "\xE2\x80\x94 witness.example " + test::base64_of(std::string(76, 'w')) + "\n");
  }
  const std::vector<fs::path> files = seeds_in("fuzz_note");
  EXPECT_GE(files.size(), 2u);
  for (const fs::path& file : files) {
    const Expected<Note, TlogError> note = read_note(test::read_file(file));
    ASSERT_TRUE(note.ok()) << file << ": " << note.error().message;
    EXPECT_TRUE(verify_note_signature(*note, log.origin(), log.key().public_key())) << file;
    EXPECT_TRUE(read_checkpoint_body(note->body).ok()) << file;
  }
}

}  // namespace
}  // namespace orv::tlog
