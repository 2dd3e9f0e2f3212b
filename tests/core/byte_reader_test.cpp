#include "core/byte_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ByteReader, IntegersInBothOrdersAndFailedReadsLeaveItInPlace) {
  const Bytes bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  ByteReader reader(bytes);
  uint16_t u16 = 0;
  uint32_t u32 = 0;
  ASSERT_TRUE(reader.read_u16le(u16));
  EXPECT_EQ(u16, 0x0201);
  ASSERT_TRUE(reader.read_u32be(u32));
  EXPECT_EQ(u32, 0x03040506u);
  EXPECT_TRUE(reader.empty());

  ByteReader short_reader(std::span<const uint8_t>(bytes).first(3));
  EXPECT_FALSE(short_reader.read_u32le(u32));
  std::span<const uint8_t> part;
  EXPECT_FALSE(short_reader.read_bytes(4, part));
  EXPECT_EQ(short_reader.size(), 3u);
  ASSERT_TRUE(short_reader.read_bytes(3, part));
  EXPECT_EQ(part.size(), 3u);
}

TEST(ByteReader, LengthPrefixedFieldsAreAllOrNothing) {
  const Bytes bytes = {0x02, 0x00, 0xAA, 0xBB, 0x03, 0x00, 0xCC};
  ByteReader reader(bytes);
  std::span<const uint8_t> field;
  ASSERT_TRUE(reader.read_u16le_prefixed(field));
  EXPECT_EQ(Bytes(field.begin(), field.end()), (Bytes{0xAA, 0xBB}));
  EXPECT_FALSE(reader.read_u16le_prefixed(field));  // three bytes announced, one left
  EXPECT_EQ(reader.size(), 3u);
}

TEST(ByteReader, DerLengthsAreDefiniteShortestAndAtMostThreeOctets) {
  const auto reads = [](const Bytes& bytes) {
    ByteReader reader(bytes);
    DerElement element;
    const bool ok = reader.read_der(element);
    EXPECT_EQ(reader.size(), ok ? bytes.size() - element.whole.size() : bytes.size());
    return ok;
  };
  Bytes long_form = {0x04, 0x81, 0x80};
  long_form.resize(3 + 0x80);
  Bytes three_octets = {0x04, 0x83, 0x01, 0x00, 0x00};
  three_octets.resize(5 + 0x10000);
  EXPECT_TRUE(reads({0x05, 0x00}));
  EXPECT_TRUE(reads(long_form));
  EXPECT_TRUE(reads(three_octets));
  EXPECT_FALSE(reads({0x04, 0x81, 0x05, 0, 0, 0, 0, 0}));           // short form was required
  EXPECT_FALSE(reads({0x04, 0x82, 0x00, 0x80}));                    // leading zero octet
  EXPECT_FALSE(reads({0x30, 0x80, 0x00, 0x00}));                    // indefinite
  EXPECT_FALSE(reads({0x04, 0x84, 0x00, 0x00, 0x00, 0x01, 0xAA}));  // four length octets
  EXPECT_FALSE(reads({0x1F, 0x01, 0x00}));                          // high tag number
  EXPECT_FALSE(reads({0x04, 0x02, 0xAA}));                          // contents past the end
  EXPECT_FALSE(reads({0x04}));

  DerHeader header;
  EXPECT_EQ(read_der_header(Bytes{0x30, 0x81, 0x02, 0x05, 0x00}, header), DerHeaderFault::None);
  EXPECT_FALSE(header.minimal);
  EXPECT_EQ(read_der_header(Bytes{0x04, 0x82, 0x01}, header), DerHeaderFault::Truncated);
  EXPECT_EQ(read_der_header(Bytes{0x04, 0x80}, header), DerHeaderFault::Unsupported);
}

TEST(ByteReader, DerByTag) {
  const Bytes bytes = {0x02, 0x01, 0x05, 0x30, 0x02, 0x05, 0x00};
  ByteReader reader(bytes);
  DerElement element;
  EXPECT_FALSE(reader.read_der(0x30, element));  // the wrong tag leaves the reader in place
  ASSERT_TRUE(reader.read_der(0x02, element));
  EXPECT_EQ(element.contents.size(), 1u);
  ByteReader contents;
  ASSERT_TRUE(reader.get_der(0x30, contents));
  EXPECT_EQ(contents.size(), 2u);
  EXPECT_TRUE(reader.empty());
}

}  // namespace
}  // namespace orv
