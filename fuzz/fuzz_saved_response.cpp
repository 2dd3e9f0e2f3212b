// What a user's HTTP client saved, over arbitrary bytes: a headers file, then (after the first
// NUL byte) a body. Never a crash, and whatever is read is self-consistent: a final status, a
// signed member that is a piece of the body and parses alone, a CRL body decoded to something.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "prepare/saved_response.h"
#include "prepare/signed_body.h"
#include "prepare/verifier.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string_view headers_text = input.substr(0, split);
  const std::string_view body = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

  const auto headers = orv::prepare::read_saved_headers(headers_text);
  if (headers) {
    if (headers->responses == 0 || headers->status < 200 || headers->status > 599) std::abort();
    for (const auto& [name, value] : headers->fields) {
      if (name.empty() || headers->count(name) == 0 || !headers->field(name)) std::abort();
      const auto decoded = orv::prepare::percent_decode(value);
      if (decoded && decoded->size() > value.size()) std::abort();
      (void)orv::prepare::read_http_date(value);
    }
  }

  const auto cut = orv::prepare::cut_signed_body(body, "tcbInfo");
  if (cut) {
    if (body.find(cut->signed_text) == std::string_view::npos) std::abort();
    const auto alone = orv::prepare::verifier::json_object_members(cut->signed_text);
    if (!alone) std::abort();  // the member was an object, so its bytes are one
  }
  const auto crl = orv::prepare::crl_der(body);
  if (crl && crl->empty()) std::abort();
  return 0;
}
