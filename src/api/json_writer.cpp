#include "api/json_writer.h"

#include "json/string_literal.h"

namespace orv::api {
namespace {

void indent(std::string& out, size_t depth) { out.append(depth * 2, ' '); }

}  // namespace

void Json::write(std::string& out, size_t depth) const {
  if (std::holds_alternative<std::monostate>(value_)) {
    out += "null";
  } else if (const bool* b = std::get_if<bool>(&value_)) {
    out += *b ? "true" : "false";
  } else if (const uint64_t* n = std::get_if<uint64_t>(&value_)) {
    out += std::to_string(*n);
  } else if (const std::string* s = std::get_if<std::string>(&value_)) {
    json::append_string_literal(out, *s);
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
      json::append_string_literal(out, object[i].first);
      out += ": ";
      object[i].second.write(out, depth + 1);
      out += i + 1 < object.size() ? ",\n" : "\n";
    }
    indent(out, depth);
    out += '}';
  }
}

}  // namespace orv::api
