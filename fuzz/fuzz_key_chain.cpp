// The key-receipt history over arbitrary text. The first byte picks the mode: bit 0 lays the
// rest over a built history of three receipts whose quotes bind their keys and links (so that
// mutations reach every line check) instead of judging it as it is; bit 1 asks for Level 2 on
// every receipt against the real Intel collateral of the shared folder; bit 2 keeps the first
// line as a receipt the user kept. Whatever the input the report must be coherent; a valid one
// must really chain, and with Level 2 nothing here can be valid: no genuine quote binds a key
// the fuzzer chose.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/hex.h"
#include "crypto/digest.h"
#include "fuzz_dcap_fixture.h"
#include "tdx/documents.h"
#include "tdx/key_chain.h"

namespace {

constexpr std::string_view kRekorKey =
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEJu/OvQ7p40pmkYfhizqRIrL3M5RbZJzJ+fkh6fna2BKQI4venMe7Mw0VDGdwTdJa5wVSBXRLbzG/"
    "QHB0WHLQ5g==";
constexpr std::string_view kExpected =
    "{\"schema\":\"orvelant/expected-td/v1\",\"td_attributes\":\"0000000000000000\",\"xfam\":\"0000000000000000\","
    "\"mr_td\":\"00\",\"mr_config_id\":\"00\",\"mr_owner\":\"00\",\"mr_owner_config\":\"00\",\"rt_mr0\":\"00\","
    "\"rt_mr1\":\"00\",\"rt_mr2\":\"00\",\"app_id\":\"00\",\"compose_hash\":\"00\",\"os_image_hash\":\"00\","
    "\"key_provider\":\"00\",\"min_tcb_evaluation_data_number\":0}";

std::string history;  // three linked receipts, one per line
std::string snapshot;
std::vector<uint8_t> root;

std::string sha256_hex(std::string_view bytes) { return orv::crypto::sha256_hex(orv::as_bytes(bytes)); }

// A receipt whose quote is only the bytes step 9 reads: a version 4 TDX header and report_data.
std::string receipt(std::string_view schema, uint8_t boot, const std::string& link) {
  std::vector<uint8_t> key(1952, boot);
  orv::tdx::LiveKeyReceipt r{std::string(schema),    "ML-DSA-65", orv::hex_encode(key), "",          {},
                             "2030-01-01T00:00:00Z", link,        std::nullopt,         std::nullopt};
  const bool v3 = schema == orv::tdx::kReceiptSchemaV3;
  if (v3) {
    r.sigsum_chain_key_hex = std::string(64, 'c');
    r.rekor_key_spki_b64 = std::string(kRekorKey);
  }
  std::vector<uint8_t> quote(632, 0);
  quote[0] = 4;
  quote[4] = 0x81;
  const auto binding = orv::tdx::key_binding(r, key);
  if (binding) std::copy(binding->begin(), binding->end(), quote.begin() + 568);
  std::string out = "{\"schema\":\"" + r.schema + "\",\"alg\":\"ML-DSA-65\",\"public_key_hex\":\"" + r.public_key_hex +
                    "\",\"quote_hex\":\"" + orv::hex_encode(quote) + "\",\"event_log\":[],\"issued_at\":\"" + r.issued_at +
                    "\",\"prev_receipt_sha256\":\"" + link + "\"";
  if (v3)
    out +=
        ",\"sigsum_chain_key_hex\":\"" + *r.sigsum_chain_key_hex + "\",\"rekor_key_spki_b64\":\"" + *r.rekor_key_spki_b64 + "\"";
  return out + "}";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string first = receipt(orv::tdx::kReceiptSchemaV2, 1, "GENESIS");
  const std::string second = receipt(orv::tdx::kReceiptSchemaV3, 2, sha256_hex(first));
  const std::string third = receipt(orv::tdx::kReceiptSchemaV3, 3, sha256_hex(second));
  history = first + "\n" + second + "\n" + third + "\n";
  const orv::tdx::KeyChainReport built = orv::tdx::verify_key_chain({history, {}, std::nullopt, {}, 0, {}});
  if (!built.valid || built.length != 3) std::abort();

  const auto collateral = orv::fuzz::read_shared("testdata/tdx-real/tee-solver-dstack/quote_collateral.json");
  const auto root_der = orv::fuzz::read_shared("trust/intel-sgx-root-ca.der");
  snapshot =
      "{\"schema\":\"orvelant/intel-collateral-snapshot/v1\",\"fetched_at\":\"2025-09-15T00:00:00Z\","
      "\"source\":\"fuzz\",\"collateral\":" +
      (collateral ? *collateral : std::string("{}")) + "}";
  if (root_der) root.assign(root_der->begin(), root_der->end());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  std::string text;
  if (mode & 1) {
    text = history;
    for (size_t i = 1; i + 2 < size; i += 3) {
      text[(static_cast<size_t>(data[i]) << 8 | data[i + 1]) % text.size()] = static_cast<char>(data[i + 2]);
    }
  } else {
    text.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
  }
  const bool level2 = (mode & 2) != 0;
  std::vector<std::string> kept;
  if (mode & 4) kept.push_back(text.substr(0, text.find('\n')));
  const std::string expected(kExpected);
  orv::tdx::KeyChainInputs in{text, kept, std::nullopt, {}, orv::fuzz::kRealNow, root};
  if (level2) {
    in.snapshot = snapshot;
    in.expected = {&expected, 1};
  }
  const orv::tdx::KeyChainReport report = orv::tdx::verify_key_chain(in);

  if (report.valid != report.problems.empty()) std::abort();
  if (report.outcome != (report.valid ? orv::Outcome::Valid : orv::Outcome::Invalid)) std::abort();
  if (report.key_ids.size() > report.length) std::abort();
  const bool ended_early = orv::has_code(report.problems, "TOO_LARGE") || report.length == 0;
  if (report.length > orv::tdx::kMaxHistoryReceipts && !ended_early) std::abort();
  for (const orv::Problem& problem : report.problems) {
    if (problem.line > report.length) std::abort();
  }
  if (!ended_early && (report.contains.size() != kept.size() || report.level2_checked != level2)) std::abort();
  if (report.head_receipt_sha256.has_value() == ended_early) std::abort();

  if (!report.valid) return 0;
  if (level2) std::abort();  // only a SHA-512 preimage or a broken check gets here
  // Judged again from the text alone: each line names the hash of the exact line before it.
  std::string_view rest = text;
  if (rest.ends_with('\n')) rest.remove_suffix(1);
  std::optional<std::string> before;
  std::set<std::string> keys(report.key_ids.begin(), report.key_ids.end());
  for (size_t line = 0; line < report.length; ++line) {
    const size_t end = rest.find('\n');
    const std::string_view current = rest.substr(0, end);
    if (current.find(before ? *before : std::string("\"GENESIS\"")) == std::string_view::npos) std::abort();
    before = sha256_hex(current);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  if (report.head_receipt_sha256 != before || keys.size() != report.length) std::abort();
  if (!std::all_of(report.contains.begin(), report.contains.end(), [](bool found) { return found; })) std::abort();
  return 0;
}
