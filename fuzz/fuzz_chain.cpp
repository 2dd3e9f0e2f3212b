// The chain check with heads: the input is split at NUL bytes into the chain and up to eight
// head files, all judged under the example notary key.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_notary_support.h"
#include "sig/chain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  while (parts.size() < 9) {
    const size_t cut = input.find('\0');
    parts.emplace_back(input.substr(0, cut));
    if (cut == std::string_view::npos) break;
    input.remove_prefix(cut + 1);
  }
  const std::vector<std::string> heads(parts.begin() + 1, parts.end());
  const orv::sig::ChainReport report = orv::sig::check_chain(parts[0], heads, orv::fuzz::notary_pin());
  if (report.valid != report.problems.empty() || report.length != report.entries.size()) std::abort();
  if (report.heads.size() > heads.size()) std::abort();
  for (const orv::sig::ReceiptVerdict& entry : report.entries) orv::fuzz::check_invariants(entry);
  return 0;
}
