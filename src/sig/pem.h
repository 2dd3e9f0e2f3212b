// The notary's key: a "PUBLIC KEY" PEM holding a P-384 SubjectPublicKeyInfo.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace orv::sig {

// The DER between the first "-----BEGIN {label}-----" and the end marker after it, with PEM
// white space (space, tab, LF, FF, CR) removed before base64 decoding.
std::optional<std::vector<uint8_t>> read_pem(std::string_view label, std::string_view text);

// The DER of a P-384 public key in "PUBLIC KEY" PEM, or nothing when the text is anything else.
std::optional<std::vector<uint8_t>> read_p384_public_key_pem(std::string_view text);

// False also when the key text does not read as a P-384 public key.
bool p384_verify_pem(std::string_view key_pem, std::span<const uint8_t> message, std::span<const uint8_t> signature);

// The text with PEM white space removed: embedded keys are compared with the pin this way, so a
// key re-wrapped at another width or with CRLF line ends still matches.
std::string strip_pem_space(std::string_view text);

}  // namespace orv::sig
