// stamp: a stamp file over FILE from what timestamp authorities returned, each token re-encoded
// into the one form the verifier judges, written only when orvelant-verify would say VALID.
#include <array>

#include "core/hex.h"
#include "core/text.h"
#include "prepare/files.h"
#include "prepare/program.h"
#include "prepare/verifier.h"

namespace orv::prepare {
namespace {

constexpr std::array<OptionSpec, 4> kOptions = {{
    {"--token", "<TOKEN>", true},
    {"--cert", "<PEM>", true},
    {"--out", "<STAMP>"},
    {"--force", ""},
}};

// orvelant-verify's own limits: the stamped file, and a certificate file as large as a chain.
constexpr size_t kMaxStampedBytes = size_t{256} << 20;
constexpr size_t kMaxCertificateBytes = 1048576;

constexpr std::string_view kRequestAgain =
    "request a new token for this file (RFC 3161 with certReq set, e.g. openssl ts -query -cert) from DigiCert or Sigstore";

Mistake explained(const std::string& token_path, const tsa::ReencodeFailure& failure) {
  const std::string what = terminal_safe(token_path) + ": " + failure.text;
  switch (failure.fault) {
    case tsa::ReencodeFault::OtherBytes:
      return {what, "give the file the token was requested for, exactly as it was then; a token is over exact bytes"};
    case tsa::ReencodeFault::SignerMissing:
      return {what, "supply that signer certificate with --cert <PEM> (the authority publishes its signing certificates), or " +
                        std::string(kRequestAgain) + " so that it carries them"};
    case tsa::ReencodeFault::IssuerMissing:
      return {what, "supply that certificate with --cert <PEM>; the authority publishes its certificate chain"};
    case tsa::ReencodeFault::UnknownAuthority:
      return {what,
              "only tokens of the authorities pinned in orvelant-verify (DigiCert, Sigstore's production service) "
              "can be judged; stamp the file at one of them"};
    case tsa::ReencodeFault::NotUsable: break;
  }
  return {what, std::string(kRequestAgain)};
}

Usable<std::vector<std::vector<uint8_t>>> read_offered(const Arguments& arguments, const Context& context) {
  std::vector<std::vector<uint8_t>> offered(context.timestamp_certificates.begin(), context.timestamp_certificates.end());
  for (const std::string& path : arguments.values("--cert")) {
    Usable<std::string> text = read_input(path, "certificate file", kMaxCertificateBytes);
    if (!text) return std::move(text).error();
    verifier::Read<std::vector<std::vector<uint8_t>>> certs = verifier::read_certificates(*text);
    if (!certs) {
      return Mistake{"--cert " + terminal_safe(path) + ": " + certs.error().text,
                     "give certificates in PEM (one or more) or one certificate in DER"};
    }
    offered.insert(offered.end(), certs->begin(), certs->end());
  }
  return offered;
}

// One token from what the authority returned, in the verifier's form and with its authority.
Usable<verifier::JsonValue> stamp_token(const std::string& path, std::span<const uint8_t> subject,
                                        std::span<const std::vector<uint8_t>> offered, const Context& context) {
  Usable<std::string> response = read_input(path, "token", tsa::kMaxResponseBytes);
  if (!response) return std::move(response).error();
  verifier::Read<std::vector<uint8_t>> token = verifier::timestamp_token(as_bytes(*response));
  if (!token) {
    return Mistake{terminal_safe(path) + " is not a usable timestamp response: " + token.error().text,
                   "give the TimeStampResp the authority returned (a .tsr file) or the token from it"};
  }
  const auto made = verifier::reencode_token(*token, subject, offered, context.timestamp_authorities);
  if (!made) return explained(path, made.error());
  return verifier::JsonValue{
      verifier::JsonMembers{{"tsa", {made->authority->name}}, {"token_b64", {verifier::base64(made->token)}}}};
}

std::string summary(const std::string& out, size_t bytes, const tsa::TimestampReport& report) {
  std::string text = "wrote " + terminal_safe(out) + " (" + decimal(bytes) + " bytes)\n";
  for (const tsa::StampResult& stamp : report.stamps) {
    text += "  " + stamp.tsa + ": no later than " + stamp.no_later_than + ", signed by " + terminal_safe(stamp.signer) + "\n";
  }
  return text + "  checked: orvelant-verify timestamp judges it VALID over this file at " + report.evaluated_at +
         "\n  re-encoded: only the certificate set (the path to the pinned root, in DER order) and the\n"
         "  lengths around it; the TSTInfo, signed attributes and signature are as issued.\n";
}

Status run_stamp(const Arguments& arguments, const Context& context) {
  const std::optional<std::string> out = arguments.value("--out");
  if (!out) return wrong_usage(context, kStamp, "--out <STAMP> is required");
  const std::vector<std::string> tokens = arguments.values("--token");
  if (tokens.empty() || tokens.size() > tsa::kMaxStampTokens) {
    return wrong_usage(context, kStamp, "give one to four --token <TOKEN>");
  }
  if (auto taken = check_output(*out, arguments.flag("--force"))) return refuse(context, *taken);
  const std::string& file = arguments.files.front();
  Usable<std::string> document = read_input(file, "file", kMaxStampedBytes);
  if (!document) return refuse(context, document.error());
  Usable<std::vector<std::vector<uint8_t>>> offered = read_offered(arguments, context);
  if (!offered) return refuse(context, offered.error());

  verifier::JsonItems items;
  for (const std::string& path : tokens) {
    Usable<verifier::JsonValue> item = stamp_token(path, as_bytes(*document), *offered, context);
    if (!item) return refuse(context, item.error());
    items.push_back(std::move(*item));
  }
  const verifier::Read<std::string> stamp = verifier::write_json(
      verifier::JsonValue{verifier::JsonMembers{{"schema", {std::string(tsa::kStampSchema)}}, {"tokens", {std::move(items)}}}});
  if (!stamp) return refuse(context, {stamp.error().text, "report this as a fault of orvelant-prepare"});

  // Judged exactly as orvelant-verify will judge it, at this clock.
  const tsa::TimestampReport report = verifier::verify_stamp(*document, *stamp, context.timestamp_authorities, context.clock());
  if (!report.valid) {
    const Problem& problem = report.problems.front();
    return refuse(context, {"orvelant-verify would judge the stamp INVALID: " + std::string(problem.code.text()) + ": " +
                                terminal_safe(problem.message),
                            "where a signed part of the token is not DER, or the signer breaks a rule, no re-encoding "
                            "can fix it: " +
                                std::string(kRequestAgain)});
  }
  if (auto failed = write_output(*out, *stamp, arguments.flag("--force"))) return refuse(context, *failed);
  print(context.out, summary(*out, stamp->size(), report));
  return Status::Done;
}

}  // namespace

const Subcommand kStamp{
    "stamp",
    "stamp <FILE> --token <TOKEN>... [--cert <PEM>]... --out <STAMP> [--force]",
    "a stamp file (for orvelant-verify timestamp) over FILE from one to\n"
    "four RFC 3161 timestamps: each TOKEN is the TimeStampResp the\n"
    "authority returned (a .tsr file) or the bare token. Only what no\n"
    "signature covers is re-encoded: the certificate set becomes the path\n"
    "from the signer to the pinned root (completed from --cert and the\n"
    "compiled-in Sigstore signer certificate), in DER order. Written only\n"
    "when orvelant-verify timestamp would judge it VALID now.",
    {1, 1, kOptions},
    run_stamp,
};

}  // namespace orv::prepare
