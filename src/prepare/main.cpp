#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

#include "crypto/init.h"
#include "prepare/program.h"
#include "trust/trust.h"
#include "tsa/authorities.h"

int main(int argc, char** argv) {
  // As orvelant-verify: OpenSSL never reads a configuration of this machine's choosing, time is
  // UTC without reading a zone file, and a reader that goes away early does not kill the run.
  if (!orv::crypto::init_without_configuration()) {
    std::fputs("error: the cryptographic library could not be initialised\n", stderr);
    return 2;
  }
  if (::setenv("TZ", ":", 1) != 0) {
    std::fputs("error: cannot set the time zone to UTC\n", stderr);
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
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
