// Key-receipt histories: one key receipt per line, oldest first, each linking to the SHA-256 of
// the exact line before it, each quote binding its own key and link; with a snapshot and
// expected-TD files, also Level 2 for every receipt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/progress.h"
#include "core/verdict.h"

namespace orv::tdx {

inline constexpr size_t kMaxHistoryReceipts = 10000;

inline constexpr std::string_view kKeyChainScope =
    "Scope: these key receipts form one unbroken history from its first boot, each TDX quote committing to the "
    "exact receipt before it, so a boot removed or edited BEFORE the last line is detected, and any receipt you "
    "kept must appear. It cannot see boots after the last line: whoever controls the service's database can cut "
    "off the newest boots and continue from an older one, which only a later receipt you kept (--contains) "
    "reveals. Without --snapshot/--expected the links are checked but not Intel's signatures; with them, every "
    "receipt must also pass Level 2.";

struct KeyChainReport {
  Outcome outcome = Outcome::Invalid;
  bool valid = false;
  std::vector<Problem> problems;
  uint64_t length = 0;
  std::optional<std::string> head_receipt_sha256;
  std::vector<std::string> key_ids;
  std::vector<std::string> sigsum_chain_keys;
  std::vector<bool> contains;
  bool level2_checked = false;
  std::string scope;
};

struct KeyChainInputs {
  std::string_view history;
  std::span<const std::string> contains;     // receipts the user kept, in the order given
  std::optional<std::string_view> snapshot;  // with `expected`: Level 2 for every receipt
  std::span<const std::string> expected;     // one per configuration that ran; any one may match
  uint64_t now = 0;                          // the one clock reading of the run
  std::span<const uint8_t> intel_root_der;
  ProgressFn progress = {};  // when set, told how many of the history's lines are judged
};

// Every line is judged, and every problem carries the line it concerns (0 for the whole
// history). The report is valid exactly when no problem was found.
KeyChainReport verify_key_chain(const KeyChainInputs& inputs);

}  // namespace orv::tdx
