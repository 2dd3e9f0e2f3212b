// The command line: argument scan, input reading, dispatch to one verifier, rendering.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "api/verifiers.h"
#include "cli/clock.h"
#include "cli/progress_line.h"

namespace orv::cli {

// Runs one invocation (arguments without the program name); returns the exit status.
int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// The same with the verifiers and the clock supplied by the caller, and a progress line (on a
// terminal) for the verifiers that judge many entries.
int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const api::Verifiers& verifiers, const Clock& clock,
        ProgressLine* progress = nullptr);

}  // namespace orv::cli
