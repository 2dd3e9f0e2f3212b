// The real Intel TDX quote and collateral the DCAP fuzz targets start from, read from the shared
// folder beside the checkout (third-party data is not kept in the repository). Without it the
// targets report that once and judge nothing.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "dcap/collateral_json.h"
#include "dcap/verify.h"

namespace orv::fuzz {

// 2025-09-15T00:00:00Z, inside the window of every piece of the collateral.
inline constexpr uint64_t kRealNow = 1757894400;

struct RealDcap {
  std::vector<uint8_t> root;
  std::vector<uint8_t> quote;
  dcap::QuoteCollateralV3 collateral;
};

inline std::optional<std::string> read_shared(const std::string& relative) {
  std::ifstream in(std::string(ORV_SOURCE_DIR) + "/../shared/" + relative, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::optional<RealDcap> load_real_dcap() {
  const std::string dir = "testdata/tdx-real/tee-solver-dstack/";
  const std::optional<std::string> root = read_shared("trust/intel-sgx-root-ca.der");
  const std::optional<std::string> quote = read_shared(dir + "quote_alice.bin");
  const std::optional<std::string> collateral = read_shared(dir + "quote_collateral.json");
  if (!root || !quote || !collateral) {
    std::fprintf(stderr, "shared DCAP test data not found; this target judges nothing\n");
    return std::nullopt;
  }
  const Expected<json::Document, std::string> doc = json::parse(*collateral);
  if (!doc) return std::nullopt;
  Expected<dcap::QuoteCollateralV3, std::string> parsed = dcap::read_collateral(doc->root());
  if (!parsed) return std::nullopt;
  RealDcap out;
  out.root.assign(root->begin(), root->end());
  out.quote.assign(quote->begin(), quote->end());
  out.collateral = std::move(parsed).value();
  return out;
}

}  // namespace orv::fuzz
