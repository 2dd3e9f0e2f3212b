// The command line: argument scan, input reading, dispatch to one verifier, rendering.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace orv::cli {

// Runs one invocation (arguments without the program name); returns the exit status.
int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace orv::cli
