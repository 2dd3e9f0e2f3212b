#include "prepare/args.h"

#include <algorithm>

#include "core/text.h"

namespace orv::prepare {

bool Arguments::flag(std::string_view name) const {
  return std::any_of(options.begin(), options.end(), [&](const auto& option) { return option.first == name; });
}

std::optional<std::string> Arguments::value(std::string_view name) const {
  for (const auto& [option, value] : options) {
    if (option == name) return value;
  }
  return std::nullopt;
}

std::vector<std::string> Arguments::values(std::string_view name) const {
  std::vector<std::string> out;
  for (const auto& [option, value] : options) {
    if (option == name) out.push_back(value);
  }
  return out;
}

Expected<Arguments, std::string> scan_arguments(std::span<const std::string> args, const ArgumentSpec& spec) {
  Arguments out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.starts_with("--")) {
      out.files.push_back(arg);
      continue;
    }
    const auto known =
        std::find_if(spec.options.begin(), spec.options.end(), [&](const OptionSpec& option) { return option.name == arg; });
    if (known == spec.options.end()) return fail("unknown option " + terminal_safe(arg));
    if (!known->repeatable && out.flag(arg)) return fail(arg + " given more than once");
    std::string value;
    if (!known->value_name.empty()) {
      if (i + 1 == args.size()) return fail(arg + " needs " + std::string(known->value_name));
      value = args[++i];
    }
    out.options.emplace_back(arg, std::move(value));
  }
  if (out.files.size() < spec.min_files || out.files.size() > spec.max_files) {
    const size_t wanted = out.files.size() < spec.min_files ? spec.min_files : spec.max_files;
    return fail("expected " + decimal(wanted) + (wanted == 1 ? " file" : " files") + ", got " + decimal(out.files.size()));
  }
  return out;
}

}  // namespace orv::prepare
