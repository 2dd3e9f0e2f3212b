// The writer's lengths read back under the reader's shortest-form rule, and the X.690 order of
// SET OF members.
#include <gtest/gtest.h>

#include "core/byte_reader.h"
#include "core/der_writer.h"

namespace orv {
namespace {

TEST(DerWriter, LengthsAreShortestAndReadBack) {
  for (const size_t length : {size_t{0}, size_t{127}, size_t{128}, size_t{255}, size_t{256}, size_t{65536}}) {
    std::vector<uint8_t> out;
    ASSERT_TRUE(append_der(out, 0x04, std::vector<uint8_t>(length, 0xAB)));
    ByteReader reader(out);
    DerElement element;
    ASSERT_TRUE(reader.read_der(0x04, element)) << length;
    EXPECT_EQ(element.contents.size(), length);
    EXPECT_TRUE(reader.empty());
  }
  std::vector<uint8_t> out;
  EXPECT_FALSE(append_der(out, 0x04, std::vector<uint8_t>(size_t{1} << 24)));
  EXPECT_TRUE(out.empty());
}

TEST(DerWriter, SetMembersSortAsPaddedOctetStrings) {
  std::vector<std::vector<uint8_t>> members = {{0x30, 0x02, 0x05, 0x00}, {0x30, 0x01, 0x01}, {0x02, 0x01, 0x07}, {0x30, 0x01}};
  sort_der_set(members);
  EXPECT_EQ(members,
            (std::vector<std::vector<uint8_t>>{{0x02, 0x01, 0x07}, {0x30, 0x01}, {0x30, 0x01, 0x01}, {0x30, 0x02, 0x05, 0x00}}));
}

}  // namespace
}  // namespace orv
