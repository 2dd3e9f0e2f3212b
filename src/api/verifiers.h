// What each command hands its verifier, and the table of verifiers this build has. Single
// inputs are views of bytes the caller keeps (a chain may be 256 MiB; it is never copied); the
// lists hold small documents. The command line's stand-in tables for its own tests may leave a
// verifier out: it then reports that the command is not available instead of a verdict.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/progress.h"
#include "sig/chain.h"
#include "tdx/attested_record.h"
#include "tdx/key_chain.h"
#include "tdx/log_evidence.h"

namespace orv::api {

// All texts are valid UTF-8 unless noted; a missing --key arrives as empty text.
struct ReceiptInputs {
  std::string_view document;
  std::string_view key;
};

struct ChainInputs {
  std::string_view document;
  std::string_view key;
  std::vector<std::string> heads;  // in command-line order
  bool keep_entries = true;        // only the JSON report lists each entry's verdict
  ProgressFn progress = {};        // when set, told how many entries are judged
};

struct KeyReceiptInputs {
  std::string_view document;
  std::string_view key;
  std::string_view snapshot;
  std::string_view expected;
};

struct TimestampInputs {
  std::string_view document;  // bytes, not necessarily UTF-8
  std::string_view stamp;
};

struct KeyChainInputs {
  std::string_view history;
  std::vector<std::string> contains;
  std::optional<std::string_view> snapshot;  // given exactly when `expected` is not empty
  std::vector<std::string> expected;
  ProgressFn progress = {};  // when set, told how many receipts are judged
};

struct AttestedRecordInputs {
  std::string_view record;
  std::string_view key_receipt;
  std::string_view snapshot;
  std::string_view expected;
  std::optional<std::string_view> stamp;
};

struct LogEvidenceInputs {
  std::string_view receipt;
  std::string_view evidence;
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

}  // namespace orv::api
