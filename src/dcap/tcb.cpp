#include "dcap/tcb.h"

#include <algorithm>
#include <cstdio>

#include "core/hex.h"
#include "core/text.h"
#include "core/time_text.h"

namespace orv::dcap {
namespace {

constexpr size_t kComponents = 16;

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

// Why a text is not hex, in the words a reader can locate.
std::string hex_fault(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = ascii_lower(text[i]);
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return "invalid character at position " + decimal(i);
    }
  }
  return "odd number of digits";
}

template <size_t N>
Expected<void, Failure> decode_fixed_hex(std::string_view text, std::string_view name, std::array<uint8_t, N>& out) {
  const std::optional<std::vector<uint8_t>> bytes = hex_decode(text);
  if (!bytes) return failure(Malformed, "Failed to decode " + std::string(name) + " as hex: " + hex_fault(text));
  if (bytes->size() != N) {
    return failure(Malformed, std::string(name) + " has invalid length " + decimal(bytes->size()) + ", expected " + decimal(N));
  }
  std::copy(bytes->begin(), bytes->end(), out.begin());
  return {};
}

struct ModuleValues {
  std::array<uint8_t, 48> mrsigner{};
  std::array<uint8_t, 8> attributes{};
  std::array<uint8_t, 8> attributes_mask{};
};

Expected<void, Failure> decode_module_values(std::string_view prefix, const std::string& mrsigner, const std::string& attributes,
                                             const std::string& mask, ModuleValues& out) {
  const std::string name(prefix);
  if (auto bad = decode_fixed_hex(mrsigner, name + ".mrsigner", out.mrsigner); !bad.ok()) return bad;
  if (auto bad = decode_fixed_hex(attributes, name + ".attributes", out.attributes); !bad.ok()) return bad;
  if (auto bad = decode_fixed_hex(mask, name + ".attributesMask", out.attributes_mask); !bad.ok()) return bad;
  return {};
}

Expected<std::optional<ModuleLevel>, Failure> module_level(const Quote& quote, const TcbInfo& info) {
  const TdReport10* td = quote.td_report10();
  if (td == nullptr) return failure(Unsupported, "Failed to get TD10 report for TDX module identity");
  const uint8_t module_svn = td->tee_tcb_svn[0];
  const uint8_t major = td->tee_tcb_svn[1];
  if (!info.tdx_module) return failure(Malformed, "TDX TCB Info is missing tdxModule field");
  ModuleValues expected;
  if (auto bad = decode_module_values("tdxModule", info.tdx_module->mrsigner, info.tdx_module->attributes,
                                      info.tdx_module->attributes_mask, expected);
      !bad.ok()) {
    return std::move(bad).error();
  }
  const TdxModuleIdentity* identity = nullptr;
  if (major != 0 && info.tdx_module_identities) {
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, "TDX_%02X", major);
    for (const TdxModuleIdentity& candidate : *info.tdx_module_identities) {
      if (equal_ignoring_ascii_case(candidate.id, wanted)) {
        identity = &candidate;
        break;
      }
    }
    if (identity == nullptr)
      return failure(Mismatch, "No TDX module identity with id " + std::string(wanted) + " found in TCB Info");
    if (auto bad = decode_module_values("tdxModuleIdentity", identity->mrsigner, identity->attributes, identity->attributes_mask,
                                        expected);
        !bad.ok()) {
      return std::move(bad).error();
    }
  }
  if (td->mr_signer_seam != expected.mrsigner) {
    return failure(Mismatch, "TDX module MRSIGNER mismatch: expected " + hex_encode(expected.mrsigner) + ", got " +
                                 hex_encode(td->mr_signer_seam));
  }
  for (size_t i = 0; i < expected.attributes.size(); ++i) {
    const uint8_t mask = expected.attributes_mask[i];
    const uint8_t got = td->seam_attributes[i];
    if ((got & mask) != (expected.attributes[i] & mask)) {
      return failure(Mismatch, "TDX module SEAMATTRIBUTES mismatch at byte " + decimal(i) + ": expected " +
                                   hex_byte(expected.attributes[i] & mask) + " (masked), got " + hex_byte(got & mask) +
                                   " (masked)");
    }
    if ((got & static_cast<uint8_t>(~mask)) != 0) {
      return failure(Mismatch, "TDX module SEAMATTRIBUTES has bits set outside mask at byte " + decimal(i));
    }
  }
  if (identity == nullptr) return std::optional<ModuleLevel>();
  for (const TdxModuleTcbLevel& level : identity->tcb_levels) {
    if (level.isvsvn <= module_svn) return std::optional<ModuleLevel>(ModuleLevel{level.tcb_status, level.advisory_ids});
  }
  return failure(Mismatch, "TDX module ISVSVN " + decimal(module_svn) + " is below minimum required from TDX module TCB levels");
}

