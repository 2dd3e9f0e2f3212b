// Attested records: a live record judged under exactly the key that a key receipt's quote binds
// to a trust domain matching the user's expected-TD file, with an optional stamp over the key
// receipt's exact bytes showing when that key existed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sig/verdict.h"
#include "tdx/level2.h"
#include "tsa/stamp_file.h"

namespace orv::tdx {

inline constexpr std::string_view kAttestedRecordScope =
    "Scope: this proves the record was signed by a key that, on Intel's root, was created and held inside an "
    "Intel TDX trust domain whose measurements equal your expected-TD file. The trusted code is that whole "
    "measured configuration: its compose file is pinned, but a container image it names by tag rather than by "
    "digest is pinned only by name. With a valid timestamp it also proves the key existed no later than the time "
    "shown. It is NOT a proof of computational correctness, and the record's own time is the service's claim.";

struct AttestedRecordReport {
  Outcome outcome = Outcome::Refused;
  bool valid = false;
  std::vector<Problem> problems;
  std::optional<std::string> key_id;
  sig::ReceiptVerdict record;
  Level2Report level2;
  std::optional<tsa::TimestampReport> timestamp;
  std::optional<std::string> key_receipt_no_later_than;
  std::string scope;
};

struct AttestedRecordInputs {
  std::string_view record;
  std::string_view key_receipt;
  std::string_view snapshot;
  std::string_view expected_td;
  std::optional<std::string_view> stamp;  // over the key receipt's exact bytes
  uint64_t now = 0;                       // the one clock reading of the run
  std::span<const uint8_t> intel_root_der;
  std::span<const tsa::PinnedAuthority> authorities;
};

// The three checks always all run; each problem keeps its check's code and names its origin.
AttestedRecordReport verify_attested_record(const AttestedRecordInputs& inputs);

}  // namespace orv::tdx
