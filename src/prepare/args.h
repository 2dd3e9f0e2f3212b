// The argument scan every subcommand shares: its files, then options from a fixed list, each a
// flag or an option with one value, at most once unless it may repeat.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/result.h"

namespace orv::prepare {

struct OptionSpec {
  std::string_view name;        // "--out"
  std::string_view value_name;  // "<SNAPSHOT>"; empty for a flag
  bool repeatable = false;
};

struct ArgumentSpec {
  size_t min_files = 1;
  size_t max_files = 1;
  std::span<const OptionSpec> options;
};

// Values are kept exactly as typed.
struct Arguments {
  std::vector<std::string> files;
  std::vector<std::pair<std::string, std::string>> options;  // name, value ("" for a flag), in order

  bool flag(std::string_view name) const;
  std::optional<std::string> value(std::string_view name) const;
  std::vector<std::string> values(std::string_view name) const;
};

// The arguments after the subcommand's name. A failure is a usage error whose message already
// has every inserted argument made terminal-safe.
Expected<Arguments, std::string> scan_arguments(std::span<const std::string> args, const ArgumentSpec& spec);

}  // namespace orv::prepare
