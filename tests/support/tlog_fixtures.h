// Builds transparency-log material for tests: Ed25519 and P-256 keys, reference Merkle trees,
// Sigsum test policies and proofs, Rekor test logs and hashedrekord 0.0.2 entries. Each
// builder starts from something that verifies; a test changes one thing and reseals what it
// wants to stay valid.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <rapidjson/document.h>

#include "crypto/ed25519.h"
#include "support/p256_test_key.h"
#include "tlog/merkle.h"
#include "tlog/rekor.h"
#include "tlog/sigsum_policy.h"

namespace orv::test {

using tlog::Hash;

std::string base64_of(std::span<const uint8_t> bytes);
std::string base64_of(std::string_view bytes);
Hash sha256_of(std::string_view bytes);
// A distinct, reproducible filler hash per number.
Hash filler_hash(uint64_t n);

class Ed25519TestKey {
 public:
  Ed25519TestKey();                                              // a fresh key
  explicit Ed25519TestKey(const std::array<uint8_t, 32>& seed);  // the key of a fixed seed
  ~Ed25519TestKey();
  Ed25519TestKey(Ed25519TestKey&&) noexcept;
  Ed25519TestKey& operator=(Ed25519TestKey&&) noexcept;

  const crypto::Ed25519Key& public_key() const { return public_key_; }
  std::string public_hex() const;
  Hash key_hash() const;  // SHA-256 of the public key
  std::array<uint8_t, 64> sign(std::string_view message) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  crypto::Ed25519Key public_key_{};
};

// RFC 9162 section 2.1 by its recursive definitions, independent of tlog::verify_inclusion:
// the root of the leaf hashes, the audit path of one leaf, and the root that a leaf hash and
// a path give for an index and size (for trees too large to build).
Hash reference_root(std::span<const Hash> leaves);
std::vector<Hash> reference_path(uint64_t index, std::span<const Hash> leaves);
size_t reference_path_length(uint64_t index, uint64_t size);
Hash reference_root_from_path(const Hash& leaf, uint64_t index, uint64_t size, std::span<const Hash> path);

// ---- Sigsum ----

// Logs and witnesses with fresh keys and a policy text naming them: every log, every witness
// (named "witness-1", ...), group "quorum-rule" of all witnesses with the given threshold, and
// "quorum quorum-rule".
struct SigsumTestPolicy {
  explicit SigsumTestPolicy(size_t log_count = 2, size_t witness_count = 3, size_t threshold = 2);

  std::vector<Ed25519TestKey> logs;
  std::vector<Ed25519TestKey> witnesses;
  std::vector<std::string> witness_names;
  std::string text;
  tlog::SigsumPolicy policy() const;  // fails the test when the text does not parse
};

// A version-2 proof text as lines per block. Construction gives a proof that verifies for
// `message` under `submitter` in a tree of `size` leaves at `index`, with no cosignatures.
class SigsumProofBuilder {
 public:
  SigsumProofBuilder(const Ed25519TestKey& log, const Ed25519TestKey& submitter, const Hash& message, uint64_t size = 10,
                     uint64_t index = 7);

  std::vector<std::string> header;     // version, log, leaf
  std::vector<std::string> tree_head;  // size, root_hash, signature, then cosignatures
  std::vector<std::string> inclusion;  // leaf_index, node_hash...; empty for size 1

  Hash leaf_hash() const { return leaf_hash_; }
  Hash root() const { return root_; }
  std::string checkpoint_body() const;  // what the log and witnesses sign

  // Appends a valid cosignature line of this witness.
  SigsumProofBuilder& cosign(const Ed25519TestKey& witness, uint64_t timestamp = 1767225600);
  // Re-signs the tree head for another size and root (cosignatures already added keep the old).
  SigsumProofBuilder& sign_tree_head(uint64_t size, const Hash& root);
  // Blocks joined by one empty line, the last line ended by a line feed.
  std::string text() const;

 private:
  const Ed25519TestKey& log_;
  Hash leaf_hash_{};
  Hash root_{};
  uint64_t size_ = 0;
};

// ---- Rekor ----

// Sets (or adds) a string member of `object`, a value inside `owner`.
void set_string(rapidjson::Document& owner, rapidjson::Value& object, const char* name, std::string_view text);

class RekorTestLog {
 public:
  explicit RekorTestLog(std::string origin = "rekor.test.example");
  RekorTestLog(std::string origin, const std::array<uint8_t, 32>& seed);

  const std::string& origin() const { return origin_; }
  const Ed25519TestKey& key() const { return key_; }
  std::string spki_base64() const;
  tlog::RekorLog pinned() const;  // fails the test when it cannot be made
  // A signed note over the checkpoint body, signed by this log under `name` (its origin by default).
  std::string sign_note(std::string_view body, std::string_view name = {}) const;

 private:
  std::string origin_;
  Ed25519TestKey key_;
};

// A hashedrekord 0.0.2 entry over `digest`, signed by `signer`, at `index` in a tree of `size`.
// `body` is the entry body as JSON; seal() writes it into the entry with a fresh inclusion proof
// and a checkpoint signed by the log, so a test may edit body or entry and keep the rest valid.
class RekorEntryBuilder {
 public:
  RekorEntryBuilder(const RekorTestLog& log, const P256TestKey& signer, const Hash& digest, uint64_t index = 5,
                    uint64_t size = 9);

  rapidjson::Document body;
  rapidjson::Document entry;

  RekorEntryBuilder& seal();
  // The same with these exact body bytes instead of the JSON of `body`.
  RekorEntryBuilder& seal_bytes(std::string_view body_bytes);
  std::string text() const;

 private:
  const RekorTestLog& log_;
  uint64_t index_;
  uint64_t size_;
};

}  // namespace orv::test
