#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

#include "crypto/init.h"
#include "prepare/program.h"
#include "trust/trust.h"

int main(int argc, char** argv) {
  if (!orv::crypto::start_process()) return 2;
  orv::prepare::Context context;
  context.clock = [] {
    const std::time_t now = std::time(nullptr);
    return now < 0 ? uint64_t{0} : static_cast<uint64_t>(now);
  };
  context.intel_root_der = orv::trust::Trust::builtin().intel_root_der;
  try {
    const std::vector<std::string> args(argc > 0 ? argv + 1 : argv, argv + argc);
    return orv::prepare::run(args, context);
  } catch (const std::exception& e) {
    // Only allocation can throw here; end in an orderly way, never with a status that reads as
    // success.
    std::fprintf(stderr, "error: %s\n", e.what());
    return 2;
  }
}
