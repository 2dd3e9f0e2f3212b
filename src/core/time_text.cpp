#include "core/time_text.h"

#include <cstdio>

namespace orv {

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
  std::snprintf(buf, sizeof buf, "%04llu-%02llu-%02lluT%02llu:%02llu:%02lluZ",
                static_cast<unsigned long long>(year), static_cast<unsigned long long>(month),
                static_cast<unsigned long long>(day), static_cast<unsigned long long>(secs / 3600),
                static_cast<unsigned long long>(secs / 60 % 60), static_cast<unsigned long long>(secs % 60));
  return buf;
}

}  // namespace orv
