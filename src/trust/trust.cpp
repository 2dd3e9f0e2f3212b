#include "trust/trust.h"

#include "trust/embedded.h"

namespace orv::trust {
namespace {

std::string_view as_text(std::span<const uint8_t> bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

}  // namespace

std::span<const uint8_t> builtin_file(std::string_view name) {
  for (const EmbeddedFile& file : embedded_files()) {
    if (file.name == name) return file.bytes;
  }
  return {};
}

const Trust& Trust::builtin() {
  static const Trust trust{
      builtin_file("intel-sgx-root-ca.der"),      builtin_file("digicert-trusted-root-g4.der"),
      builtin_file("sigstore-tsa-root.der"),      builtin_file("sigstore-tsa-leaf.der"),
      as_text(builtin_file("sigsum-policy.txt")), builtin_file("rekor-log2025-1.spki.der"),
      as_text(builtin_file("rekor-log.txt")),
  };
  return trust;
}

}  // namespace orv::trust
