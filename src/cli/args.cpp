#include "cli/args.h"

#include <algorithm>
#include <cstddef>

#include "core/text.h"

namespace orv::cli {
namespace {

bool any_equals(const std::vector<std::string>& args, std::string_view a, std::string_view b) {
  return std::any_of(args.begin(), args.end(), [&](const std::string& arg) { return arg == a || arg == b; });
}

// The single-valued options other than --key share one pair of messages naming the option.
std::optional<std::string>* single_option(CommandLine& line, std::string_view arg) {
  if (arg == "--snapshot") return &line.snapshot;
  if (arg == "--stamp") return &line.stamp;
  if (arg == "--key-receipt") return &line.key_receipt;
  if (arg == "--evidence") return &line.evidence;
  return nullptr;
}

}  // namespace

Expected<Scan, std::string> scan_arguments(const std::vector<std::string>& args) {
  // Help is honoured wherever it stands, even as an option's value: someone who typed it
  // wants the usage text, not a verdict.
  if (any_equals(args, "--help", "-h")) return Scan{Action::Help, {}};
  if (args.empty()) return Scan{Action::EmptyHelp, {}};
  if (any_equals(args, "--version", "-V")) return Scan{Action::Version, {}};

  for (size_t i = 0; i < args.size(); ++i) {
    if (!is_valid_utf8(args[i])) return fail("argument " + decimal(i + 1) + " is not UTF-8 text");
  }

  CommandLine line;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (arg == "--json") {
      line.json = true;
    } else if (arg == "--key") {
      if (line.key) return fail("--key given more than once; pass exactly one key");
      if (!has_value) return fail("--key needs a file");
      line.key = args[++i];
    } else if (arg == "--head" || arg == "--contains" || arg == "--expected") {
      if (!has_value) return fail(arg + " needs a file");
      std::vector<std::string>& list = arg == "--head" ? line.heads : arg == "--contains" ? line.contains : line.expected;
      list.push_back(args[++i]);
    } else if (std::optional<std::string>* slot = single_option(line, arg)) {
      if (*slot) return fail(arg + " given more than once");
      if (!has_value) return fail(arg + " needs a file");
      *slot = args[++i];
    } else if (arg.starts_with("--")) {
      return fail("unknown option " + terminal_safe(arg));
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) return fail("expected a command and one file");
  line.command = positional[0];
  line.file = positional[1];
  return Scan{Action::Run, std::move(line)};
}

}  // namespace orv::cli
