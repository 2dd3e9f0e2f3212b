// orvelant-prepare: the subcommand table, the help text made from it, and one run of the program.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "prepare/args.h"
#include "prepare/outcome.h"
#include "tsa/token.h"

namespace orv::prepare {

// What a subcommand may touch besides the files it names: its two output streams, the local
// clock (read by those that show time left or judge as orvelant-verify does now), and the
// trust material compiled in for the program and given by tests.
struct Context {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  std::function<uint64_t()> clock;
  std::span<const uint8_t> intel_root_der;
  std::span<const tsa::PinnedAuthority> timestamp_authorities;
  // Certificates an authority's tokens may leave out; offered to complete a path, never trusted.
  std::span<const std::vector<uint8_t>> timestamp_certificates;
};

struct Subcommand {
  std::string_view name;
  std::string_view synopsis;     // after the program's name, e.g. "inspect <FILE> [--json]"
  std::string_view description;  // lines of the help text, each indented by the caller
  ArgumentSpec arguments;
  Status (*run)(const Arguments& arguments, const Context& context);
};

// Defined each in its own file.
extern const Subcommand kCollateralPlan;
extern const Subcommand kSnapshot;
extern const Subcommand kInspect;
extern const Subcommand kStamp;
extern const Subcommand kExpectedTd;

std::span<const Subcommand* const> subcommands();
std::string help_text();
std::string_view version_line();  // "orvelant-prepare 0.1.0"

// One invocation (arguments without the program's name); returns the exit status.
int run(const std::vector<std::string>& args, const Context& context);

// Output helpers for subcommands. A closed or full output is not fatal: the status still tells.
void print(std::FILE* stream, std::string_view text);
// The subcommand's usage error ("error: {name}: {message}" and its synopsis) and its status.
Status wrong_usage(const Context& context, const Subcommand& subcommand, std::string_view message);
// "refused: {what}\n  what to do: {todo}\n" on the error stream, and the status that goes with it.
Status refuse(const Context& context, const Mistake& mistake);

}  // namespace orv::prepare
