#include "sig/chain.h"

#include <array>
#include <optional>
#include <vector>

#include "core/hex.h"
#include "core/progress.h"
#include "core/text.h"
#include "json/canonical.h"
#include "json/document.h"
#include "json/record.h"
#include "sig/lab_receipt.h"
#include "sig/notary_pin.h"
#include "sig/pem.h"
#include "sig/receipt.h"
#include "sig/refusal.h"
#include "sig/scope.h"

namespace orv::sig {
namespace {

using json::Field;
using json::Kind;

constexpr uint64_t kChainLimit = 268435456;
constexpr uint64_t kEntryLimit = 1048576;
constexpr uint64_t kHeadLimit = 65536;
constexpr uint64_t kPinnedKeyLimit = 65536;
constexpr size_t kMaxHeads = 1024;

constexpr std::array<Field, 6> kHeadCoreFields = {{
    {"schema", Kind::String},
    {"first_receipt_hash", Kind::String},
    {"length", Kind::U64},
    {"head_receipt_hash", Kind::String},
    {"issued_at", Kind::String},
    {"broker_pub_pem", Kind::String},
}};
constexpr json::Record kChainHeadCore{"ChainHeadCore", kHeadCoreFields};
constexpr std::array<Field, 2> kSignedChainHeadFields = {{
    {"core", Kind::Object, false, &kChainHeadCore},
    {"signature_hex", Kind::String},
}};
constexpr json::Record kSignedChainHead{"SignedChainHead", kSignedChainHeadFields};

// What differs between a chain of lab receipts and a chain of refusals.
struct ChainKind {
  bool refusals = false;
  std::string_view link_member;  // in the core: names the previous entry's hash
  std::string_view hash_member;  // at the top level: this entry's hash
};

constexpr ChainKind kReceiptChain{false, "prev_receipt_hash", "receipt_hash"};
constexpr ChainKind kRefusalChain{true, "prev_refusal_hash", "refusal_hash"};

std::string text_member(const json::Value& object, std::string_view name) {
  const json::Value* value = json::member(object, name);
  if (value == nullptr || !value->IsString()) return {};
  return std::string(value->GetString(), value->GetStringLength());
}

// Hands each line that is not blank to `take` with its line number, until `take` returns false.
template <class Take>
void for_each_entry_line(std::string_view chain, const Take& take) {
  uint64_t line_number = 0;
  for (size_t start = 0; start <= chain.size();) {
    size_t end = chain.find('\n', start);
    if (end == std::string_view::npos) end = chain.size();
    const std::string_view line = chain.substr(start, end - start);
    start = end + 1;
    ++line_number;
    if (!trim_unicode(line).empty() && !take(line, line_number)) return;
  }
}

uint64_t count_entry_lines(std::string_view chain) {
  uint64_t count = 0;
  for_each_entry_line(chain, [&](std::string_view, uint64_t) {
    ++count;
    return true;
  });
  return count;
}

class ChainCheck {
 public:
  ChainCheck(const NotaryPin& pin, ChainReport& report, bool keep_entries)
      : pin_(pin), report_(report), keep_entries_(keep_entries) {}

  void read_entries(std::string_view chain, ProgressCounter& progress) {
    for_each_entry_line(chain, [&](std::string_view line, uint64_t line_number) {
      const bool read = read_entry(line, line_number);  // reading stops at a line it cannot take
      progress.judged_one();
      return read;
    });
    if (entry_hashes_.empty()) add(0, "CHAIN_EMPTY", "chain contains no receipts");
  }

  void check_head(uint64_t index, std::string_view text) {
    HeadResult result{index, Outcome::Invalid, std::nullopt, std::nullopt, std::nullopt};
    const size_t problems_before = report_.problems.size();
    check_head_into(index, text, result);
    if (report_.problems.size() == problems_before) result.outcome = Outcome::Valid;
    report_.heads.push_back(std::move(result));
  }

  uint64_t entries_read() const { return entry_hashes_.size(); }

