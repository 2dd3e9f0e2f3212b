// RFC 3339 date-times as Intel's collateral writes them (section 5.6, with offsets and fractions).
#pragma once

#include <cstdint>
#include <string_view>

#include "core/result.h"

namespace orv::dcap {

struct DateTime {
  int64_t seconds = 0;      // whole seconds since the epoch, rounded down; negative before 1970
  bool fractional = false;  // a nonzero fraction of a second followed

  // The earliest whole second not before this instant.
  int64_t ceil_seconds() const { return fractional ? seconds + 1 : seconds; }
};

// Refuses anything outside the grammar, impossible calendar days and leap seconds.
Expected<DateTime, std::string> parse_rfc3339(std::string_view text);

// Days since 1970-01-01 of a proleptic Gregorian date (negative before).
int64_t days_from_civil(int64_t year, unsigned month, unsigned day);

}  // namespace orv::dcap
