#include <gtest/gtest.h>

#include <functional>

#include "core/base64.h"
#include "core/hex.h"
#include "support/notary.h"
#include "support/tlog_fixtures.h"
#include "tlog/note.h"
#include "tlog/rekor.h"

namespace orv::tlog {
namespace {

using test::RekorEntryBuilder;
using test::set_string;

class RekorEntry : public ::testing::Test {
 protected:
  test::RekorTestLog log{"rekor.test.example"};
  RekorLog pinned = log.pinned();
  test::P256TestKey signer;
  Hash digest = test::sha256_of("artifact bytes");

  RekorEntryBuilder entry() const { return RekorEntryBuilder(log, signer, digest); }

  std::string outcome(const std::string& text) const { return outcome(text, digest, signer.spki_der()); }
  std::string outcome(const std::string& text, const Hash& expected_digest, const std::vector<uint8_t>& key) const {
    const Expected<VerifiedRekorEntry, TlogError> result = verify_rekor_entry(text, expected_digest, key, pinned);
    return result ? "ok " + std::to_string(result->log_index)
                  : std::string(result.error().code.text()) + ": " + result.error().message;
  }
  // The body edited by `edit`, then sealed so that everything before the body still verifies.
  template <class Edit>
  std::string with_body(Edit edit) const {
    RekorEntryBuilder builder = entry();
    edit(builder);
    builder.seal();
    return outcome(builder.text());
  }
  template <class Edit>
  std::string with_entry(Edit edit) const {
    RekorEntryBuilder builder = entry();
    edit(builder);
    return outcome(builder.text());
  }
};

std::string parse(const std::string& message) { return "TLOG_PARSE: " + message; }
std::string inclusion(const std::string& message) { return "TLOG_INCLUSION_PROOF_INVALID: " + message; }
std::string leaf(const std::string& message) { return "TLOG_LEAF_INVALID: " + message; }

rapidjson::Value& proof_of(RekorEntryBuilder& b) { return b.entry["inclusionProof"]; }
rapidjson::Value& hashed_of(RekorEntryBuilder& b) { return b.body["spec"]["hashedRekordV002"]; }
rapidjson::Value& verifier_of(RekorEntryBuilder& b) { return hashed_of(b)["signature"]["verifier"]; }

TEST_F(RekorEntry, VerifiesAndReturnsTheLogIndex) {
  EXPECT_EQ(outcome(entry().text()), "ok 5");
  for (const auto& [index, size] :
       std::vector<std::pair<uint64_t, uint64_t>>{{0, 1}, {0, 2}, {1, 2}, {16, 17}, {412114, 412115}}) {
    EXPECT_EQ(outcome(RekorEntryBuilder(log, signer, digest, index, size).text()), "ok " + std::to_string(index));
  }
}

TEST_F(RekorEntry, PinnedLogIdentity) {
  EXPECT_EQ(pinned.log_id, note_key_id("rekor.test.example", log.key().public_key()));
  EXPECT_EQ(pinned.key, log.key().public_key());
  const std::string not_spki = "TLOG_PARSE: log key is not an Ed25519 SPKI";
  auto made = [](std::string_view origin, std::string_view spki) {
    const Expected<RekorLog, TlogError> result = make_rekor_log(origin, spki);
    return result ? std::string("ok") : std::string(result.error().code.text()) + ": " + result.error().message;
  };
  const std::string spki = log.spki_base64();
  EXPECT_EQ(made("rekor.test.example", spki), "ok");
  EXPECT_EQ(made("rekor.test.example", test::base64_of(signer.spki_der())), not_spki);
  EXPECT_EQ(made("rekor.test.example", spki.substr(4)), not_spki);
  EXPECT_EQ(made("rekor.test.example", "MCowBQYDK2VwAyEAAgAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="), not_spki);  // y = 2
  EXPECT_EQ(made("rekor test", spki), "TLOG_PARSE: log origin is not a valid note key name");
  EXPECT_EQ(made("", spki), "TLOG_PARSE: log origin is not a valid note key name");
  // Text that is not base64 is no key either, and the origin is still judged first.
  EXPECT_EQ(made("rekor.test.example", spki + "="), not_spki);
  EXPECT_EQ(made("rekor test", "not base64"), "TLOG_PARSE: log origin is not a valid note key name");

  const std::string file = "origin: rekor.test.example\nbase_url: https://x\nkey_spki_base64: " + spki + "\n";
  const Expected<RekorLog, TlogError> read = read_rekor_log_file(file + "log_id_hex: " + hex_encode(pinned.log_id) + "\n");
  ASSERT_TRUE(read.ok()) << read.error().message;
  EXPECT_EQ(read->log_id, pinned.log_id);
  EXPECT_FALSE(read_rekor_log_file(file + "log_id_hex: " + std::string(64, '0') + "\n").ok());
  EXPECT_FALSE(read_rekor_log_file(file + "key_ed25519_raw_hex: " + std::string(64, '0') + "\n").ok());
  EXPECT_FALSE(read_rekor_log_file("origin: rekor.test.example\n").ok());
}

TEST_F(RekorEntry, TopLevelMembersAndKind) {
  EXPECT_EQ(outcome("{"), parse("tlog entry is not JSON"));
  EXPECT_EQ(outcome("[]"), parse("tlog entry is not hashedrekord 0.0.2"));
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { set_string(b.entry, b.entry, "extra", "x"); }),
            parse("tlog entry has unexpected fields"));
  // A member given twice is refused: readers disagree about which of the two counts.
  std::string text = entry().text();
  text.insert(1, R"("logIndex":"6",)");
  EXPECT_EQ(outcome(text), parse("tlog entry has unexpected fields"));

