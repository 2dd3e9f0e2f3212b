// The most bytes each input may have. The command line stops reading a file there, and the
// library refuses larger inputs a caller hands it, so no verifier sees more than these.
#pragma once

#include <cstdint>

namespace orv::api {

inline constexpr uint64_t kMiB = 1024 * 1024;
inline constexpr uint64_t kDocumentLimit = kMiB;  // a receipt, record, snapshot, expected TD, stamp
inline constexpr uint64_t kKeyLimit = 64 * 1024;
inline constexpr uint64_t kHeadLimit = 64 * 1024;
inline constexpr uint64_t kChainLimit = 256 * kMiB;
inline constexpr uint64_t kTimestampedFileLimit = 256 * kMiB;
inline constexpr uint64_t kHistoryLimit = 64 * kMiB;
inline constexpr uint64_t kEvidenceLimit = 4 * kMiB;

}  // namespace orv::api
