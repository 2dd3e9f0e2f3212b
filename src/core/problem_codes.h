// Every problem code a report can carry, defined once, with whether it refuses: a refusing code
// makes the report REFUSED (the verifier declined to judge) where another would make it INVALID.
// A check names its code as a literal, which must be in this table or the build fails; so one
// search for a code finds its entry, every check that raises it, its documentation and its tests.
#pragma once

#include <string_view>

namespace orv {

struct ProblemCodeEntry {
  std::string_view text;
  bool refuses = false;
};

inline constexpr ProblemCodeEntry kProblemCodes[] = {
    // Refusals. key-chain and log-evidence never refuse, so there they count as INVALID.
    {"INPUT_TOO_LARGE", true},
    {"PIN_MISSING", true},
    {"PIN_INVALID", true},
    {"UNKNOWN_FORMAT", true},
    {"TOO_MANY_HEADS", true},
    {"EXPECTED_MISSING", true},
    {"TIMESTAMP_MISSING", true},
    // Any document.
    {"PARSE"},
    {"NON_CANONICAL_JSON"},
    {"UNSUPPORTED_SCHEMA"},
    {"UNSUPPORTED_ALG"},
    {"EMBEDDED_KEY_MISMATCH"},
    {"KEY_NOT_CANONICAL"},
    {"SIGNATURE_NOT_HEX"},
    {"SIGNATURE_NOT_CANONICAL"},
    {"SIGNATURE_INVALID"},
    // Lab receipts and refusals.
    {"CANONICALIZATION"},
    {"HASH_MISMATCH"},
    {"COUNTERSIGNATURE_INVALID"},
    {"LINKAGE"},
    {"AGENT_SIGNATURE_INVALID"},
    {"POLICY_HASH_MISSING"},
    {"ENFORCEMENT_HASH_MISSING"},
    {"METER"},
    {"UNKNOWN_REASON_CODE"},
    {"REFUSAL_CLAIMS_RELEASE"},
    {"REFUSAL_HASH_MISMATCH"},
    {"REFUSAL_SIGNATURE_INVALID"},
    // Chains and their signed heads.
    {"CHAIN_EMPTY"},
    {"CHAIN_ENTRY_TOO_LARGE"},
    {"CHAIN_ENTRY_UNPARSEABLE"},
    {"CHAIN_LINK_BROKEN"},
    {"HEAD_PARSE"},
    {"HEAD_SIGNATURE_INVALID"},
    {"HEAD_OTHER_CHAIN"},
    {"HEAD_MISMATCH"},
    {"HEAD_BEYOND_CHAIN"},
    // Level 2 and key-receipt histories.
    {"SNAPSHOT_PARSE"},
    {"COLLATERAL_EXPIRED"},
    {"QUOTE_INVALID"},
    {"MEASUREMENT_MISMATCH"},
    {"KEY_NOT_BOUND"},
    {"EVENT_DIGEST_MISMATCH"},
    {"EVENT_LOG_MISMATCH"},
    {"TOO_LARGE"},
    {"DOWNGRADE"},
    {"CHAIN_START"},
    {"CHAIN_BROKEN"},
    {"KEY_REUSED"},
    {"LEVEL2_FAILED"},
    {"RECEIPT_MISSING"},
    // Log evidence, and the transparency-log checks whose codes its SIGSUM and REKOR messages carry.
    {"WRONG_RECEIPT"},
    {"SIGSUM"},
    {"GATE_SIGNATURE"},
    {"REKOR"},
    {"TLOG_PARSE"},
    {"TLOG_POLICY_INVALID"},
    {"TLOG_LOG_SIGNATURE_INVALID"},
    {"TLOG_WITNESS_QUORUM_NOT_MET"},
    {"TLOG_INCLUSION_PROOF_INVALID"},
    {"TLOG_LEAF_INVALID"},
    {"TLOG_UNKNOWN_LOG"},
    // Timestamps.
    {"TIMESTAMP_PARSE"},
    {"TIMESTAMP_UNSUPPORTED"},
    {"TIMESTAMP_UNKNOWN_TSA"},
    {"TIMESTAMP_CHAIN_INVALID"},
    {"TIMESTAMP_POLICY"},
    {"TIMESTAMP_IMPRINT_MISMATCH"},
    {"TIMESTAMP_SIGNATURE_INVALID"},
    {"TIMESTAMP_IN_FUTURE"},
};

// One entry of the table, named by its text.
class ProblemCode {
 public:
  // Implicit by design: a check writes its code as a literal, and only a code in the table
  // compiles.
  consteval ProblemCode(const char* text) : entry_(find(text)) {}  // NOLINT

  constexpr std::string_view text() const { return entry_->text; }
  constexpr bool refuses() const { return entry_->refuses; }

  friend constexpr bool operator==(const ProblemCode&, const ProblemCode&) = default;
  friend constexpr bool operator==(const ProblemCode& code, std::string_view text) { return code.text() == text; }
  friend constexpr bool operator==(const ProblemCode& code, const char* text) { return code.text() == text; }

 private:
  static consteval const ProblemCodeEntry* find(std::string_view text) {
    for (const ProblemCodeEntry& entry : kProblemCodes) {
      if (entry.text == text) return &entry;
    }
    throw "not a code of kProblemCodes";  // reached only in a constant expression: a build error
  }

  const ProblemCodeEntry* entry_;
};

}  // namespace orv
