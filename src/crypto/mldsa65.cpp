#include "crypto/mldsa65.h"

namespace orv::crypto {

// Placeholder until the implementation lands: refuses every signature.
bool mldsa65_verify(std::span<const uint8_t>, std::span<const uint8_t>, std::span<const uint8_t>,
                    std::span<const uint8_t>) {
  return false;
}

}  // namespace orv::crypto
