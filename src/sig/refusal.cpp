#include "sig/refusal.h"

#include <array>
#include <optional>
#include <string>

#include "core/hex.h"
#include "core/text.h"
#include "crypto/digest.h"
#include "json/canonical.h"
#include "json/record.h"
#include "sig/pem.h"
#include "sig/schema_list.h"
#include "sig/scope.h"

namespace orv::sig {
namespace {

using json::Field;
using json::Kind;

constexpr std::array<std::string_view, 4> kKnownReasonCodes = {"EVIDENCE_MISSING", "NO_VERIFIER", "EVIDENCE_REJECTED",
                                                               "POLICY_DENIED"};

constexpr std::array<Field, 17> kCoreFields = {{
    {"schema", Kind::String},
    {"refusal_id", Kind::String},
    {"job_id", Kind::String},
    {"tenant_id", Kind::String},
    {"manifest_hash", Kind::String},
    {"agent_id", Kind::String},
    {"nonce", Kind::String},
    {"stage", Kind::String},
    {"reason_code", Kind::String},
    {"reasons", Kind::StringArray},
    {"policy_hash", Kind::String},
    {"enforcement_profile_hash", Kind::String},
    {"evidence_hashes", Kind::StringArray},
    {"released", Kind::Bool},
    {"prev_refusal_hash", Kind::String},
    {"issued_at", Kind::String},
    {"broker_pub_pem", Kind::String},
}};
constexpr json::Record kRefusalCore{"RefusalCore", kCoreFields};

constexpr std::array<Field, 3> kSignedRefusalFields = {{
    {"core", Kind::Object, false, &kRefusalCore},
    {"refusal_hash", Kind::String},
    {"broker_signature_hex", Kind::String},
}};
constexpr json::Record kSignedRefusal{"SignedRefusal", kSignedRefusalFields};

std::string joined_reasons(const json::Value& reasons) {
  std::string out;
  for (const json::Value& reason : reasons.GetArray()) {
    if (!out.empty()) out += "; ";
    out.append(reason.GetString(), reason.GetStringLength());
  }
  return out;
}

void check_signed_refusal(const json::Value& document, const NotaryPin& pin, ReceiptVerdict& verdict) {
  auto& problems = verdict.problems;
  const json::Value& core = *json::member(document, "core");
  const auto text = [](const json::Value& object, std::string_view name) {
    return std::string(json::string_member(object, name));
  };

  const std::string schema = text(core, "schema");
  if (schema != kRefusalSchema) {
    problems.push_back({"UNSUPPORTED_SCHEMA", "schema '" + schema + "' is not " + std::string(kRefusalSchema)});
  }
  const std::string reason_code = text(core, "reason_code");
  if (!is_accepted(reason_code, kKnownReasonCodes)) {
    problems.push_back({"UNKNOWN_REASON_CODE", "reason_code '" + reason_code + "' is not one this verifier knows"});
  }
  const bool released = json::member(core, "released")->GetBool();
  if (released) problems.push_back({"REFUSAL_CLAIMS_RELEASE", "a refusal must state released: false"});

  const Expected<std::string, std::string> canonical = json::canonicalize(core);
  if (!canonical) {
    problems.push_back({"PARSE", "refusal not canonicalizable: " + canonical.error()});
  } else {
    const std::string recomputed = crypto::sha384_hex(as_bytes(*canonical));
    const std::string claimed = text(document, "refusal_hash");
    if (claimed != recomputed) {
      problems.push_back({"REFUSAL_HASH_MISMATCH", "refusal hash mismatch: claimed " + claimed + ", recomputed " + recomputed});
    }
  }
  if (strip_pem_space(json::string_member(core, "broker_pub_pem")) != pin.stripped_text) {
    problems.push_back({"EMBEDDED_KEY_MISMATCH",
                        "the refusal's embedded broker_pub_pem does not match the pinned key (embedded keys are never "
                        "trusted)"});
  }
  const std::string_view signature_hex = json::string_member(document, "broker_signature_hex");
  if (has_uppercase_hex_digit(signature_hex)) {
    problems.push_back({"SIGNATURE_NOT_CANONICAL", "broker_signature_hex is not lowercase hex"});
  }

  const std::optional<std::vector<uint8_t>> signature = hex_decode(signature_hex);
  if (!signature) {
    problems.push_back({"SIGNATURE_NOT_HEX", "broker_signature_hex is not hex"});
  } else if (!canonical) {
    problems.push_back({"PARSE", "refusal not canonicalizable: " + canonical.error()});
  } else {
    // The schema line keeps a refusal's signature from ever verifying as any other document's.
    const std::string signed_bytes = std::string(kRefusalSchema) + "\n" + *canonical;
    verdict.intermediate["signed_bytes_len"] = decimal(signed_bytes.size());
    verdict.intermediate["signed_bytes_sha384"] = crypto::sha384_hex(as_bytes(signed_bytes));
    if (!pin.key.verify(as_bytes(signed_bytes), *signature)) {
      problems.push_back({"REFUSAL_SIGNATURE_INVALID", "refusal signature is INVALID under the pinned key"});
    }
  }

  verdict.intermediate["pinned_key_sha256"] = crypto::sha256_hex(pin.der);
  TextMap& facts = verdict.facts;
  for (std::string_view name : {"refusal_id", "prev_refusal_hash", "job_id", "tenant_id", "stage", "reason_code", "policy_hash",
                                "enforcement_profile_hash", "issued_at"}) {
    facts[std::string(name)] = text(core, name);
  }
  facts["refusal_hash"] = text(document, "refusal_hash");
  facts["reasons"] = joined_reasons(*json::member(core, "reasons"));
  facts["released"] = released ? "true" : "false";
}

ReceiptVerdict refusal_verdict() {
  ReceiptVerdict verdict;
  verdict.format = ReceiptFormat::Refusal;
  verdict.scope = kRefusalScope;
  return verdict;
}

}  // namespace

ReceiptVerdict check_refusal(const json::Value& document, const NotaryPin& pin) {
  ReceiptVerdict verdict = refusal_verdict();
  if (auto mapped = json::check_record(document, kSignedRefusal); !mapped.ok()) {
    verdict.problems.push_back({"PARSE", "refusal does not parse: " + mapped.error()});
  } else {
    check_signed_refusal(document, pin, verdict);
  }
  settle_outcome(verdict);
  return verdict;
}

ReceiptVerdict check_refusal(const json::Value& document, std::string_view pinned_key) {
  Expected<NotaryPin, Problem> pin = read_notary_pin(pinned_key, "refusals");
  return pin ? check_refusal(document, *pin) : settled(refusal_verdict(), std::move(pin).error());
}

}  // namespace orv::sig