std::string types_text(const std::vector<uint32_t>& types) {
  std::string out = "[";
  for (size_t i = 0; i < types.size(); ++i) {
    if (i > 0) out += ", ";
    out += decimal(types[i]);
  }
  return out + "]";
}

}  // namespace

int severity_rank(TcbStatus status) {
  switch (status) {
    case TcbStatus::UpToDate: return 0;
    case TcbStatus::SWHardeningNeeded: return 1;
    case TcbStatus::ConfigurationNeeded: return 2;
    case TcbStatus::ConfigurationAndSWHardeningNeeded: return 3;
    case TcbStatus::OutOfDate: return 4;
    case TcbStatus::OutOfDateConfigurationNeeded: return 5;
    case TcbStatus::Revoked: break;
  }
  return 6;
}

TcbStatus merge_tcb_status(TcbStatus a, TcbStatus b) {
  if (b == TcbStatus::OutOfDate && (a == TcbStatus::ConfigurationAndSWHardeningNeeded || a == TcbStatus::ConfigurationNeeded)) {
    return TcbStatus::OutOfDateConfigurationNeeded;
  }
  return severity_rank(b) > severity_rank(a) ? b : a;
}

Expected<const TcbLevel*, Failure> match_platform_tcb_level(const TcbInfo& info, const std::array<uint8_t, 16>& cpusvn,
                                                            uint16_t pcesvn, const Quote& quote) {
  const bool td_quote = quote.header.tee_type == kTeeTypeTdx;
  for (const TcbLevel& level : info.tcb_levels) {
    if (pcesvn < level.pcesvn) continue;
    if (level.sgx_components.size() != kComponents) {
      return failure(Malformed, "SGX component count mismatch: expected 16, got " + decimal(level.sgx_components.size()));
    }
    bool meets = true;
    for (size_t i = 0; i < kComponents && meets; ++i) meets = cpusvn[i] >= level.sgx_components[i];
    if (!meets) continue;
    if (td_quote) {
      Expected<const TdReport10*, Failure> td = require_td_report(quote);
      if (!td) return std::move(td).error();
      const size_t count = level.tdx_components ? level.tdx_components->size() : 0;
      if (count != kComponents) return failure(Malformed, "TDX component count mismatch: expected 16, got " + decimal(count));
      for (size_t i = 0; i < kComponents && meets; ++i) meets = (*td)->tee_tcb_svn[i] >= (*level.tdx_components)[i];
      if (!meets) continue;
    }
    return &level;
  }
  return failure(Mismatch, "No matching TCB level found");
}

Expected<std::optional<ModuleLevel>, Failure> check_tdx_module(const Quote& quote, const TcbInfo& info) {
  Expected<std::optional<ModuleLevel>, Failure> level = module_level(quote, info);
  if (!level) return wrap("TDX module identity check", std::move(level).error());
  return level;
}

