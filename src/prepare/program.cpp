#include "prepare/program.h"

#include <algorithm>
#include <array>

#include "core/text.h"

#ifndef ORV_VERSION
#define ORV_VERSION "0.0.0"
#endif

namespace orv::prepare {
namespace {

constexpr std::array<const Subcommand*, 5> kSubcommands = {&kCollateralPlan, &kSnapshot, &kStamp, &kExpectedTd, &kInspect};

constexpr std::string_view kHeader = "orvelant-prepare \u2014 prepares inputs for orvelant-verify, offline\n";

constexpr std::string_view kFooter =
    "It opens no network connection: you fetch with your own tools, and it\n"
    "assembles, checks and explains. It reads only the files it is given and\n"
    "writes only the file named by --out, through a temporary file beside it (an\n"
    "interrupted run leaves nothing half-written), never over an existing file\n"
    "unless --force. What it writes it first checks with orvelant-verify's code.\n"
    "\n"
    "Exit status: 0 done; 1 the material is wrong (what is wrong and what to do\n"
    "are printed, and nothing is written); 2 the command line is wrong or an\n"
    "input file cannot be read.\n"
    "Where each input comes from: docs/inputs.md; what you pin and how to check\n"
    "it: pins/README.txt.\n";

const Subcommand* find(std::string_view name) {
  const auto it = std::find_if(kSubcommands.begin(), kSubcommands.end(),
                               [&](const Subcommand* subcommand) { return subcommand->name == name; });
  return it == kSubcommands.end() ? nullptr : *it;
}

std::string synopsis_line(const Subcommand& subcommand) {
  return "    orvelant-prepare " + std::string(subcommand.synopsis) + "\n";
}

// The description under its name: a short name shares the first line, a long one stands alone.
std::string described(const Subcommand& subcommand) {
  constexpr size_t kIndent = 12;
  std::string out = "  " + std::string(subcommand.name);
  bool first = true;
  std::string_view rest = subcommand.description;
  while (!rest.empty()) {
    const size_t end = std::min(rest.find('\n'), rest.size());
    if (first && out.size() < kIndent) {
      out.append(kIndent - out.size(), ' ');
    } else {
      out += "\n" + std::string(kIndent, ' ');
    }
    out += rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    first = false;
  }
  return out + "\n";
}

int usage_error(const Context& context, std::string_view message, const Subcommand* subcommand) {
  print(context.err, "error: " + std::string(message) + "\n\n");
  if (subcommand != nullptr) {
    print(context.err, "usage:\n" + synopsis_line(*subcommand) + "\n(orvelant-prepare --help describes every subcommand)\n");
  } else {
    print(context.err, help_text());
  }
  return static_cast<int>(Status::Usage);
}

bool any_of(const std::vector<std::string>& args, std::string_view a, std::string_view b) {
  return std::any_of(args.begin(), args.end(), [&](const std::string& arg) { return arg == a || arg == b; });
}

}  // namespace

std::span<const Subcommand* const> subcommands() { return kSubcommands; }

std::string help_text() {
  std::string out(kHeader);
  out += "\nUSAGE:\n";
  for (const Subcommand* subcommand : kSubcommands) out += synopsis_line(*subcommand);
  out += "    orvelant-prepare --help | --version\n\n";
  for (const Subcommand* subcommand : kSubcommands) out += described(*subcommand);
  out += "\n";
  out += kFooter;
  return out;
}

std::string_view version_line() { return "orvelant-prepare " ORV_VERSION; }

void print(std::FILE* stream, std::string_view text) { static_cast<void>(std::fwrite(text.data(), 1, text.size(), stream)); }

Status wrong_usage(const Context& context, const Subcommand& subcommand, std::string_view message) {
  return static_cast<Status>(usage_error(context, std::string(subcommand.name) + ": " + std::string(message), &subcommand));
}

Status refuse(const Context& context, const Mistake& mistake) {
  print(context.err, "refused: " + mistake.what + "\n  what to do: " + mistake.todo + "\n");
  return mistake.status;
}

int run(const std::vector<std::string>& args, const Context& context) {
  // Help is honoured wherever it stands: someone who typed it wants the text, not a run.
  if (any_of(args, "--help", "-h")) {
    const Subcommand* subcommand = args.empty() ? nullptr : find(args.front());
    print(context.out, subcommand
                           ? std::string(kHeader) + "\nUSAGE:\n" + synopsis_line(*subcommand) + "\n" + described(*subcommand)
                           : help_text());
    return static_cast<int>(Status::Done);
  }
  if (args.empty()) {
    print(context.out, help_text());
    return static_cast<int>(Status::Usage);
  }
  if (any_of(args, "--version", "-V")) {
    print(context.out, std::string(version_line()) + "\n");
    return static_cast<int>(Status::Done);
  }
  for (size_t i = 0; i < args.size(); ++i) {
    if (!is_valid_utf8(args[i])) return usage_error(context, "argument " + decimal(i + 1) + " is not UTF-8 text", nullptr);
  }
  const Subcommand* subcommand = find(args.front());
  if (subcommand == nullptr) return usage_error(context, "unknown subcommand " + terminal_safe(args.front()), nullptr);
  const Expected<Arguments, std::string> scanned =
      scan_arguments(std::span<const std::string>(args).subspan(1), subcommand->arguments);
  if (!scanned) return static_cast<int>(wrong_usage(context, *subcommand, scanned.error()));
  const Status status = subcommand->run(*scanned, context);
  std::fflush(context.out);
  std::fflush(context.err);
  return static_cast<int>(status);
}

}  // namespace orv::prepare
