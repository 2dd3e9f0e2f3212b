#include "cli/commands.h"

#include "cli/inputs.h"
#include "core/text.h"

namespace orv::cli {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kDocumentLimit = kMiB;
constexpr uint64_t kKeyLimit = 64 * 1024;
constexpr uint64_t kHeadLimit = 64 * 1024;
constexpr uint64_t kChainLimit = 256 * kMiB;
constexpr uint64_t kTimestampedFileLimit = 256 * kMiB;
constexpr uint64_t kHistoryLimit = 64 * kMiB;
constexpr uint64_t kEvidenceLimit = 4 * kMiB;

// A read failure ends the run like a usage error.
#define ORV_READ(target, read_call)                                \
  do {                                                             \
    Expected<std::string, std::string> read_result_ = (read_call); \
    if (!read_result_) return UsageError{read_result_.error()};    \
    (target) = std::move(read_result_).value();                    \
  } while (0)

Execution usage(std::string message) { return UsageError{std::move(message)}; }

Execution log_evidence(const CommandLine& c, const Verifiers& v) {
  if (c.key || !c.heads.empty() || c.stamp || c.key_receipt || c.snapshot || !c.expected.empty() || !c.contains.empty()) {
    return usage("log-evidence takes only --evidence");
  }
  if (!c.evidence) return usage("log-evidence needs --evidence");
  LogEvidenceInputs in;
  ORV_READ(in.receipt, read_text(c.file, "receipt", kDocumentLimit));
  ORV_READ(in.evidence, read_text(*c.evidence, "log evidence", kEvidenceLimit));
  if (!v.log_evidence) return NotAvailable{c.command};
  return make_report(v.log_evidence(in), c.file, c.json);
}

Execution key_chain(const CommandLine& c, const Verifiers& v, const Clock& clock) {
  if (c.key || !c.heads.empty() || c.stamp || c.key_receipt) {
    return usage("key-chain takes only --contains, --snapshot and --expected");
  }
  if (c.snapshot.has_value() != !c.expected.empty()) {
    return usage("key-chain Level 2 needs both --snapshot and at least one --expected");
  }
  KeyChainInputs in;
  ORV_READ(in.history, read_text(c.file, "chain", kHistoryLimit));
  for (const std::string& path : c.contains) {
    ORV_READ(in.contains.emplace_back(), read_text(path, "kept receipt", kMiB));
  }
  if (c.snapshot) ORV_READ(in.snapshot.emplace(), read_text(*c.snapshot, "snapshot", kMiB));
  for (const std::string& path : c.expected) {
    ORV_READ(in.expected.emplace_back(), read_text(path, "expected TD", kMiB));
  }
  if (!v.key_chain) return NotAvailable{c.command};
  return make_report(v.key_chain(in, clock()), c.file, c.json);
}

Execution attested_record(const CommandLine& c, const Verifiers& v, const Clock& clock) {
  if (c.key || !c.heads.empty()) {
    return usage(
        "attested-record takes no --key or --head: the key comes from the key receipt and is proven by Intel's "
        "quote against your --expected file");
  }
  if (!c.key_receipt) return usage("attested-record needs --key-receipt");
  if (!c.snapshot) return usage("attested-record needs --snapshot");
  if (c.expected.empty()) return usage("attested-record needs --expected");
  std::vector<std::string> paths{c.file, *c.key_receipt, *c.snapshot, c.expected.front()};
  if (c.stamp) paths.push_back(*c.stamp);
  if (const auto shared = first_shared_file(paths)) {
    return usage(terminal_safe(paths[*shared]) + " is given twice; each input must be a different file");
  }
  AttestedRecordInputs in;
  ORV_READ(in.record, read_text(c.file, "record", kMiB));
  ORV_READ(in.key_receipt, read_text(*c.key_receipt, "key receipt", kMiB));
  ORV_READ(in.snapshot, read_text(*c.snapshot, "snapshot", kMiB));
  ORV_READ(in.expected, read_text(c.expected.front(), "expected TD", kMiB));
  if (c.stamp) ORV_READ(in.stamp.emplace(), read_text(*c.stamp, "stamp", kMiB));
  if (!v.attested_record) return NotAvailable{c.command};
  return make_report(v.attested_record(in, clock()), c.file, c.json);
}

Execution timestamp(const CommandLine& c, const Verifiers& v, const Clock& clock) {
  if (c.key || !c.heads.empty() || c.snapshot || !c.expected.empty()) {
    return usage("timestamp takes only --stamp: the timestamp authorities it trusts are built into this verifier");
  }
  if (!c.stamp) return usage("timestamp needs --stamp");
  if (same_file(*c.stamp, c.file)) return usage("--stamp is the file itself");
  TimestampInputs in;
  ORV_READ(in.document, read_bytes(c.file, "file", kTimestampedFileLimit));
  ORV_READ(in.stamp, read_bytes(*c.stamp, "stamp", kMiB));
  if (!is_valid_utf8(in.stamp)) return usage("stamp " + terminal_safe(*c.stamp) + " is not UTF-8 text");
  if (!v.timestamp) return NotAvailable{c.command};
  return make_report(v.timestamp(in, clock()), c.file, c.json);
}

// receipt, chain, key-receipt and every unknown word: the document and key are read before
// the remaining option rules, so an unknown word is only named once its file was readable.
Execution document_command(const CommandLine& c, const Verifiers& v, const Clock& clock) {
  std::string document;
  ORV_READ(document, read_text(c.file, "file", c.command == "chain" ? kChainLimit : kDocumentLimit));
  std::string key;
  if (c.key) ORV_READ(key, read_text(*c.key, "key", kKeyLimit));

  if (c.command != "chain" && !c.heads.empty()) return usage("--head applies to the chain command only");
  if (c.command != "key-receipt" && (c.snapshot || !c.expected.empty())) {
    return usage("--snapshot / --expected apply to the key-receipt command only");
  }
  if (c.command == "key-receipt") {
    KeyReceiptInputs in{std::move(document), std::move(key), {}, {}};
    if (!c.snapshot) return usage("key-receipt needs --snapshot");
    ORV_READ(in.snapshot, read_text(*c.snapshot, "snapshot", kMiB));
    if (c.expected.empty()) return usage("key-receipt needs --expected");
    ORV_READ(in.expected, read_text(c.expected.front(), "expected TD", kMiB));
    if (!v.key_receipt) return NotAvailable{c.command};
    return make_report(v.key_receipt(in, clock()), c.file, c.json);
  }
  if (c.command == "receipt") {
    if (!v.receipt) return NotAvailable{c.command};
    return make_report(v.receipt(ReceiptInputs{std::move(document), std::move(key)}), c.file, c.json);
  }
  if (c.command == "chain") {
    ChainInputs in{std::move(document), std::move(key), {}, c.json};
    for (const std::string& path : c.heads) {
      ORV_READ(in.heads.emplace_back(), read_text(path, "head", kHeadLimit));
    }
    if (!v.chain) return NotAvailable{c.command};
    return make_report(v.chain(in), c.file, c.json);
  }
  return usage("unknown command " + terminal_safe(c.command));
}

#undef ORV_READ

}  // namespace

Execution execute(const CommandLine& c, const Verifiers& v, const Clock& clock) {
  if (c.key && same_file(*c.key, c.file)) {
    return usage("--key is the document itself; the key must come from somewhere other than the document it checks");
  }
  if (c.command == "log-evidence") return log_evidence(c, v);
  if (c.evidence) return usage("--evidence applies to the log-evidence command only");
  if (c.command != "key-chain" && c.expected.size() > 1) return usage("--expected given more than once");
  if (c.command == "key-chain") return key_chain(c, v, clock);
  if (!c.contains.empty()) return usage("--contains applies to the key-chain command only");
  if (c.command == "attested-record") return attested_record(c, v, clock);
  if (c.key_receipt) return usage("--key-receipt applies to the attested-record command only");
  if (c.command != "timestamp" && c.stamp) {
    return usage("--stamp applies to the timestamp and attested-record commands only");
  }
  if (c.command == "timestamp") return timestamp(c, v, clock);
  return document_command(c, v, clock);
}

}  // namespace orv::cli
