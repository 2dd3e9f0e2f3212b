#include <gtest/gtest.h>

#include <string>

#include "core/base64.h"
#include "core/hex.h"

namespace orv {
namespace {

std::string decoded_hex(std::string_view text) {
  const auto bytes = base64_decode(text);
  return bytes ? hex_encode(*bytes) : "refused";
}

TEST(Base64, DecodesCanonicalText) {
  EXPECT_EQ(decoded_hex(""), "");
  EXPECT_EQ(decoded_hex("Zg=="), "66");
  EXPECT_EQ(decoded_hex("Zm8="), "666f");
  EXPECT_EQ(decoded_hex("Zm9v"), "666f6f");
  EXPECT_EQ(decoded_hex("+/+/"), "fbffbf");
}

TEST(Base64, RefusesEveryNonCanonicalForm) {
  for (std::string_view text :
       {"Zg", "Zg=", "Zh==", "Zm9=", "Z===", "====", "Zg==Zg==", "Zm 9v", "Zm9v\n", "Zm-v", "Zm_v", "=Zm9"}) {
    EXPECT_EQ(decoded_hex(text), "refused") << text;
  }
}

}  // namespace
}  // namespace orv

namespace orv {
namespace {

TEST(Base64Encode, WritesTheOneTextTheDecoderAccepts) {
  EXPECT_EQ(base64_encode(std::vector<uint8_t>{'f', 'o', 'o', 'b'}), "Zm9vYg==");
  for (size_t length = 0; length < 7; ++length) {
    const std::vector<uint8_t> bytes(length, 0xFB);
    EXPECT_EQ(base64_decode(base64_encode(bytes)), bytes) << length;
  }
}

}  // namespace
}  // namespace orv
