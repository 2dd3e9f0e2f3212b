#include "sig/lab_receipt.h"

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

constexpr std::array<std::string_view, 1> kAcceptedSchemas = {"tamsel-fabric/records/v2"};

constexpr std::array<Field, 10> kManifestFields = {{
    {"schema", Kind::String},
    {"job_id", Kind::String},
    {"tenant_id", Kind::String},
    {"plan_hash", Kind::String},
    {"workload", Kind::String},
    {"input_url", Kind::String},
    {"input_ciphertext_hash", Kind::String},
    {"output_url", Kind::String},
    {"policy_id", Kind::String},
    {"created_at", Kind::String},
}};
constexpr json::Record kJobManifest{"JobManifest", kManifestFields};

constexpr std::array<Field, 13> kAttestationFields = {{
    {"schema", Kind::String},
    {"attestation_id", Kind::String},
    {"job_id", Kind::String},
    {"manifest_hash", Kind::String},
    {"agent_id", Kind::String},
    {"agent_sig_pub_pem", Kind::String},
    {"agent_kem_pub_hex", Kind::String},
    {"nonce", Kind::String},
    {"verdicts", Kind::Array},
    {"evidence_hashes", Kind::Array},
    {"policy_hash", Kind::String},
    {"enforcement_profile_hash", Kind::String},
    {"verified_at", Kind::String},
}};
constexpr json::Record kAttestationRecord{"AttestationRecord", kAttestationFields};

constexpr std::array<Field, 10> kExecutionFields = {{
    {"schema", Kind::String},
    {"job_id", Kind::String},
    {"attestation_id", Kind::String},
    {"manifest_hash", Kind::String},
    {"attestation_hash", Kind::String},
    {"result_ciphertext_hash", Kind::String},
    {"exit_status", Kind::String},
    {"agent_id", Kind::String},
    {"agent_started_at", Kind::String},
    {"agent_finished_at", Kind::String},
}};
constexpr json::Record kExecutionRecord{"ExecutionRecord", kExecutionFields};

constexpr std::array<Field, 6> kMeterFields = {{
    {"release_ts", Kind::String},
    {"complete_ts", Kind::String},
    {"billable_units", Kind::U64},
    {"tier", Kind::String},
    {"agent_started_at", Kind::String},
    {"agent_finished_at", Kind::String},
}};
constexpr json::Record kMeter{"Meter", kMeterFields};

constexpr std::array<Field, 11> kCoreFields = {{
    {"schema", Kind::String},
    {"receipt_id", Kind::String},
    {"job_id", Kind::String},
    {"manifest", Kind::Object, false, &kJobManifest},
    {"attestation", Kind::Object, false, &kAttestationRecord},
    {"execution", Kind::Object, false, &kExecutionRecord},
    {"execution_signature", Kind::String},
    {"meter", Kind::Object, false, &kMeter},
    {"prev_receipt_hash", Kind::String},
    {"issued_at", Kind::String},
    {"broker_pub_pem", Kind::String},
}};
constexpr json::Record kReceiptCore{"ReceiptCore", kCoreFields};

constexpr std::array<Field, 3> kReceiptFields = {{
    {"core", Kind::Object, false, &kReceiptCore},
    {"receipt_hash", Kind::String},
    {"broker_signature_hex", Kind::String},
}};
constexpr json::Record kReceipt{"Receipt", kReceiptFields};

constexpr std::array<std::string_view, 3> kKnownTiers = {"standard", "confidential", "sovereign"};

std::string text_of(const json::Value& object, std::string_view name) { return std::string(json::string_member(object, name)); }

bool blank(std::string_view text) { return trim_unicode(text).empty(); }

// The receipt's parts, located once the mapping has vouched for their shape.
struct ReceiptParts {
  const json::Value& core;
  const json::Value& manifest;
  const json::Value& attestation;
  const json::Value& execution;
  const json::Value& meter;
};

class LabReceiptCheck {
 public:
  LabReceiptCheck(const json::Value& document, const NotaryPin& pin, ReceiptVerdict& verdict)
      : document_(document),
        parts_{*json::member(document, "core"), *json::member(*json::member(document, "core"), "manifest"),
               *json::member(*json::member(document, "core"), "attestation"),
               *json::member(*json::member(document, "core"), "execution"),
               *json::member(*json::member(document, "core"), "meter")},
        pin_(pin),
        verdict_(verdict) {}

  void run() {
    check_schemas();
    const Expected<std::string, std::string> core = json::canonicalize(parts_.core);
    check_receipt_hash(core);
    check_countersignature(core);
    check_embedded_key();
    check_manifest_link();
    check_attestation_link();
    check_identity_links();
    check_agent_signature();
    check_policy_bindings();
    check_meter();
    check_lowercase_signatures();
    record_values(core);
  }

