#include "cli/commands.h"

#include "api/answer.h"
#include "api/input_limits.h"
#include "cli/inputs.h"
#include "core/text.h"

namespace orv::cli {
namespace {

using namespace api;

// A read failure ends the run like a usage error.
#define ORV_READ(target, read_call)                                \
  do {                                                             \
    Expected<std::string, std::string> read_result_ = (read_call); \
    if (!read_result_) return UsageError{read_result_.error()};    \
    (target) = std::move(read_result_).value();                    \
  } while (0)

Execution usage(std::string message) { return UsageError{std::move(message)}; }

ReportFormat format_of(const CommandLine& c, const ReportSink& sink) { return ReportFormat{c.json, c.file, &sink}; }

Execution log_evidence(const CommandLine& c, const Verifiers& v, const ReportSink& sink) {
  if (c.key || !c.heads.empty() || c.stamp || c.key_receipt || c.snapshot || !c.expected.empty() || !c.contains.empty()) {
    return usage("log-evidence takes only --evidence");
  }
  if (!c.evidence) return usage("log-evidence needs --evidence");
  std::string receipt, evidence;
  ORV_READ(receipt, read_text(c.file, "receipt", kDocumentLimit));
  ORV_READ(evidence, read_text(*c.evidence, "log evidence", kEvidenceLimit));
  if (!v.log_evidence) return NotAvailable{c.command};
  return answer(LogEvidenceInputs{receipt, evidence}, format_of(c, sink), v);
}

Execution key_chain(const CommandLine& c, const Verifiers& v, const Clock& clock, const ReportSink& sink,
                    const ProgressFn& progress) {
  if (c.key || !c.heads.empty() || c.stamp || c.key_receipt) {
    return usage("key-chain takes only --contains, --snapshot and --expected");
  }
  if (c.snapshot.has_value() != !c.expected.empty()) {
    return usage("key-chain Level 2 needs both --snapshot and at least one --expected");
  }
  std::string history;
  std::optional<std::string> snapshot;
  KeyChainInputs in;
  ORV_READ(history, read_text(c.file, "chain", kHistoryLimit));
  for (const std::string& path : c.contains) {
    ORV_READ(in.contains.emplace_back(), read_text(path, "kept receipt", kDocumentLimit));
  }
  if (c.snapshot) ORV_READ(snapshot.emplace(), read_text(*c.snapshot, "snapshot", kDocumentLimit));
  for (const std::string& path : c.expected) {
    ORV_READ(in.expected.emplace_back(), read_text(path, "expected TD", kDocumentLimit));
  }
  if (!v.key_chain) return NotAvailable{c.command};
  in.history = history;
  if (snapshot) in.snapshot = *snapshot;
  in.progress = progress;
  return answer(in, clock(), format_of(c, sink), v);
}

Execution attested_record(const CommandLine& c, const Verifiers& v, const Clock& clock, const ReportSink& sink) {
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
  std::string record, key_receipt, snapshot, expected;
  std::optional<std::string> stamp;
  ORV_READ(record, read_text(c.file, "record", kDocumentLimit));
  ORV_READ(key_receipt, read_text(*c.key_receipt, "key receipt", kDocumentLimit));
  ORV_READ(snapshot, read_text(*c.snapshot, "snapshot", kDocumentLimit));
  ORV_READ(expected, read_text(c.expected.front(), "expected TD", kDocumentLimit));
  if (c.stamp) ORV_READ(stamp.emplace(), read_text(*c.stamp, "stamp", kDocumentLimit));
  if (!v.attested_record) return NotAvailable{c.command};
  AttestedRecordInputs in{record, key_receipt, snapshot, expected, std::nullopt};
  if (stamp) in.stamp = *stamp;
  return answer(in, clock(), format_of(c, sink), v);
}

Execution timestamp(const CommandLine& c, const Verifiers& v, const Clock& clock, const ReportSink& sink) {
  if (c.key || !c.heads.empty() || c.snapshot || !c.expected.empty()) {
    return usage("timestamp takes only --stamp: the timestamp authorities it trusts are built into this verifier");
  }
  if (!c.stamp) return usage("timestamp needs --stamp");
  if (same_file(*c.stamp, c.file)) return usage("--stamp is the file itself");
  std::string document, stamp;
  ORV_READ(document, read_bytes(c.file, "file", kTimestampedFileLimit));
  ORV_READ(stamp, read_bytes(*c.stamp, "stamp", kDocumentLimit));
  if (!is_valid_utf8(stamp)) return usage("stamp " + terminal_safe(*c.stamp) + " is not UTF-8 text");
  if (!v.timestamp) return NotAvailable{c.command};
  return answer(TimestampInputs{document, stamp}, clock(), format_of(c, sink), v);
}

// receipt, chain, key-receipt and every unknown word: the document and key are read before
// the remaining option rules, so an unknown word is only named once its file was readable.
Execution document_command(const CommandLine& c, const Verifiers& v, const Clock& clock, const ReportSink& sink,
                           const ProgressFn& progress) {
  std::string document;
  ORV_READ(document, read_text(c.file, "file", c.command == "chain" ? kChainLimit : kDocumentLimit));
  std::string key;
  if (c.key) ORV_READ(key, read_text(*c.key, "key", kKeyLimit));

  if (c.command != "chain" && !c.heads.empty()) return usage("--head applies to the chain command only");
  if (c.command != "key-receipt" && (c.snapshot || !c.expected.empty())) {
    return usage("--snapshot / --expected apply to the key-receipt command only");
  }
  if (c.command == "key-receipt") {
    std::string snapshot, expected;
    if (!c.snapshot) return usage("key-receipt needs --snapshot");
    ORV_READ(snapshot, read_text(*c.snapshot, "snapshot", kDocumentLimit));
    if (c.expected.empty()) return usage("key-receipt needs --expected");
    ORV_READ(expected, read_text(c.expected.front(), "expected TD", kDocumentLimit));
    if (!v.key_receipt) return NotAvailable{c.command};
    return answer(KeyReceiptInputs{document, key, snapshot, expected}, clock(), format_of(c, sink), v);
  }
  if (c.command == "receipt") {
    if (!v.receipt) return NotAvailable{c.command};
    return answer(ReceiptInputs{document, key}, format_of(c, sink), v);
  }
  if (c.command == "chain") {
    ChainInputs in{document, key, {}, c.json, progress};
    for (const std::string& path : c.heads) {
      ORV_READ(in.heads.emplace_back(), read_text(path, "head", kHeadLimit));
    }
    if (!v.chain) return NotAvailable{c.command};
    return answer(in, format_of(c, sink), v);
  }
  return usage("unknown command " + terminal_safe(c.command));
}

#undef ORV_READ

}  // namespace

Execution execute(const CommandLine& c, const Verifiers& v, const Clock& clock, const ReportSink& sink,
                  const ProgressFn& progress) {
  if (c.key && same_file(*c.key, c.file)) {
    return usage("--key is the document itself; the key must come from somewhere other than the document it checks");
  }
  if (c.command == "log-evidence") return log_evidence(c, v, sink);
  if (c.evidence) return usage("--evidence applies to the log-evidence command only");
  if (c.command != "key-chain" && c.expected.size() > 1) return usage("--expected given more than once");
  if (c.command == "key-chain") return key_chain(c, v, clock, sink, progress);
  if (!c.contains.empty()) return usage("--contains applies to the key-chain command only");
  if (c.command == "attested-record") return attested_record(c, v, clock, sink);
  if (c.key_receipt) return usage("--key-receipt applies to the attested-record command only");
  if (c.command != "timestamp" && c.stamp) {
    return usage("--stamp applies to the timestamp and attested-record commands only");
  }
  if (c.command == "timestamp") return timestamp(c, v, clock, sink);
  return document_command(c, v, clock, sink, progress);
}

}  // namespace orv::cli
