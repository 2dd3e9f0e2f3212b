#include "tlog/merkle.h"

#include <algorithm>
#include <vector>

#include "crypto/digest.h"

namespace orv::tlog {

// The buffer is sized once and filled in place: appending to a reserved vector makes g++ 14
// see a free of a non-heap pointer on the growth path it cannot rule out.
Hash leaf_hash(std::span<const uint8_t> leaf) {
  std::vector<uint8_t> input(1 + leaf.size());
  input[0] = 0x00;
  std::copy(leaf.begin(), leaf.end(), input.begin() + 1);
  return crypto::sha256(input);
}

Hash node_hash(const Hash& left, const Hash& right) {
  std::array<uint8_t, 1 + 2 * 32> input{};
  input[0] = 0x01;
  std::copy(left.begin(), left.end(), input.begin() + 1);
  std::copy(right.begin(), right.end(), input.begin() + 33);
  return crypto::sha256(input);
}

// The steps and names follow RFC 9162 section 2.1.3.2: fn walks the leaf's position up the
// tree and sn the last leaf's, so that the last node of a level is recognised when a right
// sibling is missing there.
bool verify_inclusion(const Hash& leaf, uint64_t index, uint64_t size, std::span<const Hash> path, const Hash& root) {
  if (index >= size) return false;
  uint64_t fn = index;
  uint64_t sn = size - 1;
  Hash r = leaf;
  for (const Hash& p : path) {
    if (sn == 0) return false;
    if ((fn & 1) != 0 || fn == sn) {
      r = node_hash(p, r);
      if ((fn & 1) == 0) {
        while ((fn & 1) == 0 && fn != 0) {
          fn >>= 1;
          sn >>= 1;
        }
      }
    } else {
      r = node_hash(r, p);
    }
    fn >>= 1;
    sn >>= 1;
  }
  return sn == 0 && r == root;
}

}  // namespace orv::tlog