  // Members that are allowed but not used may hold any value, or be absent.
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) {
              b.entry["integratedTime"].SetObject();
              b.entry["inclusionPromise"].SetArray();
            }),
            "ok 5");
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) {
              b.entry.RemoveMember("integratedTime");
              b.entry.RemoveMember("inclusionPromise");
            }),
            "ok 5");

  const std::string not_kind = parse("tlog entry is not hashedrekord 0.0.2");
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { set_string(b.entry, b.entry["kindVersion"], "kind", "dsse"); }), not_kind);
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { set_string(b.entry, b.entry["kindVersion"], "version", "0.0.1"); }), not_kind);
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { b.entry["kindVersion"].RemoveMember("version"); }), not_kind);
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { b.entry.RemoveMember("kindVersion"); }), not_kind);
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { b.entry["kindVersion"].SetString("hashedrekord"); }), not_kind);
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { set_string(b.entry, b.entry["kindVersion"], "x", ""); }),
            parse("kindVersion has unexpected fields"));
}

TEST_F(RekorEntry, LogIdentifierAndIndex) {
  const std::string not_base64 = parse("logId is missing or not base64");
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { b.entry["logId"].RemoveMember("keyId"); }), not_base64);
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { b.entry.RemoveMember("logId"); }), not_base64);
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { set_string(b.entry, b.entry["logId"], "keyId", "zxGZFVvd!"); }), not_base64);
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { b.entry["logId"]["keyId"].SetInt(1); }), not_base64);
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { set_string(b.entry, b.entry["logId"], "other", ""); }),
            parse("logId has unexpected fields"));

  const std::string unknown = "TLOG_UNKNOWN_LOG: the entry is from a different log";
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) {
              set_string(b.entry, b.entry["logId"], "keyId", test::base64_of(test::filler_hash(1)));
            }),
            unknown);
  const std::string id31 = test::base64_of(std::span(pinned.log_id).first(31));
  EXPECT_EQ(with_entry([&](RekorEntryBuilder& b) { set_string(b.entry, b.entry["logId"], "keyId", id31); }), unknown);
  // A complete, valid entry of another log for the same statement.
  const test::RekorTestLog other_log("rekor.test.example");
  EXPECT_EQ(outcome(RekorEntryBuilder(other_log, signer, digest).text()), unknown);
  const test::RekorTestLog renamed_log("other.test.example");
  EXPECT_EQ(outcome(RekorEntryBuilder(renamed_log, signer, digest).text()), unknown);

  for (const std::string index : {"05", "-5", "+5", "5.0", "", "18446744073709551616"}) {
    EXPECT_EQ(with_entry([&](RekorEntryBuilder& b) { set_string(b.entry, b.entry, "logIndex", index); }),
              parse("logIndex is missing or not a canonical integer"))
        << index;
  }
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { b.entry["logIndex"].SetUint(5); }),
            parse("logIndex is missing or not a canonical integer"));
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { b.entry.RemoveMember("logIndex"); }),
            parse("logIndex is missing or not a canonical integer"));
}

