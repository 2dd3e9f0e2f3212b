#include "prepare/saved_response.h"

#include <array>
#include <cstdint>

#include "core/text.h"
#include "prepare/verifier.h"

namespace orv::prepare {
namespace {

bool ascii_equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// RFC 9110 token characters, of which field names are made.
bool is_tchar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// "HTTP/1.1 200 OK", "HTTP/2 200 ": the version, a blank, three digits, then a reason phrase
// that may be empty.
std::optional<unsigned> status_code(std::string_view line) {
  if (!line.starts_with("HTTP/")) return std::nullopt;
  const size_t blank = line.find(' ');
  if (blank == std::string_view::npos || blank == 5 || line.size() < blank + 4) return std::nullopt;
  for (size_t i = 5; i < blank; ++i) {
    if (!is_digit(line[i]) && line[i] != '.') return std::nullopt;
  }
  const std::string_view code = line.substr(blank + 1, 3);
  if (!is_digit(code[0]) || !is_digit(code[1]) || !is_digit(code[2])) return std::nullopt;
  if (line.size() > blank + 4 && line[blank + 4] != ' ') return std::nullopt;
  const unsigned value = static_cast<unsigned>((code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0'));
  if (value < 100 || value > 599) return std::nullopt;
  return value;
}

Reason at_line(size_t line, std::string what) { return Reason{"line " + decimal(line) + " " + std::move(what)}; }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Two decimal digits at text[at], or -1.
int two_digits(std::string_view text, size_t at) {
  if (!is_digit(text[at]) || !is_digit(text[at + 1])) return -1;
  return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

}  // namespace

size_t SavedHeaders::count(std::string_view name) const {
  size_t n = 0;
  for (const auto& [field_name, value] : fields) n += ascii_equal_ignoring_case(field_name, name) ? 1 : 0;
  return n;
}

std::optional<std::string_view> SavedHeaders::field(std::string_view name) const {
  for (const auto& [field_name, value] : fields) {
    if (ascii_equal_ignoring_case(field_name, name)) return value;
  }
  return std::nullopt;
}

Expected<SavedHeaders, Reason> read_saved_headers(std::string_view text) {
  // Header fields are ASCII in practice; holding the file to UTF-8 lets every part be shown.
  if (!is_valid_utf8(text)) return Reason{"is not UTF-8 text"};
  SavedHeaders out;
  bool in_block = false;
  size_t number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (line.ends_with('\r')) line.remove_suffix(1);

    if (line.empty()) {
      in_block = false;
      continue;
    }
    if (!in_block) {
      const std::optional<unsigned> status = status_code(line);
      if (!status) {
        return at_line(number, out.responses == 0 ? "is not an HTTP status line (such as \"HTTP/1.1 200 OK\")"
                                                  : "follows a response's blank line but starts no new response "
                                                    "(was the body saved into the headers file?)");
      }
      out.status_line = std::string(line);
      out.status = *status;
      out.fields.clear();
      ++out.responses;
      in_block = true;
      continue;
    }
    if (line.front() == ' ' || line.front() == '\t') return at_line(number, "continues a folded header field");
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return at_line(number, "is not a header field (Name: value)");
    const std::string_view name = line.substr(0, colon);
    for (char c : name) {
      if (!is_tchar(c)) return at_line(number, "has a header field name with a character HTTP does not allow");
    }
    const std::string_view value = trim_blanks(line.substr(colon + 1));
    for (char c : value) {
      const auto byte = static_cast<unsigned char>(c);
      if ((byte < 0x20 && c != '\t') || byte == 0x7F) return at_line(number, "has a control character in its value");
    }
    out.fields.emplace_back(std::string(name), std::string(value));
  }
  if (out.responses == 0) return Reason{"holds no HTTP response"};
  if (out.status < 200) return Reason{"ends with an interim response (" + out.status_line + ")"};
  return out;
}

Expected<std::string, Reason> percent_decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const int high = i + 2 < text.size() ? hex_digit(text[i + 1]) : -1;
    const int low = high >= 0 ? hex_digit(text[i + 2]) : -1;
    if (low < 0) return Reason{"has a '%' at offset " + decimal(i) + " that is not followed by two hex digits"};
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

Expected<int64_t, Reason> read_http_date(std::string_view text) {
  static constexpr std::array<std::string_view, 7> kDays = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
  static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const Reason bad{"is not an HTTP date such as \"Mon, 15 Sep 2025 08:00:00 GMT\""};
  // "Mon, 15 Sep 2025 08:00:00 GMT": 29 characters, every separator at its place.
  if (text.size() != 29 || text.substr(3, 2) != ", " || text[7] != ' ' || text[11] != ' ' || text[16] != ' ' || text[19] != ':' ||
      text[22] != ':' || text.substr(25) != " GMT") {
    return bad;
  }
  size_t month = 0;
  while (month < kMonths.size() && kMonths[month] != text.substr(8, 3)) ++month;
  const int day = two_digits(text, 5), year_high = two_digits(text, 12), year_low = two_digits(text, 14);
  const int hour = two_digits(text, 17), minute = two_digits(text, 20), second = two_digits(text, 23);
  if (month == kMonths.size() || day < 0 || year_high < 0 || year_low < 0 || hour < 0 || minute < 0 || second < 0) {
    return bad;
  }
  // The same instant as an RFC 3339 time, so that calendar rules are judged in one place.
  std::string rfc3339 = "YYYY-MM-DDTHH:MM:SSZ";
  rfc3339.replace(0, 4, text.substr(12, 4));
  rfc3339.replace(5, 2, (month < 9 ? "0" : "") + decimal(month + 1));
  rfc3339.replace(8, 2, text.substr(5, 2));
  rfc3339.replace(11, 8, text.substr(17, 8));
  const verifier::Read<int64_t> seconds = verifier::rfc3339_seconds(rfc3339);
  if (!seconds || *seconds < 0) return bad;
  const int64_t days = *seconds / 86400;
  if (kDays[static_cast<size_t>(days % 7)] != text.substr(0, 3)) {
    return Reason{"names the wrong day of the week for its date"};
  }
  return *seconds;
}

}  // namespace orv::prepare
