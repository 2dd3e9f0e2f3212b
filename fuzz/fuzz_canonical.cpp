// The canonical writer over every value the parser admits: canonical output must parse again
// and canonicalise to the very same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json/canonical.h"
#include "json/document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const orv::Expected<orv::json::Document, std::string> parsed = orv::json::parse(text);
  if (!parsed) return 0;
  const orv::Expected<std::string, std::string> first = orv::json::canonicalize(parsed->root());
  if (!first) return 0;
  const orv::Expected<orv::json::Document, std::string> reparsed = orv::json::parse(*first);
  if (!reparsed) std::abort();
  const orv::Expected<std::string, std::string> second = orv::json::canonicalize(reparsed->root());
  if (!second || *second != *first) std::abort();
  return 0;
}