TEST_F(RekorEntry, InclusionProofFields) {
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { b.entry.RemoveMember("inclusionProof"); }),
            inclusion("the entry has no inclusion proof"));
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { b.entry["inclusionProof"].SetNull(); }),
            inclusion("the entry has no inclusion proof"));
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { set_string(b.entry, proof_of(b), "extra", ""); }),
            parse("inclusionProof has unexpected fields"));
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { set_string(b.entry, proof_of(b), "logIndex", "05"); }),
            parse("inclusionProof.logIndex is missing or not a canonical integer"));
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { set_string(b.entry, proof_of(b), "logIndex", "6"); }),
            inclusion("inclusion proof is for another index"));
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { proof_of(b).RemoveMember("treeSize"); }),
            parse("treeSize is missing or not a canonical integer"));
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { set_string(b.entry, proof_of(b), "treeSize", "09"); }),
            parse("treeSize is missing or not a canonical integer"));
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { set_string(b.entry, proof_of(b), "rootHash", "abc"); }),
            parse("rootHash is missing or not base64"));
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) {
              set_string(b.entry, proof_of(b), "rootHash", test::base64_of(std::string(31, 'r')));
            }),
            parse("rootHash is not 32 bytes"));

  const std::string hashes_invalid = inclusion("inclusion hashes missing or too many");
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { proof_of(b).RemoveMember("hashes"); }), hashes_invalid);
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { proof_of(b)["hashes"].SetObject(); }), hashes_invalid);
  auto hashes = [](size_t count) {
    return [count](RekorEntryBuilder& b) {
      rapidjson::Value& array = proof_of(b)["hashes"];
      array.SetArray();
      for (size_t i = 0; i < count; ++i) {
        array.PushBack(rapidjson::Value(test::base64_of(test::filler_hash(i)).c_str(), b.entry.GetAllocator()),
                       b.entry.GetAllocator());
      }
    };
  };
  EXPECT_EQ(with_entry(hashes(64)), inclusion("the inclusion proof does not verify"));
  EXPECT_EQ(with_entry(hashes(65)), hashes_invalid);
  const std::string bad_hash = parse("inclusion hash is not 32 bytes of base64");
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { proof_of(b)["hashes"][1].SetString("AAAA"); }), bad_hash);
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { proof_of(b)["hashes"][1].SetString("not base64"); }), bad_hash);
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { proof_of(b)["hashes"][1].SetInt(0); }), bad_hash);
}