 private:
  void add(ProblemCode code, std::string message) { verdict_.problems.push_back({code, std::move(message)}); }

  void check_schemas() {
    const std::array<std::pair<std::string_view, const json::Value*>, 4> parts = {{
        {"receipt core", &parts_.core},
        {"manifest", &parts_.manifest},
        {"attestation", &parts_.attestation},
        {"execution record", &parts_.execution},
    }};
    for (const auto& [label, part] : parts) {
      const std::string_view schema = json::string_member(*part, "schema");
      if (!is_accepted(schema, kAcceptedSchemas)) {
        add("UNSUPPORTED_SCHEMA", std::string(label) + " carries unsupported schema '" + std::string(schema) +
                                      "' \u2014 this verifier accepts " + list_notation(kAcceptedSchemas) +
                                      "; unknown versions are rejected, never best-effort verified");
      }
    }
  }

  void check_receipt_hash(const Expected<std::string, std::string>& core) {
    if (!core) {
      add("CANONICALIZATION", "receipt core not canonicalizable: " + core.error());
      return;
    }
    const std::string recomputed = crypto::sha384_hex(as_bytes(*core));
    const std::string claimed = text_of(document_, "receipt_hash");
    if (claimed != recomputed) {
      add("HASH_MISMATCH", "receipt_hash mismatch: claimed " + claimed + ", recomputed " + recomputed);
    }
  }

  void check_countersignature(const Expected<std::string, std::string>& core) {
    if (!core) {
      add("CANONICALIZATION", "receipt core not canonicalizable: " + core.error());
      return;
    }
    const std::optional<std::vector<uint8_t>> signature = hex_decode(json::string_member(document_, "broker_signature_hex"));
    if (!signature) {
      add("SIGNATURE_NOT_HEX", "broker signature is not hex");
    } else if (!pin_.key.verify(as_bytes(*core), *signature)) {
      add("COUNTERSIGNATURE_INVALID",
          "broker countersignature is INVALID under the pinned key (a fabricated receipt cannot pass this check)");
    }
  }

  void check_embedded_key() {
    if (strip_pem_space(json::string_member(parts_.core, "broker_pub_pem")) != pin_.stripped_text) {
      add("EMBEDDED_KEY_MISMATCH",
          "receipt's embedded broker_pub_pem does not match the pinned key (embedded keys are never trusted "
          "\u2014 D2)");
    }
  }

  void check_manifest_link() {
    const Expected<std::string, std::string> manifest = json::canonicalize(parts_.manifest);
    if (!manifest) {
      add("CANONICALIZATION", "manifest not canonicalizable: " + manifest.error());
      return;
    }
    const std::string hash = crypto::sha384_hex(as_bytes(*manifest));
    for (const auto& [label, part] : {std::pair{"attestation", &parts_.attestation}, std::pair{"execution", &parts_.execution}}) {
      const std::string claimed = text_of(*part, "manifest_hash");
      if (claimed != hash) {
        add("LINKAGE", std::string(label) + ".manifest_hash " + claimed + " does not match the embedded manifest (" + hash + ")");
      }
    }
  }

  void check_attestation_link() {
    const Expected<std::string, std::string> attestation = json::canonicalize(parts_.attestation);
    if (!attestation) {
      add("CANONICALIZATION", "attestation not canonicalizable: " + attestation.error());
      return;
    }
    const std::string hash = crypto::sha384_hex(as_bytes(*attestation));
    const std::string claimed = text_of(parts_.execution, "attestation_hash");
    if (claimed != hash) {
      add("LINKAGE", "execution.attestation_hash " + claimed + " does not match the embedded attestation (" + hash + ")");
    }
  }

  void check_identity_links() {
    const auto same = [](const json::Value& a, const json::Value& b, std::string_view name) {
      return json::string_member(a, name) == json::string_member(b, name);
    };
    if (!same(parts_.execution, parts_.attestation, "attestation_id")) {
      add("LINKAGE", "execution.attestation_id does not match the attestation");
    }
    if (!same(parts_.execution, parts_.attestation, "agent_id")) {
      add("LINKAGE", "execution.agent_id does not match the attested agent");
    }
    // The attestation's job_id is deliberately not compared: it names the admission, not the job.
    if (!same(parts_.core, parts_.execution, "job_id") || !same(parts_.core, parts_.manifest, "job_id")) {
      add("LINKAGE", "job_id disagrees across the receipt");
    }
  }

