#include "crypto/init.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <openssl/crypto.h>

namespace orv::crypto {

bool init_without_configuration() {
  // The library would otherwise load the configuration on its own the first time the default
  // library context is used (fetching an algorithm, decoding a key); marking configuration as
  // done without a file turns every later load request into a no-op.
  return OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1;
}

bool start_process() {
  // First, before any check can make OpenSSL read a configuration file of this machine's choosing.
  if (!init_without_configuration()) {
    std::fputs("error: the cryptographic library could not be initialised\n", stderr);
    return false;
  }
  // OpenSSL's certificate time checks call gmtime_r, and glibc's first time conversion loads the
  // local time zone file even for UTC. An empty zone name (":") is UTC without reading a file;
  // nothing here is shown in local time.
  if (::setenv("TZ", ":", 1) != 0) {
    std::fputs("error: cannot set the time zone to UTC\n", stderr);
    return false;
  }
  // A reader that goes away early (`| head`) must not kill the run with SIGPIPE: the exit
  // status still carries the verdict.
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

}  // namespace orv::crypto
