// Builds Level 2 inputs on top of the test Intel PKI: a key receipt whose quote binds a live key
// and whose event log replays to the quote's RTMR3, the snapshot carrying the collateral, and
// an expected-TD file pinning exactly what the quote shows. Tests change one thing each.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/intel_pki.h"
#include "tdx/documents.h"

namespace orv::test {

struct Level2Scenario {
  explicit Level2Scenario(QuoteKind kind = QuoteKind::TdxV4, std::string schema = std::string(tdx::kReceiptSchemaV1));

  DcapScenario dcap;
  std::vector<uint8_t> live_key;  // 1952 bytes; only compared and bound, never used to sign
  std::string schema;
  std::optional<std::string> prev_receipt_sha256;
  std::optional<std::string> sigsum_chain_key_hex;
  std::optional<std::string> rekor_key_spki_b64;
  std::vector<tdx::EventLogEntry> event_log;  // digests filled by fill_event_digests()
  std::string issued_at = "2030-03-17T17:46:40Z";
  std::string fetched_at = "2030-03-17T00:00:00Z";
  bool bind_key = true;      // write the key binding into report_data
  bool replay_rtmr3 = true;  // set the quote's RTMR3 to the event log's replay
  std::optional<std::string> expected_mr_kms;

  std::string pin_hex() const;
  std::string receipt_json();  // assembles and signs the quote from the current state
  std::string snapshot_json() const;
  std::string expected_json() const;

  // The report the quote carries (TD 1.0 view), to read or change before receipt_json().
  dcap::TdReport10& td();
  uint64_t now() const { return dcap.now; }

  static std::array<uint8_t, 48> event_digest(const tdx::EventLogEntry& entry);
  void fill_event_digests();
};

}  // namespace orv::test