  std::optional<std::string> last_entry_hash() const {
    if (entry_hashes_.empty()) return std::nullopt;
    return entry_hashes_.back();
  }

 private:
  void add(uint64_t line, ProblemCode code, std::string message) { report_.problems.push_back({code, std::move(message), line}); }

  // False when the line ends the reading of the chain.
  bool read_entry(std::string_view line, uint64_t line_number) {
    if (line.size() > kEntryLimit) {
      add(line_number, "CHAIN_ENTRY_TOO_LARGE",
          "entry is " + decimal(line.size()) + " bytes; the limit is " + decimal(kEntryLimit) + " bytes");
      return false;
    }
    Expected<json::Document, std::string> parsed = json::parse(line);
    if (!parsed) {
      add(line_number, "CHAIN_ENTRY_UNPARSEABLE", "unparseable entry (" + parsed.error() + ")");
      return false;
    }
    if (auto violation = json::strict_check(line); !violation.ok()) {
      add(line_number, "NON_CANONICAL_JSON", "entry is not strict JSON: " + violation.error());
      return false;
    }
    const json::Value& entry = parsed->root();
    if (!kind_) {
      kind_ = detect_format(entry) == ReceiptFormat::Refusal ? kRefusalChain : kReceiptChain;
      report_.refusal_chain = kind_->refusals;
      report_.scope = kind_->refusals ? kRefusalScope : kLabReceiptScope;
    }

    ReceiptVerdict verdict = kind_->refusals ? check_refusal(entry, pin_) : check_lab_receipt(entry, pin_);
    for (const Problem& problem : verdict.problems) add(line_number, problem.code, problem.message);
    if (keep_entries_) report_.entries.push_back(verdict);

    // A bad entry's own hash still serves as the next link, so one tampered receipt does not
    // cascade into broken links after it.
    const json::Value* core = json::member(entry, "core");
    const std::string link = core != nullptr ? text_member(*core, kind_->link_member) : std::string();
    if (link != expected_link_) {
      add(line_number, "CHAIN_LINK_BROKEN", std::string(kind_->link_member) + " " + link + " does not link to " + expected_link_);
    }
    expected_link_ = text_member(entry, kind_->hash_member);
    entry_hashes_.push_back(expected_link_);
    return true;
  }

  void check_head_into(uint64_t index, std::string_view text, HeadResult& result) {
    const std::string prefix = "head " + decimal(index) + ": ";
    const auto add_head = [&](ProblemCode code, std::string message) { add(0, code, prefix + message); };

    if (auto violation = json::strict_check(text); !violation.ok()) {
      add_head("NON_CANONICAL_JSON", "not strict JSON: " + violation.error());
      return;
    }
    Expected<json::Document, std::string> parsed = json::parse(text);
    if (!parsed) {
      add_head("HEAD_PARSE", "not a signed chain head: " + parsed.error());
      return;
    }
    const json::Value& head = parsed->root();
    if (auto mapped = json::check_record(head, kSignedChainHead); !mapped.ok()) {
      add_head("HEAD_PARSE", "not a signed chain head: " + mapped.error());
      return;
    }
    const json::Value& core = *json::member(head, "core");
    const uint64_t length = json::u64_member(core, "length");
    const std::string head_hash = text_member(core, "head_receipt_hash");
    result.length = length;
    result.head_receipt_hash = head_hash;
    result.issued_at = text_member(core, "issued_at");

    const std::string schema = text_member(core, "schema");
    if (schema != kChainHeadSchema) {
      add_head("UNSUPPORTED_SCHEMA", "schema '" + schema + "' is not " + std::string(kChainHeadSchema));
    }
    if (strip_pem_space(json::string_member(core, "broker_pub_pem")) != pin_.stripped_text) {
      add_head("EMBEDDED_KEY_MISMATCH", "embedded broker_pub_pem does not match the pinned key");
    }
    const std::string_view signature_hex = json::string_member(head, "signature_hex");
    if (has_uppercase_hex_digit(signature_hex)) add_head("SIGNATURE_NOT_CANONICAL", "signature_hex is not lowercase hex");
    if (!head_signature_verifies(core, signature_hex)) {
      add_head("HEAD_SIGNATURE_INVALID", "head signature is INVALID under the pinned key");
      return;  // unverified claims are shown, never compared
    }

    const size_t entries = entry_hashes_.size();
    if (entries == 0 || text_member(core, "first_receipt_hash") != entry_hashes_.front()) {
      add_head("HEAD_OTHER_CHAIN", "head names a different chain (first_receipt_hash differs)");
    } else if (length == 0) {
      add_head("HEAD_MISMATCH", "head covers zero receipts");
    } else if (length > entries) {
      add_head("HEAD_BEYOND_CHAIN", "the notary signed for " + decimal(length) + " receipts but this chain has " +
                                        decimal(entries) + ": receipts were withheld or truncated");
    } else if (entry_hashes_[length - 1] != head_hash) {
      add_head("HEAD_MISMATCH",
               "receipt " + decimal(length) + " of this chain differs from the signed head: the chain was forked or rewritten");
    }
  }

