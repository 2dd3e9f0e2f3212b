#include "crypto/init.h"

#include <openssl/crypto.h>

namespace orv::crypto {

bool init_without_configuration() {
  // The library would otherwise load the configuration on its own the first time the default
  // library context is used (fetching an algorithm, decoding a key); marking configuration as
  // done without a file turns every later load request into a no-op.
  return OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1;
}

}  // namespace orv::crypto
