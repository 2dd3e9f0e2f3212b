#include "tdx/level2.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/hex.h"
#include "core/text.h"
#include "core/time_text.h"
#include "crypto/digest.h"
#include "crypto/mldsa65.h"
#include "dcap/verify.h"

namespace orv::tdx {
namespace {

constexpr uint64_t kDocumentLimit = 1048576;

constexpr std::string_view kNoteYourClock =
    "Intel's material was evaluated at YOUR clock (evaluated_at). Revocation published after the snapshot was "
    "fetched cannot be seen offline.";
constexpr std::string_view kNotePins = "Pinned values are only as trustworthy as where you obtained them.";
constexpr std::string_view kNoteHostProperties =
    "Allowed host-platform properties (cloud host, not the TD): dynamic platform, cached keys, SMT.";
constexpr std::string_view kNoteKmsByCa =
    "KMS pinned by its CA public key (key_provider), not by the KMS replica's measurement (mr_kms, not pinned).";

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; });
  return out;
}

// Pinned values are compared trimmed and without regard to ASCII letter case.
std::string pinned(std::string_view text) { return ascii_lower(trim_unicode(text)); }

struct Documents {
  LiveKeyReceipt receipt;
  CollateralSnapshot snapshot;
  ExpectedTd expected;
};

class Evaluation {
 public:
  explicit Evaluation(const Level2Inputs& in) : in_(in) {
    report_.evaluated_at = utc_time_text(in.now);
    report_.scope = kLevel2Scope;
    report_.notes = {std::string(kNoteYourClock), std::string(kNotePins)};
  }

  Level2Result run() {
    std::vector<uint8_t> pin;
    std::optional<Documents> docs;
    if (read_inputs(pin) && (docs = read_documents())) {
      std::optional<std::vector<uint8_t>> quote = check_against_pins(*docs, pin);
      if (quote) {
        if (const dcap::TdReport10* td = verify_quote(*quote, *docs)) check_trust_domain(*td, docs->expected);
      }
    }
    report_.outcome = outcome_from(report_.problems);
    report_.valid = report_.outcome == Outcome::Valid;
    return {std::move(report_), std::move(receipt_)};
  }

 private:
  bool add(ProblemCode code, std::string message) {
    report_.problems.push_back({code, std::move(message)});
    return false;
  }

  // Refusals before anything is parsed, then the strict JSON rules.
  bool read_inputs(std::vector<uint8_t>& pin) {
    const std::array<std::pair<std::string_view, std::string_view>, 3> documents = {
        {{"receipt", in_.receipt}, {"snapshot", in_.snapshot}, {"expected TD", in_.expected_td}}};
    for (const auto& [name, text] : documents) {
      if (text.size() > kDocumentLimit) {
        return add("INPUT_TOO_LARGE", "the " + std::string(name) + " is larger than " + decimal(kDocumentLimit) + " bytes");
      }
    }
    const std::string_view pin_text = trim_unicode(in_.pinned_key);
    if (pin_text.empty()) return add("PIN_MISSING", "refusing to verify without a pinned live service key");
    std::optional<std::vector<uint8_t>> pin_bytes = hex_decode(pin_text);
    if (!pin_bytes || pin_bytes->size() != crypto::kMldsa65PublicKeyBytes) {
      return add("PIN_INVALID", "the pinned live key is not a 1952-byte ML-DSA-65 public key in hex");
    }
    pin = std::move(*pin_bytes);
    if (trim_unicode(in_.expected_td).empty()) {
      return add("EXPECTED_MISSING", "refusing to verify without the pinned expected trust-domain measurements");
    }
    for (const auto& [name, text] : documents) {
      if (auto violation = json::strict_check(text); !violation.ok()) {
        return add("NON_CANONICAL_JSON", "the " + std::string(name) + " is not strict JSON: " + violation.error());
      }
    }
    return true;
  }

