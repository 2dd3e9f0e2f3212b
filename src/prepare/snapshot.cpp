// snapshot: a collateral snapshot from the folder of saved responses that collateral-plan's
// lines fill, written only when orvelant-verify's own checks pass on it.
#include <array>
#include <filesystem>

#include "core/text.h"
#include "prepare/collateral_pieces.h"
#include "prepare/files.h"
#include "prepare/intel_service.h"
#include "prepare/program.h"
#include "prepare/saved_response.h"
#include "prepare/signed_body.h"
#include "prepare/snapshot_assembly.h"

namespace orv::prepare {
namespace {

constexpr std::array<OptionSpec, 4> kOptions = {{
    {"--out", "<SNAPSHOT>"},
    {"--receipt", "<KEY RECEIPT>"},
    {"--fetched-at", "<TIME>"},
    {"--force", ""},
}};

// One document's body and, when saved, its headers, from the folder.
Usable<SavedResponse> read_saved(const std::filesystem::path& folder, const SavedDocument& document) {
  const std::string body_path = (folder / (std::string(document.stem) + ".body")).string();
  Usable<std::optional<std::string>> body = read_input_if_present(body_path, "response body", kMaxBodyBytes);
  if (!body) return std::move(body).error();
  if (!*body) {
    return Mistake{terminal_safe(body_path) + " is missing",
                   "save the " + std::string(document.title) + " there with the curl lines collateral-plan prints"};
  }
  const std::string headers_path = (folder / (std::string(document.stem) + ".headers")).string();
  Usable<std::optional<std::string>> headers = read_input_if_present(headers_path, "response headers", kMaxHeadersBytes);
  if (!headers) return std::move(headers).error();
  return SavedResponse{std::move(**body), std::move(*headers)};
}

std::string summary(const std::string& out, const AssembledSnapshot& snapshot, bool with_receipt) {
  const int64_t left = snapshot.valid_until - static_cast<int64_t>(snapshot.fetched_at);
  return "wrote " + terminal_safe(out) + " (" + decimal(snapshot.text.size()) + " bytes)\n" +
         "  fetched_at:   " + time_text(static_cast<int64_t>(snapshot.fetched_at)) +
         (snapshot.fetched_at_from_dates ? " (the responses' Date headers)" : " (as given)") + "\n" +
         "  FMSPC:        " + snapshot.fmspc + "; TCB evaluation data number " + decimal(snapshot.tcb_evaluation_data_number) +
         "\n" + "  valid until:  " + time_text(snapshot.valid_until) + " (" +
         decimal(static_cast<uint64_t>(std::max<int64_t>(left, 0)) / 86400) +
         " days after fetched_at; first to expire: " + snapshot.valid_until_what + ")\n" +
         "  checked:      issuer chains, signatures, CRLs and dates against Intel's root at fetched_at" +
         (with_receipt ? ", and the receipt's quote with this collateral" : "") + "\n";
}

Status run_snapshot(const Arguments& arguments, const Context& context) {
  const std::optional<std::string> out = arguments.value("--out");
  if (!out) return wrong_usage(context, kSnapshot, "--out <SNAPSHOT> is required");
  SnapshotInputs inputs;
  inputs.intel_root_der = context.intel_root_der;
  if (const std::optional<std::string> given = arguments.value("--fetched-at")) {
    const verifier::Read<int64_t> seconds = verifier::rfc3339_seconds(*given);
    if (!verifier::is_strict_utc_time(*given) || !seconds) {
      return wrong_usage(context, kSnapshot, "--fetched-at needs a UTC time such as 2025-09-15T08:00:00Z");
    }
    inputs.fetched_at = static_cast<uint64_t>(*seconds);
  }
  if (auto taken = check_output(*out, arguments.flag("--force"))) return refuse(context, *taken);

  std::optional<ReceiptQuote> receipt;
  if (const std::optional<std::string> path = arguments.value("--receipt")) {
    Usable<ReceiptQuote> read = read_receipt_quote(*path);
    if (!read) return refuse(context, read.error());
    receipt = std::move(*read);
    inputs.receipt = &*receipt;
  }
  const std::filesystem::path folder(arguments.files.front());
  const std::pair<SavedResponse*, const SavedDocument*> saved[] = {
      {&inputs.tcb_info, &kTcbInfoDocument},
      {&inputs.qe_identity, &kQeIdentityDocument},
      {&inputs.pck_crl, &kPckCrlDocument},
      {&inputs.root_ca_crl, &kRootCaCrlDocument},
  };
  for (const auto& [slot, document] : saved) {
    Usable<SavedResponse> read = read_saved(folder, *document);
    if (!read) return refuse(context, read.error());
    *slot = std::move(*read);
  }

  const Usable<AssembledSnapshot> snapshot = assemble_snapshot(inputs);
  if (!snapshot) return refuse(context, snapshot.error());
  if (auto failed = write_output(*out, snapshot->text, arguments.flag("--force"))) return refuse(context, *failed);
  print(context.out, summary(*out, *snapshot, receipt.has_value()));
  return Status::Done;
}

}  // namespace

const Subcommand kSnapshot{
    "snapshot",
    "snapshot <DIR> --out <SNAPSHOT> [--receipt <KEY RECEIPT>] [--fetched-at <TIME>] [--force]",
    "an Intel collateral snapshot (for key-receipt, key-chain and\n"
    "attested-record) from the responses saved in DIR: tcb-info,\n"
    "qe-identity and pck-crl (.body and .headers), root-ca-crl.body.\n"
    "fetched_at is the responses' Date unless --fetched-at is given.\n"
    "With --receipt the documents must be those of the receipt's\n"
    "platform, and its quote must verify with them. Written only when\n"
    "the collateral verifies against Intel's root at fetched_at.",
    {1, 1, kOptions},
    run_snapshot,
};

}  // namespace orv::prepare
