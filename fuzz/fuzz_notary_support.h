// Shared by the notary fuzz targets: the example notary key, and the invariants every receipt
// verdict must keep whatever the input.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "sig/verdict.h"

namespace orv::fuzz {

// The example notary's PEM, read once.
inline const std::string& notary_pin() {
  static const std::string pin = [] {
    std::ifstream in(ORV_SOURCE_DIR "/examples/notary-key.pem");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }();
  return pin;
}

inline void check_invariants(const sig::ReceiptVerdict& verdict) {
  if (verdict.valid != verdict.problems.empty()) std::abort();
  if (verdict.valid != (verdict.outcome == Outcome::Valid)) std::abort();
  if (verdict.scope.empty()) std::abort();
}

}  // namespace orv::fuzz
