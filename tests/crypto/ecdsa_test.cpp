#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <string>

#include "core/hex.h"
#include "crypto/ec_common.h"
#include "crypto/ecdsa.h"
#include "crypto/x509.h"
#include "support/shared_data.h"

namespace orv::crypto {
namespace {

std::vector<uint8_t> unhex(const char* text) { return hex_decode(text).value_or(std::vector<uint8_t>{}); }

// Every published case: valid signatures verify, everything else (invalid and "acceptable"
// encodings alike) is refused, since issued signatures are always exactly r||s.
TEST(P384Wycheproof, JudgesEveryCaseAsPublished) {
  ORV_REQUIRE_SHARED(shared);
  const std::string text = test::read_file(shared / "testdata/wycheproof/ecdsa_secp384r1_sha384_p1363_test.json");
  rapidjson::Document doc;
  ASSERT_FALSE(doc.Parse(text.c_str()).HasParseError());
  size_t cases = 0, valid = 0;
  for (const auto& group : doc["testGroups"].GetArray()) {
    const std::vector<uint8_t> key = unhex(group["publicKeyDer"].GetString());
    ASSERT_TRUE(is_p384_public_key(key));
    for (const auto& test : group["tests"].GetArray()) {
      const bool expected = std::string(test["result"].GetString()) == "valid";
      const bool got = p384_sha384_verify(key, unhex(test["msg"].GetString()), unhex(test["sig"].GetString()));
      EXPECT_EQ(got, expected) << "tcId " << test["tcId"].GetInt() << " " << test["comment"].GetString();
      ++cases;
      valid += expected;
    }
  }
  EXPECT_GT(cases, 200u);
  EXPECT_GT(valid, 10u);
}

TEST(P384Keys, OnlyP384SubjectPublicKeyInfoIsAccepted) {
  // A P-256 key from the same family of vectors, and garbage, are not notary keys.
  ORV_REQUIRE_SHARED(shared);
  const std::string text = test::read_file(shared / "testdata/wycheproof/ecdsa_secp256r1_sha256_p1363_test.json");
  rapidjson::Document doc;
  ASSERT_FALSE(doc.Parse(text.c_str()).HasParseError());
  EXPECT_FALSE(is_p384_public_key(unhex(doc["testGroups"][0]["publicKeyDer"].GetString())));
  EXPECT_FALSE(is_p384_public_key(unhex("3000")));
  EXPECT_FALSE(is_p384_public_key({}));

  const std::string p384 = test::read_file(shared / "testdata/wycheproof/ecdsa_secp384r1_sha384_p1363_test.json");
  ASSERT_FALSE(doc.Parse(p384.c_str()).HasParseError());
  std::vector<uint8_t> key = unhex(doc["testGroups"][0]["publicKeyDer"].GetString());
  key.push_back(0);
  EXPECT_FALSE(is_p384_public_key(key));  // trailing byte after the key
  key.pop_back();
  key.back() ^= 1;
  EXPECT_FALSE(is_p384_public_key(key));  // a point off the curve
  key[23] = 0x05;
  EXPECT_FALSE(is_p384_public_key(key));  // neither compressed nor uncompressed
}

// Keys are read by form: a key of the right length whose point is not marked uncompressed is
// no key, whatever its prefix says.
TEST(EcPoints, OnlyUncompressedPointsAreRead) {
  std::vector<uint8_t> spki(kP384SpkiPrefix.begin(), kP384SpkiPrefix.end());
  spki.push_back(0x04);
  spki.resize(kP384SpkiPrefix.size() + 97, 0x11);
  EXPECT_EQ(uncompressed_point(spki, kP384SpkiPrefix, 48).size(), 97u);
  spki[kP384SpkiPrefix.size()] = 0x02;
  EXPECT_TRUE(uncompressed_point(spki, kP384SpkiPrefix, 48).empty());
}

// One certificate is exactly its DER: a byte after it would let two byte strings stand for it.
TEST(Certificates, TrailingBytesAreRefused) {
  const std::string der = test::read_file(ORV_SOURCE_DIR "/trust/intel-sgx-root-ca.der");
  const std::vector<uint8_t> exact(der.begin(), der.end());
  EXPECT_TRUE(decode_certificate(exact).ok());
  std::vector<uint8_t> longer = exact;
  longer.push_back(0x00);
  EXPECT_FALSE(decode_certificate(longer).ok());
}

}  // namespace
}  // namespace orv::crypto