TEST_F(RekorEntry, CheckpointMustBeSignedByThePinnedLogAndMatchTheProof) {
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { proof_of(b).RemoveMember("checkpoint"); }),
            parse("checkpoint envelope missing"));
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { proof_of(b)["checkpoint"].RemoveMember("envelope"); }),
            parse("checkpoint envelope missing"));
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { proof_of(b)["checkpoint"]["envelope"].SetNull(); }),
            parse("checkpoint envelope missing"));
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { set_string(b.entry, proof_of(b)["checkpoint"], "x", ""); }),
            parse("checkpoint has unexpected fields"));

  // Each case rewrites the envelope of one entry from its own signed note: `envelope` is that
  // note, `body` its checkpoint body and `root` the body's root line.
  auto with_envelope = [&](auto make_note) {
    return with_entry([&](RekorEntryBuilder& b) {
      const std::string envelope = proof_of(b)["checkpoint"]["envelope"].GetString();
      const std::string body = envelope.substr(0, envelope.find("\n\n") + 1);
      const std::string root = body.substr(body.rfind('\n', body.size() - 2) + 1);
      set_string(b.entry, proof_of(b)["checkpoint"], "envelope", make_note(envelope, body, root));
    });
  };
  using S = const std::string&;
  // Note errors come through as they are.
  EXPECT_EQ(with_envelope([](S, S body, S) { return body + "\n\xE2\x80\x94 rekor.test.example AAAA\n"; }),
            parse("signature too short"));
  EXPECT_EQ(with_envelope([](S, S body, S) { return body; }), parse("note has no signature block"));
  EXPECT_EQ(with_envelope([](S envelope, S, S) { return envelope; }), "ok 5");

  const std::string not_signed = "TLOG_LOG_SIGNATURE_INVALID: the checkpoint is not signed by the pinned log";
  // The pinned key, but under another origin name.
  EXPECT_EQ(with_envelope([&](S, S body, S) { return log.sign_note(body, "other.test.example"); }), not_signed);
  // The pinned origin name, another key.
  const test::RekorTestLog impostor("rekor.test.example");
  EXPECT_EQ(with_envelope([&](S, S body, S) { return impostor.sign_note(body); }), not_signed);
  // A witness-style line (76-byte blob) under the pinned name is no log signature; a witness
  // line of another name beside the log's own is ignored.
  const std::string witness_blob = test::base64_of(std::string(76, 'w'));
  EXPECT_EQ(with_envelope([&](S, S body, S) { return body + "\n\xE2\x80\x94 rekor.test.example " + witness_blob + "\n"; }),
            not_signed);
  EXPECT_EQ(with_envelope([&](S envelope, S, S) { return envelope + "\xE2\x80\x94 witness.example " + witness_blob + "\n"; }),
            "ok 5");

  // Signed, but for another tree, under another origin line, or not a checkpoint at all.
  const std::string mismatch = inclusion("the checkpoint does not match the inclusion proof");
  EXPECT_EQ(with_envelope([&](S, S, S root) { return log.sign_note("rekor.test.example\n10\n" + root); }), mismatch);
  EXPECT_EQ(with_envelope([&](S, S, S root) { return log.sign_note("other.test.example\n9\n" + root); }), mismatch);
  EXPECT_EQ(with_envelope(
                [&](S, S, S) { return log.sign_note("rekor.test.example\n9\n" + test::base64_of(test::filler_hash(7)) + "\n"); }),
            mismatch);
  EXPECT_EQ(with_envelope([&](S, S body, S) { return log.sign_note(body + "extension\n"); }), "ok 5");
  EXPECT_EQ(with_envelope([&](S, S, S root) { return log.sign_note("rekor.test.example\n09\n" + root); }),
            parse("checkpoint size is not a canonical decimal"));
}

TEST_F(RekorEntry, BodyMustBeIncludedAtTheIndex) {
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { b.entry.RemoveMember("canonicalizedBody"); }),
            parse("canonicalizedBody is missing or not base64"));
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { set_string(b.entry, b.entry, "canonicalizedBody", "e30"); }),
            parse("canonicalizedBody is missing or not base64"));
  const std::string does_not_verify = inclusion("the inclusion proof does not verify");
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) { set_string(b.entry, b.entry, "canonicalizedBody", "e30="); }), does_not_verify);
  // The same proof moved to another index, both index members agreeing.
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) {
              set_string(b.entry, b.entry, "logIndex", "4");
              set_string(b.entry, proof_of(b), "logIndex", "4");
            }),
            does_not_verify);
  EXPECT_EQ(with_entry([](RekorEntryBuilder& b) {
              set_string(b.entry, b.entry, "logIndex", "9");
              set_string(b.entry, proof_of(b), "logIndex", "9");
            }),
            does_not_verify);
}

