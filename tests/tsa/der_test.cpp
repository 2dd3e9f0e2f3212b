#include "tsa/der.h"

#include <gtest/gtest.h>

#include <string>

#include "core/hex.h"
#include "support/printers.h"
#include "support/tsa_der.h"

namespace orv::tsa {
namespace {

namespace der = orv::test::der;

std::string structure_error(const std::string& bytes) { return error_of(check_der_structure(as_bytes(bytes))).value_or("ok"); }

std::string nested(size_t levels, std::string inner = "") {
  for (size_t i = 0; i < levels; ++i) inner = der::tlv(0x30, inner);
  return inner;
}

std::string set_of(size_t members) { return der::set(std::vector<std::string>(members, der::null())); }

TEST(DerStructure, AcceptsWhatOnlyLaterStagesRefuse) {
  EXPECT_EQ(structure_error(""), "ok");                                                // no elements at all
  EXPECT_EQ(structure_error(der::null() + der::null()), "ok");                         // several top-level elements
  EXPECT_EQ(structure_error(der::bytes({0x30, 0x81, 0x02, 0x05, 0x00})), "ok");        // non-minimal length
  EXPECT_EQ(structure_error(der::bytes({0x04, 0x83, 0x00, 0x00, 0x01, 0xAA})), "ok");  // three length octets
  // Primitive contents are never entered, however they look.
  EXPECT_EQ(structure_error(der::octets(der::bytes({0x30, 0x80, 0x1F}))), "ok");
  // A context-specific constructed tag is walked like any other.
  EXPECT_EQ(structure_error(der::context(0, der::null())), "ok");
  EXPECT_EQ(structure_error(der::context(0, der::bytes({0x30, 0x80}))), "indefinite or oversized DER length");
}

TEST(DerStructure, LengthsAndTags) {
  EXPECT_EQ(structure_error(der::bytes({0x30})), "truncated DER length");
  EXPECT_EQ(structure_error(der::bytes({0x04, 0x82, 0x01})), "truncated DER length");
  EXPECT_EQ(structure_error(der::bytes({0x30, 0x80, 0x00, 0x00})), "indefinite or oversized DER length");
  EXPECT_EQ(structure_error(der::bytes({0x04, 0x84, 0x00, 0x00, 0x00, 0x01, 0xAA})), "indefinite or oversized DER length");
  EXPECT_EQ(structure_error(der::bytes({0x1F, 0x01, 0x00})), "multi-byte DER tags are not used here");
  EXPECT_EQ(structure_error(der::bytes({0xBF, 0x01, 0x00})), "multi-byte DER tags are not used here");
  // Contents running exactly to the parent's end pass; one octet more does not.
  EXPECT_EQ(structure_error(der::bytes({0x30, 0x03, 0x04, 0x01, 0xAA})), "ok");
  EXPECT_EQ(structure_error(der::bytes({0x30, 0x03, 0x04, 0x02, 0xAA})), "DER length past the end");
  EXPECT_EQ(structure_error(der::bytes({0x04, 0x82, 0xFF, 0xFF})), "DER length past the end");
}

TEST(DerStructure, NestingDepth) {
  // The walk of the top-level bytes is depth 0, so 25 nested SEQUENCEs put the innermost
  // one's (empty) contents at depth 25.
  EXPECT_EQ(structure_error(nested(24)), "ok");
  EXPECT_EQ(structure_error(nested(25)), "DER nesting too deep");
  EXPECT_EQ(structure_error(nested(24, der::null())), "ok");
}

TEST(DerStructure, ElementBudgetIsSharedByTheWholeToken) {
  std::vector<std::string> nulls(4095, der::null());
  EXPECT_EQ(structure_error(der::seq(nulls)), "ok");  // 4095 members + the SEQUENCE
  nulls.push_back(der::null());
  EXPECT_EQ(structure_error(der::seq(nulls)), "too many DER elements");
  // Counted across top-level elements and levels alike.
  EXPECT_EQ(structure_error(der::seq(std::vector<std::string>(2047, der::null())) +
                            der::seq(std::vector<std::string>(2047, der::null()))),
            "ok");
  EXPECT_EQ(structure_error(der::seq(std::vector<std::string>(2047, der::null())) +
                            der::seq(std::vector<std::string>(2048, der::null()))),
            "too many DER elements");
}

TEST(DerStructure, SetMembersAreCountedBeforeDescending) {
  EXPECT_EQ(structure_error(set_of(16)), "ok");
  EXPECT_EQ(structure_error(set_of(17)), "a DER SET has too many elements");
  EXPECT_EQ(structure_error(der::seq(std::vector<std::string>(17, der::null()))), "ok");
  // Only 0x31 is a SET: the same members under a context tag are not limited.
  EXPECT_EQ(structure_error(der::context(0, set_of(17).substr(2))), "ok");
  // The count reads lengths with the walk's rules, before the members themselves are walked.
  std::string members;
  for (int i = 0; i < 16; ++i) members += der::null();
  EXPECT_EQ(structure_error(der::tlv(0x31, members + der::bytes({0x1F}))), "a DER SET has too many elements");
  EXPECT_EQ(structure_error(der::tlv(0x31, der::null() + der::bytes({0x04}))), "truncated DER length");
  EXPECT_EQ(structure_error(der::tlv(0x31, der::bytes({0x04, 0x80}))), "indefinite or oversized DER length");
  EXPECT_EQ(structure_error(der::tlv(0x31, der::bytes({0x04, 0x82, 0x01}))), "truncated DER length");
  EXPECT_EQ(structure_error(der::tlv(0x31, der::bytes({0x04, 0x05, 0x00}))), "DER length past the end");
}

TEST(DerMinimalEncoding, RefusesEveryNonMinimalLengthAndBoolean) {
  EXPECT_TRUE(has_minimal_encoding(as_bytes(der::seq({der::boolean(true), der::octets(std::string(200, 'x'))}))));
  EXPECT_FALSE(has_minimal_encoding(as_bytes(der::bytes({0x30, 0x81, 0x02, 0x05, 0x00}))));
  EXPECT_FALSE(has_minimal_encoding(as_bytes(der::seq({der::bytes({0x04, 0x81, 0x01, 0xAA})}))));
  EXPECT_FALSE(has_minimal_encoding(as_bytes(der::bytes({0x04, 0x82, 0x00, 0x80}) + std::string(0x80, 'x'))));
  EXPECT_FALSE(has_minimal_encoding(as_bytes(der::seq({der::bytes({0x01, 0x01, 0x01})}))));
  EXPECT_FALSE(has_minimal_encoding(as_bytes(der::seq({der::bytes({0x01, 0x02, 0x00, 0x00})}))));
  // Contents of primitives are data, not structure.
  EXPECT_TRUE(has_minimal_encoding(as_bytes(der::octets(der::bytes({0x30, 0x81, 0x00})))));
}

}  // namespace
}  // namespace orv::tsa
