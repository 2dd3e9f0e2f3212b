// The two signature checks the logs need: Ed25519 (notes, Sigsum) and P-256 ECDSA over a
// digest (Rekor statements), each against the published Wycheproof cases.
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include "core/hex.h"
#include "crypto/digest.h"
#include "crypto/ed25519.h"
#include "crypto/p256_prehashed.h"
#include "support/shared_data.h"
#include "support/tlog_fixtures.h"

namespace orv::crypto {
namespace {

std::vector<uint8_t> unhex(const char* text) { return hex_decode(text).value_or(std::vector<uint8_t>{}); }

rapidjson::Document load(const std::filesystem::path& path, std::string& storage) {
  storage = test::read_file(path);
  rapidjson::Document doc;
  doc.Parse(storage.c_str());
  EXPECT_FALSE(doc.HasParseError());
  return doc;
}

TEST(Ed25519Wycheproof, JudgesEveryCaseAsPublished) {
  ORV_REQUIRE_SHARED(shared);
  std::string text;
  const rapidjson::Document doc = load(shared / "testdata/wycheproof/ed25519_test.json", text);
  size_t cases = 0;
  for (const auto& group : doc["testGroups"].GetArray()) {
    const std::vector<uint8_t> key = unhex(group["publicKey"]["pk"].GetString());
    EXPECT_TRUE(is_ed25519_public_key(key));
    for (const auto& test : group["tests"].GetArray()) {
      const bool expected = std::string(test["result"].GetString()) == "valid";
      EXPECT_EQ(ed25519_verify(key, unhex(test["msg"].GetString()), unhex(test["sig"].GetString())), expected)
          << "tcId " << test["tcId"].GetInt() << " " << test["comment"].GetString();
      ++cases;
    }
  }
  EXPECT_GT(cases, 100u);
}

TEST(Ed25519Keys, OnlyCanonicalCurvePointsAreKeys) {
  auto key_with_y = [](uint8_t low, uint8_t top) {
    std::vector<uint8_t> key(32, 0);
    key[0] = low;
    key[31] = top;
    return key;
  };
  EXPECT_TRUE(is_ed25519_public_key(key_with_y(1, 0)));      // the neutral point, x = 0
  EXPECT_FALSE(is_ed25519_public_key(key_with_y(1, 0x80)));  // x = 0 cannot be negative
  EXPECT_TRUE(is_ed25519_public_key(key_with_y(3, 0)));
  EXPECT_TRUE(is_ed25519_public_key(key_with_y(3, 0x80)));
  EXPECT_FALSE(is_ed25519_public_key(key_with_y(2, 0)));  // y = 2 has no x on the curve
  // y = p and y = p + 1 are non-canonical spellings of 0 and 1.
  std::vector<uint8_t> p = unhex("edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f");
  EXPECT_FALSE(is_ed25519_public_key(p));
  p[0] = 0xee;
  EXPECT_FALSE(is_ed25519_public_key(p));
  EXPECT_FALSE(is_ed25519_public_key(std::vector<uint8_t>(31, 0)));
  EXPECT_FALSE(is_ed25519_public_key(std::vector<uint8_t>(33, 0)));

  test::Ed25519TestKey key;
  EXPECT_TRUE(is_ed25519_public_key(key.public_key()));
  const auto signature = key.sign("message");
  EXPECT_TRUE(ed25519_verify(key.public_key(), as_bytes("message"), signature));
  EXPECT_FALSE(ed25519_verify(key.public_key(), as_bytes("messagE"), signature));
  std::vector<uint8_t> longer(signature.begin(), signature.end());
  longer.push_back(0);
  EXPECT_FALSE(ed25519_verify(key.public_key(), as_bytes("message"), longer));
  EXPECT_FALSE(ed25519_verify(key.public_key(), as_bytes("message"), std::span(signature).first(63)));
}

// Wycheproof signs the message; the statement check is handed its SHA-256 digest instead.
TEST(P256Wycheproof, JudgesEveryDerCaseAsPublished) {
  ORV_REQUIRE_SHARED(shared);
  std::string text;
  const rapidjson::Document doc = load(shared / "testdata/wycheproof/ecdsa_secp256r1_sha256_test.json", text);
  size_t cases = 0;
  for (const auto& group : doc["testGroups"].GetArray()) {
    const std::vector<uint8_t> key = unhex(group["publicKeyDer"].GetString());
    ASSERT_TRUE(is_p256_spki_key(key));
    for (const auto& test : group["tests"].GetArray()) {
      const bool expected = std::string(test["result"].GetString()) == "valid";
      const auto digest = sha256(unhex(test["msg"].GetString()));
      EXPECT_EQ(p256_verify_der_over_digest(key, digest, unhex(test["sig"].GetString())), expected)
          << "tcId " << test["tcId"].GetInt() << " " << test["comment"].GetString();
      ++cases;
    }
  }
  EXPECT_GT(cases, 400u);
}

TEST(P256Keys, OnlyTheUncompressedNamedCurveSpkiIsAKey) {
  test::P256TestKey key;
  const std::vector<uint8_t> spki = key.spki_der();
  ASSERT_EQ(spki.size(), 91u);
  EXPECT_TRUE(is_p256_spki_key(spki));
  std::vector<uint8_t> trailing = spki;
  trailing.push_back(0);
  EXPECT_FALSE(is_p256_spki_key(trailing));
  EXPECT_FALSE(is_p256_spki_key(std::span(spki).first(90)));
  std::vector<uint8_t> off_curve = spki;
  off_curve.back() ^= 1;
  EXPECT_FALSE(is_p256_spki_key(off_curve));
  // An Ed25519 SPKI is not a P-256 key.
  EXPECT_FALSE(
      is_p256_spki_key(unhex("302a300506032b6570032100b7cae5a759271b08df6dc5c060f600927d1788bcf5c7c3b8b7462412189edb8e")));

  const auto digest = test::sha256_of("artifact");
  const std::vector<uint8_t> signature = key.sign_digest(digest);
  EXPECT_TRUE(p256_verify_der_over_digest(spki, digest, signature));
  EXPECT_FALSE(p256_verify_der_over_digest(spki, test::sha256_of("other"), signature));
  EXPECT_FALSE(p256_verify_der_over_digest(spki, std::span(digest).first(31), signature));
  std::vector<uint8_t> padded = signature;
  padded.push_back(0);
  EXPECT_FALSE(p256_verify_der_over_digest(spki, digest, padded));
  EXPECT_FALSE(p256_verify_der_over_digest(spki, digest, {}));
}

}  // namespace
}  // namespace orv::crypto
