// ECDSA P-256 verification against every published Wycheproof case, in both signature forms,
// with keys from a SubjectPublicKeyInfo and from the raw point a quote carries.
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <string>
#include <vector>

#include "core/hex.h"
#include "crypto/ecdsa_p256.h"
#include "support/shared_data.h"

namespace orv::crypto {
namespace {

std::vector<uint8_t> unhex(const char* text) { return hex_decode(text).value_or(std::vector<uint8_t>{}); }

struct Counts {
  size_t cases = 0;
  size_t valid = 0;
};

// "valid" verifies; "invalid" and "acceptable" alike are refused: a quote's and a collateral
// document's signatures are exactly r||s, and DER is only ever accepted in its one encoding.
Counts judge_file(const std::filesystem::path& path, bool der) {
  const std::string text = test::read_file(path);
  rapidjson::Document doc;
  doc.Parse(text.c_str(), text.size());
  EXPECT_FALSE(doc.HasParseError());
  Counts counts;
  for (const auto& group : doc["testGroups"].GetArray()) {
    const std::optional<P256PublicKey> from_spki = P256PublicKey::from_spki(unhex(group["publicKeyDer"].GetString()));
    EXPECT_TRUE(from_spki.has_value());
    const std::vector<uint8_t> uncompressed = unhex(group["publicKey"]["uncompressed"].GetString());
    const std::optional<P256PublicKey> from_point =
        P256PublicKey::from_point(std::span(uncompressed).subspan(1));  // without the 04 prefix
    EXPECT_TRUE(from_point.has_value());
    if (!from_spki || !from_point) continue;
    for (const auto& test : group["tests"].GetArray()) {
      const bool expected = std::string(test["result"].GetString()) == "valid";
      const std::vector<uint8_t> msg = unhex(test["msg"].GetString());
      const std::vector<uint8_t> sig = unhex(test["sig"].GetString());
      const bool spki = der ? from_spki->verify_der(msg, sig) : from_spki->verify(msg, sig);
      const bool point = der ? from_point->verify_der(msg, sig) : from_point->verify(msg, sig);
      EXPECT_EQ(spki, expected) << path.filename() << " tcId " << test["tcId"].GetInt() << " " << test["comment"].GetString();
      EXPECT_EQ(point, expected) << path.filename() << " tcId " << test["tcId"].GetInt();
      ++counts.cases;
      counts.valid += expected;
    }
  }
  return counts;
}

TEST(P256Wycheproof, RawSignaturesAreJudgedAsPublished) {
  ORV_REQUIRE_SHARED(shared);
  const Counts counts = judge_file(shared / "testdata/wycheproof/ecdsa_secp256r1_sha256_p1363_test.json", false);
  EXPECT_GT(counts.cases, 200u);
  EXPECT_GT(counts.valid, 100u);
}

TEST(P256Wycheproof, DerSignaturesAreJudgedAsPublished) {
  ORV_REQUIRE_SHARED(shared);
  const Counts counts = judge_file(shared / "testdata/wycheproof/ecdsa_secp256r1_sha256_test.json", true);
  EXPECT_GT(counts.cases, 400u);
  EXPECT_GT(counts.valid, 100u);
}

TEST(P256Keys, OnlyPointsOnTheCurveBecomeKeys) {
  ORV_REQUIRE_SHARED(shared);
  const std::string text = test::read_file(shared / "testdata/wycheproof/ecdsa_secp256r1_sha256_p1363_test.json");
  rapidjson::Document doc;
  ASSERT_FALSE(doc.Parse(text.c_str()).HasParseError());
  std::vector<uint8_t> point = unhex(doc["testGroups"][0]["publicKey"]["uncompressed"].GetString());
  point.erase(point.begin());
  ASSERT_TRUE(P256PublicKey::from_point(point).has_value());
  point[63] ^= 0x01;
  EXPECT_FALSE(P256PublicKey::from_point(point).has_value());
  EXPECT_FALSE(P256PublicKey::from_point(std::vector<uint8_t>(64, 0)).has_value());
  EXPECT_FALSE(P256PublicKey::from_point(std::vector<uint8_t>(63, 1)).has_value());

  std::vector<uint8_t> spki = unhex(doc["testGroups"][0]["publicKeyDer"].GetString());
  spki.push_back(0);
  EXPECT_FALSE(P256PublicKey::from_spki(spki).has_value());
  const std::string p384 = test::read_file(shared / "testdata/wycheproof/ecdsa_secp384r1_sha384_p1363_test.json");
  ASSERT_FALSE(doc.Parse(p384.c_str()).HasParseError());
  EXPECT_FALSE(P256PublicKey::from_spki(unhex(doc["testGroups"][0]["publicKeyDer"].GetString())).has_value());
}

}  // namespace
}  // namespace orv::crypto
