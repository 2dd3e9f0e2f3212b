// The JSON parser and the strict check over arbitrary bytes: neither may crash, and whatever
// the strict check accepts must also parse (the check is never looser than the parser).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "json/document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const orv::Expected<orv::json::Document, std::string> parsed = orv::json::parse(text);
  if (orv::json::strict_check(text).ok() && !parsed.ok()) std::abort();
  return 0;
}
