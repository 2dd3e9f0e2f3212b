// The verdict model every verifier returns and the report writer renders.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/problem_codes.h"

namespace orv {

enum class Outcome { Valid, Invalid, Refused };

std::string_view outcome_word(Outcome outcome);  // "VALID", "INVALID", "REFUSED"
std::string_view outcome_json(Outcome outcome);  // "valid", "invalid", "refused"
int exit_status(Outcome outcome);                 // 0, 1, 2

struct Problem {
  ProblemCode code;
  std::string message;
  uint64_t line = 0;  // 1-based; only the chain and key-chain reports show it

  bool operator==(const Problem&) const = default;
};

// std::string compares as unsigned bytes, so this map iterates in byte order.
using TextMap = std::map<std::string, std::string>;

// REFUSED when any problem carries a refusing code, else INVALID when there is any problem, else
// VALID.
Outcome outcome_from(const std::vector<Problem>& problems);

bool has_code(const std::vector<Problem>& problems, std::string_view code);

enum class ReceiptFormat { LabReceipt, LiveRecord, Refusal, Unknown };
std::string_view format_word(ReceiptFormat format);  // "lab-receipt", "live-record", ...

struct ReceiptVerdict {
  ReceiptFormat format = ReceiptFormat::Unknown;
  Outcome outcome = Outcome::Refused;
  bool valid = false;
  std::vector<Problem> problems;
  TextMap facts;
  TextMap intermediate;
  std::string scope;
};

struct HeadResult {
  uint64_t index = 0;
  Outcome outcome = Outcome::Refused;
  std::optional<uint64_t> length;
  std::optional<std::string> head_receipt_hash;
  std::optional<std::string> issued_at;
};

struct ChainReport {
  Outcome outcome = Outcome::Refused;
  bool valid = false;
  uint64_t length = 0;
  std::optional<std::string> head_receipt_hash;
  std::vector<Problem> problems;
  std::vector<ReceiptVerdict> entries;
  std::vector<HeadResult> heads;  // rendered in JSON only when --head was given
  bool heads_given = false;
  std::string scope;
  bool refusal_chain = false;  // the header says "refusals" instead of "receipts"
};

struct Level2Report {
  std::string leg = "intel-tdx";
  Outcome outcome = Outcome::Refused;
  bool valid = false;
  std::vector<Problem> problems;
  std::string evaluated_at;
  std::optional<std::string> tcb_status;
  std::optional<uint32_t> tcb_evaluation_data_number;
  std::vector<std::string> advisory_ids;
  std::optional<std::string> fmspc;
  std::string snapshot_fetched_at_claimed;
  std::optional<std::string> collateral_valid_until;
  std::string receipt_issued_at_claimed;
  std::optional<std::string> prev_receipt_sha256;
  std::optional<std::string> sigsum_chain_key_hex;
  TextMap measurements;
  std::optional<std::string> mr_kms_observed;
  std::vector<std::string> notes;
  std::string scope;
};

struct StampResult {
  std::string tsa;
  std::string gen_time;
  uint64_t gen_time_unix = 0;
  std::optional<uint64_t> accuracy_ms;
  std::string no_later_than;
  uint64_t no_later_than_unix = 0;
  std::string imprint_alg;
  std::string serial_hex;
  std::string policy;
  std::string signer;
  std::optional<std::string> nonce_hex;
};

struct TimestampReport {
  Outcome outcome = Outcome::Refused;
  bool valid = false;
  std::vector<Problem> problems;
  std::vector<StampResult> stamps;
  std::optional<std::string> no_later_than;
  std::string evaluated_at;
  std::string scope;
};

struct KeyChainReport {
  Outcome outcome = Outcome::Invalid;
  bool valid = false;
  std::vector<Problem> problems;
  uint64_t length = 0;
  std::optional<std::string> head_receipt_sha256;
  std::vector<std::string> key_ids;
  std::vector<std::string> sigsum_chain_keys;
  std::vector<bool> contains;
  bool level2_checked = false;
  std::string scope;
};

struct AttestedRecordReport {
  Outcome outcome = Outcome::Refused;
  bool valid = false;
  std::vector<Problem> problems;
  std::optional<std::string> key_id;
  ReceiptVerdict record;
  Level2Report level2;
  std::optional<TimestampReport> timestamp;
  std::optional<std::string> key_receipt_no_later_than;
  std::string scope;
};

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

}  // namespace orv
