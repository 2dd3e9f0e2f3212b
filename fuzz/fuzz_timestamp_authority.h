// The fixed test authority of the timestamp fuzz targets: a P-256 root made once with the test
// support's hierarchy builder (root, one intermediate, signer). The seed tokens under
// fuzz/seeds/fuzz_timestamp_token/ were issued under it for the subject below at genTime
// 2025-06-01T12:00:00Z, so mutations of them reach every check up to a VALID verdict.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/hex.h"
#include "crypto/digest.h"
#include "tsa/token.h"

namespace orv::fuzz {

inline constexpr std::string_view kTimestampSubject = "fuzz subject\n";
inline constexpr uint64_t kTimestampNow = 1748782800;  // genTime + 1 hour
inline constexpr std::string_view kTestPolicy = "1.3.6.1.4.1.99999.1";

inline constexpr std::string_view kTestRootHex =
    "3082016930820110a003020102020101300a06082a8648ce3d040302302c31163014060355040a0c0d4f7276656c616e"
    "7420546573743112301006035504030c095465737420526f6f74301e170d3230303630323132303030305a170d333530"
    "3533303132303030305a302c31163014060355040a0c0d4f7276656c616e7420546573743112301006035504030c0954"
    "65737420526f6f743059301306072a8648ce3d020106082a8648ce3d030107034200043f2085bbb8624ed681fba51b7b"
    "08c49a3c64814cc98a653c1a1f495386506a60d3c790f9a58bdc04f7120819e3e1951a4137c0774718ff01b9ad5fb309"
    "386d23a3233021300f0603551d130101ff040530030101ff300e0603551d0f0101ff040403020106300a06082a8648ce"
    "3d0403020347003044022050560aa52b014458e498c5f2cad42999cf8b71bc051adc865ceba917bce832c302207b242a"
    "e0f4092f47c7975ee2acb16fa97225b636363a5d897e3c62d902ea636c";

// SHA-256 of the two seed tokens: the only tokens this authority ever issued.
inline constexpr std::string_view kIssuedTokens[] = {
    "16343a64f453b532aa67c8cb83e621c178fe1ddaa56887462e71be73eeff2b61",
    "e3806c14732527edf375756f41682437baf0cb5a6f0a3958216dc0bbe7306d25",
};

inline tsa::PinnedAuthority test_authority() {
  std::vector<uint8_t> root = hex_decode(kTestRootHex).value_or(std::vector<uint8_t>());
  std::string fingerprint = crypto::sha256_hex(root);
  return {"Test", std::move(root), std::move(fingerprint), std::string(kTestPolicy)};
}

}  // namespace orv::fuzz
