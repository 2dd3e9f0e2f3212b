#include "json/record.h"

#include <charconv>
#include <set>

#include "core/text.h"

namespace orv::json {
namespace {

std::string quoted_debug(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u{";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
      out += '}';
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string float_text(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, static_cast<size_t>(result.ptr - buffer));
  // An integral float still reads as one: 1.0, not 1.
  if (text.find_first_of(".eni") == std::string::npos) text += ".0";
  return text;
}

// How an unexpected value is named in "invalid type: {}, expected {}".
std::string describe(const Value& value) {
  if (value.IsNull()) return "null";
  if (value.IsBool()) return value.GetBool() ? "boolean `true`" : "boolean `false`";
  if (value.IsDouble()) return "floating point `" + float_text(value.GetDouble()) + "`";
  if (value.IsUint64()) return "integer `" + decimal(value.GetUint64()) + "`";
  if (value.IsInt64()) return "integer `" + std::to_string(value.GetInt64()) + "`";
  if (value.IsString()) return "string " + quoted_debug({value.GetString(), value.GetStringLength()});
  if (value.IsObject()) return "map";
  return "sequence";
}

std::string expectation(const Field& field) {
  switch (field.kind) {
    case Kind::String: return "a string";
    case Kind::U64: return "u64";
    case Kind::U32: return "u32";
    case Kind::Bool: return "a boolean";
    case Kind::Array:
    case Kind::StringArray:
    case Kind::RecordArray: return "a sequence";
    case Kind::Object: return field.record ? "struct " + std::string(field.record->name) : "a map";
    case Kind::Any: break;
  }
  return "any value";
}

bool matches(const Value& value, Kind kind) {
  switch (kind) {
    case Kind::String: return value.IsString();
    case Kind::U64:
    case Kind::U32: return value.IsUint64();
    case Kind::Bool: return value.IsBool();
    case Kind::Array:
    case Kind::StringArray:
    case Kind::RecordArray: return value.IsArray();
    case Kind::Object: return value.IsObject();
    case Kind::Any: return true;
  }
  return false;
}

// "`a`", "`a` or `b`", "one of `a`, `b`, `c`".
std::string allowed_names(const Record& record) {
  const auto& fields = record.fields;
  const auto tick = [](std::string_view name) { return "`" + std::string(name) + "`"; };
  if (fields.size() == 1) return tick(fields[0].name);
  if (fields.size() == 2) return tick(fields[0].name) + " or " + tick(fields[1].name);
  std::string out = "one of ";
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += ", ";
    out += tick(fields[i].name);
  }
  return out;
}

const Field* find_field(const Record& record, std::string_view name) {
  for (const Field& field : record.fields) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

std::string_view name_of(const Value& name) { return {name.GetString(), name.GetStringLength()}; }

}  // namespace

// Recursion follows the record definitions, not the input, so its depth is fixed by the code.
Expected<void, std::string> check_record(const Value& value, const Record& record) {
  if (!value.IsObject()) return fail("invalid type: " + describe(value) + ", expected struct " + std::string(record.name));
  std::set<std::string_view> seen;
  for (auto it = value.MemberBegin(); it != value.MemberEnd(); ++it) {
    const std::string_view name = name_of(it->name);
    const Field* field = find_field(record, name);
    if (!field) {
      const std::string expected = record.fields.empty() ? "there are no fields" : "expected " + allowed_names(record);
      return fail("unknown field `" + std::string(name) + "`, " + expected);
    }
    if (!seen.insert(field->name).second) return fail("duplicate field `" + std::string(name) + "`");
    if (!matches(it->value, field->kind)) {
      return fail("invalid type: " + describe(it->value) + ", expected " + expectation(*field));
    }
    if (field->kind == Kind::U32 && it->value.GetUint64() > UINT32_MAX) {
      return fail("invalid value: integer `" + decimal(it->value.GetUint64()) + "`, expected u32");
    }
    if (field->kind == Kind::RecordArray) {
      for (const Value& element : it->value.GetArray()) {
        if (auto nested = check_record(element, *field->record); !nested.ok()) return nested;
      }
    }
    if (field->kind == Kind::StringArray) {
      for (const Value& element : it->value.GetArray()) {
        if (!element.IsString()) return fail("invalid type: " + describe(element) + ", expected a string");
      }
    }
    if (field->kind == Kind::Object && field->record) {
      if (auto nested = check_record(it->value, *field->record); !nested.ok()) return nested;
    }
  }
  for (const Field& field : record.fields) {
    if (!field.optional && !seen.contains(field.name)) return fail("missing field `" + std::string(field.name) + "`");
  }
  return {};
}

const Value* member(const Value& object, std::string_view name) {
  if (!object.IsObject()) return nullptr;
  for (auto it = object.MemberBegin(); it != object.MemberEnd(); ++it) {
    if (name_of(it->name) == name) return &it->value;
  }
  return nullptr;
}

std::string_view string_member(const Value& object, std::string_view name) {
  const Value* value = member(object, name);
  return value && value->IsString() ? name_of(*value) : std::string_view();
}

uint64_t u64_member(const Value& object, std::string_view name) {
  const Value* value = member(object, name);
  return value && value->IsUint64() ? value->GetUint64() : 0;
}

std::span<const Value> array_member(const Value& object, std::string_view name) {
  const Value* value = member(object, name);
  if (!value || !value->IsArray() || value->Empty()) return {};
  return {value->Begin(), value->Size()};
}

}  // namespace orv::json
