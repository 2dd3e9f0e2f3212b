// Transparency-log errors: a fixed code and a message, the one way the note, Merkle, Sigsum
// and Rekor readers report that evidence fails. Callers wrap them into their own problems.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>

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

// A value or a transparency-log error; orv::Result carries only a message, these need a code.
template <class T>
class TlogResult {
 public:
  TlogResult(T value) : state_(std::move(value)) {}          // NOLINT: implicit by design
  TlogResult(TlogError error) : state_(std::move(error)) {}  // NOLINT: implicit by design

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const TlogError& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, TlogError> state_;
};

}  // namespace orv::tlog