TEST_F(RekorEntry, BodySizeLimitAfterInclusion) {
  const std::string json = test::to_json(entry().body);
  RekorEntryBuilder at_limit = entry();
  at_limit.seal_bytes(json + std::string(kMaxRekorBodyBytes - json.size(), ' '));
  EXPECT_EQ(outcome(at_limit.text()), "ok 5");
  RekorEntryBuilder over = entry();
  over.seal_bytes(json + std::string(kMaxRekorBodyBytes - json.size() + 1, ' '));
  EXPECT_EQ(outcome(over.text()), parse("entry body too large"));
  RekorEntryBuilder not_json = entry();
  not_json.seal_bytes(json.substr(1));
  EXPECT_EQ(outcome(not_json.text()), parse("entry body is not JSON"));
}

TEST_F(RekorEntry, BodyShape) {
  const std::vector<std::pair<std::function<rapidjson::Value&(RekorEntryBuilder&)>, std::string>> objects = {
      {[](RekorEntryBuilder& b) -> rapidjson::Value& { return b.body; }, "entry body"},
      {[](RekorEntryBuilder& b) -> rapidjson::Value& { return b.body["spec"]; }, "spec"},
      {[](RekorEntryBuilder& b) -> rapidjson::Value& { return hashed_of(b); }, "hashedRekordV002"},
      {[](RekorEntryBuilder& b) -> rapidjson::Value& { return hashed_of(b)["data"]; }, "data"},
      {[](RekorEntryBuilder& b) -> rapidjson::Value& { return hashed_of(b)["signature"]; }, "signature"},
      {[](RekorEntryBuilder& b) -> rapidjson::Value& { return verifier_of(b); }, "verifier"},
      {[](RekorEntryBuilder& b) -> rapidjson::Value& { return verifier_of(b)["publicKey"]; }, "publicKey"}};
  for (const auto& [object, label] : objects) {
    EXPECT_EQ(with_body([&](RekorEntryBuilder& b) { set_string(b.body, object(b), "extra", ""); }),
              parse(label + " has unexpected fields"));
  }
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) {
              verifier_of(b).RemoveMember("publicKey");
              verifier_of(b).AddMember("x509Certificate", rapidjson::Value(rapidjson::kObjectType), b.body.GetAllocator());
              set_string(b.body, verifier_of(b)["x509Certificate"], "rawBytes", "AAAA");
              set_string(b.body, verifier_of(b)["x509Certificate"], "der", "AAAA");
            }),
            parse("x509Certificate has unexpected fields"));

  const std::string not_kind = parse("entry is not hashedrekord 0.0.2");
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) { set_string(b.body, b.body, "apiVersion", "0.0.1"); }), not_kind);
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) { set_string(b.body, b.body, "kind", "dsse"); }), not_kind);
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) { b.body.RemoveMember("spec"); }), not_kind);
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) { b.body["spec"].RemoveMember("hashedRekordV002"); }), not_kind);

  const std::string one_verifier = parse("entry must name exactly one verifier");
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) { verifier_of(b).RemoveMember("publicKey"); }), one_verifier);
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) { hashed_of(b)["signature"].RemoveMember("verifier"); }), one_verifier);
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) {
              verifier_of(b).AddMember("x509Certificate", rapidjson::Value(rapidjson::kObjectType), b.body.GetAllocator());
            }),
            one_verifier);

  EXPECT_EQ(with_body([](RekorEntryBuilder& b) { verifier_of(b)["publicKey"].RemoveMember("rawBytes"); }),
            parse("publicKey is missing or not base64"));
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) {
              verifier_of(b).RemoveMember("publicKey");
              verifier_of(b).AddMember("x509Certificate", rapidjson::Value(rapidjson::kObjectType), b.body.GetAllocator());
              set_string(b.body, verifier_of(b)["x509Certificate"], "rawBytes", "MII");
            }),
            parse("certificate is missing or not base64"));
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) { set_string(b.body, hashed_of(b)["data"], "digest", "%%%%"); }),
            parse("data.digest is missing or not base64"));
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) { hashed_of(b).RemoveMember("data"); }),
            parse("data.digest is missing or not base64"));
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) { hashed_of(b)["signature"]["content"].SetBool(true); }),
            parse("signature.content is missing or not base64"));
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) { verifier_of(b).RemoveMember("keyDetails"); }), parse("keyDetails missing"));
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) { hashed_of(b)["data"].RemoveMember("algorithm"); }),
            parse("data.algorithm missing"));
}

