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
  rapidjson::Document doc;
  doc.Parse(collateral->c_str(), collateral->size());
  if (doc.HasParseError() || !doc.IsObject()) return std::nullopt;
  const auto member = [&](const char* name) {
    if (!doc.HasMember(name) || !doc[name].IsString()) return std::string();
    return std::string(doc[name].GetString(), doc[name].GetStringLength());
  };
  RealDcap out;
  out.root.assign(root->begin(), root->end());
  out.quote.assign(quote->begin(), quote->end());
  dcap::QuoteCollateralV3& c = out.collateral;
  c.pck_crl_issuer_chain = member("pck_crl_issuer_chain");
  c.root_ca_crl = member("root_ca_crl");
  c.pck_crl = member("pck_crl");
  c.tcb_info_issuer_chain = member("tcb_info_issuer_chain");
  c.tcb_info = member("tcb_info");
  c.tcb_info_signature = member("tcb_info_signature");
  c.qe_identity_issuer_chain = member("qe_identity_issuer_chain");
  c.qe_identity = member("qe_identity");
  c.qe_identity_signature = member("qe_identity_signature");
  return out;
}

}  // namespace orv::fuzz
