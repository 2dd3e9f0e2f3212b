#include "tdx/key_chain.h"

#include <algorithm>
#include <array>
#include <unordered_set>
#include <vector>

#include "core/hex.h"
#include "core/text.h"
#include "crypto/digest.h"
#include "crypto/mldsa65.h"
#include "dcap/quote.h"
#include "json/document.h"
#include "tdx/documents.h"
#include "tdx/level2.h"

namespace orv::tdx {
namespace {

using Digest = std::array<uint8_t, 32>;

constexpr std::string_view kGenesis = "GENESIS";

// Nothing is verified here, so this only says what the quote claims to bind.
bool quote_claims(std::string_view quote_hex, const std::array<uint8_t, 64>& binding) {
  const std::optional<std::vector<uint8_t>> quote = hex_decode(quote_hex);
  return quote && dcap::claimed_report_data(*quote) == binding;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i == 0 ? "" : ", ") + parts[i];
  return out;
}

class HistoryCheck {
 public:
  explicit HistoryCheck(const KeyChainInputs& in) : in_(in) { report_.scope = kKeyChainScope; }

  KeyChainReport run() {
    const bool level2 = in_.snapshot.has_value() || !in_.expected.empty();
    // Asking for Level 2 with half of its inputs must not fall back to the weaker check.
    if (level2 && (in_.expected.empty() || !in_.snapshot || trim_unicode(*in_.snapshot).empty())) {
      add(0, "EXPECTED_MISSING", "Level 2 on the chain needs a snapshot and at least one expected-TD file");
      return finish();
    }
    std::string_view text = in_.history;
    if (text.ends_with('\n')) text.remove_suffix(1);
    if (text.empty()) {
      add(0, "PARSE", "the chain is empty");
      return finish();
    }
    // Counted before anything is parsed: a hostile history costs one pass beyond the limit.
    report_.length = static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    if (report_.length > kMaxHistoryReceipts) {
      add(0, "TOO_LARGE", "the chain has more than 10,000 receipts");
      return finish();
    }
    std::vector<std::string_view> lines;
    lines.reserve(report_.length);
    for (size_t start = 0;;) {
      const size_t end = text.find('\n', start);
      lines.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    if (level2) {
      report_.level2_checked = true;
      collateral_ = verify_snapshot_collateral(*in_.snapshot, in_.intel_root_der, in_.now);
    }
    std::optional<Digest> before;
    ProgressCounter progress(in_.progress, lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      // Every line hands its hash to the next, whatever becomes of it below, so one damaged
      // line is reported once and not again by the line after it.
      const Digest digest = crypto::sha256(as_bytes(lines[i]));
      check_line(i + 1, lines[i], before);
      before = digest;
      progress.judged_one();
    }
    report_.head_receipt_sha256 = hex_encode(*before);
    check_kept(lines);
    return finish();
  }

 private:
  void add(uint64_t line, ProblemCode code, std::string message) { report_.problems.push_back({code, std::move(message), line}); }

  KeyChainReport finish() {
    report_.valid = report_.problems.empty();
    // A history is never refused: even Level 2 asked for without its inputs (EXPECTED_MISSING)
    // is a problem like any other, so the JSON outcome agrees with the text and the exit status.
    report_.outcome = report_.valid ? Outcome::Valid : Outcome::Invalid;
    return std::move(report_);
  }

  void check_line(uint64_t number, std::string_view line, const std::optional<Digest>& before) {
    if (auto violation = json::strict_check(line); !violation.ok()) {
      add(number, "PARSE", "not strict JSON: " + violation.error());
      return;
    }
    Expected<json::Document, std::string> parsed = json::parse(line);
    if (!parsed) {  // the strict check parses the same grammar; kept so no path reads an absent value
      add(number, "PARSE", "not strict JSON: " + parsed.error());
      return;
    }
    Expected<LiveKeyReceipt, std::string> mapped = parse_key_receipt(parsed->root());
    if (!mapped) {
      add(number, "PARSE", "not a key receipt: " + mapped.error());
      return;
    }
    const LiveKeyReceipt& receipt = *mapped;

    const bool v3 = receipt.schema == kReceiptSchemaV3;
    if (receipt.schema != kReceiptSchemaV2 && !v3) {
      add(number, "UNSUPPORTED_SCHEMA",
          "only " + std::string(kReceiptSchemaV2) + " and " + std::string(kReceiptSchemaV3) + " receipts chain");
    } else if (!v3 && seen_v3_) {
      add(number, "DOWNGRADE",
          "a " + std::string(kReceiptSchemaV2) + " receipt after a " + std::string(kReceiptSchemaV3) + " one");
    }
    // Once a v3 receipt is seen every later v2 is a downgrade, also after a downgraded one.
    seen_v3_ = seen_v3_ || v3;

    const PrevLink link = parse_prev_link(receipt.prev_receipt_sha256);
    if (link.kind == PrevLink::Kind::Absent || link.kind == PrevLink::Kind::Error) {
      add(number, "PARSE", "prev_receipt_sha256 is missing or malformed");
      return;
    }
    bool link_good = false;
    if (!before) {
      if (link.kind == PrevLink::Kind::Genesis) {
        link_good = true;
      } else {
        add(number, "CHAIN_START", "the first receipt must link to " + std::string(kGenesis));
      }
    } else if (link.kind == PrevLink::Kind::Genesis) {
      add(number, "CHAIN_BROKEN", "a second " + std::string(kGenesis) + ": the history restarted");
    } else if (link.digest != *before) {
      add(number, "CHAIN_BROKEN", "does not link to the receipt before it (a boot is missing, edited or reordered)");
    } else {
      link_good = true;
    }

    if (receipt.public_key_hex.size() != 2 * crypto::kMldsa65PublicKeyBytes || !is_lowercase_hex(receipt.public_key_hex)) {
      add(number, "PARSE", "public_key_hex is not a lowercase ML-DSA-65 key");
      return;
    }
    const std::vector<uint8_t> key = hex_decode(receipt.public_key_hex).value_or(std::vector<uint8_t>{});
    const std::string key_id = crypto::sha256_hex(key);
    report_.key_ids.push_back(key_id);
    if (!key_ids_.insert(key_id).second) add(number, "KEY_REUSED", "the same key appears in two boots");

    Expected<std::array<uint8_t, 64>, Problem> binding = key_binding(receipt, key);
    if (!binding) {
      binding.error().line = number;
      report_.problems.push_back(std::move(binding).error());
    } else {
      if (v3 && receipt.sigsum_chain_key_hex && sigsum_keys_.insert(*receipt.sigsum_chain_key_hex).second) {
        report_.sigsum_chain_keys.push_back(*receipt.sigsum_chain_key_hex);
      }
      if (link_good && !quote_claims(receipt.quote_hex, *binding)) {
        add(number, "KEY_NOT_BOUND", "the quote does not bind this key and link");
      }
    }

    if (report_.level2_checked) check_level2(number, line, receipt.public_key_hex);
  }

  // The receipt's own key is the pin: a history proves its keys through the quotes, and no
  // single key is pinned across boots.
  void check_level2(uint64_t number, std::string_view line, std::string_view key) {
    std::vector<std::string> first_codes;
    for (size_t i = 0; i < in_.expected.size(); ++i) {
      Level2Inputs inputs{line, key, *in_.snapshot, in_.expected[i], in_.now, in_.intel_root_der};
      inputs.verified_collateral = collateral_ ? &*collateral_ : nullptr;
      const Level2Result result = evaluate_level2(inputs);
      if (result.report.valid) return;
      if (i == 0) {
        for (const Problem& problem : result.report.problems) first_codes.emplace_back(problem.code.text());
      }
    }
    add(number, "LEVEL2_FAILED", "the receipt does not pass Level 2 against any expected TD (" + joined(first_codes) + ")");
  }

  void check_kept(const std::vector<std::string_view>& lines) {
    if (in_.contains.empty()) return;
    const std::unordered_set<std::string_view> present(lines.begin(), lines.end());
    for (const std::string& kept : in_.contains) {
      std::string_view wanted = kept;
      if (wanted.ends_with('\n')) wanted.remove_suffix(1);
      const bool found = present.contains(wanted);
      report_.contains.push_back(found);
      if (!found) add(0, "RECEIPT_MISSING", "a receipt you kept is not in this history");
    }
  }

  const KeyChainInputs& in_;
  KeyChainReport report_;
  std::optional<dcap::VerifiedCollateral> collateral_;
  bool seen_v3_ = false;
  std::unordered_set<std::string> key_ids_;
  std::unordered_set<std::string> sigsum_keys_;
};

}  // namespace

KeyChainReport verify_key_chain(const KeyChainInputs& inputs) { return HistoryCheck(inputs).run(); }

}  // namespace orv::tdx
