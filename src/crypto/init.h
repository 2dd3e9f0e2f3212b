// Process-wide OpenSSL set-up for programs that run the verifiers.
#pragma once

namespace orv::crypto {

// Starts OpenSSL so that it never reads a configuration file, whatever OPENSSL_CONF or the
// system's openssl.cnf say: a configuration can load providers or engines, change default
// properties and so change what a signature check means. Call it before anything else touches
// OpenSSL (later calls with other options no longer change this). False when OpenSSL could not
// start.
bool init_without_configuration();

}  // namespace orv::crypto
