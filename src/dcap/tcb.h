// TCB evaluation: matching the platform against the TCB info's levels, the TDX module identity,
// the status merge, and the acceptance policy that decides what a caller may rely on.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dcap/failure.h"
#include "dcap/quote.h"
#include "dcap/tcb_info.h"

namespace orv::dcap {

// Severity rank: how far from UpToDate a status is (Revoked worst).
int severity_rank(TcbStatus status);

// Not symmetric: a configuration-needing status merged with OutOfDate becomes
// OutOfDateConfigurationNeeded, while OutOfDate merged with it stays OutOfDate.
TcbStatus merge_tcb_status(TcbStatus a, TcbStatus b);

// The first level, in the TCB info's order, that the platform meets; td is the TD report of a
// TD quote and null for an SGX quote.
Expected<const TcbLevel*, Failure> match_platform_tcb_level(const TcbInfo& info, const std::array<uint8_t, 16>& cpusvn,
                                                            uint16_t pcesvn, const Quote& quote);

struct ModuleLevel {
  TcbStatus status = TcbStatus::UpToDate;
  std::vector<std::string> advisory_ids;
};

// The TDX module identity check of a TD quote: nothing when no module TCB level applies,
// "TDX module identity check" with the reason as cause when the module does not match.
Expected<std::optional<ModuleLevel>, Failure> check_tdx_module(const Quote& quote, const TcbInfo& info);

// Bits of the accepted-status set; Revoked has none and is never accepted.
inline constexpr uint8_t kAcceptUpToDate = 0x01;
inline constexpr uint8_t kAcceptSWHardeningNeeded = 0x02;
inline constexpr uint8_t kAcceptConfigurationNeeded = 0x04;
inline constexpr uint8_t kAcceptConfigurationAndSWHardeningNeeded = 0x08;
inline constexpr uint8_t kAcceptOutOfDate = 0x10;
inline constexpr uint8_t kAcceptOutOfDateConfigurationNeeded = 0x20;

// The defaults are the values Level 2 uses, except the minimum TCB evaluation data number,
// which comes from the user's expected-TD file.
struct AcceptancePolicy {
  uint8_t accepted_statuses = kAcceptUpToDate;
  uint64_t platform_grace_period = 0;
  uint64_t qe_grace_period = 0;
  std::optional<uint32_t> min_tcb_evaluation_data_number;
  std::vector<std::string> rejected_advisory_ids;
  std::optional<std::vector<uint32_t>> accepted_sgx_types;
  bool allow_dynamic_platform = true;
  bool allow_cached_keys = true;
  bool allow_smt = true;
};

// What the policy reads, all established by the verification.
struct Supplemental {
  TcbStatus final_status = TcbStatus::Revoked;
  TcbStatus platform_status = TcbStatus::Revoked;  // platform level merged with the module level
  TcbStatus qe_status = TcbStatus::Revoked;
  uint64_t earliest_expiration = 0;
  uint64_t tcb_date_tag = 0;  // tcbDate of the matched platform level
  std::string qe_tcb_date;    // tcbDate of the QE level, parsed when the policy runs
  uint32_t tcb_evaluation_data_number = 0;
  std::vector<std::string> platform_advisory_ids;  // platform level, then new module ones
  std::vector<std::string> qe_advisory_ids;
  uint32_t sgx_type = 0;
  std::optional<bool> dynamic_platform;
  std::optional<bool> cached_keys;
  std::optional<bool> smt_enabled;
};

bool status_accepted(uint8_t accepted_statuses, TcbStatus status);

// The eight tests in order; the first that fails is the answer.
Expected<void, Failure> apply_policy(const AcceptancePolicy& policy, const Supplemental& values, uint64_t now);

}  // namespace orv::dcap
