#include "cli/clock.h"

#include <chrono>

namespace orv::cli {

uint64_t system_time() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count();
  return seconds < 0 ? 0 : static_cast<uint64_t>(seconds);
}

}  // namespace orv::cli
