// Log evidence: the exact bytes of a version-3 key receipt were recorded in Sigsum logs of the
// trust policy (each tree head cosigned by a witness quorum) and in the pinned Rekor log, under
// the log keys that the receipt names and that its quote is shaped to bind.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/verdict.h"
#include "tlog/rekor.h"
#include "tlog/sigsum_policy.h"
#include "tlog/tlog_error.h"

namespace orv::tdx {

inline constexpr std::string_view kLogEvidenceSchema = "orvelant/live-key-log-evidence/v2";
inline constexpr std::string_view kGateStatementSchema = "orvelant/live-key-gate/v1";
inline constexpr std::string_view kGateContext = "orvelant-live-key-gate-v1";

inline constexpr uint64_t kLogEvidenceReceiptLimit = 67108864;
inline constexpr uint64_t kLogEvidenceLimit = 4194304;
inline constexpr size_t kMaxEvidenceSigsumProofs = 16;
inline constexpr size_t kMaxEvidenceRekorEntries = 16;

inline constexpr std::string_view kLogEvidenceScope =
    "Scope: these exact receipt bytes were recorded in public append-only logs (Sigsum, each tree head cosigned "
    "by a quorum of independent witnesses; Rekor when listed), by the log keys this receipt NAMES, and the "
    "receipt's quote is shaped to bind them. That the quote is genuine (Intel-signed, from the expected trust "
    "domain) is proven only by checking the same receipt at Level 2; until then the key id shown is a claim. "
    "Anyone monitoring those logs can see every receipt so logged.";

struct SigsumResult {
  std::string log_key_hex;
  uint64_t leaf_index = 0;
  uint64_t tree_size = 0;
  std::vector<std::pair<std::string, uint64_t>> witnesses;  // name, cosignature time
  bool gate_attested = false;
};

struct LogEvidenceReport {
  Outcome outcome = Outcome::Invalid;
  bool valid = false;
  std::vector<Problem> problems;
  std::optional<std::string> key_id;
  std::vector<SigsumResult> sigsum;
  std::vector<uint64_t> rekor_log_indexes;
  std::string scope;
};

// The logs the evidence is judged against. Material that did not parse is kept as its error:
// every proof or entry judged under it then fails with that error, so that trust which cannot
// be read never lets evidence pass.
struct LogEvidenceTrust {
  Expected<tlog::SigsumPolicy, tlog::TlogError> sigsum_policy;
  Expected<tlog::RekorLog, tlog::TlogError> rekor_log;
};

// From the policy text and the Rekor log file ("name: value" lines), as the trust files hold them.
LogEvidenceTrust make_log_evidence_trust(std::string_view sigsum_policy_text, std::string_view rekor_log_file);

// What a gate attestation signs for one proof: the statement's schema line, the log key, the
// leaf index in decimal and the receipt hash in lowercase hex, each line ended by a line feed.
std::string gate_statement(std::string_view log_key_hex, uint64_t leaf_index, const std::array<uint8_t, 32>& receipt_hash);

// Judges the evidence for the receipt's exact bytes. The report is valid only when every
// listed proof and entry verified; a failure before the proofs are reached is the one problem.
LogEvidenceReport verify_log_evidence(std::string_view receipt, std::string_view evidence, const LogEvidenceTrust& trust);

}  // namespace orv::tdx
