// How far a long check is. A check that judges many entries counts them here, and whoever asked
// is told `judged` of `total` now and then; the check reads no clock, so rates and times are the
// listener's business.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>

namespace orv {

// Told that `judged` of `total` entries are judged; empty when nobody asked.
using ProgressFn = std::function<void(uint64_t judged, uint64_t total)>;

// Tells the listener once at the start (0 of total), then whenever the count crosses one of
// about kSteps even steps, the last being the total: a run costs at most kSteps + 1 calls
// however cheap its entries are, and nothing at all when nobody listens.
class ProgressCounter {
 public:
  static constexpr uint64_t kSteps = 1000;

  ProgressCounter(const ProgressFn& listener, uint64_t total)
      : listener_(listener), total_(total), step_(std::max<uint64_t>(1, total / kSteps)) {
    if (listener_) tell();
  }

  void judged_one() {
    if (++judged_ >= next_) tell();
  }

 private:
  void tell() {
    // Past the total (a count the listener was not promised) nobody is told again.
    next_ = judged_ >= total_ ? kNever : std::min(judged_ + step_, total_);
    listener_(judged_, total_);
  }

  static constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

  const ProgressFn& listener_;
  uint64_t total_;
  uint64_t step_;
  uint64_t judged_ = 0;
  uint64_t next_ = kNever;
};

}  // namespace orv
