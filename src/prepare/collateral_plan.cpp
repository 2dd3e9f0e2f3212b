// collateral-plan: what to fetch from Intel for one key receipt's quote, as curl lines.
#include <array>

#include "core/text.h"
#include "prepare/collateral_pieces.h"
#include "prepare/intel_service.h"
#include "prepare/key_receipt.h"
#include "prepare/program.h"

namespace orv::prepare {
namespace {

constexpr std::array<OptionSpec, 1> kOptions = {{{"--dir", "<DIR>"}}};
constexpr std::string_view kDefaultFolder = "intel-collateral";

// One shell word: as it stands when nothing in it is special to a shell, else single-quoted.
std::string shell_word(std::string_view text) {
  const bool plain = !text.empty() && text.find_first_not_of(
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                          "0123456789._/-+:,@%") == std::string_view::npos;
  if (plain) return std::string(text);
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string curl_line(const std::string& folder, const SavedDocument& document, const std::string& url) {
  const std::string base = folder + "/" + std::string(document.stem);
  return "  curl -sS -L -o " + shell_word(base + ".body") + " -D " + shell_word(base + ".headers") + " " + shell_word(url) + "\n";
}

Status run_collateral_plan(const Arguments& arguments, const Context& context) {
  const std::string folder = arguments.value("--dir").value_or(std::string(kDefaultFolder));
  if (folder.empty() || terminal_safe(folder) != folder) {
    return wrong_usage(context, kCollateralPlan, "--dir needs a folder name without control characters");
  }
  const std::string& path = arguments.files.front();
  const Usable<ReceiptQuote> read = read_receipt_quote(path);
  if (!read) return refuse(context, read.error());
  const verifier::QuoteFacts& facts = read->facts;
  const Usable<Platform> platform = tdx_platform(facts);
  if (!platform) return refuse(context, platform.error());

  const verifier::CertFacts& pck = facts.pck->certificate;
  std::string out = "Collateral plan for " + terminal_safe(path) + " (its quote decoded, nothing judged)\n\n";
  out += "  TEE type:  TDX (0x81), quote version " + decimal(facts.version) + ", " + facts.report_kind + "\n";
  out += "  FMSPC:     " + platform->fmspc + "  (from the PCK certificate in the quote)\n";
  out += "  CA type:   " + std::string(verifier::ca_query_value(platform->ca)) + "  (the PCK certificate's issuer is " +
         std::string(verifier::ca_common_name(platform->ca)) + ")\n";
  out += "  PCK certificate valid " + time_text(pck.not_before) + " to " + time_text(pck.not_after) + "\n\n";
  out +=
      "Fetch these four documents with any HTTP client, each with its response headers (the\n"
      "issuer chains come in headers), into one folder. With curl:\n\n";
  const std::string dir = shell_word(folder);
  out += "  mkdir -p " + dir + "\n";
  out += curl_line(folder, kTcbInfoDocument, tcb_info_url(platform->fmspc));
  out += curl_line(folder, kQeIdentityDocument, std::string(kQeIdentityUrl));
  out += curl_line(folder, kPckCrlDocument, pck_crl_url(platform->ca));
  out += curl_line(folder, kRootCaCrlDocument, std::string(kRootCaCrlUrl));
  out += "\nThen assemble and check the snapshot, offline:\n\n";
  // A path that would rewrite the terminal is not repeated; the user knows which one they typed.
  const std::string receipt = terminal_safe(path) == path ? shell_word(path) : "<KEY RECEIPT>";
  out += "  orvelant-prepare snapshot " + dir + " --out snapshot.json --receipt " + receipt + "\n\n";
  out +=
      "Intel's documents expire within about a month; fetch again when orvelant-verify reports\n"
      "COLLATERAL_EXPIRED.\n";
  print(context.out, out);
  return Status::Done;
}

}  // namespace

const Subcommand kCollateralPlan{
    "collateral-plan",
    "collateral-plan <KEY RECEIPT> [--dir <DIR>]",
    "what to fetch from Intel for the receipt's quote: its FMSPC and\n"
    "CA type (read from the PCK certificate in the quote, not judged)\n"
    "and one curl line per document, saving body and headers into DIR\n"
    "(default intel-collateral).",
    {1, 1, kOptions},
    run_collateral_plan,
};

}  // namespace orv::prepare
