// Process-wide OpenSSL set-up for programs that run the verifiers.
#pragma once

namespace orv::crypto {

// Starts OpenSSL so that it never reads a configuration file, whatever OPENSSL_CONF or the
// system's openssl.cnf say: a configuration can load providers or engines, change default
// properties and so change what a signature check means. Call it before anything else touches
// OpenSSL (later calls with other options no longer change this). False when OpenSSL could not
// start.
bool init_without_configuration();

// What each program does first, before any check runs: the OpenSSL start above, UTC without a
// zone file, and SIGPIPE ignored. On failure it has said why on stderr and returns false; the
// program then ends with status 2.
bool start_process();

}  // namespace orv::crypto