  // The three documents and their times.
  std::optional<Documents> read_documents() {
    Expected<json::Document, std::string> expected_json = json::parse(in_.expected_td);
    Expected<json::Document, std::string> receipt_json = json::parse(in_.receipt);
    Expected<json::Document, std::string> snapshot_json = json::parse(in_.snapshot);
    if (!expected_json || !receipt_json || !snapshot_json) return std::nullopt;  // the strict check passed them

    Expected<ExpectedTd, Problem> expected = parse_expected_td(expected_json->root());
    if (!expected) return fail(std::move(expected).error());
    Expected<LiveKeyReceipt, std::string> receipt = parse_key_receipt(receipt_json->root());
    if (!receipt) return fail({"PARSE", "live-key receipt does not parse: " + receipt.error()});
    const LiveKeyReceipt& r = *receipt;
    receipt_ = r;
    report_.receipt_issued_at_claimed = r.issued_at;
    if (r.schema != kReceiptSchemaV1) report_.prev_receipt_sha256 = r.prev_receipt_sha256;
    if (r.schema == kReceiptSchemaV3) report_.sigsum_chain_key_hex = r.sigsum_chain_key_hex;

    Expected<CollateralSnapshot, Problem> snapshot = parse_snapshot(snapshot_json->root());
    if (!snapshot) return fail(std::move(snapshot).error());
    const CollateralSnapshot& s = *snapshot;
    report_.snapshot_fetched_at_claimed = s.fetched_at;
    if (!is_strict_utc_time(s.fetched_at)) {
      return fail({"SNAPSHOT_PARSE", "snapshot fetched_at is not a strict RFC 3339 UTC time"});
    }
    if (!is_strict_utc_time(r.issued_at)) return fail({"PARSE", "receipt issued_at is not a strict RFC 3339 UTC time"});
    return Documents{r, s, *expected};
  }

  std::nullopt_t fail(Problem problem) {
    report_.problems.push_back(std::move(problem));
    return std::nullopt;
  }

  // Problems are recorded and the quote is still verified when it decodes from hex.
  std::optional<std::vector<uint8_t>> check_against_pins(const Documents& docs, const std::vector<uint8_t>& pin) {
    Expected<std::array<uint8_t, 64>, Problem> binding = key_binding(docs.receipt, pin);
    if (!binding) {
      report_.problems.push_back(std::move(binding).error());
    } else {
      binding_ = *binding;
    }
    if (docs.snapshot.schema != kSnapshotSchema) {
      add("UNSUPPORTED_SCHEMA", "snapshot schema '" + docs.snapshot.schema + "' is not " + std::string(kSnapshotSchema));
    }
    if (docs.receipt.alg != "ML-DSA-65") add("UNSUPPORTED_ALG", "alg '" + docs.receipt.alg + "' is not ML-DSA-65");
    // The embedded key is only ever compared; everything else uses the pin.
    if (docs.receipt.public_key_hex != pinned(in_.pinned_key)) {
      add("EMBEDDED_KEY_MISMATCH",
          "the receipt's public key does not match the pinned live key (embedded keys are never trusted)");
    }
    std::optional<std::vector<uint8_t>> quote = hex_decode(docs.receipt.quote_hex);
    if (!quote) add("PARSE", "quote_hex is not hex");
    return quote;
  }

  // The quote against Intel's collateral at the evaluation time, under the fixed policy.
  const dcap::TdReport10* verify_quote(const std::vector<uint8_t>& quote, const Documents& docs) {
    dcap::AcceptancePolicy policy;  // UpToDate only, no grace periods
    policy.min_tcb_evaluation_data_number = docs.expected.min_tcb_evaluation_data_number;
    const dcap::VerifiedCollateral* reused = in_.verified_collateral;
    Expected<dcap::VerifiedQuote, dcap::Failure> verified =
        reused != nullptr && reused->evaluated_at() == in_.now
            ? dcap::verify_and_accept(quote, *reused, policy, dcap::VerifyOptions{})
            : dcap::verify_and_accept(quote, docs.snapshot.collateral, in_.intel_root_der, in_.now, policy,
                                      dcap::VerifyOptions{});
    if (!verified) {
      // Only expiry is told apart: a newer snapshot cures it, and nothing else.
      const bool expired = verified.error().kind == dcap::FailureKind::Expired;
      add(expired ? ProblemCode("COLLATERAL_EXPIRED") : ProblemCode("QUOTE_INVALID"),
          "TDX quote does not verify against Intel's root at your time " + report_.evaluated_at + " (snapshot claims " +
              docs.snapshot.fetched_at + "): " + verified.error().text() +
              (expired ? ". Obtain a newer Intel collateral snapshot." : ""));
      return nullptr;
    }
    verified_ = std::move(verified).value();
    report_.notes.emplace_back(kNoteHostProperties);
    report_.tcb_status = std::string(dcap::tcb_status_name(verified_->tcb_status));
    report_.tcb_evaluation_data_number = verified_->tcb_evaluation_data_number;
    report_.advisory_ids = verified_->advisory_ids;
    report_.fmspc = hex_encode(verified_->pck.fmspc);
    report_.collateral_valid_until = utc_time_text(verified_->earliest_expiration);
    const dcap::TdReport10* td = verified_->quote.td_report10();
    if (td == nullptr) add("QUOTE_INVALID", "quote is not a TDX quote");
    return td;
  }

