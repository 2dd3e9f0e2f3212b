// expected-td: an expected-TD file drafted from what a key receipt's machine ran (trust on first
// use, said loudly), and the pinned values of such a file beside those a receipt shows.
#include <algorithm>
#include <array>

#include "core/text.h"
#include "prepare/files.h"
#include "prepare/key_receipt.h"
#include "prepare/program.h"

namespace orv::prepare {
namespace {

constexpr std::array<OptionSpec, 4> kOptions = {{
    {"--snapshot", "<SNAPSHOT>"},
    {"--out", "<EXPECTED TD>"},
    {"--force", ""},
    {"--compare", "<EXPECTED TD>"},
}};

// The members the verifier compares with the quote's TD report, then the RTMR3 events it
// compares by name, in the file's own order.
constexpr std::array<std::string_view, 9> kReportFields = {"td_attributes",   "xfam",   "mr_td",  "mr_config_id", "mr_owner",
                                                           "mr_owner_config", "rt_mr0", "rt_mr1", "rt_mr2"};
struct NamedEvent {
  std::string_view field, event;
};
constexpr std::array<NamedEvent, 5> kEvents = {{{"app_id", "app-id"},
                                                {"compose_hash", "compose-hash"},
                                                {"os_image_hash", "os-image-hash"},
                                                {"key_provider", "key-provider"},
                                                {"mr_kms", "mr-kms"}}};

constexpr std::string_view kTrustOnFirstUse =
    "\n"
    "*** TRUST ON FIRST USE ***\n"
    "This file pins whatever the machine behind this receipt ran. Nothing in the receipt shows\n"
    "that it ran the build you mean to trust. Before relying on the file, compare each value\n"
    "with the measurements published for that build (reproduce the build, or take them from its\n"
    "release notes), e.g. with: orvelant-prepare expected-td --compare EXPECTED_TD RECEIPT\n"
    "\n";

// Pinned values are compared as the verifier compares them: trimmed, ASCII case ignored.
std::string normalised(std::string_view text) {
  std::string out(trim_unicode(text));
  std::transform(out.begin(), out.end(), out.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; });
  return out;
}

// A value the receipt shows, or why it shows none.
struct Observed {
  std::string name;
  std::optional<std::string> value;
  std::string absent;  // when value is empty
};

std::vector<Observed> observed(const ReceiptQuote& receipt) {
  std::vector<Observed> out;
  for (const std::string_view field : kReportFields) {
    const auto found = std::find_if(receipt.facts.report.begin(), receipt.facts.report.end(),
                                    [&](const auto& entry) { return entry.first == field; });
    if (found == receipt.facts.report.end()) {
      out.push_back({std::string(field), std::nullopt, "not in this quote's report"});
    } else {
      out.push_back({std::string(field), found->second, {}});
    }
  }
  for (const NamedEvent& named : kEvents) {
    std::vector<const tdx::EventLogEntry*> events;
    for (const tdx::EventLogEntry& entry : receipt.receipt.event_log) {
      if (entry.imr == 3 && entry.event == named.event) events.push_back(&entry);
    }
    if (events.size() == 1) {
      out.push_back({std::string(named.field), normalised(events.front()->event_payload), {}});
    } else {
      out.push_back({std::string(named.field), std::nullopt,
                     events.empty() ? "no RTMR3 event '" + std::string(named.event) + "' in the event log"
                                    : "RTMR3 event '" + std::string(named.event) + "' appears more than once"});
    }
  }
  return out;
}

// The snapshot's TCB evaluation data number as key-receipt compares it (the lower of the TCB
// info's and the QE identity's), after the snapshot's collateral and the receipt's quote verify
// against Intel's root at the snapshot's fetched_at: a number or measurements from material that
// does not verify would pin nothing.
Usable<uint32_t> evaluation_number(const std::string& path, const ReceiptQuote& receipt, const Context& context) {
  Usable<std::string> text = read_input(path, "snapshot", kMaxDocumentBytes);
  if (!text) return std::move(text).error();
  const std::string todo = "give the snapshot made for this receipt (orvelant-prepare snapshot DIR --receipt RECEIPT)";
  const verifier::Read<tdx::CollateralSnapshot> snapshot = verifier::read_snapshot(*text);
  if (!snapshot) return Mistake{snapshot.error().text, todo};
  const verifier::Read<int64_t> fetched_at = verifier::rfc3339_seconds(snapshot->fetched_at);
  if (!fetched_at || *fetched_at < 0) return Mistake{"the snapshot's fetched_at is not a time", todo};
  const auto at = static_cast<uint64_t>(*fetched_at);
  if (auto failed = verifier::verify_quote(receipt.quote, snapshot->collateral, context.intel_root_der, at)) {
    return Mistake{"the receipt's quote does not verify with this snapshot at its fetched_at: " + *failed, todo};
  }
  const verifier::Read<dcap::TcbInfo> tcb = verifier::read_tcb_info(snapshot->collateral.tcb_info);
  const verifier::Read<dcap::QeIdentity> qe = verifier::read_qe_identity(snapshot->collateral.qe_identity);
  if (!tcb || !qe) return Mistake{"the snapshot's TCB info or QE identity does not read", todo};
  return std::min(tcb->tcb_evaluation_data_number, qe->tcb_evaluation_data_number);
}

Status draft(const Arguments& arguments, const Context& context) {
  const std::optional<std::string> out = arguments.value("--out");
  const std::optional<std::string> snapshot = arguments.value("--snapshot");
  if (!out || !snapshot) return wrong_usage(context, kExpectedTd, "--snapshot <SNAPSHOT> and --out <EXPECTED TD> are required");
  if (auto taken = check_output(*out, arguments.flag("--force"))) return refuse(context, *taken);
  const Usable<ReceiptQuote> receipt = read_receipt_quote(arguments.files.front());
  if (!receipt) return refuse(context, receipt.error());
  if (const Usable<Platform> platform = tdx_platform(receipt->facts); !platform) return refuse(context, platform.error());
  const Usable<uint32_t> number = evaluation_number(*snapshot, *receipt, context);
  if (!number) return refuse(context, number.error());

  verifier::JsonMembers members{{"schema", {std::string(tdx::kExpectedTdSchema)}},
                                {"min_tcb_evaluation_data_number", {int64_t{*number}}}};
  std::string not_pinned;
  for (const Observed& value : observed(*receipt)) {
    if (value.name == "mr_kms") {
      // The KMS is pinned by its CA key (key_provider); a replica's measurement is the user's
      // choice to add.
      not_pinned = value.value ? "mr_kms (the KMS is pinned by key_provider; add mr_kms to pin its replica)"
                               : "mr_kms (" + value.absent + ")";
      continue;
    }
    if (!value.value) {
      return refuse(context, {"cannot pin " + value.name + ": " + value.absent,
                              "an expected-TD file pins every one of these; give a receipt whose quote and event log "
                              "carry them"});
    }
    members.push_back({value.name, {*value.value}});
  }
  const verifier::Read<std::string> text = verifier::write_json({std::move(members)});
  if (!text) return refuse(context, {text.error().text, "report this as a fault of orvelant-prepare"});
  // What is written reads back through the verifier's own reader.
  if (const verifier::Read<tdx::ExpectedTd> back = verifier::read_expected_td(*text); !back) {
    return refuse(context, {"the drafted file does not read back: " + back.error().text, "report this as a fault"});
  }
  if (auto failed = write_output(*out, *text, arguments.flag("--force"))) return refuse(context, *failed);
  print(context.err, kTrustOnFirstUse);
  print(context.out, "wrote " + terminal_safe(*out) + " (" + decimal(text->size()) + " bytes)\n" +
                         "  from the quote:      td_attributes, xfam, mr_td, mr_config_id, mr_owner, mr_owner_config,\n"
                         "                       rt_mr0, rt_mr1, rt_mr2\n"
                         "  from the event log:  app_id, compose_hash, os_image_hash, key_provider (RTMR3 events)\n"
                         "  from the snapshot:   min_tcb_evaluation_data_number " +
                         decimal(*number) +
                         ", its TCB evaluation data number\n"
                         "                       (older evaluations are refused; raise it as Intel publishes newer ones)\n"
                         "  not pinned:          " +
                         not_pinned + "\n");
  return Status::Done;
}

std::optional<std::string> pinned_value(const tdx::ExpectedTd& expected, std::string_view name) {
  const std::array<std::pair<std::string_view, const std::string*>, 13> fields = {{
      {"td_attributes", &expected.td_attributes},
      {"xfam", &expected.xfam},
      {"mr_td", &expected.mr_td},
      {"mr_config_id", &expected.mr_config_id},
      {"mr_owner", &expected.mr_owner},
      {"mr_owner_config", &expected.mr_owner_config},
      {"rt_mr0", &expected.rt_mr0},
      {"rt_mr1", &expected.rt_mr1},
      {"rt_mr2", &expected.rt_mr2},
      {"app_id", &expected.app_id},
      {"compose_hash", &expected.compose_hash},
      {"os_image_hash", &expected.os_image_hash},
      {"key_provider", &expected.key_provider},
  }};
  for (const auto& [field, value] : fields) {
    if (field == name) return *value;
  }
  return expected.mr_kms;
}

Status compare(const std::string& expected_path, const Arguments& arguments, const Context& context) {
  if (arguments.value("--snapshot") || arguments.value("--out") || arguments.flag("--force")) {
    return wrong_usage(context, kExpectedTd, "--compare takes no --snapshot, --out or --force");
  }
  Usable<std::string> text = read_input(expected_path, "expected TD", kMaxDocumentBytes);
  if (!text) return refuse(context, text.error());
  const verifier::Read<tdx::ExpectedTd> expected = verifier::read_expected_td(*text);
  if (!expected) return refuse(context, {expected.error().text, "give an orvelant/expected-td/v1 file"});
  const Usable<ReceiptQuote> receipt = read_receipt_quote(arguments.files.front());
  if (!receipt) return refuse(context, receipt.error());

  std::string shown = terminal_safe(expected_path) + " beside " + terminal_safe(arguments.files.front()) +
                      " (compared, not verified: orvelant-verify key-receipt judges the quote)\n";
  std::vector<std::string> differing;
  for (const Observed& value : observed(*receipt)) {
    const std::optional<std::string> pin = pinned_value(*expected, value.name);
    if (!pin) {
      shown +=
          "\n  " + value.name + "  not pinned\n    found:  " + (value.value ? *value.value : "(" + value.absent + ")") + "\n";
      continue;
    }
    const bool same = value.value && normalised(*pin) == *value.value;
    if (!same) differing.push_back(value.name);
    shown += "\n  " + value.name + (same ? "  same" : "  DIFFERS") + "\n    pinned: " + terminal_safe(*pin) +
             "\n    found:  " + (value.value ? *value.value : "(" + value.absent + ")") + "\n";
  }
  shown += "\n  min_tcb_evaluation_data_number  pinned: " + decimal(expected->min_tcb_evaluation_data_number) +
           " (key-receipt compares it with the snapshot's)\n";
  if (differing.empty()) {
    print(context.out, shown + "\nevery pinned value is the one found\n");
    return Status::Done;
  }
  std::string names;
  for (const std::string& name : differing) names += (names.empty() ? "" : ", ") + name;
  print(context.out, shown + "\n" + decimal(differing.size()) + " pinned value" + (differing.size() == 1 ? "" : "s") +
                         " differ: " + names + "\n");
  return Status::WrongMaterial;
}

Status run_expected_td(const Arguments& arguments, const Context& context) {
  if (const std::optional<std::string> expected = arguments.value("--compare")) return compare(*expected, arguments, context);
  return draft(arguments, context);
}

}  // namespace

const Subcommand kExpectedTd{
    "expected-td",
    "expected-td <KEY RECEIPT> --snapshot <SNAPSHOT> --out <EXPECTED TD> [--force] | --compare <EXPECTED TD> <KEY RECEIPT>",
    "an expected-TD file (for key-receipt, key-chain and\n"
    "attested-record) drafted from the receipt's quote and event log,\n"
    "with min_tcb_evaluation_data_number from the snapshot, once the\n"
    "quote verifies with that snapshot. TRUST ON FIRST USE: it pins\n"
    "whatever that machine ran; compare each value with the\n"
    "measurements published for the build you mean to trust.\n"
    "--compare shows each pinned value beside the one found in the\n"
    "receipt, marking those that differ (exit status 1 if any do).",
    {1, 1, kOptions},
    run_expected_td,
};

}  // namespace orv::prepare
