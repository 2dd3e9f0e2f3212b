// RFC 9162 (RFC 6962) Merkle trees over SHA-256: leaf and node hashes with their domain
// prefixes, and inclusion-proof verification. Shared by the Sigsum and Rekor checks.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace orv::tlog {

using Hash = std::array<uint8_t, 32>;

// SHA-256(0x00 || leaf): the prefix keeps a leaf from ever hashing like an inner node.
Hash leaf_hash(std::span<const uint8_t> leaf);
// SHA-256(0x01 || left || right).
Hash node_hash(const Hash& left, const Hash& right);

// RFC 9162 section 2.1.3.2: true when `path` leads from the leaf hash at `index` to `root` in
// a tree of `size` leaves. An index not below the size, a path that is too short or too long
// for the index and size, and any wrong hash all fail.
bool verify_inclusion(const Hash& leaf, uint64_t index, uint64_t size, std::span<const Hash> path, const Hash& root);

}  // namespace orv::tlog
