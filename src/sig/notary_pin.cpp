#include "sig/notary_pin.h"

#include <optional>

#include "core/text.h"
#include "sig/pem.h"

namespace orv::sig {

Expected<NotaryPin, Problem> read_notary_pin(std::string_view pinned_text, std::string_view documents) {
  if (trim_unicode(pinned_text).empty()) {
    return Problem{"PIN_MISSING", "refusing to verify without a pinned notary key"};
  }
  std::optional<std::vector<uint8_t>> der = read_p384_public_key_pem(pinned_text);
  std::optional<crypto::P384PublicKey> key;
  if (der) key = crypto::P384PublicKey::from_spki(*der);
  if (!key) {
    return Problem{"PIN_INVALID",
                   "the pinned key is not a P-384 public key in PEM form; " + std::string(documents) + " need the notary key"};
  }
  return NotaryPin{strip_pem_space(pinned_text), std::move(*der), std::move(*key)};
}

}  // namespace orv::sig
