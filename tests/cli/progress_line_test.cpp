// The progress line on a terminal: when it is drawn, how often, what it says, and that the
// command line erases it before the report.
#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include "cli_support.h"

namespace orv::cli {
namespace {

using namespace std::chrono_literals;

// A stand-in terminal and a clock that moves only when told.
struct Terminal {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* file = ::open_memstream(&buffer, &size);
  std::chrono::steady_clock::time_point now{};

  ~Terminal() {
    std::fclose(file);
    std::free(buffer);
  }
  ProgressLine line(size_t columns = 0) {
    return ProgressLine(
        file, [this] { return now; }, ProgressLine::kFirstDrawAfter, columns);
  }
  std::string shown() {
    std::fflush(file);
    return std::string(buffer, size);
  }
};

TEST(ProgressLine, DrawsOnlyAfterTheFirstDelayAndAFewTimesASecond) {
  Terminal terminal;
  ProgressLine line = terminal.line();
  line.update(0, 1000);
  terminal.now += 499ms;
  line.update(100, 1000);
  line.erase();
  EXPECT_EQ(terminal.shown(), "");  // a short run leaves no trace

  terminal.now += 1ms;
  line.update(200, 1000);
  const std::string first = "\r200 of 1000 entries judged, 400/s, about 2 s left\x1b[K";
  EXPECT_EQ(terminal.shown(), first);
  terminal.now += 249ms;
  line.update(300, 1000);
  EXPECT_EQ(terminal.shown(), first);
  terminal.now += 1ms;
  line.update(300, 1000);
  line.erase();
  line.erase();
  EXPECT_EQ(terminal.shown(), first + "\r300 of 1000 entries judged, 400/s, about 2 s left\x1b[K\r\x1b[K");

  Terminal narrow;
  ProgressLine cut = narrow.line(12);
  narrow.now += 1s;
  cut.update(0, 1000);
  EXPECT_EQ(narrow.shown(), "\r0 of 1000 e\x1b[K");
}

TEST(ProgressLine, TextGivesTheRateAndTimeLeft) {
  EXPECT_EQ(progress_text(0, 99180, std::nullopt), "0 of 99180 entries judged");
  EXPECT_EQ(progress_text(1180, 99180, 530.4), "1180 of 99180 entries judged, 530/s, about 3 min 5 s left");
  EXPECT_EQ(progress_text(1, 10000, 2.5), "1 of 10000 entries judged, 2.5/s, about 1 h 6 min left");
  EXPECT_EQ(progress_text(7, 7, 3000), "7 of 7 entries judged, 3000/s");
}

TEST(ProgressLine, ChainAndKeyChainReportToItAndTheLineIsGoneBeforeTheReport) {
  test::TempDir dir;
  const std::string file = dir.write("doc", "document");
  Terminal terminal;
  api::Verifiers v;
  v.chain = [&](const api::ChainInputs& in) {
    in.progress(0, 2);
    terminal.now += 1s;
    in.progress(2, 2);
    return sig::ChainReport{};
  };
  v.key_chain = [&](const api::KeyChainInputs& in, uint64_t) {
    in.progress(0, 3);
    terminal.now += 1s;
    in.progress(1, 3);
    return tdx::KeyChainReport{};
  };
  const Clock clock = [] { return uint64_t{0}; };
  ProgressLine chain_line = terminal.line();
  EXPECT_EQ(test::run_with({"chain", file}, v, clock, &chain_line).status, 2);
  ProgressLine history_line = terminal.line();
  EXPECT_EQ(test::run_with({"key-chain", file}, v, clock, &history_line).status, 1);
  EXPECT_EQ(terminal.shown(),
            "\r2 of 2 entries judged, 2.0/s\x1b[K\r\x1b[K"
            "\r1 of 3 entries judged, 1.0/s, about 2 s left\x1b[K\r\x1b[K");

  // On a real terminal the report shares the screen: the line must be gone before its first byte.
  const size_t before = terminal.shown().size();
  ProgressLine shared_line = terminal.line();
  EXPECT_EQ(cli::run({"chain", file}, terminal.file, terminal.file, v, clock, &shared_line), 2);
  const std::string screen = terminal.shown().substr(before);
  const std::string line = "\r2 of 2 entries judged, 2.0/s\x1b[K\r\x1b[K";
  ASSERT_TRUE(screen.starts_with(line)) << screen;
  EXPECT_EQ(screen.find('\x1b', line.size()), std::string::npos) << screen;
}

}  // namespace
}  // namespace orv::cli
