#include "sig/live_record.h"

#include <array>
#include <optional>
#include <string>

#include "core/hex.h"
#include "core/text.h"
#include "crypto/digest.h"
#include "crypto/mldsa65.h"
#include "json/record.h"
#include "sig/schema_list.h"
#include "sig/scope.h"

namespace orv::sig {
namespace {

using json::Field;
using json::Kind;

constexpr std::array<std::string_view, 1> kAcceptedSchemaVersions = {"v1"};
constexpr std::string_view kAlgorithm = "ML-DSA-65";

constexpr std::array<Field, 9> kCompletionRecordFields = {{
    {"schema_version", Kind::String},
    {"agent_id", Kind::String},
    {"model_version", Kind::String},
    {"tenant_id", Kind::String},
    {"input_commitment", Kind::String},
    {"output_hash", Kind::String},
    {"timestamp_rfc3339", Kind::String},
    {"nonce", Kind::String},
    {"monotonic_counter", Kind::U64},
}};
constexpr json::Record kCompletionRecord{"CompletionRecord", kCompletionRecordFields};

constexpr std::array<Field, 4> kSignedCompletionRecordFields = {{
    {"record", Kind::Object, false, &kCompletionRecord},
    {"alg", Kind::String},
    {"signature_hex", Kind::String},
    {"public_key_hex", Kind::String},
}};
constexpr json::Record kSignedCompletionRecord{"SignedCompletionRecord", kSignedCompletionRecordFields};

CompletionRecord read_record(const json::Value& record) {
  using json::string_member;
  return {
      string_member(record, "schema_version"),       string_member(record, "agent_id"),
      string_member(record, "model_version"),        string_member(record, "tenant_id"),
      string_member(record, "input_commitment"),     string_member(record, "output_hash"),
      string_member(record, "timestamp_rfc3339"),    string_member(record, "nonce"),
      json::u64_member(record, "monotonic_counter"),
  };
}

void append_u64_be(std::vector<uint8_t>& out, uint64_t value) {
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void record_facts(const CompletionRecord& record, const std::string& record_id, TextMap& facts) {
  facts["record_id"] = record_id;
  facts["schema_version"] = record.schema_version;
  facts["agent_id"] = record.agent_id;
  facts["model_version"] = record.model_version;
  facts["tenant_id"] = record.tenant_id;
  facts["timestamp"] = record.timestamp_rfc3339;
  facts["nonce"] = record.nonce;
  facts["monotonic_counter"] = decimal(record.monotonic_counter);
  facts["input_commitment"] = record.input_commitment;
  facts["output_hash"] = record.output_hash;
}

}  // namespace

std::vector<uint8_t> live_record_signed_bytes(const CompletionRecord& record) {
  const std::array<std::string_view, 8> fields = {
      record.schema_version,   record.agent_id,    record.model_version,     record.tenant_id,
      record.input_commitment, record.output_hash, record.timestamp_rfc3339, record.nonce,
  };
  std::vector<uint8_t> out;
  for (std::string_view field : fields) {
    append_u64_be(out, field.size());
    out.insert(out.end(), field.begin(), field.end());
  }
  append_u64_be(out, record.monotonic_counter);
  return out;
}

ReceiptVerdict check_live_record(const json::Value& document, std::string_view pinned_key) {
  ReceiptVerdict verdict;
  verdict.format = ReceiptFormat::LiveRecord;
  verdict.scope = kLiveRecordScope;
  auto& problems = verdict.problems;
  const auto finish = [&]() -> ReceiptVerdict {
    settle_outcome(verdict);
    return verdict;
  };

  const std::string_view pin_text = trim_unicode(pinned_key);
  if (pin_text.empty()) {
    problems.push_back({"PIN_MISSING", "refusing to verify without a pinned service key"});
    return finish();
  }
  const std::optional<std::vector<uint8_t>> pin = hex_decode(pin_text);
  if (!pin || pin->size() != crypto::kMldsa65PublicKeyBytes) {
    problems.push_back({"PIN_INVALID", "the pinned key is not a " + decimal(crypto::kMldsa65PublicKeyBytes) +
                                           "-byte ML-DSA-65 public key in hex; live records need the service key"});
    return finish();
  }
  if (auto mapped = json::check_record(document, kSignedCompletionRecord); !mapped.ok()) {
    problems.push_back({"PARSE", "record does not parse: " + mapped.error()});
    return finish();
  }

  const CompletionRecord record = read_record(*json::member(document, "record"));
  const std::string_view alg = json::string_member(document, "alg");
  const std::string_view signature_hex = json::string_member(document, "signature_hex");
  const std::string_view public_key_hex = json::string_member(document, "public_key_hex");

  if (!is_accepted(record.schema_version, kAcceptedSchemaVersions)) {
    problems.push_back({"UNSUPPORTED_SCHEMA", "record schema_version '" + std::string(record.schema_version) +
                                                  "' is not supported; this verifier accepts " +
                                                  list_notation(kAcceptedSchemaVersions)});
  }
  if (alg != kAlgorithm) {
    problems.push_back({"UNSUPPORTED_ALG", "alg '" + std::string(alg) + "' is not " + std::string(kAlgorithm)});
  }
  if (has_uppercase_hex_digit(public_key_hex)) {
    problems.push_back({"KEY_NOT_CANONICAL", "public_key_hex is not lowercase hex"});
  }
  const std::optional<std::vector<uint8_t>> embedded_key = hex_decode(public_key_hex);
  if (!embedded_key || *embedded_key != *pin) {
    problems.push_back({"EMBEDDED_KEY_MISMATCH",
                        "the record's embedded public_key_hex does not match the pinned key (embedded keys are "
                        "never trusted)"});
  }

  const std::vector<uint8_t> signed_bytes = live_record_signed_bytes(record);
  const std::optional<std::vector<uint8_t>> signature = hex_decode(signature_hex);
  if (!signature) {
    problems.push_back({"SIGNATURE_NOT_HEX", "signature_hex is not hex"});
  } else {
    if (has_uppercase_hex_digit(signature_hex)) {
      problems.push_back(
          {"SIGNATURE_NOT_CANONICAL", "signature_hex is not lowercase hex; issued signatures are always lowercase"});
    }
    // Always the pinned key: the embedded one is only ever compared, never used.
    if (!crypto::mldsa65_verify(*pin, signed_bytes, as_bytes(kLiveRecordContext), *signature)) {
      problems.push_back({"SIGNATURE_INVALID", "ML-DSA-65 signature is INVALID under the pinned key"});
    }
  }

  const std::string signed_bytes_sha256 = crypto::sha256_hex(signed_bytes);
  verdict.intermediate["pinned_key_sha256"] = crypto::sha256_hex(*pin);
  if (embedded_key) verdict.intermediate["embedded_key_sha256"] = crypto::sha256_hex(*embedded_key);
  verdict.intermediate["signed_bytes_len"] = decimal(signed_bytes.size());
  verdict.intermediate["signed_bytes_sha256"] = signed_bytes_sha256;
  record_facts(record, signed_bytes_sha256, verdict.facts);
  return finish();
}

}  // namespace orv::sig
