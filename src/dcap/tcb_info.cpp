#include "dcap/tcb_info.h"

#include <charconv>

#include "core/hex.h"
#include "core/text.h"
#include "json/document.h"

namespace orv::dcap {
namespace {

using json::Value;

constexpr std::string_view kStatusNames[] = {
    "UpToDate",
    "OutOfDateConfigurationNeeded",
    "OutOfDate",
    "ConfigurationAndSWHardeningNeeded",
    "ConfigurationNeeded",
    "SWHardeningNeeded",
    "Revoked",
};

// A quoted value in a message: long texts are cut at a character boundary, since the message is
// shown to people and the document may be large.
std::string quoted(std::string_view text) {
  constexpr size_t kShown = 80;
  if (text.size() <= kShown) return "\"" + std::string(text) + "\"";
  size_t cut = kShown;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return "\"" + std::string(text.substr(0, cut)) + "\"...";
}

std::string_view text_of(const Value& value) { return {value.GetString(), value.GetStringLength()}; }

// How an unexpected value is named in "invalid type: {}, expected {}".
std::string describe(const Value& value) {
  if (value.IsNull()) return "null";
  if (value.IsBool()) return value.GetBool() ? "boolean `true`" : "boolean `false`";
  if (value.IsUint64()) return "integer `" + decimal(value.GetUint64()) + "`";
  if (value.IsInt64()) return "integer `" + std::to_string(value.GetInt64()) + "`";
  if (value.IsDouble()) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value.GetDouble());
    return "floating point `" + std::string(buffer, result.ptr) + "`";
  }
  if (value.IsString()) return "string " + quoted(text_of(value));
  if (value.IsObject()) return "map";
  return "sequence";
}

enum class Want { String, U8, U16, U32, Array, Object, StringArray };

struct Member {
  std::string_view name;
  Want want;
  bool optional = false;
  std::string_view struct_name = {};  // for Object
};

std::string expectation(const Member& member) {
  switch (member.want) {
    case Want::String: return "a string";
    case Want::U8: return "u8";
    case Want::U16: return "u16";
    case Want::U32: return "u32";
    case Want::Array:
    case Want::StringArray: return "a sequence";
    case Want::Object: return "struct " + std::string(member.struct_name);
  }
  return "a value";
}

uint64_t integer_limit(Want want) {
  switch (want) {
    case Want::U8: return 0xFF;
    case Want::U16: return 0xFFFF;
    default: return 0xFFFFFFFF;
  }
}

Expected<void, std::string> check_value(const Value& value, const Member& member) {
  switch (member.want) {
    case Want::String:
      if (value.IsString()) return {};
      break;
    case Want::U8:
    case Want::U16:
    case Want::U32:
      if (value.IsUint64()) {
        if (value.GetUint64() <= integer_limit(member.want)) return {};
        return fail("invalid value: integer `" + decimal(value.GetUint64()) + "`, expected " + expectation(member));
      }
      if (value.IsInt64()) {
        return fail("invalid value: integer `" + std::to_string(value.GetInt64()) + "`, expected " + expectation(member));
      }
      break;
    case Want::Array:
      if (value.IsArray()) return {};
      break;
    case Want::StringArray:
      if (value.IsArray()) {
        for (const Value& element : value.GetArray()) {
          if (!element.IsString()) return fail("invalid type: " + describe(element) + ", expected a string");
        }
        return {};
      }
      break;
    case Want::Object:
      if (value.IsObject()) return {};
      break;
  }
  return fail("invalid type: " + describe(value) + ", expected " + expectation(member));
}

