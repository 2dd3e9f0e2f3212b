#include "core/time_text.h"

#include <algorithm>
#include <cstdio>

namespace orv {
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
  if (!digits(text, 0, 4, year) || text.size() < 20 || text[4] != '-' || !digits(text, 5, 2, month) || text[7] != '-' ||
      !digits(text, 8, 2, day) || (text[10] != 'T' && text[10] != 't') || !digits(text, 11, 2, hour) || text[13] != ':' ||
      !digits(text, 14, 2, minute) || text[16] != ':' || !digits(text, 17, 2, second)) {
    return bad;
  }
  if (month < 1 || month > 12 || day < 1 || day > month_length(year, month) || hour > 23 || minute > 59 || second > 59) {
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
  const int64_t local = days_from_civil(year, month, day) * 86400 + static_cast<int64_t>(hour) * 3600 + minute * 60 + second;
  return DateTime{local - offset, fractional};
}

std::string utc_time_text(uint64_t unix_seconds) {
  // Civil-from-days (proleptic Gregorian), exact for every 64-bit input; no libc time zone state.
  const uint64_t days = unix_seconds / 86400;
  const uint64_t secs = unix_seconds % 86400;
  const uint64_t z = days + 719468;
  const uint64_t era = z / 146097;
  const uint64_t doe = z - era * 146097;
  const uint64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const uint64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const uint64_t mp = (5 * doy + 2) / 153;
  const uint64_t day = doy - (153 * mp + 2) / 5 + 1;
  const uint64_t month = mp < 10 ? mp + 3 : mp - 9;
  const uint64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04llu-%02llu-%02lluT%02llu:%02llu:%02lluZ", static_cast<unsigned long long>(year),
                static_cast<unsigned long long>(month), static_cast<unsigned long long>(day),
                static_cast<unsigned long long>(secs / 3600), static_cast<unsigned long long>(secs / 60 % 60),
                static_cast<unsigned long long>(secs % 60));
  return buf;
}

bool is_strict_utc_time(std::string_view text) {
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
      !digits(text, 0, 4, year) || !digits(text, 5, 2, month) || !digits(text, 8, 2, day) || !digits(text, 11, 2, hour) ||
      !digits(text, 14, 2, minute) || !digits(text, 17, 2, second)) {
    return false;
  }
  const std::string_view rest = text.substr(19);
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (rest != "Z" &&
      (rest.size() < 3 || rest.front() != '.' || rest.back() != 'Z' || !std::all_of(rest.begin() + 1, rest.end() - 1, digit))) {
    return false;
  }
  return year >= 1970 && month >= 1 && month <= 12 && day >= 1 && day <= month_length(year, month) && hour <= 23 &&
         minute <= 59 && second <= 59;
}

}  // namespace orv
