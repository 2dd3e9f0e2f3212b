#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "cli/run.h"
#include "crypto/init.h"

int main(int argc, char** argv) {
  // First, before any check can make OpenSSL read a configuration file of this machine's choosing.
  if (!orv::crypto::init_without_configuration()) {
    std::fputs("error: the cryptographic library could not be initialised\n", stderr);
    return 2;
  }
  // OpenSSL's certificate time checks call gmtime_r, and glibc's first time conversion loads the
  // local time zone file even for UTC. An empty zone name (":") is UTC without reading a file;
  // nothing here is shown in local time.
  if (::setenv("TZ", ":", 1) != 0) {
    std::fputs("error: cannot set the time zone to UTC\n", stderr);
    return 2;
  }
  // A reader that goes away early (`| head`) must not kill the run with SIGPIPE: the exit
  // status still carries the verdict.
  std::signal(SIGPIPE, SIG_IGN);
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