  // Every finding is recorded.
  void check_trust_domain(const dcap::TdReport10& td, const ExpectedTd& expected) {
    const std::array<std::tuple<std::string_view, std::span<const uint8_t>, const std::string*>, 9> fields = {{
        {"td_attributes", td.td_attributes, &expected.td_attributes},
        {"xfam", td.xfam, &expected.xfam},
        {"mr_td", td.mr_td, &expected.mr_td},
        {"mr_config_id", td.mr_config_id, &expected.mr_config_id},
        {"mr_owner", td.mr_owner, &expected.mr_owner},
        {"mr_owner_config", td.mr_owner_config, &expected.mr_owner_config},
        {"rt_mr0", td.rt_mr0, &expected.rt_mr0},
        {"rt_mr1", td.rt_mr1, &expected.rt_mr1},
        {"rt_mr2", td.rt_mr2, &expected.rt_mr2},
    }};
    for (const auto& [name, value, pin] : fields) {
      const std::string hex = hex_encode(value);
      if (hex != pinned(*pin)) {
        add("MEASUREMENT_MISMATCH", std::string(name) + " is not the pinned value");
      } else {
        report_.measurements[std::string(name)] = hex;
      }
    }
    if (!binding_ || !std::equal(binding_->begin(), binding_->end(), td.report_data.begin())) {
      add("KEY_NOT_BOUND", "the quote's report_data does not bind the pinned live key");
    }
    const bool replays = check_event_log(td);
    check_named_events(expected, replays);
    if (replays) report_.measurements["rt_mr3"] = hex_encode(td.rt_mr3);
  }

  // Each RTMR3 event's digest, then the replay to the quote's RTMR3.
  bool check_event_log(const dcap::TdReport10& td) {
    bool replays = true;
    std::array<uint8_t, 48> rtmr3{};
    std::vector<std::string> bad_payloads;  // any one of them stops the replay
    for (const EventLogEntry& entry : rtmr3_events()) {
      const std::optional<std::vector<uint8_t>> payload = hex_decode(entry.event_payload);
      if (!payload) {
        add("EVENT_DIGEST_MISMATCH", "event '" + entry.event + "' payload is not hex");
        bad_payloads.push_back(entry.event);
        replays = false;
        continue;
      }
      const std::array<uint8_t, 48> digest = event_digest(entry, *payload);
      const std::optional<std::vector<uint8_t>> claimed = hex_decode(entry.digest);
      if (!claimed || (!claimed->empty() && !std::equal(claimed->begin(), claimed->end(), digest.begin(), digest.end()))) {
        add("EVENT_DIGEST_MISMATCH", "event '" + entry.event + "' does not hash to its digest");
        replays = false;
      }
      std::vector<uint8_t> extend(rtmr3.begin(), rtmr3.end());
      extend.insert(extend.end(), digest.begin(), digest.end());
      rtmr3 = crypto::sha384(extend);
    }
    if (!bad_payloads.empty()) {
      add("EVENT_LOG_MISMATCH", "event '" + bad_payloads.front() + "' payload is not hex");
      return false;
    }
    if (!std::equal(rtmr3.begin(), rtmr3.end(), td.rt_mr3.begin())) {
      add("EVENT_LOG_MISMATCH", "the event log does not replay to the quote's RTMR3");
      return false;
    }
    return replays;
  }

