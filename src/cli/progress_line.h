// The line a long run shows on a terminal's standard error: entries judged of the total, the
// rate and the time left. It first shows once the run has taken a moment, so that short runs
// never flicker, is redrawn a few times a second at most, and is erased before anything else is
// printed, so that the terminal ends with exactly the report.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace orv::cli {

using MonotonicClock = std::function<std::chrono::steady_clock::time_point()>;

class ProgressLine {
 public:
  static constexpr std::chrono::milliseconds kFirstDrawAfter{500};
  static constexpr std::chrono::milliseconds kRedrawAfter{250};

  // `columns` is the terminal's width (0: unknown); the line is cut to fit, since a line that
  // wraps cannot be erased with a carriage return.
  ProgressLine(std::FILE* terminal, MonotonicClock clock, std::chrono::milliseconds first_draw_after = kFirstDrawAfter,
               size_t columns = 0);

  // The verifier's listener.
  void update(uint64_t judged, uint64_t total);
  // Clears the line if one is shown.
  void erase();

 private:
  using TimePoint = std::chrono::steady_clock::time_point;

  std::FILE* terminal_;
  MonotonicClock clock_;
  std::chrono::milliseconds first_draw_after_;
  size_t columns_;
  TimePoint started_;
  std::optional<TimePoint> judging_since_;  // when 0 entries were judged: the rate counts from there
  std::optional<TimePoint> drawn_at_;       // set while a line is shown
};

// A line on `err` when it is a terminal that can erase a line (TERM is not "dumb"); otherwise
// none, and the run writes nothing there but errors.
std::optional<ProgressLine> terminal_progress_line(std::FILE* err);

// "1200 of 5000 entries judged, 40/s, about 1 min 35 s left"; without a rate (nothing judged
// yet) only the counts.
std::string progress_text(uint64_t judged, uint64_t total, std::optional<double> per_second);

}  // namespace orv::cli
