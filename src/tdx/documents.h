// The Level 2 documents: key receipts, collateral snapshots and expected-TD files, with the
// previous-receipt link, the strict UTC time, the log keys and the key-binding value.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "core/verdict.h"
#include "dcap/verify.h"
#include "json/document.h"

namespace orv::tdx {

inline constexpr std::string_view kReceiptSchemaV1 = "orvelant/live-key-receipt/v1";
inline constexpr std::string_view kReceiptSchemaV2 = "orvelant/live-key-receipt/v2";
inline constexpr std::string_view kReceiptSchemaV3 = "orvelant/live-key-receipt/v3";
inline constexpr std::string_view kSnapshotSchema = "orvelant/intel-collateral-snapshot/v1";
inline constexpr std::string_view kExpectedTdSchema = "orvelant/expected-td/v1";

struct EventLogEntry {
  uint64_t imr = 0;
  uint32_t event_type = 0;
  std::string digest;
  std::string event;
  std::string event_payload;
};

struct LiveKeyReceipt {
  std::string schema;
  std::string alg;
  std::string public_key_hex;
  std::string quote_hex;
  std::vector<EventLogEntry> event_log;
  std::string issued_at;
  std::optional<std::string> prev_receipt_sha256;
  std::optional<std::string> sigsum_chain_key_hex;
  std::optional<std::string> rekor_key_spki_b64;
};

struct CollateralSnapshot {
  std::string schema;
  std::string fetched_at;
  std::string source;
  dcap::QuoteCollateralV3 collateral;  // the ten values exactly as the snapshot carries them
};

struct ExpectedTd {
  std::string schema;
  std::string td_attributes;
  std::string xfam;
  std::string mr_td;
  std::string mr_config_id;
  std::string mr_owner;
  std::string mr_owner_config;
  std::string rt_mr0;
  std::string rt_mr1;
  std::string rt_mr2;
  std::string app_id;
  std::string compose_hash;
  std::string os_image_hash;
  std::string key_provider;
  std::optional<std::string> mr_kms;
  uint32_t min_tcb_evaluation_data_number = 0;
};

// Each parser takes a value that already passed the strict check. A key receipt's failure is
// the mapping message, which each command words as its own problem; the others report the
// whole problem ("collateral snapshot does not parse: {}", ...).
Expected<LiveKeyReceipt, std::string> parse_key_receipt(const json::Value& value);
Expected<CollateralSnapshot, Problem> parse_snapshot(const json::Value& value);
Expected<ExpectedTd, Problem> parse_expected_td(const json::Value& value);

struct PrevLink {
  enum class Kind { Absent, Genesis, Digest, Error };
  Kind kind = Kind::Absent;
  std::array<uint8_t, 32> digest{};
};
PrevLink parse_prev_link(const std::optional<std::string>& text);

struct LogKeys {
  std::array<uint8_t, 32> sigsum_key{};
  std::vector<uint8_t> rekor_spki;  // 91 bytes: P-256, uncompressed point
};
Expected<LogKeys, Problem> read_log_keys(const LiveKeyReceipt& receipt);

// The 64 bytes a quote's report_data must hold for this receipt and live key, or the schema or
// field problem that leaves the receipt without one.
Expected<std::array<uint8_t, 64>, Problem> key_binding(const LiveKeyReceipt& receipt, std::span<const uint8_t> live_key);

}  // namespace orv::tdx
