#include "tdx/documents.h"

#include <algorithm>

#include "core/base64.h"
#include "core/hex.h"
#include "crypto/digest.h"
#include "crypto/ec_common.h"
#include "dcap/collateral_json.h"
#include "json/record.h"

namespace orv::tdx {
namespace {

using json::Field;
using json::Kind;

constexpr std::array<Field, 5> kEventFields = {{
    {"imr", Kind::U64},
    {"event_type", Kind::U32},
    {"digest", Kind::String},
    {"event", Kind::String},
    {"event_payload", Kind::String},
}};
constexpr json::Record kEventLogEntry{"EventLogEntry", kEventFields};

constexpr std::array<Field, 9> kReceiptFields = {{
    {"schema", Kind::String},
    {"alg", Kind::String},
    {"public_key_hex", Kind::String},
    {"quote_hex", Kind::String},
    {"event_log", Kind::RecordArray, false, &kEventLogEntry},
    {"issued_at", Kind::String},
    {"prev_receipt_sha256", Kind::String, true},
    {"sigsum_chain_key_hex", Kind::String, true},
    {"rekor_key_spki_b64", Kind::String, true},
}};
constexpr json::Record kLiveKeyReceipt{"LiveKeyReceipt", kReceiptFields};

// The collateral is first taken as any object, so that an unknown name in it is told apart
// from the rest of the snapshot's shape.
constexpr std::array<Field, 4> kSnapshotFields = {{
    {"schema", Kind::String},
    {"fetched_at", Kind::String},
    {"source", Kind::String},
    {"collateral", Kind::Object},
}};
constexpr json::Record kCollateralSnapshot{"CollateralSnapshot", kSnapshotFields};

constexpr std::array<Field, 16> kExpectedFields = {{
    {"schema", Kind::String},
    {"td_attributes", Kind::String},
    {"xfam", Kind::String},
    {"mr_td", Kind::String},
    {"mr_config_id", Kind::String},
    {"mr_owner", Kind::String},
    {"mr_owner_config", Kind::String},
    {"rt_mr0", Kind::String},
    {"rt_mr1", Kind::String},
    {"rt_mr2", Kind::String},
    {"app_id", Kind::String},
    {"compose_hash", Kind::String},
    {"os_image_hash", Kind::String},
    {"key_provider", Kind::String},
    {"mr_kms", Kind::String, true},
    {"min_tcb_evaluation_data_number", Kind::U32},
}};
constexpr json::Record kExpectedTd{"ExpectedTd", kExpectedFields};

std::string text(const json::Value& object, std::string_view name) { return std::string(json::string_member(object, name)); }

std::optional<std::string> optional_text(const json::Value& object, std::string_view name) {
  if (json::member(object, name) == nullptr) return std::nullopt;
  return text(object, name);
}

}  // namespace

Expected<LiveKeyReceipt, std::string> parse_key_receipt(const json::Value& value) {
  if (auto mapped = json::check_record(value, kLiveKeyReceipt); !mapped.ok()) return fail(mapped.error());
  LiveKeyReceipt receipt{text(value, "schema"),
                         text(value, "alg"),
                         text(value, "public_key_hex"),
                         text(value, "quote_hex"),
                         {},
                         text(value, "issued_at"),
                         optional_text(value, "prev_receipt_sha256"),
                         optional_text(value, "sigsum_chain_key_hex"),
                         optional_text(value, "rekor_key_spki_b64")};
  for (const json::Value& entry : json::array_member(value, "event_log")) {
    receipt.event_log.push_back({json::u64_member(entry, "imr"), static_cast<uint32_t>(json::u64_member(entry, "event_type")),
                                 text(entry, "digest"), text(entry, "event"), text(entry, "event_payload")});
  }
  return receipt;
}

Expected<CollateralSnapshot, Problem> parse_snapshot(const json::Value& value) {
  const auto broken = [](const std::string& cause) {
    return Problem{"SNAPSHOT_PARSE", "collateral snapshot does not parse: " + cause};
  };
  if (auto mapped = json::check_record(value, kCollateralSnapshot); !mapped.ok()) return broken(mapped.error());
  const json::Value& collateral = *json::member(value, "collateral");
  for (auto it = collateral.MemberBegin(); it != collateral.MemberEnd(); ++it) {
    const std::string_view name(it->name.GetString(), it->name.GetStringLength());
    const auto fields = dcap::collateral_fields();
    const bool known = std::any_of(fields.begin(), fields.end(), [&](const Field& field) { return field.name == name; });
    if (!known) return Problem{"SNAPSHOT_PARSE", "collateral snapshot has an unknown collateral field"};
  }
  Expected<dcap::QuoteCollateralV3, std::string> parsed = dcap::read_collateral(collateral);
  if (!parsed) return broken(parsed.error());
  return CollateralSnapshot{text(value, "schema"), text(value, "fetched_at"), text(value, "source"), std::move(parsed).value()};
}

Expected<ExpectedTd, Problem> parse_expected_td(const json::Value& value) {
  if (auto mapped = json::check_record(value, kExpectedTd); !mapped.ok()) {
    return Problem{"EXPECTED_MISSING", "expected TD does not parse: " + mapped.error()};
  }
  ExpectedTd expected{text(value, "schema"),
                      text(value, "td_attributes"),
                      text(value, "xfam"),
                      text(value, "mr_td"),
                      text(value, "mr_config_id"),
                      text(value, "mr_owner"),
                      text(value, "mr_owner_config"),
                      text(value, "rt_mr0"),
                      text(value, "rt_mr1"),
                      text(value, "rt_mr2"),
                      text(value, "app_id"),
                      text(value, "compose_hash"),
                      text(value, "os_image_hash"),
                      text(value, "key_provider"),
                      optional_text(value, "mr_kms"),
                      static_cast<uint32_t>(json::u64_member(value, "min_tcb_evaluation_data_number"))};
  if (expected.schema != kExpectedTdSchema) {
    return Problem{"EXPECTED_MISSING", "expected TD schema is not " + std::string(kExpectedTdSchema)};
  }
  return expected;
}

PrevLink parse_prev_link(const std::optional<std::string>& text) {
  if (!text) return {};
  if (*text == "GENESIS") return {PrevLink::Kind::Genesis, {}};
  PrevLink link{PrevLink::Kind::Error, {}};
  if (text->size() != 64 || !is_lowercase_hex(*text)) return link;
  const std::vector<uint8_t> bytes = hex_decode(*text).value_or(std::vector<uint8_t>(32));
  std::copy(bytes.begin(), bytes.end(), link.digest.begin());
  // An all-zero digest stands for genesis inside the key binding, so it may not name a receipt.
  if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; })) return link;
  link.kind = PrevLink::Kind::Digest;
  return link;
}

