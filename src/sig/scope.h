// What a valid result of each notary or service document proves, and what it does not.
#pragma once

#include <string_view>

namespace orv::sig {

inline constexpr std::string_view kLabReceiptScope =
    "Scope: this attests environment + integrity + an authenticated usage meter. It is NOT a proof of "
    "computational correctness.";

inline constexpr std::string_view kLiveRecordScope =
    "Scope: this proves the record was signed by the pinned service key and has not changed since. It is NOT "
    "a proof of computational correctness, and it carries no hardware attestation.";

inline constexpr std::string_view kRefusalScope =
    "Scope: this proves the notary refused this release attempt under the policy and enforcement profile it "
    "names, recorded why, and stated that nothing was released. It does not re-check the evidence itself.";

}  // namespace orv::sig