  bool head_signature_verifies(const json::Value& core, std::string_view signature_hex) const {
    const Expected<std::string, std::string> canonical = json::canonicalize(core);
    const std::optional<std::vector<uint8_t>> signature = hex_decode(signature_hex);
    if (!canonical || !signature) return false;
    const std::string signed_bytes = std::string(kChainHeadSchema) + "\n" + *canonical;
    return pin_.key.verify(as_bytes(signed_bytes), *signature);
  }

  const NotaryPin& pin_;
  ChainReport& report_;
  bool keep_entries_;
  std::optional<ChainKind> kind_;
  std::string expected_link_ = "GENESIS";
  std::vector<std::string> entry_hashes_;
};

Expected<void, Problem> check_input_sizes(std::string_view chain, std::span<const std::string> heads,
                                          std::string_view pinned_key) {
  if (heads.size() > kMaxHeads) {
    return Problem{"TOO_MANY_HEADS", decimal(heads.size()) + " chain heads given; the limit is " + decimal(kMaxHeads)};
  }
  for (const std::string& head : heads) {
    if (auto problem = json::size_guard("a chain head", head.size(), kHeadLimit); !problem.ok()) return problem;
  }
  if (auto problem = json::size_guard("the pinned key", pinned_key.size(), kPinnedKeyLimit); !problem.ok()) return problem;
  return json::size_guard("the chain", chain.size(), kChainLimit);
}

void settle(ChainReport& report) {
  report.outcome = outcome_from(report.problems);
  report.valid = report.outcome == Outcome::Valid;
}

}  // namespace

ChainReport check_chain(std::string_view chain, std::span<const std::string> heads, std::string_view pinned_key,
                        bool keep_entries, const ProgressFn& progress) {
  ChainReport report;
  report.scope = kLabReceiptScope;
  report.heads_given = !heads.empty();

  // Refusals to judge are the only problem of their report: nothing else is read.
  const Expected<void, Problem> sizes = check_input_sizes(chain, heads, pinned_key);
  Expected<NotaryPin, Problem> pin =
      sizes.ok() ? read_notary_pin(pinned_key, "chains") : Expected<NotaryPin, Problem>(sizes.error());
  if (!pin) {
    report.problems.push_back(std::move(pin).error());
    settle(report);
    return report;
  }

  ChainCheck check(*pin, report, keep_entries);
  // Counting costs a pass over the chain, made only for a listener.
  ProgressCounter counter(progress, progress ? count_entry_lines(chain) : 0);
  check.read_entries(chain, counter);
  for (size_t i = 0; i < heads.size(); ++i) check.check_head(i + 1, heads[i]);
  report.head_receipt_hash = check.last_entry_hash();
  report.length = check.entries_read();
  settle(report);
  return report;
}

}  // namespace orv::sig
