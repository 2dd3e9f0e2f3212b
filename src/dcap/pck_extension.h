// The Intel SGX extension of a PCK certificate (1.2.840.113741.1.13.1): the platform's CPUSVN,
// PCESVN, FMSPC, SGX type and configuration flags, read with a strict DER walk.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include <openssl/x509.h>

#include "dcap/failure.h"

namespace orv::dcap {

inline constexpr std::string_view kSgxExtensionOid = "1.2.840.113741.1.13.1";

struct PckExtensions {
  std::array<uint8_t, 16> cpusvn{};
  uint16_t pcesvn = 0;
  std::array<uint8_t, 6> fmspc{};
  uint32_t sgx_type = 0;  // 0 Standard, 1 Scalable, 2 Scalable with integrity
  // Absent flags stay absent; only true counts as set.
  std::optional<bool> dynamic_platform;
  std::optional<bool> cached_keys;
  std::optional<bool> smt_enabled;
};

// From the extension's value (the content of its OCTET STRING).
Expected<PckExtensions, Failure> parse_sgx_extension(std::span<const uint8_t> value);
// From the PCK leaf: "Intel extension not found" when it carries none; two of them is a
// duplicate like any other.
Expected<PckExtensions, Failure> read_pck_extensions(const X509* leaf);

// Whether the certificate carries the SGX extension at all, which marks a platform's PCK
// certificate.
bool has_sgx_extension(const X509* cert);

}  // namespace orv::dcap
