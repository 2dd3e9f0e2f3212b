#include "json/canonical.h"

#include <cmath>

#include "core/text.h"
#include "json/number_text.h"
#include "json/scan.h"
#include "json/string_literal.h"

namespace orv::json {
namespace {

constexpr uint64_t kMaxSafeMagnitude = uint64_t{1} << 53;

constexpr std::string_view kIntegerOutOfDomain =
    "integer magnitude exceeds 2^53 (I-JSON interop bound); serde_jcs would round it through f64 \u2014 refusing to "
    "coerce";
constexpr std::string_view kNonFinite = "non-finite float (NaN/Infinity) is not JCS-serializable";
constexpr std::string_view kFloatOutOfDomain =
    "float magnitude in (2^53, 1e21): its canonical text reparses as an integer beyond the I-JSON interop bound "
    "\u2014 out of domain";

std::string wrapped(std::string_view error) { return "value is not JCS-serializable: " + std::string(error); }

// Reverses append_string_literal; false when text is not one string as the writer emits it (a
// member name written as a number, an array, ...).
bool unescape(std::string_view text, std::string& out) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') return false;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (i + 2 >= text.size()) return false;
    switch (text[++i]) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case 'b': out += '\b'; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'f': out += '\f'; break;
      case 'r': out += '\r'; break;
      case 'u': {
        if (i + 5 >= text.size() || text.compare(i + 1, 2, "00") != 0) return false;
        const auto nibble = [](char h) { return h <= '9' ? h - '0' : h - 'a' + 10; };
        out += static_cast<char>(nibble(text[i + 3]) * 16 + nibble(text[i + 4]));
        i += 4;
        break;
      }
      default: return false;
    }
  }
  return true;
}

// UTF-8 (already validated) to UTF-16 code units.
std::u16string utf16(std::string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    const size_t length = b0 < 0x80 ? 1 : b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
    uint32_t cp = length == 1 ? b0 : length == 2 ? b0 & 0x1F : length == 3 ? b0 & 0x0F : b0 & 0x07;
    for (size_t k = 1; k < length && i + k < text.size(); ++k) cp = cp << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += length;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

}  // namespace

bool CanonicalWriter::fail(std::string message) {
  if (error_.empty()) error_ = std::move(message);
  return false;
}

std::string& CanonicalWriter::sink() {
  if (frames_.empty()) return output_;
  Frame& frame = frames_.back();
  return frame.part == Part::InName ? frame.name : frame.value;
}

bool CanonicalWriter::begin_value() {
  if (!error_.empty()) return false;
  if (containers_.empty()) {
    if (root_started_) return fail("a second value after the complete one");
    root_started_ = true;
    return true;
  }
  Container& top = containers_.back();
  if (!top.object) {
    if (top.elements++ > 0) sink() += ',';
    return true;
  }
  Frame& frame = frames_.back();
  if (frame.part != Part::InName && frame.part != Part::InValue) {
    return fail("a value written outside a member name or member value");
  }
  if (frame.filled) return fail("a second value in one member name or member value");
  frame.filled = true;
  return true;
}

void CanonicalWriter::end_value() {
  if (containers_.empty()) root_done_ = true;
}

bool CanonicalWriter::scalar(std::string_view text) {
  if (!begin_value()) return false;
  sink() += text;
  end_value();
  return true;
}

bool CanonicalWriter::need_object(std::string_view call) {
  if (!error_.empty()) return false;
  if (frames_.empty()) return fail(std::string(call) + " called before begin_object");
  if (!containers_.back().object) return fail(std::string(call) + " called inside an array");
  return true;
}

bool CanonicalWriter::begin_object() {
  if (!begin_value()) return false;
  containers_.push_back({true, 0});
  frames_.emplace_back();
  return true;
}

bool CanonicalWriter::begin_object_key() {
  if (!need_object("begin_object_key")) return false;
  Frame& frame = frames_.back();
  if (frame.part != Part::Idle) return fail("begin_object_key called inside a member");
  frame.part = Part::InName;
  frame.filled = false;
  frame.name.clear();
  return true;
}

bool CanonicalWriter::end_object_key() {
  if (!need_object("end_object_key")) return false;
  Frame& frame = frames_.back();
  if (frame.part != Part::InName || !frame.filled) return fail("end_object_key called without a member name");
  frame.part = Part::NameDone;
  return true;
}

bool CanonicalWriter::begin_object_value() {
  if (!need_object("begin_object_value")) return false;
  Frame& frame = frames_.back();
  if (frame.part != Part::NameDone) return fail("begin_object_value called before end_object_key");
  frame.part = Part::InValue;
  frame.filled = false;
  frame.value.clear();
  return true;
}