// Matches an object's members against the expected ones in document order: a known member
// twice or of the wrong type fails where it stands; then the first required one that is absent.
template <size_t N>
Expected<void, std::string> read_members(const Value& object, std::string_view type, const Member (&members)[N],
                                         std::array<const Value*, N>& found) {
  found.fill(nullptr);
  if (!object.IsObject()) return fail("invalid type: " + describe(object) + ", expected struct " + std::string(type));
  for (auto it = object.MemberBegin(); it != object.MemberEnd(); ++it) {
    const std::string_view name = text_of(it->name);
    for (size_t i = 0; i < N; ++i) {
      if (members[i].name != name) continue;
      if (found[i] != nullptr) return fail("duplicate field `" + std::string(name) + "`");
      if (auto bad = check_value(it->value, members[i]); !bad.ok()) return bad;
      found[i] = &it->value;
    }
  }
  for (size_t i = 0; i < N; ++i) {
    if (found[i] == nullptr && !members[i].optional) return fail("missing field `" + std::string(members[i].name) + "`");
  }
  return {};
}

std::string string_of(const Value* value) { return value ? std::string(text_of(*value)) : std::string(); }
template <class U>
U integer_of(const Value* value) {
  return value ? static_cast<U>(value->GetUint64()) : U{0};
}

Expected<void, std::string> read_status(const Value& value, TcbStatus& out) {
  const std::optional<TcbStatus> status = tcb_status_from_name(text_of(value));
  if (status) {
    out = *status;
    return {};
  }
  std::string expected = "one of ";
  for (size_t i = 0; i < std::size(kStatusNames); ++i) {
    if (i > 0) expected += ", ";
    expected += "`" + std::string(kStatusNames[i]) + "`";
  }
  return fail("unknown variant `" + std::string(text_of(value)) + "`, expected " + expected);
}

std::vector<std::string> strings_of(const Value* array) {
  std::vector<std::string> out;
  if (array == nullptr) return out;
  out.reserve(array->Size());
  for (const Value& element : array->GetArray()) out.emplace_back(text_of(element));
  return out;
}

Expected<void, std::string> read_components(const Value& array, std::vector<uint8_t>& out) {
  static constexpr Member kMembers[] = {{"svn", Want::U8}};
  out.reserve(array.Size());
  for (const Value& element : array.GetArray()) {
    std::array<const Value*, 1> found{};
    if (auto bad = read_members(element, "TcbComponent", kMembers, found); !bad.ok()) return bad;
    out.push_back(integer_of<uint8_t>(found[0]));
  }
  return {};
}

Expected<void, std::string> read_tcb_level(const Value& value, TcbLevel& level) {
  static constexpr Member kMembers[] = {{"tcb", Want::Object, false, "Tcb"},
                                        {"tcbDate", Want::String},
                                        {"tcbStatus", Want::String},
                                        {"advisoryIDs", Want::StringArray, true}};
  std::array<const Value*, 4> found{};
  if (auto bad = read_members(value, "TcbLevel", kMembers, found); !bad.ok()) return bad;
  static constexpr Member kTcb[] = {
      {"sgxtcbcomponents", Want::Array}, {"pcesvn", Want::U16}, {"tdxtcbcomponents", Want::Array, true}};
  std::array<const Value*, 3> tcb{};
  if (auto bad = read_members(*found[0], "Tcb", kTcb, tcb); !bad.ok()) return bad;
  if (auto bad = read_components(*tcb[0], level.sgx_components); !bad.ok()) return bad;
  level.pcesvn = integer_of<uint16_t>(tcb[1]);
  if (tcb[2] != nullptr) {
    level.tdx_components.emplace();
    if (auto bad = read_components(*tcb[2], *level.tdx_components); !bad.ok()) return bad;
  }
  level.tcb_date = string_of(found[1]);
  if (auto bad = read_status(*found[2], level.tcb_status); !bad.ok()) return bad;
  level.advisory_ids = strings_of(found[3]);
  return {};
}

// A level of a TDX module identity or of the QE identity: `tcb` holds only `isvsvn`.
template <class Level>
Expected<void, std::string> read_isv_level(const Value& value, std::string_view type, Level& level) {
  static constexpr Member kMembers[] = {{"tcb", Want::Object, false, "IsvTcb"},
                                        {"tcbDate", Want::String},
                                        {"tcbStatus", Want::String},
                                        {"advisoryIDs", Want::StringArray, true}};
  std::array<const Value*, 4> found{};
  if (auto bad = read_members(value, type, kMembers, found); !bad.ok()) return bad;
  static constexpr Member kTcb[] = {{"isvsvn", Want::U16}};
  std::array<const Value*, 1> tcb{};
  if (auto bad = read_members(*found[0], "IsvTcb", kTcb, tcb); !bad.ok()) return bad;
  level.isvsvn = integer_of<uint16_t>(tcb[0]);
  level.tcb_date = string_of(found[1]);
  if (auto bad = read_status(*found[2], level.tcb_status); !bad.ok()) return bad;
  level.advisory_ids = strings_of(found[3]);
  return {};
}

