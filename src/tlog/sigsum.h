// Sigsum proofs (text format version 2): one logged leaf, a tree head signed by a policy log
// and cosigned by a quorum of policy witnesses, and the inclusion proof that joins them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/ed25519.h"
#include "tlog/merkle.h"
#include "tlog/sigsum_policy.h"
#include "tlog/tlog_error.h"

namespace orv::tlog {

inline constexpr size_t kMaxSigsumProofBytes = 65536;
// Far beyond any real log, yet keeps every size and index clear of signed 64-bit limits.
inline constexpr uint64_t kMaxSigsumTreeSize = uint64_t{1} << 62;
inline constexpr size_t kMaxSigsumNodeHashes = 64;
// Sigsum logging API v1, section 2.2.4 and 2.2.2.
inline constexpr std::string_view kSigsumLeafNamespace = "sigsum.org/v1/tree-leaf";
inline constexpr std::string_view kSigsumOriginPrefix = "sigsum.org/v1/tree/";

struct SigsumCosignature {
  std::string witness;  // the policy's name for the witness
  uint64_t timestamp = 0;
};

struct VerifiedSigsumProof {
  crypto::Ed25519Key log_key{};
  Hash log_key_hash{};
  uint64_t leaf_index = 0;
  uint64_t tree_size = 0;
  Hash root_hash{};
  std::vector<SigsumCosignature> witnesses;  // policy witnesses that cosigned, in line order
};

// The origin line of a Sigsum log's tree heads: the prefix and the lowercase hex key hash.
std::string sigsum_origin(const Hash& log_key_hash);

// Checks the proof for a 32-byte message submitted under the submitter's Ed25519 key, against
// the policy's logs and witness quorum. Exactly one error for a proof that fails.
Expected<VerifiedSigsumProof, TlogError> verify_sigsum_proof(std::string_view proof, const Hash& message,
                                                             const crypto::Ed25519Key& submitter_key, const SigsumPolicy& policy);

}  // namespace orv::tlog
