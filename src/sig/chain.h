// Receipt chains (one lab receipt or refusal per line, hash-linked from "GENESIS") and the
// notary-signed chain heads that a chain must contain.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "core/verdict.h"

namespace orv::sig {

inline constexpr std::string_view kChainHeadSchema = "tamsel-fabric/chain-head/v1";

// Each entry's own verdict is kept in the report only with `keep_entries`: the text report never
// shows them, and for a chain of many thousand receipts they would outweigh the chain itself.
ChainReport check_chain(std::string_view chain, std::span<const std::string> heads, std::string_view pinned_key,
                        bool keep_entries = true);

}  // namespace orv::sig
