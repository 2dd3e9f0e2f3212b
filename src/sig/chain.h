// Receipt chains (one lab receipt or refusal per line, hash-linked from "GENESIS") and the
// notary-signed chain heads that a chain must contain.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/progress.h"
#include "sig/chain_entries.h"
#include "sig/verdict.h"

namespace orv::sig {

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
  ChainEntries entries;
  std::vector<HeadResult> heads;  // rendered in JSON only when --head was given
  bool heads_given = false;
  std::string scope;
  bool refusal_chain = false;  // the header says "refusals" instead of "receipts"
};

inline constexpr std::string_view kChainHeadSchema = "tamsel-fabric/chain-head/v1";

// Each entry's own verdict is kept in the report only with `keep_entries`: the text report never
// shows them, and for a chain of many thousand receipts they would outweigh the chain itself.
// `progress`, when set, is told how many of the chain's entries are judged.
ChainReport check_chain(std::string_view chain, std::span<const std::string> heads, std::string_view pinned_key,
                        bool keep_entries = true, const ProgressFn& progress = {});

}  // namespace orv::sig
