#include "api/json_writer.h"

#include <cstdio>

namespace orv::api {
namespace {

void indent(std::string& out, size_t depth) { out.append(depth * 2, ' '); }

}  // namespace

void write_json_string(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += buf;
        } else {
          // Non-ASCII and U+007F go out as they are: JSON consumers must see the exact value.
          out += c;
        }
    }
  }
  out += '"';
}

void Json::write(std::string& out, size_t depth) const {
  if (std::holds_alternative<std::monostate>(value_)) {
    out += "null";
  } else if (const bool* b = std::get_if<bool>(&value_)) {
    out += *b ? "true" : "false";
  } else if (const uint64_t* n = std::get_if<uint64_t>(&value_)) {
    out += std::to_string(*n);
  } else if (const std::string* s = std::get_if<std::string>(&value_)) {
    write_json_string(out, *s);
  } else if (const Array* array = std::get_if<Array>(&value_)) {
    if (array->empty()) {
      out += "[]";
      return;
    }
    out += "[\n";
    for (size_t i = 0; i < array->size(); ++i) {
      indent(out, depth + 1);
      (*array)[i].write(out, depth + 1);
      out += i + 1 < array->size() ? ",\n" : "\n";
    }
    indent(out, depth);
    out += ']';
  } else {
    const Object& object = std::get<Object>(value_);
    if (object.empty()) {
      out += "{}";
      return;
    }
    out += "{\n";
    for (size_t i = 0; i < object.size(); ++i) {
      indent(out, depth + 1);
      write_json_string(out, object[i].first);
      out += ": ";
      object[i].second.write(out, depth + 1);
      out += i + 1 < object.size() ? ",\n" : "\n";
    }
    indent(out, depth);
    out += '}';
  }
}

}  // namespace orv::api
