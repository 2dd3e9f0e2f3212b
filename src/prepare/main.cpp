#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

#include "crypto/init.h"
#include "prepare/program.h"
#include "trust/trust.h"
#include "tsa/authorities.h"

int main(int argc, char** argv) {
  if (!orv::crypto::start_process()) return 2;
  orv::prepare::Context context;
  context.clock = [] {
    const std::time_t now = std::time(nullptr);
    return now < 0 ? uint64_t{0} : static_cast<uint64_t>(now);
  };
  const orv::trust::Trust& trust = orv::trust::Trust::builtin();
  context.intel_root_der = trust.intel_root_der;
  try {
    const std::vector<orv::tsa::PinnedAuthority> authorities =
        orv::tsa::builtin_authorities(trust.digicert_root_der, trust.sigstore_tsa_root_der);
    context.timestamp_authorities = authorities;
    const std::vector<std::vector<uint8_t>> certificates = {
        {trust.sigstore_tsa_signer_der.begin(), trust.sigstore_tsa_signer_der.end()}};
    context.timestamp_certificates = certificates;
    const std::vector<std::string> args(argc > 0 ? argv + 1 : argv, argv + argc);
    return orv::prepare::run(args, context);
  } catch (const std::exception& e) {
    // Only allocation can throw here; end in an orderly way, never with a status that reads as
    // success.
    std::fprintf(stderr, "error: %s\n", e.what());
    return 2;
  }
}
