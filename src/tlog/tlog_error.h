// Transparency-log errors: a fixed code and a message, the one way the note, Merkle, Sigsum
// and Rekor readers report that evidence fails. Callers wrap them into their own problems.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "core/result.h"

namespace orv::tlog {

inline constexpr std::string_view kParse = "TLOG_PARSE";
inline constexpr std::string_view kPolicyInvalid = "TLOG_POLICY_INVALID";
inline constexpr std::string_view kLogSignatureInvalid = "TLOG_LOG_SIGNATURE_INVALID";
inline constexpr std::string_view kWitnessQuorumNotMet = "TLOG_WITNESS_QUORUM_NOT_MET";
inline constexpr std::string_view kInclusionProofInvalid = "TLOG_INCLUSION_PROOF_INVALID";
inline constexpr std::string_view kLeafInvalid = "TLOG_LEAF_INVALID";
inline constexpr std::string_view kUnknownLog = "TLOG_UNKNOWN_LOG";

struct TlogError {
  std::string code;
  std::string message;

  bool operator==(const TlogError&) const = default;
};

inline TlogError tlog_error(std::string_view code, std::string message) {
  return TlogError{std::string(code), std::move(message)};
}

// A value or a transparency-log error: these need a code as well as a message.
template <class T>
using TlogResult = Expected<T, TlogError>;

}  // namespace orv::tlog
