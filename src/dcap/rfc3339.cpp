#include "dcap/rfc3339.h"

namespace orv::dcap {
namespace {

bool digits(std::string_view text, size_t at, size_t count, unsigned& out) {
  if (at + count > text.size()) return false;
  unsigned value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  out = value;
  return true;
}

bool leap(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned month_length(unsigned year, unsigned month) {
  static constexpr unsigned kLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap(year) ? 29 : kLengths[month - 1];
}

}  // namespace

int64_t days_from_civil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t mp = month > 2 ? month - 3 : month + 9;
  const int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

Expected<DateTime, std::string> parse_rfc3339(std::string_view text) {
  const auto bad = fail("invalid RFC 3339 date-time");
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!digits(text, 0, 4, year) || text.size() < 20 || text[4] != '-' || !digits(text, 5, 2, month) ||
      text[7] != '-' || !digits(text, 8, 2, day) || (text[10] != 'T' && text[10] != 't') ||
      !digits(text, 11, 2, hour) || text[13] != ':' || !digits(text, 14, 2, minute) || text[16] != ':' ||
      !digits(text, 17, 2, second)) {
    return bad;
  }
  if (month < 1 || month > 12 || day < 1 || day > month_length(year, month) || hour > 23 || minute > 59 ||
      second > 59) {
    return bad;
  }
  size_t at = 19;
  bool fractional = false;
  if (text[at] == '.') {
    const size_t start = ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      fractional = fractional || text[at] != '0';
      ++at;
    }
    if (at == start) return bad;
  }
  int64_t offset = 0;
  if (at < text.size() && (text[at] == 'Z' || text[at] == 'z')) {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    unsigned off_hour = 0, off_minute = 0;
    if (!digits(text, at + 1, 2, off_hour) || at + 3 >= text.size() || text[at + 3] != ':' ||
        !digits(text, at + 4, 2, off_minute) || off_hour > 23 || off_minute > 59) {
      return bad;
    }
    offset = (static_cast<int64_t>(off_hour) * 60 + off_minute) * 60;
    if (text[at] == '-') offset = -offset;
    at += 6;
  } else {
    return bad;
  }
  if (at != text.size()) return bad;
  const int64_t local =
      days_from_civil(year, month, day) * 86400 + static_cast<int64_t>(hour) * 3600 + minute * 60 + second;
  return DateTime{local - offset, fractional};
}

}  // namespace orv::dcap
