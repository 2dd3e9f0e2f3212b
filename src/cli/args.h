// The argument scan: help, version, options and the two positional arguments, checked in the
// fixed order that decides which message a user sees when several things are wrong.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/result.h"

namespace orv::cli {

// Paths are kept exactly as typed; they are resolved only for same-file checks and opened by
// the input reader.
struct CommandLine {
  std::string command;
  std::string file;
  bool json = false;
  std::optional<std::string> key;
  std::vector<std::string> heads;
  std::vector<std::string> contains;
  std::vector<std::string> expected;  // expected.front() is the one key-receipt and attested-record use
  std::optional<std::string> snapshot;
  std::optional<std::string> stamp;
  std::optional<std::string> key_receipt;
  std::optional<std::string> evidence;
};

enum class Action {
  Help,       // usage on stdout, exit 0
  EmptyHelp,  // no arguments at all: usage on stdout, exit 2
  Version,    // version line on stdout, exit 0
  Run,        // CommandLine is filled
};

struct Scan {
  Action action = Action::Run;
  CommandLine line;
};

// A failure is a usage error; its message already has every inserted argument made
// terminal-safe.
Expected<Scan, std::string> scan_arguments(const std::vector<std::string>& args);

}  // namespace orv::cli
