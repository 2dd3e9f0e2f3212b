// Time text: whole seconds since the epoch as YYYY-MM-DDTHH:MM:SSZ in UTC, the RFC 3339
// date-times documents carry, and the calendar arithmetic both need.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.h"

namespace orv {

std::string utc_time_text(uint64_t unix_seconds);

// Time arithmetic that stops at the last representable second instead of wrapping.
inline uint64_t saturating_add(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

// Days since 1970-01-01 of a proleptic Gregorian date (negative before).
int64_t days_from_civil(int64_t year, unsigned month, unsigned day);

struct DateTime {
  int64_t seconds = 0;      // whole seconds since the epoch, rounded down; negative before 1970
  bool fractional = false;  // a nonzero fraction of a second followed

  // The earliest whole second not before this instant.
  int64_t ceil_seconds() const { return fractional ? seconds + 1 : seconds; }
};

// RFC 3339 section 5.6, with offsets and fractions, as Intel's collateral writes it. Refuses
// anything outside the grammar, impossible calendar days and leap seconds.
Expected<DateTime, std::string> parse_rfc3339(std::string_view text);

// The stricter form issued documents use: YYYY-MM-DDTHH:MM:SS then "Z" or "." digits "Z"; real
// calendar days from 1970, no leap second.
bool is_strict_utc_time(std::string_view text);

}  // namespace orv
