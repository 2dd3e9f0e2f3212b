// Records what a check tells its progress listener.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "core/progress.h"

namespace orv::test {

using Told = std::vector<std::pair<uint64_t, uint64_t>>;  // judged, total

struct ProgressLog {
  Told told;
  ProgressFn listener() {
    return [this](uint64_t judged, uint64_t total) { told.emplace_back(judged, total); };
  }
};

}  // namespace orv::test
