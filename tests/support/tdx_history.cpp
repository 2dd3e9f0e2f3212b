#include "support/tdx_history.h"

#include "core/hex.h"
#include "crypto/digest.h"

namespace orv::test {

std::string sha256_hex_of(std::string_view bytes) { return crypto::sha256_hex(as_bytes(bytes)); }

KeyHistory::KeyHistory(QuoteKind kind) : scenario(kind, std::string(tdx::kReceiptSchemaV3)) {
  sigsum_key_ = scenario.sigsum_chain_key_hex;
  rekor_key_ = scenario.rekor_key_spki_b64;
  scenario.dcap.fixed_pck_chain = scenario.dcap.pck_chain();  // every boot on one platform
}

std::vector<uint8_t> KeyHistory::boot_key(uint32_t boot) {
  std::vector<uint8_t> key(1952);
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 7 + 3);
  for (size_t i = 0; i < 4; ++i) key[i] = static_cast<uint8_t>(boot >> (8 * i));
  return key;
}

std::string KeyHistory::receipt(std::string_view schema, const std::vector<uint8_t>& key, std::optional<std::string> link) {
  const bool v3 = schema == tdx::kReceiptSchemaV3;
  scenario.schema = std::string(schema);
  scenario.live_key = key;
  scenario.prev_receipt_sha256 = std::move(link);
  scenario.sigsum_chain_key_hex = v3 ? sigsum_key_ : std::nullopt;
  scenario.rekor_key_spki_b64 = v3 ? rekor_key_ : std::nullopt;
  return scenario.receipt_json();
}

std::string KeyHistory::link_to_last() const { return lines.empty() ? "GENESIS" : sha256_hex_of(lines.back()); }

const std::string& KeyHistory::append(std::string_view schema) {
  const std::vector<uint8_t> key = boot_key(static_cast<uint32_t>(lines.size() + 1));
  lines.push_back(receipt(schema, key, link_to_last()));
  return lines.back();
}

std::string KeyHistory::text() const {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) out += (i == 0 ? "" : "\n") + lines[i];
  return out;
}

}  // namespace orv::test