bool CanonicalWriter::end_object_value() {
  if (!need_object("end_object_value")) return false;
  Frame& frame = frames_.back();
  if (frame.part != Part::InValue || !frame.filled) return fail("end_object_value called without a member value");
  std::string name;
  if (!unescape(frame.name, name)) return fail("an object member name that is not a string");
  frame.members.insert_or_assign(utf16(name), std::pair(std::move(frame.name), std::move(frame.value)));
  frame.part = Part::Idle;
  return true;
}

bool CanonicalWriter::end_object() {
  if (!need_object("end_object")) return false;
  if (frames_.back().part != Part::Idle) return fail("end_object called inside a member");
  std::string text = "{";
  bool first = true;
  for (const auto& [unused, member] : frames_.back().members) {
    if (!first) text += ',';
    first = false;
    text += member.first;
    text += ':';
    text += member.second;
  }
  text += '}';
  frames_.pop_back();
  containers_.pop_back();
  sink() += text;
  end_value();
  return true;
}

bool CanonicalWriter::begin_array() {
  if (!begin_value()) return false;
  sink() += '[';
  containers_.push_back({false, 0});
  return true;
}

bool CanonicalWriter::end_array() {
  if (!error_.empty()) return false;
  if (containers_.empty() || containers_.back().object) return fail("end_array called before begin_array");
  containers_.pop_back();
  sink() += ']';
  end_value();
  return true;
}

bool CanonicalWriter::key(std::string_view name) {
  return begin_object_key() && string(name) && end_object_key() && begin_object_value();
}

bool CanonicalWriter::null() { return scalar("null"); }

bool CanonicalWriter::boolean(bool value) { return scalar(value ? "true" : "false"); }

bool CanonicalWriter::integer(int64_t value) {
  if (!error_.empty()) return false;
  const uint64_t magnitude = value < 0 ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  if (magnitude > kMaxSafeMagnitude) return fail(std::string(kIntegerOutOfDomain));
  return scalar(std::to_string(value));
}

bool CanonicalWriter::integer(uint64_t value) {
  if (!error_.empty()) return false;
  if (value > kMaxSafeMagnitude) return fail(std::string(kIntegerOutOfDomain));
  return scalar(decimal(value));
}

bool CanonicalWriter::number(double value) {
  if (!error_.empty()) return false;
  if (!std::isfinite(value)) return fail(std::string(kNonFinite));
  const double magnitude = std::fabs(value);
  if (magnitude > static_cast<double>(kMaxSafeMagnitude) && magnitude < 1e21) {
    return fail(std::string(kFloatOutOfDomain));
  }
  return scalar(detail::ecmascript_number(value));
}

bool CanonicalWriter::string(std::string_view value) {
  if (!error_.empty()) return false;
  if (!is_valid_utf8(value)) return fail("a string that is not UTF-8");
  if (!begin_value()) return false;
  append_string_literal(sink(), value);
  end_value();
  return true;
}

Expected<std::string, std::string> CanonicalWriter::finish() const {
  if (!error_.empty()) return orv::fail(wrapped(error_));
  if (!root_done_ || !containers_.empty()) return orv::fail(wrapped("the value is incomplete"));
  return output_;
}

namespace {

// Recursion is bounded: documents come from parse, which refuses nesting beyond
// detail::kMaxDepth, and deeper values built by other means are refused here.
bool write(CanonicalWriter& writer, const Value& value, int depth, bool& too_deep) {
  if ((value.IsArray() || value.IsObject()) && depth >= detail::kMaxDepth) {
    too_deep = true;
    return false;
  }
  if (value.IsNull()) return writer.null();
  if (value.IsBool()) return writer.boolean(value.GetBool());
  if (value.IsDouble()) return writer.number(value.GetDouble());
  if (value.IsUint64()) return writer.integer(value.GetUint64());
  if (value.IsInt64()) return writer.integer(value.GetInt64());
  if (value.IsString()) return writer.string({value.GetString(), value.GetStringLength()});
  if (value.IsArray()) {
    if (!writer.begin_array()) return false;
    for (const Value& element : value.GetArray()) {
      if (!write(writer, element, depth + 1, too_deep)) return false;
    }
    return writer.end_array();
  }
  if (!writer.begin_object()) return false;
  for (auto it = value.MemberBegin(); it != value.MemberEnd(); ++it) {
    if (!writer.key({it->name.GetString(), it->name.GetStringLength()})) return false;
    if (!write(writer, it->value, depth + 1, too_deep) || !writer.end_object_value()) return false;
  }
  return writer.end_object();
}

}  // namespace

Expected<std::string, std::string> canonicalize(const Value& value) {
  CanonicalWriter writer;
  bool too_deep = false;
  write(writer, value, 0, too_deep);
  if (too_deep) return fail(wrapped("nesting deeper than 127 levels"));
  return writer.finish();
}

}  // namespace orv::json
