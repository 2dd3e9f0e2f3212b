// Time text: whole seconds since the epoch as YYYY-MM-DDTHH:MM:SSZ in UTC.
#pragma once

#include <cstdint>
#include <string>

namespace orv {

std::string utc_time_text(uint64_t unix_seconds);

}  // namespace orv
