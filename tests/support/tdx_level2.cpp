#include "support/tdx_level2.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "core/hex.h"
#include "crypto/digest.h"

namespace orv::test {
namespace {

std::string json_string(std::string_view text) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  return buffer.GetString();
}

std::string member(std::string_view name, std::string_view value) { return json_string(name) + ":" + json_string(value); }

}  // namespace

Level2Scenario::Level2Scenario(QuoteKind kind, std::string schema_) : dcap(kind), live_key(1952), schema(std::move(schema_)) {
  for (size_t i = 0; i < live_key.size(); ++i) live_key[i] = static_cast<uint8_t>(i * 7 + 3);
  if (schema != tdx::kReceiptSchemaV1) prev_receipt_sha256 = "GENESIS";
  if (schema == tdx::kReceiptSchemaV3) {
    sigsum_chain_key_hex = std::string(64, 'c');
    rekor_key_spki_b64 =
        "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEJu/OvQ7p40pmkYfhizqRIrL3M5RbZJzJ+fkh6fna2BKQI4venMe7Mw0VDGdwTdJa5wVSBXRLbzG/"
        "QHB0WHLQ5g==";
  }
  event_log = {
      {1, 1, "", "boot", "00"},
      {3, 134217729, "", "app-id", "a1b2c3"},
      {3, 134217729, "", "compose-hash", "c0ffee"},
      {3, 134217729, "", "os-image-hash", "0123abcd"},
      {3, 134217729, "", "key-provider", "6b6d73"},
  };
  fill_event_digests();
}

std::array<uint8_t, 48> Level2Scenario::event_digest(const tdx::EventLogEntry& entry) {
  std::vector<uint8_t> input;
  for (int shift = 0; shift < 32; shift += 8) input.push_back(static_cast<uint8_t>(entry.event_type >> shift));
  input.push_back(':');
  input.insert(input.end(), entry.event.begin(), entry.event.end());
  input.push_back(':');
  const std::vector<uint8_t> payload = hex_decode(entry.event_payload).value_or(std::vector<uint8_t>{});
  input.insert(input.end(), payload.begin(), payload.end());
  return crypto::sha384(input);
}

void Level2Scenario::fill_event_digests() {
  for (tdx::EventLogEntry& entry : event_log) entry.digest = hex_encode(event_digest(entry));
}

std::string Level2Scenario::pin_hex() const { return hex_encode(live_key); }

dcap::TdReport10& Level2Scenario::td() {
  dcap::Report& report = dcap.quote_draft.report;
  if (auto* v5 = std::get_if<dcap::TdReport15>(&report)) return v5->base;
  return std::get<dcap::TdReport10>(report);
}

std::string Level2Scenario::receipt_json() {
  tdx::LiveKeyReceipt receipt{
      schema, "ML-DSA-65", pin_hex(), "", event_log, issued_at, prev_receipt_sha256, sigsum_chain_key_hex, rekor_key_spki_b64};
  auto* enclave = std::get_if<dcap::EnclaveReport>(&dcap.quote_draft.report);
  if (bind_key) {
    const auto binding = tdx::key_binding(receipt, live_key);
    if (binding) (enclave ? enclave->report_data : td().report_data) = *binding;
  }
  if (replay_rtmr3 && !enclave) {
    std::array<uint8_t, 48> rtmr3{};
    for (const tdx::EventLogEntry& entry : event_log) {
      if (entry.imr != 3) continue;
      std::vector<uint8_t> extend(rtmr3.begin(), rtmr3.end());
      const std::array<uint8_t, 48> digest = event_digest(entry);
      extend.insert(extend.end(), digest.begin(), digest.end());
      rtmr3 = crypto::sha384(extend);
    }
    td().rt_mr3 = rtmr3;
  }
  std::string events;
  for (const tdx::EventLogEntry& e : event_log) {
    if (!events.empty()) events += ",";
    events += "{\"imr\":" + std::to_string(e.imr) + ",\"event_type\":" + std::to_string(e.event_type) + "," +
              member("digest", e.digest) + "," + member("event", e.event) + "," + member("event_payload", e.event_payload) + "}";
  }
  std::string out = "{" + member("schema", schema) + "," + member("alg", "ML-DSA-65") + "," +
                    member("public_key_hex", pin_hex()) + "," + member("quote_hex", hex_encode(dcap.quote())) +
                    ",\"event_log\":[" + events + "]," + member("issued_at", issued_at);
  if (prev_receipt_sha256) out += "," + member("prev_receipt_sha256", *prev_receipt_sha256);
  if (sigsum_chain_key_hex) out += "," + member("sigsum_chain_key_hex", *sigsum_chain_key_hex);
  if (rekor_key_spki_b64) out += "," + member("rekor_key_spki_b64", *rekor_key_spki_b64);
  return out + "}";
}

std::string Level2Scenario::snapshot_json() const {
  const dcap::QuoteCollateralV3 c = dcap.collateral();
  std::string collateral = member("pck_crl_issuer_chain", c.pck_crl_issuer_chain) + "," + member("root_ca_crl", c.root_ca_crl) +
                           "," + member("pck_crl", c.pck_crl) + "," + member("tcb_info_issuer_chain", c.tcb_info_issuer_chain) +
                           "," + member("tcb_info", c.tcb_info) + "," + member("tcb_info_signature", c.tcb_info_signature) + "," +
                           member("qe_identity_issuer_chain", c.qe_identity_issuer_chain) + "," +
                           member("qe_identity", c.qe_identity) + "," + member("qe_identity_signature", c.qe_identity_signature);
  if (c.pck_certificate_chain) collateral += "," + member("pck_certificate_chain", *c.pck_certificate_chain);
  return "{" + member("schema", tdx::kSnapshotSchema) + "," + member("fetched_at", fetched_at) + "," +
         member("source", "test collateral") + ",\"collateral\":{" + collateral + "}}";
}

std::string Level2Scenario::expected_json() const {
  // An SGX quote has no TD report; its expected file pins zeros and is never reached.
  static const dcap::TdReport10 kNoTdReport{};
  const bool sgx = std::holds_alternative<dcap::EnclaveReport>(dcap.quote_draft.report);
  const dcap::TdReport10& r = sgx ? kNoTdReport : const_cast<Level2Scenario*>(this)->td();
  std::string out = "{" + member("schema", tdx::kExpectedTdSchema) + "," + member("td_attributes", hex_encode(r.td_attributes)) +
                    "," + member("xfam", hex_encode(r.xfam)) + "," + member("mr_td", hex_encode(r.mr_td)) + "," +
                    member("mr_config_id", hex_encode(r.mr_config_id)) + "," + member("mr_owner", hex_encode(r.mr_owner)) + "," +
                    member("mr_owner_config", hex_encode(r.mr_owner_config)) + "," + member("rt_mr0", hex_encode(r.rt_mr0)) +
                    "," + member("rt_mr1", hex_encode(r.rt_mr1)) + "," + member("rt_mr2", hex_encode(r.rt_mr2)) + "," +
                    member("app_id", "a1b2c3") + "," + member("compose_hash", "c0ffee") + "," +
                    member("os_image_hash", "0123abcd") + "," + member("key_provider", "6b6d73");
  if (expected_mr_kms) out += "," + member("mr_kms", *expected_mr_kms);
  return out + ",\"min_tcb_evaluation_data_number\":0}";
}

}  // namespace orv::test