Expected<void, std::string> read_tdx_module(const Value& value, TdxModule& module) {
  static constexpr Member kMembers[] = {
      {"mrsigner", Want::String}, {"attributes", Want::String}, {"attributesMask", Want::String}};
  std::array<const Value*, 3> found{};
  if (auto bad = read_members(value, "TdxModule", kMembers, found); !bad.ok()) return bad;
  module = {string_of(found[0]), string_of(found[1]), string_of(found[2])};
  return {};
}

Expected<void, std::string> read_module_identity(const Value& value, TdxModuleIdentity& identity) {
  static constexpr Member kMembers[] = {{"id", Want::String},
                                        {"mrsigner", Want::String},
                                        {"attributes", Want::String},
                                        {"attributesMask", Want::String},
                                        {"tcbLevels", Want::Array}};
  std::array<const Value*, 5> found{};
  if (auto bad = read_members(value, "TdxModuleIdentity", kMembers, found); !bad.ok()) return bad;
  identity.id = string_of(found[0]);
  identity.mrsigner = string_of(found[1]);
  identity.attributes = string_of(found[2]);
  identity.attributes_mask = string_of(found[3]);
  identity.tcb_levels.reserve(found[4]->Size());
  for (const Value& element : found[4]->GetArray()) {
    TdxModuleTcbLevel level;
    if (auto bad = read_isv_level(element, "TdxModuleTcbLevel", level); !bad.ok()) return bad;
    identity.tcb_levels.push_back(std::move(level));
  }
  return {};
}

template <size_t N>
Expected<void, std::string> read_hex(const Value* value, std::string_view name, std::array<uint8_t, N>& out) {
  const std::optional<std::vector<uint8_t>> bytes = hex_decode(text_of(*value));
  if (!bytes || bytes->size() != N) {
    return fail("invalid value: " + describe(*value) + ", expected " + decimal(N) + " bytes of hex in `" + std::string(name) +
                "`");
  }
  for (size_t i = 0; i < N; ++i) out[i] = (*bytes)[i];
  return {};
}

Expected<json::Document, std::string> parse_bounded(std::string_view text) {
  if (text.size() > kMaxCollateralDocumentBytes) {
    return fail("document is larger than " + decimal(kMaxCollateralDocumentBytes) + " bytes");
  }
  return json::parse(text);
}

Expected<void, std::string> read_tcb_info(const Value& root, TcbInfo& info) {
  static constexpr Member kMembers[] = {{"id", Want::String},
                                        {"version", Want::U32},
                                        {"issueDate", Want::String},
                                        {"nextUpdate", Want::String},
                                        {"fmspc", Want::String},
                                        {"pceId", Want::String},
                                        {"tcbType", Want::U32},
                                        {"tcbEvaluationDataNumber", Want::U32},
                                        {"tdxModule", Want::Object, true, "TdxModule"},
                                        {"tdxModuleIdentities", Want::Array, true},
                                        {"tcbLevels", Want::Array}};
  std::array<const Value*, 11> found{};
  if (auto bad = read_members(root, "TcbInfo", kMembers, found); !bad.ok()) return bad;
  info.id = string_of(found[0]);
  info.version = integer_of<uint32_t>(found[1]);
  info.issue_date = string_of(found[2]);
  info.next_update = string_of(found[3]);
  info.fmspc = string_of(found[4]);
  info.pce_id = string_of(found[5]);
  info.tcb_type = integer_of<uint32_t>(found[6]);
  info.tcb_evaluation_data_number = integer_of<uint32_t>(found[7]);
  if (found[8] != nullptr) {
    info.tdx_module.emplace();
    if (auto bad = read_tdx_module(*found[8], *info.tdx_module); !bad.ok()) return bad;
  }
  if (found[9] != nullptr) {
    info.tdx_module_identities.emplace();
    info.tdx_module_identities->reserve(found[9]->Size());
    for (const Value& element : found[9]->GetArray()) {
      TdxModuleIdentity identity;
      if (auto bad = read_module_identity(element, identity); !bad.ok()) return bad;
      info.tdx_module_identities->push_back(std::move(identity));
    }
  }
  info.tcb_levels.reserve(found[10]->Size());
  for (const Value& element : found[10]->GetArray()) {
    TcbLevel level;
    if (auto bad = read_tcb_level(element, level); !bad.ok()) return bad;
    info.tcb_levels.push_back(std::move(level));
  }
  return {};
}

