// Intel's signed collateral documents: TCB info (versions 2 and 3, SGX and TDX) and QE identity,
// read from their exact signed text into typed records, and Intel's seven TCB statuses.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace orv::dcap {

// Declaration order is the status index.
enum class TcbStatus {
  UpToDate,
  OutOfDateConfigurationNeeded,
  OutOfDate,
  ConfigurationAndSWHardeningNeeded,
  ConfigurationNeeded,
  SWHardeningNeeded,
  Revoked,
};

std::string_view tcb_status_name(TcbStatus status);
std::optional<TcbStatus> tcb_status_from_name(std::string_view name);

struct TcbLevel {
  std::vector<uint8_t> sgx_components;                 // the `svn` of each `sgxtcbcomponents` entry
  std::optional<std::vector<uint8_t>> tdx_components;  // likewise `tdxtcbcomponents`, when present
  uint16_t pcesvn = 0;
  std::string tcb_date;
  TcbStatus tcb_status = TcbStatus::Revoked;
  std::vector<std::string> advisory_ids;
};

struct TdxModule {
  std::string mrsigner;
  std::string attributes;
  std::string attributes_mask;
};

struct TdxModuleTcbLevel {
  uint16_t isvsvn = 0;
  std::string tcb_date;
  TcbStatus tcb_status = TcbStatus::Revoked;
  std::vector<std::string> advisory_ids;
};

struct TdxModuleIdentity {
  std::string id;
  std::string mrsigner;
  std::string attributes;
  std::string attributes_mask;
  std::vector<TdxModuleTcbLevel> tcb_levels;
};

struct TcbInfo {
  std::string id;
  uint32_t version = 0;
  std::string issue_date;
  std::string next_update;
  std::string fmspc;
  std::string pce_id;
  uint32_t tcb_type = 0;
  uint32_t tcb_evaluation_data_number = 0;
  std::optional<TdxModule> tdx_module;
  std::optional<std::vector<TdxModuleIdentity>> tdx_module_identities;
  std::vector<TcbLevel> tcb_levels;
};

struct QeTcbLevel {
  uint16_t isvsvn = 0;
  std::string tcb_date;
  TcbStatus tcb_status = TcbStatus::Revoked;
  std::vector<std::string> advisory_ids;
};

struct QeIdentity {
  std::string id;
  uint32_t version = 0;
  std::string issue_date;
  std::string next_update;
  uint32_t tcb_evaluation_data_number = 0;
  std::array<uint8_t, 4> miscselect{};
  std::array<uint8_t, 4> miscselect_mask{};
  std::array<uint8_t, 16> attributes{};
  std::array<uint8_t, 16> attributes_mask{};
  std::array<uint8_t, 32> mrsigner{};
  uint16_t isvprodid = 0;
  std::vector<QeTcbLevel> tcb_levels;
};

// Both documents are bounded by size before parsing; members beyond the ones read are ignored
// (Intel adds descriptive ones), but every member read is typed and may appear only once.
// Errors are the JSON reader's messages ("missing field `{}`", "invalid type: {}, expected {}",
// "unknown variant `{}`, expected one of ...").
inline constexpr size_t kMaxCollateralDocumentBytes = 1048576;
Expected<TcbInfo, std::string> parse_tcb_info(std::string_view text);
Expected<QeIdentity, std::string> parse_qe_identity(std::string_view text);

}  // namespace orv::dcap
