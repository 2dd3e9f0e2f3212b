// In-process checks against a process per document: 10,000 live records verified through the
// C interface of liborvelant-verify.so and through the Python module, against 10,000
// `orvelant-verify receipt` runs, all in one run. In-process must cost at most a tenth per record.
//
// Every call is a full check (parse, pin, ML-DSA-65 verification): the library keeps nothing
// between calls, so verifying the bundled example record each time measures the same work as
// 10,000 different records would (Debian 12 has no ML-DSA signer to make them).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_files.h"
#include "orvelant/verify.h"

extern char** environ;

namespace {

constexpr int kRecords = 10000;
constexpr double kTargetRatio = 10;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

[[noreturn]] void stop(const std::string& why) {
  std::fprintf(stderr, "library_bench: %s\n", why.c_str());
  std::exit(1);
}

double c_interface(const std::string& record, const std::string& key) {
  const auto start = Clock::now();
  for (int i = 0; i < kRecords; ++i) {
    orv_report* report = orv_verify_receipt({record.data(), record.size()}, {key.data(), key.size()}, nullptr);
    if (orv_report_status(report) != ORV_STATUS_VALID) stop("the C interface did not judge the record valid");
    orv_report_free(report);
  }
  return seconds_since(start);
}

// Runs a program to its end with its output discarded; returns its exit status.
int run(std::vector<std::string> argv, const std::vector<std::string>& env = {}) {
  std::vector<char*> c_argv;
  for (std::string& arg : argv) c_argv.push_back(arg.data());
  c_argv.push_back(nullptr);
  std::vector<std::string> env_copy = env;
  std::vector<char*> c_env;
  for (char** e = environ; *e != nullptr; ++e) c_env.push_back(*e);
  for (std::string& entry : env_copy) c_env.push_back(entry.data());
  c_env.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawn(&pid, c_argv[0], &actions, nullptr, c_argv.data(), c_env.data()) != 0) stop("cannot start " + argv[0]);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

double processes(const std::string& record_path, const std::string& key_path) {
  const auto start = Clock::now();
  for (int i = 0; i < kRecords; ++i) {
    if (run({ORV_BINARY, "receipt", record_path, "--key", key_path}) != 0) stop("orvelant-verify did not judge it valid");
  }
  return seconds_since(start);
}

// The Python module times its own loop (interpreter start-up is not a per-record cost) and
// writes the seconds to a file.
double python_module(const std::string& record_path, const std::string& key_path) {
  const std::string out = (std::filesystem::temp_directory_path() / "orv-library-bench-python").string();
  const std::string script =
      "import sys, time, orvelant_verify as o\n"
      "record, key = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read()\n"
      "start = time.perf_counter()\n"
      "for _ in range(int(sys.argv[3])):\n"
      "    assert o.receipt(record, key=key)['valid']\n"
      "open(sys.argv[4], 'w').write(str(time.perf_counter() - start))\n";
  const std::string python = "/usr/bin/python3";
  const int status =
      run({python, "-c", script, record_path, key_path, std::to_string(kRecords), out},
          {"PYTHONPATH=" + (orv::bench::source_dir() / "python").string(), "ORVELANT_VERIFY_LIBRARY=" ORV_LIBRARY});
  if (status != 0) stop("the Python module's loop failed (status " + std::to_string(status) + ")");
  const double elapsed = std::stod(orv::bench::read_or_exit(out));
  std::filesystem::remove(out);
  return elapsed;
}

void row(const char* what, double elapsed, double processes_elapsed) {
  std::printf("  %-28s %8.3f s  %9.1f us per record", what, elapsed, elapsed / kRecords * 1e6);
  if (processes_elapsed > 0) {
    const double ratio = processes_elapsed / elapsed;
    std::printf("  %6.1f x faster (target >= %.0f x: %s)", ratio, kTargetRatio, ratio >= kTargetRatio ? "met" : "MISSED");
  }
  std::printf("\n");
}

}  // namespace

int main() {
  const std::string record_path = (orv::bench::source_dir() / "examples/live-record.json").string();
  const std::string key_path = (orv::bench::source_dir() / "examples/live-service-key.hex").string();
  const std::string record = orv::bench::read_or_exit(record_path);
  const std::string key = orv::bench::read_or_exit(key_path);

  std::printf("%d live records (%s), one run:\n", kRecords, "examples/live-record.json");
  const double in_c = c_interface(record, key);
  const double in_python = python_module(record_path, key_path);
  const double by_process = processes(record_path, key_path);
  row("orvelant-verify processes", by_process, 0);
  row("C interface, in-process", in_c, by_process);
  row("Python module, in-process", in_python, by_process);
  return 0;
}