Expected<LogKeys, Problem> read_log_keys(const LiveKeyReceipt& receipt) {
  LogKeys keys;
  const std::optional<std::string>& sigsum = receipt.sigsum_chain_key_hex;
  if (!sigsum || sigsum->size() != 64 || !is_lowercase_hex(*sigsum)) {
    return Problem{"PARSE", "sigsum_chain_key_hex is missing or not 64 lowercase hex"};
  }
  const std::vector<uint8_t> sigsum_key = hex_decode(*sigsum).value_or(std::vector<uint8_t>(32));
  std::copy(sigsum_key.begin(), sigsum_key.end(), keys.sigsum_key.begin());
  if (!receipt.rekor_key_spki_b64) return Problem{"PARSE", "rekor_key_spki_b64 is missing"};
  // Strict base64 has exactly one text per byte string, so decoding implies the canonical form.
  std::optional<std::vector<uint8_t>> rekor = base64_decode(*receipt.rekor_key_spki_b64);
  if (!rekor || crypto::uncompressed_point(*rekor, crypto::kP256SpkiPrefix, 32).empty()) {
    return Problem{"PARSE", "rekor_key_spki_b64 is not canonical base64 of an uncompressed P-256 key"};
  }
  keys.rekor_spki = std::move(*rekor);
  return keys;
}

Expected<std::array<uint8_t, 64>, Problem> key_binding(const LiveKeyReceipt& receipt, std::span<const uint8_t> live_key) {
  const bool v1 = receipt.schema == kReceiptSchemaV1, v2 = receipt.schema == kReceiptSchemaV2,
             v3 = receipt.schema == kReceiptSchemaV3;
  const bool has_link = receipt.prev_receipt_sha256.has_value();
  const bool has_log_keys = receipt.sigsum_chain_key_hex.has_value() || receipt.rekor_key_spki_b64.has_value();
  const bool fits = (v1 && !has_link && !has_log_keys) || (v2 && has_link && !has_log_keys) ||
                    (v3 && has_link && receipt.sigsum_chain_key_hex && receipt.rekor_key_spki_b64);
  if (!fits) {
    return Problem{"UNSUPPORTED_SCHEMA", "receipt schema '" + receipt.schema + "' with these fields is not " +
                                             std::string(kReceiptSchemaV1) + ", " + std::string(kReceiptSchemaV2) + " or " +
                                             std::string(kReceiptSchemaV3)};
  }

  std::vector<uint8_t> input(receipt.schema.begin(), receipt.schema.end());
  input.push_back('\n');
  input.insert(input.end(), live_key.begin(), live_key.end());
  if (v2 || v3) {
    const PrevLink link = parse_prev_link(receipt.prev_receipt_sha256);
    if (link.kind != PrevLink::Kind::Genesis && link.kind != PrevLink::Kind::Digest) {
      return Problem{"PARSE", "prev_receipt_sha256 is missing or not GENESIS / 64 lowercase hex"};
    }
    input.insert(input.end(), link.digest.begin(), link.digest.end());  // zeros for genesis
  }
  if (v3) {
    Expected<LogKeys, Problem> keys = read_log_keys(receipt);
    if (!keys) return keys.error();
    const LogKeys& log_keys = *keys;
    input.insert(input.end(), log_keys.sigsum_key.begin(), log_keys.sigsum_key.end());
    const std::array<uint8_t, 32> rekor_hash = crypto::sha256(log_keys.rekor_spki);
    input.insert(input.end(), rekor_hash.begin(), rekor_hash.end());
  }
  return crypto::sha512(input);
}

}  // namespace orv::tdx
