// Accepted-value lists and the list notation the messages show them in: ["a", "b"].
#pragma once

#include <algorithm>
#include <span>
#include <string>
#include <string_view>

namespace orv::sig {

inline bool is_accepted(std::string_view value, std::span<const std::string_view> accepted) {
  return std::find(accepted.begin(), accepted.end(), value) != accepted.end();
}

inline std::string list_notation(std::span<const std::string_view> items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    out.append("\"").append(items[i]).append("\"");
  }
  out.append("]");
  return out;
}

}  // namespace orv::sig
