// A small JSON value and its pretty writer for the --json report. The report's byte layout
// (two-space indent, lowercase \u00xx, only the escapes it names) is part of the interface,
// so it is written here rather than by a library with its own opinions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace orv::api {

class Json {
 public:
  using Array = std::vector<Json>;
  using Object = std::vector<std::pair<std::string, Json>>;  // members in insertion order

  Json() = default;                                             // null
  Json(bool value) : value_(value) {}                           // NOLINT: implicit by design
  Json(uint64_t value) : value_(value) {}                       // NOLINT
  Json(std::string value) : value_(std::move(value)) {}         // NOLINT
  Json(std::string_view value) : value_(std::string(value)) {}  // NOLINT
  Json(const char* value) : value_(std::string(value)) {}       // NOLINT
  Json(Array value) : value_(std::move(value)) {}               // NOLINT
  Json(Object value) : value_(std::move(value)) {}              // NOLINT

  template <class T>
  static Json optional(const std::optional<T>& value) {
    return value ? Json(*value) : Json();
  }

  // The value at the given nesting depth, without a trailing newline.
  void write(std::string& out, size_t depth = 0) const;

 private:
  std::variant<std::monostate, bool, uint64_t, std::string, Array, Object> value_;
};

}  // namespace orv::api
