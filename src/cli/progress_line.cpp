#include "cli/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string_view>

#include "core/text.h"

namespace orv::cli {
namespace {

std::string duration_text(double seconds) {
  const uint64_t whole = seconds < 1 ? 1 : static_cast<uint64_t>(std::ceil(seconds));
  if (whole < 60) return decimal(whole) + " s";
  if (whole < 3600) return decimal(whole / 60) + " min " + decimal(whole % 60) + " s";
  return decimal(whole / 3600) + " h " + decimal(whole % 3600 / 60) + " min";
}

std::string rate_text(double per_second) {
  char text[32];
  std::snprintf(text, sizeof text, per_second < 10 ? "%.1f/s" : "%.0f/s", per_second);
  return text;
}

void put(std::FILE* terminal, const std::string& text) {
  static_cast<void>(std::fwrite(text.data(), 1, text.size(), terminal));
  std::fflush(terminal);
}

// The tests' way to see the line without a run of half a second: ORV_PROGRESS_FIRST_DRAW_MS,
// whole milliseconds (at most six digits), replaces the first draw's delay. Not for users: it
// changes nothing a run decides or prints on standard output.
std::chrono::milliseconds first_draw_after() {
  const char* given = std::getenv("ORV_PROGRESS_FIRST_DRAW_MS");
  if (given == nullptr) return ProgressLine::kFirstDrawAfter;
  const std::string_view digits(given);
  if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return ProgressLine::kFirstDrawAfter;
  }
  return std::chrono::milliseconds(std::stoul(std::string(digits)));
}

size_t terminal_columns(int fd) {
  winsize size{};
  return ::ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

}  // namespace

std::optional<ProgressLine> terminal_progress_line(std::FILE* err) {
  const int fd = ::fileno(err);
  const char* term = std::getenv("TERM");
  if (fd < 0 || ::isatty(fd) != 1 || (term != nullptr && std::string_view(term) == "dumb")) return std::nullopt;
  return ProgressLine(err, std::chrono::steady_clock::now, first_draw_after(), terminal_columns(fd));
}

std::string progress_text(uint64_t judged, uint64_t total, std::optional<double> per_second) {
  std::string text = decimal(judged) + " of " + decimal(total) + " entries judged";
  if (!per_second || *per_second <= 0) return text;
  text += ", " + rate_text(*per_second);
  if (judged < total) text += ", about " + duration_text(static_cast<double>(total - judged) / *per_second) + " left";
  return text;
}

ProgressLine::ProgressLine(std::FILE* terminal, MonotonicClock clock, std::chrono::milliseconds first_draw_after, size_t columns)
    : terminal_(terminal), clock_(std::move(clock)), first_draw_after_(first_draw_after), columns_(columns), started_(clock_()) {}

void ProgressLine::update(uint64_t judged, uint64_t total) {
  const TimePoint now = clock_();
  if (!judging_since_ || judged == 0) judging_since_ = now;
  if (now - started_ < first_draw_after_) return;
  if (drawn_at_ && now - *drawn_at_ < kRedrawAfter) return;

  const double seconds = std::chrono::duration<double>(now - *judging_since_).count();
  std::optional<double> per_second;
  if (judged > 0 && seconds > 0) per_second = static_cast<double>(judged) / seconds;
  std::string text = progress_text(judged, total, per_second);
  // One column stays free: a character in the last one leaves some terminals about to wrap.
  if (columns_ > 1 && text.size() >= columns_) text.resize(columns_ - 1);
  put(terminal_, "\r" + text + "\x1b[K");
  drawn_at_ = now;
}

void ProgressLine::erase() {
  if (!drawn_at_) return;
  put(terminal_, "\r\x1b[K");
  drawn_at_.reset();
}

}  // namespace orv::cli