TEST_F(RekorEntry, StatementMustBeTheExpectedSignerOverTheExpectedDigest) {
  // Signed with a certificate: refused even when the certificate holds the expected key.
  EXPECT_EQ(with_body([&](RekorEntryBuilder& b) {
              verifier_of(b).RemoveMember("publicKey");
              verifier_of(b).AddMember("x509Certificate", rapidjson::Value(rapidjson::kObjectType), b.body.GetAllocator());
              set_string(b.body, verifier_of(b)["x509Certificate"], "rawBytes", test::base64_of(signer.spki_der()));
            }),
            leaf("the entry is signed by a certificate, not the pinned key"));

  const test::P256TestKey other;
  EXPECT_EQ(outcome(entry().text(), digest, other.spki_der()), leaf("the entry is signed by a different key"));
  EXPECT_EQ(outcome(RekorEntryBuilder(log, other, digest).text()), leaf("the entry is signed by a different key"));
  std::vector<uint8_t> longer = signer.spki_der();
  longer.push_back(0);
  EXPECT_EQ(outcome(entry().text(), digest, longer), leaf("the entry is signed by a different key"));

  EXPECT_EQ(outcome(entry().text(), test::sha256_of("other artifact"), signer.spki_der()),
            leaf("the entry is for a different artifact"));
  EXPECT_EQ(with_body([&](RekorEntryBuilder& b) {
              set_string(b.body, hashed_of(b)["data"], "digest", test::base64_of(std::span(digest).first(31)));
            }),
            leaf("the entry is for a different artifact"));

  const std::string unsupported = leaf("unsupported entry key/digest combination");
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) { set_string(b.body, verifier_of(b), "keyDetails", "PKIX_ED25519"); }),
            unsupported);
  EXPECT_EQ(with_body([](RekorEntryBuilder& b) { set_string(b.body, hashed_of(b)["data"], "algorithm", "SHA2_384"); }),
            unsupported);

  // An expected key that is no P-256 key at all, which the entry names byte for byte.
  const std::vector<uint8_t> ed25519_spki = *base64_decode(log.spki_base64());
  EXPECT_EQ(with_body([&](RekorEntryBuilder& b) {
              set_string(b.body, verifier_of(b)["publicKey"], "rawBytes", test::base64_of(ed25519_spki));
              b.seal();
              const Expected<VerifiedRekorEntry, TlogError> result = verify_rekor_entry(b.text(), digest, ed25519_spki, pinned);
              EXPECT_EQ(std::string(result.error().code.text()) + ": " + result.error().message,
                        parse("pinned key is not P-256"));
            }),
            leaf("the entry is signed by a different key"));

  const std::string bad_signature = leaf("the entry signature does not verify");
  EXPECT_EQ(with_body([&](RekorEntryBuilder& b) {
              set_string(b.body, hashed_of(b)["signature"], "content",
                         test::base64_of(signer.sign_digest(test::sha256_of("other"))));
            }),
            bad_signature);
  EXPECT_EQ(with_body([&](RekorEntryBuilder& b) {
              std::vector<uint8_t> der = signer.sign_digest(digest);
              der.push_back(0);
              set_string(b.body, hashed_of(b)["signature"], "content", test::base64_of(der));
            }),
            bad_signature);
  EXPECT_EQ(with_body([&](RekorEntryBuilder& b) { set_string(b.body, hashed_of(b)["signature"], "content", ""); }),
            bad_signature);
}

}  // namespace
}  // namespace orv::tlog
