#include "tsa/authorities.h"

namespace orv::tsa {

std::vector<PinnedAuthority> builtin_authorities(std::span<const uint8_t> digicert_root_der,
                                                 std::span<const uint8_t> sigstore_root_der) {
  std::vector<PinnedAuthority> table;
  table.push_back({"DigiCert",
                   {digicert_root_der.begin(), digicert_root_der.end()},
                   std::string(kDigiCertRootFingerprint),
                   "2.16.840.1.114412.7.1"});
  table.push_back({"Sigstore",
                   {sigstore_root_der.begin(), sigstore_root_der.end()},
                   std::string(kSigstoreRootFingerprint),
                   "1.3.6.1.4.1.57264.2"});
  return table;
}

}  // namespace orv::tsa