  void check_agent_signature() {
    const Expected<std::string, std::string> execution = json::canonicalize(parts_.execution);
    if (!execution) {
      add("CANONICALIZATION", "execution record not canonicalizable: " + execution.error());
      return;
    }
    const std::optional<std::vector<uint8_t>> signature = hex_decode(json::string_member(parts_.core, "execution_signature"));
    if (!signature) {
      add("SIGNATURE_NOT_HEX", "execution signature is not hex");
    } else if (!p384_verify_pem(json::string_member(parts_.attestation, "agent_sig_pub_pem"), as_bytes(*execution), *signature)) {
      add("AGENT_SIGNATURE_INVALID", "execution record signature is invalid under the attested agent key");
    }
  }

  void check_policy_bindings() {
    if (blank(json::string_member(parts_.attestation, "policy_hash"))) {
      add("POLICY_HASH_MISSING", "attestation carries no policy_hash");
    }
    if (blank(json::string_member(parts_.attestation, "enforcement_profile_hash"))) {
      add("ENFORCEMENT_HASH_MISSING", "attestation carries no enforcement_profile_hash (D3)");
    }
  }

  void check_meter() {
    const std::string_view release = json::string_member(parts_.meter, "release_ts");
    const std::string_view complete = json::string_member(parts_.meter, "complete_ts");
    if (blank(release) || blank(complete)) {
      add("METER", "meter is missing broker timestamps (D6)");
    } else if (release > complete) {  // byte order: the texts are compared, not parsed as dates
      add("METER", "meter window runs backwards: release " + std::string(release) + " > complete " + std::string(complete));
    }
    if (json::u64_member(parts_.meter, "billable_units") == 0) {
      add("METER", "meter bills zero units for a completed job (D6)");
    }
    const std::string_view tier = json::string_member(parts_.meter, "tier");
    if (!is_accepted(tier, kKnownTiers)) add("METER", "meter tier '" + std::string(tier) + "' is not a known tier");
  }

  void check_lowercase_signatures() {
    if (has_uppercase_hex_digit(json::string_member(document_, "broker_signature_hex"))) {
      add("SIGNATURE_NOT_CANONICAL", "broker_signature_hex is not lowercase hex; issued signatures are always lowercase");
    }
    if (has_uppercase_hex_digit(json::string_member(parts_.core, "execution_signature"))) {
      add("SIGNATURE_NOT_CANONICAL", "core.execution_signature is not lowercase hex; issued signatures are always lowercase");
    }
  }

  void record_values(const Expected<std::string, std::string>& core) {
    TextMap& intermediate = verdict_.intermediate;
    intermediate["pinned_key_sha256"] = crypto::sha256_hex(pin_.der);
    if (core) {
      intermediate["signed_bytes_len"] = decimal(core->size());
      intermediate["signed_bytes_sha384"] = crypto::sha384_hex(as_bytes(*core));
    }
    if (const auto embedded = read_pem("PUBLIC KEY", json::string_member(parts_.core, "broker_pub_pem"))) {
      intermediate["embedded_key_sha256"] = crypto::sha256_hex(*embedded);
    }
    TextMap& facts = verdict_.facts;
    for (std::string_view name : {"receipt_id", "prev_receipt_hash", "issued_at", "job_id", "schema"}) {
      facts[std::string(name)] = text_of(parts_.core, name);
    }
    facts["receipt_hash"] = text_of(document_, "receipt_hash");
    facts["policy_hash"] = text_of(parts_.attestation, "policy_hash");
    facts["enforcement_profile_hash"] = text_of(parts_.attestation, "enforcement_profile_hash");
    facts["billable_units"] = decimal(json::u64_member(parts_.meter, "billable_units"));
    facts["tier"] = text_of(parts_.meter, "tier");
  }

  const json::Value& document_;
  ReceiptParts parts_;
  const NotaryPin& pin_;
  ReceiptVerdict& verdict_;
};

ReceiptVerdict lab_receipt_verdict() {
  ReceiptVerdict verdict;
  verdict.format = ReceiptFormat::LabReceipt;
  verdict.scope = kLabReceiptScope;
  return verdict;
}

}  // namespace

ReceiptVerdict check_lab_receipt(const json::Value& document, const NotaryPin& pin) {
  ReceiptVerdict verdict = lab_receipt_verdict();
  if (auto mapped = json::check_record(document, kReceipt); !mapped.ok()) {
    verdict.problems.push_back({"PARSE", "receipt does not parse: " + mapped.error()});
  } else {
    LabReceiptCheck(document, pin, verdict).run();
  }
  settle_outcome(verdict);
  return verdict;
}

ReceiptVerdict check_lab_receipt(const json::Value& document, std::string_view pinned_key) {
  Expected<NotaryPin, Problem> pin = read_notary_pin(pinned_key, "lab receipts");
  return pin ? check_lab_receipt(document, *pin) : settled(lab_receipt_verdict(), std::move(pin).error());
}

}  // namespace orv::sig
