// What each command hands its verifier, and the table of verifiers this build has. A command
// whose verifier is absent reads all its inputs and then reports that it is not available,
// so nothing prints a verdict that no check produced.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sig/chain.h"
#include "tdx/attested_record.h"
#include "tdx/key_chain.h"
#include "tdx/log_evidence.h"

namespace orv::cli {

// All texts are valid UTF-8 unless noted; a missing --key arrives as empty text.
struct ReceiptInputs {
  std::string document;
  std::string key;
};

struct ChainInputs {
  std::string document;
  std::string key;
  std::vector<std::string> heads;  // in command-line order
  bool keep_entries = true;        // only the JSON report lists each entry's verdict
};

struct KeyReceiptInputs {
  std::string document;
  std::string key;
  std::string snapshot;
  std::string expected;
};

struct TimestampInputs {
  std::string document;  // bytes, not necessarily UTF-8
  std::string stamp;
};

struct KeyChainInputs {
  std::string history;
  std::vector<std::string> contains;
  std::optional<std::string> snapshot;  // given exactly when `expected` is not empty
  std::vector<std::string> expected;
};

struct AttestedRecordInputs {
  std::string record;
  std::string key_receipt;
  std::string snapshot;
  std::string expected;
  std::optional<std::string> stamp;
};

struct LogEvidenceInputs {
  std::string receipt;
  std::string evidence;
};

// `now` is the one clock reading of the run, whole seconds since the epoch.
struct Verifiers {
  std::function<sig::ReceiptVerdict(const ReceiptInputs&)> receipt;
  std::function<sig::ChainReport(const ChainInputs&)> chain;
  std::function<tdx::Level2Report(const KeyReceiptInputs&, uint64_t now)> key_receipt;
  std::function<tsa::TimestampReport(const TimestampInputs&, uint64_t now)> timestamp;
  std::function<tdx::KeyChainReport(const KeyChainInputs&, uint64_t now)> key_chain;
  std::function<tdx::AttestedRecordReport(const AttestedRecordInputs&, uint64_t now)> attested_record;
  std::function<tdx::LogEvidenceReport(const LogEvidenceInputs&)> log_evidence;
};

// The verifiers compiled into this program.
Verifiers builtin_verifiers();

}  // namespace orv::cli