  // The RTMR3 events the expected TD names.
  void check_named_events(const ExpectedTd& expected, bool replays) {
    const std::array<std::tuple<std::string_view, std::string_view, const std::string*>, 5> named = {{
        {"app-id", "app_id", &expected.app_id},
        {"compose-hash", "compose_hash", &expected.compose_hash},
        {"os-image-hash", "os_image_hash", &expected.os_image_hash},
        {"key-provider", "key_provider", &expected.key_provider},
        {"mr-kms", "mr_kms", expected.mr_kms ? &*expected.mr_kms : nullptr},
    }};
    for (const auto& [event, field, pin] : named) {
      if (pin == nullptr) continue;
      const std::vector<const EventLogEntry*> found = events_named(event);
      if (found.empty()) {
        add("EVENT_LOG_MISMATCH", "no RTMR3 event '" + std::string(event) + "'");
      } else if (found.size() > 1) {
        add("EVENT_LOG_MISMATCH", "RTMR3 event '" + std::string(event) + "' appears more than once");
      } else if (ascii_lower(found.front()->event_payload) != pinned(*pin)) {
        add("MEASUREMENT_MISMATCH", "RTMR3 event '" + std::string(event) + "' is not the pinned value");
      } else if (replays) {
        report_.measurements[std::string(field)] = ascii_lower(found.front()->event_payload);
      }
    }
    if (!expected.mr_kms) {
      const std::vector<const EventLogEntry*> kms = events_named("mr-kms");
      if (kms.size() > 1) {
        add("EVENT_LOG_MISMATCH", "RTMR3 event 'mr-kms' appears more than once");
      } else if (kms.size() == 1 && replays) {
        report_.mr_kms_observed = ascii_lower(kms.front()->event_payload);
      }
      report_.notes.emplace_back(kNoteKmsByCa);
    }
  }

  std::vector<EventLogEntry> rtmr3_events() const {
    std::vector<EventLogEntry> out;
    for (const EventLogEntry& entry : receipt_->event_log) {
      if (entry.imr == 3) out.push_back(entry);
    }
    return out;
  }

  std::vector<const EventLogEntry*> events_named(std::string_view name) const {
    std::vector<const EventLogEntry*> out;
    for (const EventLogEntry& entry : receipt_->event_log) {
      if (entry.imr == 3 && entry.event == name) out.push_back(&entry);
    }
    return out;
  }

  static std::array<uint8_t, 48> event_digest(const EventLogEntry& entry, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> input;
    for (int shift = 0; shift < 32; shift += 8) input.push_back(static_cast<uint8_t>(entry.event_type >> shift));
    input.push_back(':');
    input.insert(input.end(), entry.event.begin(), entry.event.end());
    input.push_back(':');
    input.insert(input.end(), payload.begin(), payload.end());
    return crypto::sha384(input);
  }

  const Level2Inputs& in_;
  Level2Report report_;
  std::optional<LiveKeyReceipt> receipt_;
  std::optional<std::array<uint8_t, 64>> binding_;
  std::optional<dcap::VerifiedQuote> verified_;
};

}  // namespace

Level2Result evaluate_level2(const Level2Inputs& inputs) { return Evaluation(inputs).run(); }

std::optional<dcap::VerifiedCollateral> verify_snapshot_collateral(std::string_view snapshot,
                                                                   std::span<const uint8_t> intel_root_der, uint64_t now) {
  // The same gates an evaluation passes before it reaches the collateral.
  if (snapshot.size() > kDocumentLimit || !json::strict_check(snapshot).ok()) return std::nullopt;
  Expected<json::Document, std::string> parsed = json::parse(snapshot);
  if (!parsed) return std::nullopt;
  Expected<CollateralSnapshot, Problem> document = parse_snapshot(parsed->root());
  if (!document) return std::nullopt;
  Expected<dcap::VerifiedCollateral, dcap::Failure> verified = dcap::verify_collateral(document->collateral, intel_root_der, now);
  if (!verified) return std::nullopt;
  return std::move(verified).value();
}

}  // namespace orv::tdx
