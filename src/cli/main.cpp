#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/run.h"
#include "crypto/init.h"

int main(int argc, char** argv) {
  if (!orv::crypto::start_process()) return 2;
  try {
    const std::vector<std::string> args(argc > 0 ? argv + 1 : argv, argv + argc);
    return orv::cli::run(args, stdout, stderr);
  } catch (const std::exception& e) {
    // Only allocation can throw here (a 256 MiB input on a small machine); end in an orderly
    // way rather than abort, and never with a status that reads as a verdict.
    std::fprintf(stderr, "error: %s\n", e.what());
    return 2;
  }
}
