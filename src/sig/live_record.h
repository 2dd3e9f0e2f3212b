// Live records: service-signed completion records under the pinned ML-DSA-65 service key.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "json/document.h"
#include "sig/verdict.h"

namespace orv::sig {

inline constexpr std::string_view kLiveRecordContext = "tamsel-pote-v1";

// The fields a live record signs, in the order the signature covers them.
struct CompletionRecord {
  std::string_view schema_version;
  std::string_view agent_id;
  std::string_view model_version;
  std::string_view tenant_id;
  std::string_view input_commitment;
  std::string_view output_hash;
  std::string_view timestamp_rfc3339;
  std::string_view nonce;
  uint64_t monotonic_counter = 0;
};

// Length-prefixed fields, no JSON: two records whose texts differ only in where one field
// ends and the next begins still sign different bytes.
std::vector<uint8_t> live_record_signed_bytes(const CompletionRecord& record);

// The whole check of one parsed live record under the pinned key text (hex, trimmed).
ReceiptVerdict check_live_record(const json::Value& document, std::string_view pinned_key);

}  // namespace orv::sig
