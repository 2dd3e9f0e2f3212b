// The Sigsum trust policy: the language (log, witness, group and quorum lines), its parser
// with a reason for every refusal, and quorum evaluation over the witnesses that cosigned.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/ed25519.h"
#include "tlog/merkle.h"
#include "tlog/tlog_error.h"

namespace orv::tlog {

struct SigsumLog {
  crypto::Ed25519Key key{};
  Hash key_hash{};  // SHA-256 of the key: how proofs name their log
};

struct SigsumWitness {
  std::string name;
  crypto::Ed25519Key key{};
  Hash key_hash{};  // SHA-256 of the key: how cosignature lines name their witness
};

// A group member or the quorum entry: a witness or a group, by position in the policy.
struct SigsumEntity {
  enum class Kind { Witness, Group };
  Kind kind = Kind::Witness;
  size_t index = 0;

  bool operator==(const SigsumEntity&) const = default;
};

struct SigsumGroup {
  std::string name;
  size_t threshold = 0;               // "all" is stored as the member count, "any" as 1
  std::vector<SigsumEntity> members;  // defined on earlier lines, each at most once
};

struct SigsumPolicy {
  std::vector<SigsumLog> logs;
  std::vector<SigsumWitness> witnesses;
  std::vector<SigsumGroup> groups;
  std::optional<SigsumEntity> quorum;  // nullopt for "quorum none": no cosignature needed
};

// Errors are TLOG_POLICY_INVALID with "policy line {}: {}" (1-based line, reason); at the end
// of the text the line number is that of the last line.
Expected<SigsumPolicy, TlogError> parse_sigsum_policy(std::string_view text);

// cosigned[i] tells whether policy.witnesses[i] cosigned; groups are judged in the order they
// were defined, each from members defined before it.
bool quorum_satisfied(const SigsumPolicy& policy, const std::vector<bool>& cosigned);

}  // namespace orv::tlog
