#include "json/number_text.h"

#include <charconv>
#include <cstdlib>

namespace orv::json::detail {
namespace {

// value = (negative ? -1 : 1) * 0.digits * 10^point, digits without leading or trailing zeros
// (a lone "0" for zero).
struct Shortest {
  bool negative = false;
  std::string digits;
  int point = 0;
};

Shortest shortest(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  const std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));  // "-d.ddde+XX"
  Shortest out;
  size_t i = 0;
  if (text[i] == '-') {
    out.negative = true;
    ++i;
  }
  const size_t e = text.find('e');
  for (; i < e; ++i) {
    if (text[i] != '.') out.digits += text[i];
  }
  out.point = std::atoi(std::string(text.substr(e + 1)).c_str()) + 1;
  return out;
}

}  // namespace

std::string plain_decimal(double value) {
  const Shortest s = shortest(value);
  std::string out = s.negative ? "-" : "";
  const int count = static_cast<int>(s.digits.size());
  if (s.point <= 0) {
    out += "0.";
    out.append(static_cast<size_t>(-s.point), '0');
    out += s.digits;
  } else if (s.point >= count) {
    out += s.digits;
    out.append(static_cast<size_t>(s.point - count), '0');
  } else {
    out += s.digits.substr(0, static_cast<size_t>(s.point));
    out += '.';
    out += s.digits.substr(static_cast<size_t>(s.point));
  }
  return out;
}

std::string ecmascript_number(double value) {
  if (value == 0) return "0";
  const Shortest s = shortest(value);
  const int k = static_cast<int>(s.digits.size());
  const int n = s.point;
  std::string out = s.negative ? "-" : "";
  if (k <= n && n <= 21) {
    out += s.digits;
    out.append(static_cast<size_t>(n - k), '0');
  } else if (0 < n && n <= 21) {
    out += s.digits.substr(0, static_cast<size_t>(n));
    out += '.';
    out += s.digits.substr(static_cast<size_t>(n));
  } else if (-6 < n && n <= 0) {
    out += "0.";
    out.append(static_cast<size_t>(-n), '0');
    out += s.digits;
  } else {
    out += s.digits[0];
    if (k > 1) {
      out += '.';
      out += s.digits.substr(1);
    }
    out += n - 1 >= 0 ? "e+" : "e-";
    out += std::to_string(std::abs(n - 1));
  }
  return out;
}

}  // namespace orv::json::detail
