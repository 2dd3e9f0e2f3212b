// Everything after the argument scan: the per-command option rules, same-file checks and
// reads in their fixed order, then one verifier call.
#pragma once

#include <string>
#include <variant>

#include "api/report.h"
#include "api/verifiers.h"
#include "cli/args.h"
#include "cli/clock.h"
#include "core/progress.h"

namespace orv::cli {

// Printed as "error: {message}\n\n{usage}\n" with exit status 2. Inserted paths and
// arguments are already terminal-safe.
struct UsageError {
  std::string message;
};

// The command's inputs were all read but its verifier is not in this build.
struct NotAvailable {
  std::string command;
};

using Execution = std::variant<api::Reply, UsageError, NotAvailable>;

// Reads the clock at most once, after every input was read and only when a verifier that
// judges time is about to run. A report goes to `sink` (a reply then holds only the status);
// `progress` goes to the verifiers that judge many entries.
Execution execute(const CommandLine& line, const api::Verifiers& verifiers, const Clock& clock, const api::ReportSink& sink,
                  const ProgressFn& progress = {});

}  // namespace orv::cli
