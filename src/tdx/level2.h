// Level 2, the Intel TDX leg: Intel's root attests that the pinned live key was generated and
// held in a TDX trust domain whose measurements equal the user's expected-TD file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/verdict.h"
#include "dcap/verify.h"
#include "tdx/documents.h"

namespace orv::tdx {

inline constexpr std::string_view kLevel2Scope =
    "Scope (Level 2, Intel TDX leg): Intel's root attests that a genuine TDX trust domain running the measured "
    "configuration shown held this signing key when the quote was made. It does not prove computational "
    "correctness, says nothing about GPUs, and cannot see any revocation after the snapshot date.";

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
                                                                   std::span<const uint8_t> intel_root_der,
                                                                   uint64_t now);

}  // namespace orv::tdx
