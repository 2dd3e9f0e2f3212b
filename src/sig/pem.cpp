#include "sig/pem.h"

#include <string>

#include "core/base64.h"
#include "crypto/ecdsa.h"

namespace orv::sig {

std::string strip_pem_space(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\f' && c != '\r') out.push_back(c);
  }
  return out;
}

std::optional<std::vector<uint8_t>> read_pem(std::string_view label, std::string_view text) {
  const std::string begin = "-----BEGIN " + std::string(label) + "-----";
  const std::string end = "-----END " + std::string(label) + "-----";
  const size_t begin_at = text.find(begin);
  if (begin_at == std::string_view::npos) return std::nullopt;
  const size_t body_at = begin_at + begin.size();
  const size_t end_at = text.find(end, body_at);
  if (end_at == std::string_view::npos) return std::nullopt;
  return base64_decode(strip_pem_space(text.substr(body_at, end_at - body_at)));
}

std::optional<std::vector<uint8_t>> read_p384_public_key_pem(std::string_view text) {
  std::optional<std::vector<uint8_t>> der = read_pem("PUBLIC KEY", text);
  if (!der || !crypto::is_p384_public_key(*der)) return std::nullopt;
  return der;
}

bool p384_verify_pem(std::string_view key_pem, std::span<const uint8_t> message, std::span<const uint8_t> signature) {
  const std::optional<std::vector<uint8_t>> der = read_pem("PUBLIC KEY", key_pem);
  return der && crypto::p384_sha384_verify(*der, message, signature);
}

}  // namespace orv::sig
