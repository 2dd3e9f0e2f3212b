// Level 2, the Intel TDX leg: Intel's root attests that the pinned live key was generated and
// held in a TDX trust domain whose measurements equal the user's expected-TD file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/verdict.h"
#include "dcap/verify.h"
#include "tdx/documents.h"

namespace orv::tdx {

inline constexpr std::string_view kLevel2Scope =
    "Scope (Level 2, Intel TDX leg): Intel's root attests that a genuine TDX trust domain running the measured "
    "configuration shown held this signing key when the quote was made. It does not prove computational "
    "correctness, says nothing about GPUs, and cannot see any revocation after the snapshot date.";

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

struct Level2Inputs {
  std::string_view receipt;
  std::string_view pinned_key;
  std::string_view snapshot;
  std::string_view expected_td;
  uint64_t now = 0;                         // the one clock reading of the run
  std::span<const uint8_t> intel_root_der;  // the only trust anchor for quotes and collateral
  // The collateral of this same snapshot, already verified at `now` against intel_root_der by
  // verify_snapshot_collateral, for callers that judge many receipts against one snapshot.
  // Null, or verified at another time, verifies the snapshot's collateral afresh.
  const dcap::VerifiedCollateral* verified_collateral = nullptr;
};

struct Level2Result {
  Level2Report report;
  std::optional<LiveKeyReceipt> receipt;  // once it parsed, for callers that read its fields
};

Level2Result evaluate_level2(const Level2Inputs& inputs);

// The snapshot's collateral verified once, for reuse through Level2Inputs::verified_collateral.
// None when the snapshot would not reach the quote check or its collateral fails: each
// evaluation then verifies it itself and reports the failure as its own.
std::optional<dcap::VerifiedCollateral> verify_snapshot_collateral(std::string_view snapshot,
                                                                   std::span<const uint8_t> intel_root_der, uint64_t now);

}  // namespace orv::tdx
