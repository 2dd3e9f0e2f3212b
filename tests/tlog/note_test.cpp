#include <gtest/gtest.h>

#include <string>

#include "core/hex.h"
#include "support/shared_data.h"
#include "support/tlog_fixtures.h"
#include "tlog/note.h"
#include "tlog/rekor.h"

namespace orv::tlog {
namespace {

const std::string kDash = "\xE2\x80\x94";

std::string parse_message(std::string_view text) {
  const Expected<Note, TlogError> note = read_note(text);
  if (note) return "ok";
  EXPECT_EQ(note.error().code, "TLOG_PARSE");
  return note.error().message;
}

std::string body_message(std::string_view body) {
  const Expected<Checkpoint, TlogError> checkpoint = read_checkpoint_body(body);
  if (checkpoint) return "ok";
  EXPECT_EQ(checkpoint.error().code, "TLOG_PARSE");
  return checkpoint.error().message;
}

std::string sig_line(std::string_view name, std::string_view base64) {
  return kDash + " " + std::string(name) + " " + std::string(base64) + "\n";
}

TEST(ReadNote, SplitsBodyAndSignatureLines) {
  const std::string blob = test::base64_of(std::string("\x01\x02\x03\x04sig", 7));
  const Expected<Note, TlogError> note = read_note("origin\n5\nroot\nextra\n\n" + sig_line("a.example/log", blob) +
                                                   sig_line("w", test::base64_of(std::string("abcd"))));
  ASSERT_TRUE(note.ok()) << note.error().message;
  EXPECT_EQ(note->body, "origin\n5\nroot\nextra\n");
  ASSERT_EQ(note->signatures.size(), 2u);
  EXPECT_EQ(note->signatures[0].name, "a.example/log");
  EXPECT_EQ(note->signatures[0].key_hash, (std::array<uint8_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(std::string(note->signatures[0].signature.begin(), note->signatures[0].signature.end()), "sig");
  EXPECT_TRUE(note->signatures[1].signature.empty());  // a 4-byte blob is read, key hash only
}

TEST(ReadNote, RefusesEachMalformation) {
  const std::string good = sig_line("log", "AAAAAAAA");
  EXPECT_EQ(parse_message("a\n\n" + good), "ok");
  // Carriage returns, whatever the size, and a text over the limit.
  EXPECT_EQ(parse_message("a\r\n\r\n" + good), "note is too large or contains CR");
  EXPECT_EQ(parse_message("a\n\n" + sig_line("log", "AAAAAAAA\r")), "note is too large or contains CR");
  EXPECT_EQ(parse_message("a\nb\n" + good), "note has no signature block");
  EXPECT_EQ(parse_message(""), "note has no signature block");
  EXPECT_EQ(parse_message("a\n\n"), "note body or signatures malformed");
  EXPECT_EQ(parse_message("a\n\nx"), "note body or signatures malformed");
  EXPECT_EQ(parse_message("a\n\n" + good.substr(0, good.size() - 1)), "note body or signatures malformed");
  EXPECT_EQ(parse_message("a\n\n- log AAAAAAAA\n"), "signature line does not start with an em dash");
  EXPECT_EQ(parse_message("a\n\n" + kDash + "log AAAAAAAA\n"), "signature line does not start with an em dash");
  // A blank line inside the signature block is a line without the dash.
  EXPECT_EQ(parse_message("a\n\n" + good + "\n" + good), "signature line does not start with an em dash");
  EXPECT_EQ(parse_message("a\n\n\n" + good), "signature line does not start with an em dash");
  EXPECT_EQ(parse_message("a\n\n" + kDash + " logAAAAAAAA\n"), "signature line has no key");
  EXPECT_EQ(parse_message("a\n\n" + sig_line("lo+g", "AAAAAAAA")), "signature name is invalid");
  EXPECT_EQ(parse_message("a\n\n" + sig_line("", "AAAAAAAA")), "signature name is invalid");
  EXPECT_EQ(parse_message("a\n\n" + sig_line("l\xC3\xA9g", "AAAAAAAA")), "signature name is invalid");
  EXPECT_EQ(parse_message("a\n\n" + sig_line("l\tg", "AAAAAAAA")), "signature name is invalid");
  EXPECT_EQ(parse_message("a\n\n" + sig_line("log", "AAAA AAAA")), "signature is not base64");
  EXPECT_EQ(parse_message("a\n\n" + sig_line("log", "AAAAAA")), "signature is not base64");
  EXPECT_EQ(parse_message("a\n\n" + sig_line("log", "AAAAAB==")), "signature is not base64");  // stray bits
  EXPECT_EQ(parse_message("a\n\n" + sig_line("log", "")), "signature too short");              // empty base64, empty blob
  EXPECT_EQ(parse_message("a\n\n" + sig_line("log", "AAAA")), "signature too short");          // 3 bytes
  EXPECT_EQ(parse_message("a\n\n" + sig_line("log", "AAAAAA==")), "ok");                       // 4 bytes
}

TEST(ReadNote, SizeAndSignatureCountLimits) {
  std::string lines;
  for (int i = 0; i < 100; ++i) lines += sig_line("w" + std::to_string(i), "AAAAAAAA");
  EXPECT_EQ(parse_message("a\n\n" + lines), "ok");
  EXPECT_EQ(parse_message("a\n\n" + lines + sig_line("w100", "AAAAAAAA")), "too many note signatures");
  // A malformed 101st line reports what is wrong with it, not the count.
  EXPECT_EQ(parse_message("a\n\n" + lines + sig_line("w+", "AAAAAAAA")), "signature name is invalid");

  const std::string tail = "\n\n" + sig_line("log", "AAAAAAAA");
  const std::string at_limit = std::string(kMaxNoteBytes - tail.size(), 'x') + tail;
  ASSERT_EQ(at_limit.size(), kMaxNoteBytes);
  EXPECT_EQ(parse_message(at_limit), "ok");
  EXPECT_EQ(parse_message("x" + at_limit), "note is too large or contains CR");
}

TEST(CheckpointBody, ReadsOriginSizeRootAndIgnoresExtensions) {
  const Hash root = test::filler_hash(1);
  const std::string body = compose_checkpoint_body("example.org/log", 42, root);
  EXPECT_EQ(body, "example.org/log\n42\n" + test::base64_of(root) + "\n");
  for (const std::string& text : {body, body + "extension line\n", body + "\n", body.substr(0, body.size() - 1)}) {
    const Expected<Checkpoint, TlogError> checkpoint = read_checkpoint_body(text);
    ASSERT_TRUE(checkpoint.ok()) << checkpoint.error().message;
    EXPECT_EQ(checkpoint->origin, "example.org/log");
    EXPECT_EQ(checkpoint->size, 42u);
    EXPECT_EQ(checkpoint->root, root);
  }
}

TEST(CheckpointBody, RefusesEachMalformation) {
  const std::string root = test::base64_of(test::filler_hash(1));
  EXPECT_EQ(body_message("o\n1\n"), "checkpoint has fewer than three lines");
  EXPECT_EQ(body_message("o\n1\n\n"), "checkpoint root is not a 32-byte base64 hash");
  EXPECT_EQ(body_message(""), "checkpoint has fewer than three lines");
  EXPECT_EQ(body_message("\n1\n" + root + "\n"), "checkpoint origin is invalid");
  EXPECT_EQ(body_message(" o\n1\n" + root + "\n"), "checkpoint origin is invalid");
  EXPECT_EQ(body_message("o\t\n1\n" + root + "\n"), "checkpoint origin is invalid");
  EXPECT_EQ(body_message("o\xC2\xA0\n1\n" + root + "\n"), "checkpoint origin is invalid");  // no-break space
  EXPECT_EQ(body_message("o p\n1\n" + root + "\n"), "ok");
  for (const std::string size : {"007", "+7", "-1", "", " 7", "7 ", "1e3", "0x10", "18446744073709551616"}) {
    EXPECT_EQ(body_message("o\n" + size + "\n" + root + "\n"), "checkpoint size is not a canonical decimal") << size;
  }
  for (const std::string size : {"0", "7", "18446744073709551615"}) {
    EXPECT_EQ(body_message("o\n" + size + "\n" + root + "\n"), "ok") << size;
  }
  const std::string short_root = test::base64_of(std::string(31, 'r'));
  const std::string long_root = test::base64_of(std::string(33, 'r'));
  for (const std::string& bad : {short_root, long_root, root.substr(0, 43), std::string("not base64")}) {
    EXPECT_EQ(body_message("o\n1\n" + bad + "\n"), "checkpoint root is not a 32-byte base64 hash") << bad;
  }
}

TEST(NoteKeys, KeyIdentifierOfThePinnedRekorLog) {
  // The published log id of log2025-1: SHA-256 of origin, 0x0A, 0x01 and the Ed25519 key.
  const auto key = hex_decode("b7cae5a759271b08df6dc5c060f600927d1788bcf5c7c3b8b7462412189edb8e");
  ASSERT_TRUE(key);
  crypto::Ed25519Key raw{};
  std::copy(key->begin(), key->end(), raw.begin());
  EXPECT_EQ(hex_encode(note_key_id("log2025-1.rekor.sigstore.dev", raw)),
            "cf1199155bddd051268d1f16ac5c0c75c009f6fb5a63f4177f8e18d7051e3fa0");
}

TEST(NoteKeys, CosignatureMessage) {
  EXPECT_EQ(cosignature_message(1700000000, "o\n1\nroot\n"), "cosignature/v1\ntime 1700000000\no\n1\nroot\n");
  EXPECT_EQ(cosignature_message(0, "b\n"), "cosignature/v1\ntime 0\nb\n");
}

class NoteSignatureTest : public ::testing::Test {
 protected:
  test::Ed25519TestKey key;
  test::Ed25519TestKey other;
  const std::string body = compose_checkpoint_body("log.example", 9, test::filler_hash(3));

  std::string line(std::string_view name, const test::Ed25519TestKey& signer, std::string_view id_name,
                   std::string_view signed_body, size_t blob_size = 68) const {
    const Hash id = note_key_id(id_name, signer.public_key());
    std::string blob(id.begin(), id.begin() + 4);
    const auto signature = signer.sign(signed_body);
    blob.append(signature.begin(), signature.end());
    blob.resize(blob_size, '\0');
    return sig_line(name, test::base64_of(blob));
  }
  bool verifies(const std::string& lines) const {
    const Expected<Note, TlogError> note = read_note(body + "\n" + lines);
    EXPECT_TRUE(note.ok()) << note.error().message;
    return note && verify_note_signature(*note, "log.example", key.public_key());
  }
};

TEST_F(NoteSignatureTest, OnlyALineOfThisNameKeyHashAndSignatureCounts) {
  EXPECT_TRUE(verifies(line("log.example", key, "log.example", body)));
  // Lines of other signers are ignored wherever they stand.
  EXPECT_TRUE(
      verifies(line("w", other, "w", body) + line("log.example", key, "log.example", body) + line("x", other, "x", body)));
  // A failing line of this name does not hide a valid one after it.
  EXPECT_TRUE(verifies(line("log.example", key, "log.example", "other body\n") + line("log.example", key, "log.example", body)));

  EXPECT_FALSE(verifies(line("log.example", key, "log.example", "other body\n")));
  EXPECT_FALSE(verifies(line("other.example", key, "other.example", body)));  // another name
  EXPECT_FALSE(verifies(line("other.example", key, "log.example", body)));    // another name, this key hash
  EXPECT_FALSE(verifies(line("log.example", key, "other.example", body)));    // key hash of another name
  EXPECT_FALSE(verifies(line("log.example", other, "log.example", body)));    // another key
  EXPECT_FALSE(verifies(line("log.example", key, "log.example", body, 67)));
  EXPECT_FALSE(verifies(line("log.example", key, "log.example", body, 69)));
  EXPECT_FALSE(verifies(line("log.example", key, "log.example", body, 4)));
  // C2SP cosignatures of witnesses carry 76-byte blobs; they are never the log's signature.
  EXPECT_FALSE(verifies(line("log.example", key, "log.example", body, 76)));
}

// Real checkpoints of the pinned Rekor log: signed under its origin with key hash cf119915.
TEST(RealCheckpoints, VerifyUnderThePinnedRekorLog) {
  ORV_REQUIRE_SHARED(shared);
  const Expected<RekorLog, TlogError> log = read_rekor_log_file(test::read_file(shared / "trust/rekor-log.txt"));
  ASSERT_TRUE(log.ok()) << log.error().message;
  EXPECT_EQ(log->origin, "log2025-1.rekor.sigstore.dev");
  const std::vector<std::pair<std::string, uint64_t>> cases = {{"rekor-checkpoint-412115.note", 412115},
                                                               {"rekor-checkpoint-34356369.note", 34356369},
                                                               {"rekor-checkpoint-139911860-witnessed.note", 139911860}};
  for (const auto& [file, size] : cases) {
    SCOPED_TRACE(file);
    const std::string text = test::read_file(shared / "trust/testvectors" / file);
    const Expected<Note, TlogError> note = read_note(text);
    ASSERT_TRUE(note.ok()) << note.error().message;
    EXPECT_TRUE(verify_note_signature(*note, log->origin, log->key));
    EXPECT_FALSE(verify_note_signature(*note, "log2025-2.rekor.sigstore.dev", log->key));
    const Expected<Checkpoint, TlogError> checkpoint = read_checkpoint_body(note->body);
    ASSERT_TRUE(checkpoint.ok()) << checkpoint.error().message;
    EXPECT_EQ(checkpoint->origin, log->origin);
    EXPECT_EQ(checkpoint->size, size);

    std::string tampered = text;
    tampered[tampered.find('\n') + 1] ^= 1;  // the first digit of the size
    const Expected<Note, TlogError> changed = read_note(tampered);
    ASSERT_TRUE(changed.ok());
    EXPECT_FALSE(verify_note_signature(*changed, log->origin, log->key));
  }
}

}  // namespace
}  // namespace orv::tlog
