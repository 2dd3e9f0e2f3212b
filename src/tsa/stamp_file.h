// Stamp files: one to four RFC 3161 tokens over one other file, each from a pinned authority.
// Used by the timestamp command and by attested records (over the key receipt's bytes).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/verdict.h"
#include "tsa/token.h"

namespace orv::tsa {

inline constexpr size_t kMaxStampFileBytes = 1048576;
inline constexpr size_t kMaxStampTokens = 4;
inline constexpr std::string_view kStampSchema = "orvelant/timestamp/v1";

inline constexpr std::string_view kTimestampScope =
    "Scope: a valid timestamp proves this exact file existed NO LATER THAN the time shown, on the word of the "
    "named timestamp authority, whose root is pinned in this verifier. It says nothing about what the file "
    "claims, and revocation of the authority's certificates after the stamp cannot be seen offline.";

struct TimestampReport {
  Outcome outcome = Outcome::Refused;
  bool valid = false;
  std::vector<Problem> problems;
  std::vector<StampResult> stamps;
  std::optional<std::string> no_later_than;
  std::string evaluated_at;
  std::string scope;
};

// Verifies the stamp file over the exact bytes of `document` (not necessarily text). No stamp
// file gives REFUSED; every other failure INVALID. Tokens are judged one by one in file order and
// a failing token never stops the others; VALID needs every token to verify, and then the
// verdict's time is the latest no-later-than of the stamps. `now` is the caller's one clock
// reading, used for every check and for evaluated_at.
TimestampReport verify_stamp_file(std::string_view document, std::optional<std::string_view> stamp_file,
                                  std::span<const PinnedAuthority> authorities, uint64_t now);

}  // namespace orv::tsa