Expected<void, std::string> read_qe_identity(const Value& root, QeIdentity& identity) {
  static constexpr Member kMembers[] = {{"id", Want::String},
                                        {"version", Want::U32},
                                        {"issueDate", Want::String},
                                        {"nextUpdate", Want::String},
                                        {"tcbEvaluationDataNumber", Want::U32},
                                        {"miscselect", Want::String},
                                        {"miscselectMask", Want::String},
                                        {"attributes", Want::String},
                                        {"attributesMask", Want::String},
                                        {"mrsigner", Want::String},
                                        {"isvprodid", Want::U16},
                                        {"tcbLevels", Want::Array}};
  std::array<const Value*, 12> found{};
  if (auto bad = read_members(root, "QeIdentity", kMembers, found); !bad.ok()) return bad;
  identity.id = string_of(found[0]);
  identity.version = integer_of<uint32_t>(found[1]);
  identity.issue_date = string_of(found[2]);
  identity.next_update = string_of(found[3]);
  identity.tcb_evaluation_data_number = integer_of<uint32_t>(found[4]);
  if (auto bad = read_hex(found[5], "miscselect", identity.miscselect); !bad.ok()) return bad;
  if (auto bad = read_hex(found[6], "miscselectMask", identity.miscselect_mask); !bad.ok()) return bad;
  if (auto bad = read_hex(found[7], "attributes", identity.attributes); !bad.ok()) return bad;
  if (auto bad = read_hex(found[8], "attributesMask", identity.attributes_mask); !bad.ok()) return bad;
  if (auto bad = read_hex(found[9], "mrsigner", identity.mrsigner); !bad.ok()) return bad;
  identity.isvprodid = integer_of<uint16_t>(found[10]);
  identity.tcb_levels.reserve(found[11]->Size());
  for (const Value& element : found[11]->GetArray()) {
    QeTcbLevel level;
    if (auto bad = read_isv_level(element, "QeTcbLevel", level); !bad.ok()) return bad;
    identity.tcb_levels.push_back(std::move(level));
  }
  return {};
}

}  // namespace

std::string_view tcb_status_name(TcbStatus status) { return kStatusNames[static_cast<size_t>(status)]; }

std::optional<TcbStatus> tcb_status_from_name(std::string_view name) {
  for (size_t i = 0; i < std::size(kStatusNames); ++i) {
    if (kStatusNames[i] == name) return static_cast<TcbStatus>(i);
  }
  return std::nullopt;
}

Expected<TcbInfo, std::string> parse_tcb_info(std::string_view text) {
  Expected<json::Document, std::string> doc = parse_bounded(text);
  if (!doc) return fail(doc.error());
  TcbInfo info;
  if (auto bad = read_tcb_info(doc->root(), info); !bad.ok()) return fail(std::move(bad).error());
  return info;
}

Expected<QeIdentity, std::string> parse_qe_identity(std::string_view text) {
  Expected<json::Document, std::string> doc = parse_bounded(text);
  if (!doc) return fail(doc.error());
  QeIdentity identity;
  if (auto bad = read_qe_identity(doc->root(), identity); !bad.ok()) return fail(std::move(bad).error());
  return identity;
}

}  // namespace orv::dcap
