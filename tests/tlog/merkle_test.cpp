#include <gtest/gtest.h>

#include <vector>

#include "core/hex.h"
#include "support/tlog_fixtures.h"
#include "tlog/merkle.h"

namespace orv::tlog {
namespace {

using test::reference_path;
using test::reference_root;

std::vector<Hash> leaves_of(size_t count) {
  std::vector<Hash> leaves;
  for (size_t i = 0; i < count; ++i) leaves.push_back(leaf_hash(as_bytes("leaf " + std::to_string(i))));
  return leaves;
}

Hash flipped(Hash hash) {
  hash[7] ^= 0x20;
  return hash;
}

TEST(MerkleHashes, UseTheDomainPrefixes) {
  // RFC 6962's hash of the empty leaf: SHA-256 of the single byte 0x00.
  EXPECT_EQ(hex_encode(leaf_hash({})), "6e340b9cffb37a989ca544e6bb780a2c78901d3fb33738768511a30617afa01d");
  const Hash a = leaf_hash(as_bytes("a"));
  const Hash b = leaf_hash(as_bytes("b"));
  std::string node(1, '\x01');
  node.append(a.begin(), a.end());
  node.append(b.begin(), b.end());
  EXPECT_EQ(node_hash(a, b), test::sha256_of(node));
  EXPECT_NE(node_hash(a, b), node_hash(b, a));
}

// A tree of three leaves written out by hand: root = H(1 || H(1 || a || b) || c).
TEST(MerkleInclusion, HandWrittenTreeOfThree) {
  const Hash a = leaf_hash(as_bytes("a")), b = leaf_hash(as_bytes("b")), c = leaf_hash(as_bytes("c"));
  const Hash ab = node_hash(a, b);
  const Hash root = node_hash(ab, c);
  EXPECT_TRUE(verify_inclusion(a, 0, 3, std::vector<Hash>{b, c}, root));
  EXPECT_TRUE(verify_inclusion(b, 1, 3, std::vector<Hash>{a, c}, root));
  EXPECT_TRUE(verify_inclusion(c, 2, 3, std::vector<Hash>{ab}, root));
  // c is the last node of its level: it has no sibling at the bottom, only ab above.
  EXPECT_FALSE(verify_inclusion(c, 2, 3, std::vector<Hash>{ab, a}, root));
  EXPECT_FALSE(verify_inclusion(c, 2, 4, std::vector<Hash>{ab}, root));
  EXPECT_TRUE(verify_inclusion(a, 0, 1, std::vector<Hash>{}, a));
  EXPECT_FALSE(verify_inclusion(a, 0, 0, std::vector<Hash>{}, a));
  EXPECT_FALSE(verify_inclusion(a, 1, 1, std::vector<Hash>{}, a));
}

// Every index of every tree of 1 to 17 leaves, against the recursive definitions of RFC 9162
// section 2.1: the true path verifies, and every single change to it, to the index, to the
// size, to the leaf or to the root is refused.
TEST(MerkleInclusion, EveryIndexOfTreesUpToSeventeenLeaves) {
  for (size_t size = 1; size <= 17; ++size) {
    const std::vector<Hash> leaves = leaves_of(size);
    const Hash root = reference_root(leaves);
    for (size_t index = 0; index < size; ++index) {
      SCOPED_TRACE("size " + std::to_string(size) + " index " + std::to_string(index));
      const std::vector<Hash> path = reference_path(index, leaves);
      const Hash& leaf = leaves[index];
      EXPECT_TRUE(verify_inclusion(leaf, index, size, path, root));

      for (size_t other = 0; other <= size; ++other) {
        if (other != index) {
          EXPECT_FALSE(verify_inclusion(leaf, other, size, path, root)) << "index " << other;
        }
      }
      // A path only fixes the shape of the climb, and neighbouring sizes can share it (index 0
      // of 5 and of 6 leaves climb alike): the size is bound by the signed tree head, and the
      // root of a tree of another size is another hash.
      for (uint64_t other_size : {size - 1, size + 1, size + 2, 2 * size}) {
        if (other_size == 0) continue;
        const bool same_shape = index < other_size && test::reference_path_length(index, other_size) == path.size() &&
                                test::reference_root_from_path(leaf, index, other_size, path) == root;
        EXPECT_EQ(verify_inclusion(leaf, index, other_size, path, root), same_shape) << "size " << other_size;
        const std::vector<Hash> other_leaves = leaves_of(other_size);
        if (index < other_size) {
          EXPECT_FALSE(verify_inclusion(leaf, index, other_size, path, reference_root(other_leaves))) << "size " << other_size;
        }
      }
      for (size_t i = 0; i < path.size(); ++i) {
        std::vector<Hash> changed = path;
        changed[i] = flipped(changed[i]);
        EXPECT_FALSE(verify_inclusion(leaf, index, size, changed, root)) << "element " << i;
      }
      std::vector<Hash> longer = path;
      longer.push_back(root);
      EXPECT_FALSE(verify_inclusion(leaf, index, size, longer, root));
      if (!path.empty()) {
        const std::vector<Hash> shorter(path.begin(), path.end() - 1);
        EXPECT_FALSE(verify_inclusion(leaf, index, size, shorter, root));
      }
      EXPECT_FALSE(verify_inclusion(flipped(leaf), index, size, path, root));
      EXPECT_FALSE(verify_inclusion(leaf, index, size, path, flipped(root)));
    }
  }
}

// The largest trees: the path shape must still come out right at the top of the 64-bit range.
TEST(MerkleInclusion, HugeTrees) {
  const Hash leaf = leaf_hash(as_bytes("x"));
  for (const auto& [index, size] : std::vector<std::pair<uint64_t, uint64_t>>{{(uint64_t{1} << 62) - 1, uint64_t{1} << 62},
                                                                              {0, uint64_t{1} << 62},
                                                                              {(uint64_t{1} << 62), (uint64_t{1} << 62) + 1},
                                                                              {UINT64_MAX - 1, UINT64_MAX},
                                                                              {12345678901234ULL, UINT64_MAX}}) {
    SCOPED_TRACE(std::to_string(index) + " of " + std::to_string(size));
    std::vector<Hash> path;
    for (size_t i = 0; i < test::reference_path_length(index, size); ++i) path.push_back(test::filler_hash(i));
    const Hash root = test::reference_root_from_path(leaf, index, size, path);
    EXPECT_TRUE(verify_inclusion(leaf, index, size, path, root));
    EXPECT_FALSE(verify_inclusion(leaf, index ^ 1, size, path, root));
    EXPECT_FALSE(verify_inclusion(leaf, size, size, path, root));
  }
}

}  // namespace
}  // namespace orv::tlog