bool status_accepted(uint8_t accepted_statuses, TcbStatus status) {
  uint8_t bit = 0;
  switch (status) {
    case TcbStatus::UpToDate: bit = kAcceptUpToDate; break;
    case TcbStatus::SWHardeningNeeded: bit = kAcceptSWHardeningNeeded; break;
    case TcbStatus::ConfigurationNeeded: bit = kAcceptConfigurationNeeded; break;
    case TcbStatus::ConfigurationAndSWHardeningNeeded: bit = kAcceptConfigurationAndSWHardeningNeeded; break;
    case TcbStatus::OutOfDate: bit = kAcceptOutOfDate; break;
    case TcbStatus::OutOfDateConfigurationNeeded: bit = kAcceptOutOfDateConfigurationNeeded; break;
    case TcbStatus::Revoked: return false;
  }
  return (accepted_statuses & bit) != 0;
}

Expected<void, Failure> apply_policy(const AcceptancePolicy& policy, const Supplemental& values, uint64_t now) {
  if (!status_accepted(policy.accepted_statuses, values.final_status)) {
    return failure(NotAccepted,
                   "TCB status " + std::string(tcb_status_name(values.final_status)) + " is not acceptable by policy");
  }
  if (values.earliest_expiration < now) {
    return failure(Expired,
                   "Collateral expired: earliest_expiration " + decimal(values.earliest_expiration) + " < now " + decimal(now));
  }
  if ((values.platform_status == TcbStatus::OutOfDateConfigurationNeeded || values.platform_status == TcbStatus::OutOfDate) &&
      saturating_add(values.tcb_date_tag, policy.platform_grace_period) < now) {
    return failure(NotAccepted, "Platform TCB too old: tcb_date_tag " + decimal(values.tcb_date_tag) + " + grace " +
                                    decimal(policy.platform_grace_period) + " < now " + decimal(now));
  }
  const Expected<DateTime, std::string> qe_date = parse_rfc3339(values.qe_tcb_date);
  if (!qe_date) return failure(Malformed, "Failed to parse QE TCB date: " + qe_date.error());
  if (qe_date->seconds < 0) return failure(Malformed, "Failed to parse QE TCB date: RFC3339 datetime is before Unix epoch");
  const auto qe_seconds = static_cast<uint64_t>(qe_date->seconds);
  if (values.qe_status == TcbStatus::OutOfDate && saturating_add(qe_seconds, policy.qe_grace_period) < now) {
    return failure(NotAccepted, "QE TCB too old: tcb_date_tag " + decimal(qe_seconds) + " + grace " +
                                    decimal(policy.qe_grace_period) + " < now " + decimal(now));
  }
  for (const std::vector<std::string>* list : {&values.platform_advisory_ids, &values.qe_advisory_ids}) {
    for (const std::string& id : *list) {
      if (std::find(policy.rejected_advisory_ids.begin(), policy.rejected_advisory_ids.end(), id) !=
          policy.rejected_advisory_ids.end()) {
        return failure(NotAccepted, "Advisory ID " + id + " is rejected by policy");
      }
    }
  }
  if (policy.min_tcb_evaluation_data_number && values.tcb_evaluation_data_number < *policy.min_tcb_evaluation_data_number) {
    return failure(NotAccepted, "TCB eval data number " + decimal(values.tcb_evaluation_data_number) + " is below minimum " +
                                    decimal(*policy.min_tcb_evaluation_data_number));
  }
  if (!policy.allow_dynamic_platform && values.dynamic_platform == true) {
    return failure(NotAccepted, "Dynamic platform is not allowed by policy");
  }
  if (!policy.allow_cached_keys && values.cached_keys == true)
    return failure(NotAccepted, "Cached keys are not allowed by policy");
  if (!policy.allow_smt && values.smt_enabled == true)
    return failure(NotAccepted, "SMT (hyperthreading) is not allowed by policy");
  if (policy.accepted_sgx_types && std::find(policy.accepted_sgx_types->begin(), policy.accepted_sgx_types->end(),
                                             values.sgx_type) == policy.accepted_sgx_types->end()) {
    return failure(NotAccepted, "SGX type " + decimal(values.sgx_type) + " is not in accepted types " +
                                    types_text(*policy.accepted_sgx_types));
  }
  return {};
}

}  // namespace orv::dcap
