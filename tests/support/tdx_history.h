// Key-receipt histories for tests on one test Intel PKI and one snapshot. Each receipt's quote
// binds its own live key and its link to the exact bytes of the line before it, so receipts are
// made in order, and a test that edits a line has to remake the lines after it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/tdx_level2.h"

namespace orv::test {

std::string sha256_hex_of(std::string_view bytes);

class KeyHistory {
 public:
  explicit KeyHistory(QuoteKind kind = QuoteKind::TdxV4);

  Level2Scenario scenario;  // the PKI, snapshot and expected TD every boot shares
  std::vector<std::string> lines;

  // A receipt of `schema` for `key` linking to `link` (absent: no link member). v3 receipts
  // name the same test log keys.
  std::string receipt(std::string_view schema, const std::vector<uint8_t>& key, std::optional<std::string> link);
  // The next boot's receipt under a key of its own, linked to the last line (GENESIS first).
  const std::string& append(std::string_view schema = tdx::kReceiptSchemaV2);
  std::string link_to_last() const;
  // The lines joined by line feeds, without a final one.
  std::string text() const;

  // A live key for each boot number, never the same for two.
  static std::vector<uint8_t> boot_key(uint32_t boot);

 private:
  std::optional<std::string> sigsum_key_;
  std::optional<std::string> rekor_key_;
};

}  // namespace orv::test
