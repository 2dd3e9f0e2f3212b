// Record mapping: checks a parsed value against a fixed record type (exact member list,
// member types), producing the mapping messages; accessors read members once checked.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "json/document.h"

namespace orv::json {

// Array: any elements; StringArray: every element a string; RecordArray: every element an
// object of `record`.
enum class Kind { String, U64, U32, Bool, Array, Object, Any, StringArray, RecordArray };

struct Record;

struct Field {
  std::string_view name;
  Kind kind;
  bool optional = false;
  const Record* record = nullptr;  // Kind::Object: its fixed member list (null: any object);
                                   // Kind::RecordArray: the elements' record
};

struct Record {
  std::string_view name;  // the type name used in messages, e.g. "SignedCompletionRecord"
  std::span<const Field> fields;
};

// Whether value maps onto record (nested records included); if not, the first mapping message in
// document order: "unknown field `{}`, expected {}", "missing field `{}`", "invalid type: {},
// expected {}", "duplicate field `{}`".
Expected<void, std::string> check_record(const Value& value, const Record& record);

// Member lookup on an object value; null when absent or value is not an object.
const Value* member(const Value& object, std::string_view name);
// Accessors for members that check_record has already vouched for; they give "" and 0 when
// the member is absent or of another type.
std::string_view string_member(const Value& object, std::string_view name);
uint64_t u64_member(const Value& object, std::string_view name);
// The array member's elements; empty when absent or not an array.
std::span<const Value> array_member(const Value& object, std::string_view name);

}  // namespace orv::json
