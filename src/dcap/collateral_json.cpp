#include "dcap/collateral_json.h"

#include <array>
#include <optional>
#include <string>

namespace orv::dcap {
namespace {

using json::Field;
using json::Kind;

constexpr std::array<Field, 10> kCollateralFields = {{
    {"pck_crl_issuer_chain", Kind::String},
    {"root_ca_crl", Kind::String},
    {"pck_crl", Kind::String},
    {"tcb_info_issuer_chain", Kind::String},
    {"tcb_info", Kind::String},
    {"tcb_info_signature", Kind::String},
    {"qe_identity_issuer_chain", Kind::String},
    {"qe_identity", Kind::String},
    {"qe_identity_signature", Kind::String},
    {"pck_certificate_chain", Kind::String, true},
}};
constexpr json::Record kQuoteCollateralV3{"QuoteCollateralV3", kCollateralFields};

}  // namespace

std::span<const json::Field> collateral_fields() { return kCollateralFields; }

Expected<QuoteCollateralV3, std::string> read_collateral(const json::Value& object) {
  if (auto mapped = json::check_record(object, kQuoteCollateralV3); !mapped.ok()) return fail(mapped.error());
  const auto text = [&](std::string_view name) { return std::string(json::string_member(object, name)); };
  std::optional<std::string> chain;
  if (json::member(object, "pck_certificate_chain") != nullptr) chain = text("pck_certificate_chain");
  return QuoteCollateralV3{text("pck_crl_issuer_chain"),
                           text("root_ca_crl"),
                           text("pck_crl"),
                           text("tcb_info_issuer_chain"),
                           text("tcb_info"),
                           text("tcb_info_signature"),
                           text("qe_identity_issuer_chain"),
                           text("qe_identity"),
                           text("qe_identity_signature"),
                           chain};
}

}  // namespace orv::dcap
