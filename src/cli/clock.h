// The local clock, read once per run by the commands that judge time.
#pragma once

#include <cstdint>
#include <functional>

namespace orv::cli {

using Clock = std::function<uint64_t()>;

// Whole seconds since 1970-01-01T00:00:00Z; 0 when the clock is set earlier.
uint64_t system_time();

}  // namespace orv::cli
