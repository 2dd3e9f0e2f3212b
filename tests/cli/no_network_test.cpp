// The built programs open no network connection and no file they were not given. Every command
// of both runs, on valid and on invalid inputs, under strace: not one network call may appear,
// every file opened must be an input the run names or a shared library the dynamic loader maps,
// and the only file written is the one named by --out, through a temporary file beside it.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_support.h"
#include "core/hex.h"
#include "core/text.h"
#include "support/shared_data.h"
#include "support/tdx_history.h"
#include "support/tdx_level2.h"
#include "support/tdx_saved_responses.h"
#include "support/tsa_pki.h"

namespace orv::test {
namespace {

namespace fs = std::filesystem;

// One invocation: its program, its arguments, and the exit status (and, where the status alone
// cannot tell, a piece of the report) that shows it got as far as intended. Every input it names
// is an absolute path, so the inputs are exactly the arguments that start with '/' (for a folder,
// the files directly in it), and the one output is the argument after --out. Real Intel
// collateral has expired by now; with fake_clock the run sees a time inside its window, so that
// every check down to the last CRL runs.
struct Invocation {
  Invocation(std::vector<std::string> args_, int status_, bool fake_clock_ = false, std::string shows_ = {})
      : args(std::move(args_)), status(status_), fake_clock(fake_clock_), shows(std::move(shows_)) {}
  std::vector<std::string> args;
  int status;
  bool fake_clock;
  std::string shows;
  std::string program = ORV_BINARY;
};

Invocation prepare_run(std::vector<std::string> args, int status, std::string shows = {}) {
  Invocation run(std::move(args), status, false, std::move(shows));
  run.program = ORV_PREPARE_BINARY;
  return run;
}

// A run and the system calls strace saw it make, one strace line per traced call; err holds
// strace's messages as well as the program's.
struct Traced : RunResult {
  std::vector<std::string> calls;
};

std::string on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const fs::path candidate = fs::path(dir) / name;
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return {};
}

// Runs `program args` under `strace -f -e trace=<filter>` with exactly the environment `env`.
Traced traced(const std::string& strace, const std::string& filter, const std::string& program,
              const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& log) {
  // -xx prints every byte of a string in hex, so a path is recovered exactly; -s keeps it whole.
  std::vector<std::string> argv{strace, "-f", "-qq", "-xx", "-s", "65536", "-o", log, "-e", "trace=" + filter, "--", program};
  argv.insert(argv.end(), args.begin(), args.end());
  Traced result{run_process(std::move(argv), env), {}};
  // Exit and signal notes are not calls; "PID name(" starts every line that is one.
  static const std::regex kCall(R"(^\d+ +\w+\()");
  std::ifstream trace(log);
  for (std::string line; std::getline(trace, line);) {
    if (std::regex_search(line, kCall)) result.calls.push_back(line);
  }
  return result;
}

std::string call_name(const std::string& line) {
  const size_t start = line.find_first_not_of("0123456789 ");
  return line.substr(start, line.find('(') - start);
}

// The string arguments of a call line, decoded from strace's \xNN form.
std::vector<std::string> paths_of(const std::string& line) {
  std::vector<std::string> paths;
  for (size_t open = line.find('"'); open != std::string::npos; open = line.find('"', open + 1)) {
    const size_t close = line.find('"', open + 1);
    if (close == std::string::npos) break;
    const std::string hex = std::regex_replace(line.substr(open + 1, close - open - 1), std::regex(R"(\\x)"), "");
    const auto bytes = hex_decode(hex);
    paths.push_back(bytes ? std::string(bytes->begin(), bytes->end()) : std::string());
    open = close;
  }
  return paths;
}

// The output a run names, or the temporary file it is written through (".NAME.XXXXXX" beside it).
bool output_file(const std::vector<std::string>& args, const std::string& path) {
  const auto out = std::find(args.begin(), args.end(), "--out");
  if (out == args.end() || out + 1 == args.end()) return false;
  const fs::path target(*(out + 1));
  const fs::path written(path);
  return path == target.string() || (written.parent_path() == target.parent_path() &&
                                     written.filename().string().starts_with("." + target.filename().string() + "."));
}

// What the dynamic loader opens: its cache, and shared objects in the system library folders.
bool loader_file(const std::string& path) {
  if (path == "/etc/ld.so.cache") return true;
  const std::string name = fs::path(path).filename().string();
  if (name.find(".so") == std::string::npos) return false;
  for (const char* dir : {"/lib/", "/lib64/", "/usr/lib/", "/usr/lib64/"}) {
    if (path.starts_with(dir) && path.find("/../") == std::string::npos) return true;
  }
  return false;
}

// The clock-faking library of Debian's faketime package, or empty where it is not installed.
std::string libfaketime() {
  std::error_code ec;
  for (const fs::directory_entry& dir : fs::directory_iterator("/usr/lib", ec)) {
    const fs::path lib = dir.path() / "faketime/libfaketime.so.1";
    if (fs::is_regular_file(lib, ec)) return lib.string();
  }
  return {};
}

// What that library opens itself: its shared clock state.
bool faketime_file(const std::string& path) {
  return path.starts_with("/dev/shm/") && fs::path(path).filename().string().find("faketime") != std::string::npos;
}

#ifdef ORV_SANITIZED
// The sanitizer runtime reads its own process's maps, command line and environment.
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

class UnderStrace : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    strace_ = on_path("strace");
    if (strace_.empty()) return;
    dir_ = std::make_unique<TempDir>();
    // Whether this machine lets strace trace at all: containers often forbid ptrace.
    const Traced probe = traced(strace_, "none", ORV_BINARY, {"--version"}, sanitizer_env(), dir_->path("probe.trace"));
    if (probe.status != 0 && probe.err.find("Operation not permitted") != std::string::npos) {
      unusable_ = "ptrace is not permitted here: " + probe.err;
    } else if (probe.status != 0) {
      probe_error_ = "strace could not run the program: " + probe.err;
    } else {
      runs_ = build_runs(*dir_);
    }
  }
  static void TearDownTestSuite() { dir_.reset(); }

  void SetUp() override {
    if (strace_.empty()) GTEST_SKIP() << "strace is not installed";
    if (!unusable_.empty()) GTEST_SKIP() << unusable_;
    ASSERT_EQ(probe_error_, "");
  }

  static std::vector<std::string> sanitizer_env() {
    // LeakSanitizer cannot run under ptrace, and the clock library is preloaded ahead of the
    // sanitizer runtime; every other sanitizer check stays on.
    if (kSanitized) return {"ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0"};
    return {};
  }

  // Every run of the table under `filter`; the configuration named by OPENSSL_CONF exists, so
  // that reading it would show.
  static std::vector<Traced> trace_all(const std::string& filter) {
    std::vector<std::string> env = sanitizer_env();
    env.push_back("OPENSSL_CONF=" + dir_->write("openssl.cnf", "openssl_conf = init\n[init]\n"));
    std::vector<Traced> out;
    for (const Invocation& run : runs_) {
      std::vector<std::string> run_env = env;
      if (run.fake_clock) {
        run_env.push_back("LD_PRELOAD=" + libfaketime());
        run_env.push_back("FAKETIME=@2025-09-15 12:00:00");
        run_env.push_back("TZ=:");  // the library reads FAKETIME before the program starts
      }
      out.push_back(traced(strace_, filter, run.program, run.args, run_env, dir_->path("run.trace")));
      EXPECT_EQ(out.back().status, run.status) << describe(run) << "\n" << out.back().err;
      EXPECT_NE(out.back().out.find(run.shows), std::string::npos) << describe(run) << "\n" << out.back().out;
    }
    return out;
  }

  static std::string describe(const Invocation& run) {
    std::string text = fs::path(run.program).filename().string();
    for (const std::string& a : run.args) text += " " + a;
    return text;
  }

  static std::vector<Invocation> build_runs(const TempDir& dir);

  static inline std::string strace_;
  static inline std::string unusable_;
  static inline std::string probe_error_;
  static inline std::unique_ptr<TempDir> dir_;
  static inline std::vector<Invocation> runs_;
};

std::vector<Invocation> UnderStrace::build_runs(const TempDir& dir) {
  const std::string ex = ORV_SOURCE_DIR "/examples/";
  const std::string live = ORV_SOURCE_DIR "/tests/data/live/";
  const std::string logs = ORV_SOURCE_DIR "/tests/data/log_evidence/";
  const std::string empty = dir.write("empty.json", "{}");

  // Level 2 on a test Intel PKI valid at this computer's clock, so that the program's checks
  // reach certificate path validation (where Intel's root is not the test root), bound to the
  // committed live-service key.
  Level2Scenario s;
  s.dcap = DcapScenario(QuoteKind::TdxV4, static_cast<uint64_t>(std::time(nullptr)));
  s.live_key = hex_decode(trim_unicode(read_file(live + "service-key.hex"))).value_or(std::vector<uint8_t>{});
  const std::string receipt_text = s.receipt_json();
  const std::string receipt = dir.write("receipt.json", receipt_text);
  const std::string pin = dir.write("pin.hex", s.pin_hex());
  const std::string snapshot = dir.write("snapshot.json", s.snapshot_json());
  const std::string expected = dir.write("expected.json", s.expected_json());
  // Timestamps from a test authority the program does not know.
  const tsa::Hierarchy tsa_pki = tsa::make_hierarchy(tsa::KeyKind::P256, tsa::KeyKind::P256);
  const std::string stamp =
      dir.write("receipt.stamp.json", tsa::stamp_file({{"Test", tsa::openssl_ts_token(tsa_pki, receipt_text)}}));
  KeyHistory h;
  h.append();
  h.append(tdx::kReceiptSchemaV3);
  const std::string history = dir.write("history.jsonl", h.text());
  const std::string kept = dir.write("kept.json", h.lines[0]);

  std::vector<Invocation> runs{
      {{}, 2},
      {{"--help"}, 0},
      {{"--version"}, 0},
      {{"receipt", empty, "--bogus"}, 2},
      {{"bogus", empty}, 2},
      {{"receipt", dir.path("missing.json"), "--key", pin}, 2},
      {{"receipt", dir.path("")}, 2},
      {{"receipt", ex + "live-record.json", "--key", ex + "live-service-key.hex"}, 0},
      {{"receipt", ex + "live-record-tampered.json", "--key", ex + "live-service-key.hex", "--json"}, 1},
      {{"receipt", ex + "lab-receipt.json", "--key", ex + "notary-key.pem"}, 0},
      {{"receipt", ex + "refusal.json", "--key", ex + "notary-key.pem", "--json"}, 0},
      {{"receipt", live + "hostile-text.json", "--key", live + "service-key.hex"}, 0},
      {{"receipt", live + "valid.json"}, 2},
      {{"chain", ex + "receipt-chain.jsonl", "--key", ex + "notary-key.pem", "--head", ex + "chain-head.json"}, 0},
      {{"chain", ex + "receipt-chain.jsonl", "--key", ex + "live-service-key.hex", "--json"}, 2},
      {{"timestamp", receipt, "--stamp", stamp}, 1},
      {{"timestamp", receipt, "--stamp", empty, "--json"}, 1},
      {{"key-receipt", receipt, "--key", pin, "--snapshot", snapshot, "--expected", expected},
       1,
       false,
       "Failed to verify certificate chain"},
      {{"key-receipt", empty, "--key", pin, "--snapshot", snapshot, "--expected", expected, "--json"}, 1},
      {{"key-chain", history, "--contains", kept}, 0},
      {{"key-chain", history, "--snapshot", snapshot, "--expected", expected, "--json"}, 1},
      {{"attested-record", live + "valid.json", "--key-receipt", receipt, "--snapshot", snapshot, "--expected", expected,
        "--stamp", stamp},
       1},
      {{"log-evidence", logs + "receipt.json", "--evidence", logs + "evidence.json"}, 1},
      {{"log-evidence", logs + "receipt-v2.json", "--evidence", logs + "evidence.json", "--json"}, 1},
  };

  // Real material, judged through the compiled-in roots, where the shared folder is present.
  if (const auto shared = shared_dir()) {
    const std::string digicert = (*shared / "testdata/rfc3161/digicert/").string();
    const std::string sigstore = (*shared / "testdata/rfc3161/sigstore/conformance-managed-key-happy-path").string();
    runs.push_back(
        {{"timestamp", digicert + "ysimonx-file.txt", "--stamp", digicert + "ysimonx-20230304T154859Z.normalized.stamp.json"},
         0});
    runs.push_back(
        {{"timestamp", sigstore + ".stamped-signature.bin", "--stamp", sigstore + ".normalized.stamp.json", "--json"}, 0});
    // A real quote and Intel's real collateral, judged at the real clock (the collateral has
    // expired) and inside its window (every chain and CRL checked against Intel's root). The pins
    // are the test's, so the quote does not match them.
    const fs::path tdx = *shared / "testdata/tdx-real/tee-solver-dstack";
    const std::string real_receipt =
        dir.write("real-receipt.json",
                  R"({"schema":"orvelant/live-key-receipt/v1","alg":"ML-DSA-65","public_key_hex":")" + s.pin_hex() +
                      R"(","quote_hex":")" + hex_encode(as_bytes(read_file(tdx / "quote_alice.bin"))) + R"(","event_log":)" +
                      std::string(trim_unicode(read_file(tdx / "event_log.json"))) + R"(,"issued_at":"2025-09-15T12:00:00Z"})");
    const std::string real_snapshot = dir.write(
        "real-snapshot.json", R"({"schema":"orvelant/intel-collateral-snapshot/v1","fetched_at":"2025-09-15T00:00:00Z",)"
                              R"("source":"public test data","collateral":)" +
                                  std::string(trim_unicode(read_file(tdx / "quote_collateral.json"))) + "}");
    const std::vector<std::string> key_receipt{"key-receipt", real_receipt,  "--key",      pin,
                                               "--snapshot",  real_snapshot, "--expected", expected};
    const std::vector<std::string> attested{"attested-record", live + "valid.json", "--key-receipt", real_receipt,
                                            "--snapshot",      real_snapshot,       "--expected",    expected};
    runs.push_back({key_receipt, 1});
    runs.push_back({attested, 1});
    if (!libfaketime().empty()) {
      runs.push_back({key_receipt, 1, true, "[MEASUREMENT_MISMATCH] mr_td"});
      runs.push_back({attested, 1, true, "[MEASUREMENT_MISMATCH] key receipt: mr_td"});
    }
  }

  // orvelant-prepare: usage, refusals and every subcommand; with the real responses, a
  // snapshot written (over the last run's, so that both traced rounds succeed) and inspected.
  const std::string out = dir.path("prepared/snapshot.json");
  fs::create_directories(dir.path("prepared/collateral"));
  runs.push_back(prepare_run({"--help"}, 0));
  runs.push_back(prepare_run({"snapshot", dir.path("prepared/missing"), "--out", out}, 1));
  runs.push_back(prepare_run({"inspect", receipt}, 0, "mr_td"));
  runs.push_back(prepare_run({"inspect", snapshot, "--json"}, 0, "\"kind\":\"collateral snapshot\""));
  runs.push_back(prepare_run({"collateral-plan", receipt}, 1));  // a test platform, not Intel's
  if (const auto shared = shared_dir()) {
    const fs::path dstack = *shared / "testdata/tdx-real/tee-solver-dstack";
    for (const auto& [name, content] : real_saved_responses(dstack)) dir.write("prepared/collateral/" + name, content);
    const std::string real = dir.write("prepared/receipt.json", real_key_receipt(dstack, s.pin_hex()));
    runs.push_back(prepare_run({"collateral-plan", real}, 0, "fmspc=20a06f000000"));
    runs.push_back(
        prepare_run({"snapshot", dir.path("prepared/collateral"), "--out", out, "--receipt", real, "--force"}, 0, "wrote"));
    runs.push_back(prepare_run({"inspect", out}, 0, "days_left"));
    const std::string drafted = dir.path("prepared/expected-td.json");
    runs.push_back(prepare_run({"expected-td", real, "--snapshot", out, "--out", drafted, "--force"}, 0, "wrote"));
    runs.push_back(prepare_run({"expected-td", "--compare", drafted, real}, 0, "every pinned value"));
    const fs::path digicert = *shared / "realdata/rfc3161-digicert";
    const std::string stamped = dir.path("prepared/stamp.json");
    runs.push_back(prepare_run({"stamp", digicert / "ysimonx-file.txt", "--token", digicert / "ysimonx-20230304T154859Z.tsr",
                                "--out", stamped, "--force"},
                               0, "VALID"));
    runs.emplace_back(std::vector<std::string>{"timestamp", digicert / "ysimonx-file.txt", "--stamp", stamped}, 0);
    runs.push_back(prepare_run({"stamp", digicert / "ysimonx-file.txt", "--token", digicert / "ysimonx-20240918T211750Z.tsr",
                                "--out", stamped, "--force"},
                               1));
  }
  return runs;
}

TEST_F(UnderStrace, NoCommandMakesANetworkCall) {
  const std::vector<Traced> traces = trace_all("network");
  for (size_t i = 0; i < traces.size(); ++i) {
    EXPECT_EQ(traces[i].calls, std::vector<std::string>{}) << describe(runs_[i]);
  }
}

TEST_F(UnderStrace, EveryFileOpenedIsANamedInputOrALibrary) {
  const std::vector<Traced> traces = trace_all(
      "open,openat,openat2,creat,execve,rename,renameat,renameat2,link,linkat,symlink,symlinkat,unlink,unlinkat,"
      "mkdir,mkdirat,truncate,chmod,fchmodat");
  std::set<std::string> named, opened;
  for (size_t i = 0; i < traces.size(); ++i) {
    std::set<std::string> inputs;
    for (const std::string& arg : runs_[i].args) {
      if (arg.starts_with('/')) inputs.insert(arg);
    }
    named.insert(inputs.begin(), inputs.end());
    const auto input = [&](const std::string& path) {
      return inputs.contains(path) || inputs.contains(fs::path(path).parent_path().string());
    };
    size_t execs = 0;
    for (const std::string& call : traces[i].calls) {
      const std::vector<std::string> paths = paths_of(call);
      const std::string path = paths.empty() ? std::string() : paths.front();
      const std::string name = call_name(call);
      if (name == "execve") {
        ++execs;  // the program itself; it must start nothing else
        continue;
      }
      if (!name.starts_with("open") && name != "creat") {
        // A change to the file system: only to the output and its temporary file.
        for (const std::string& changed : paths) {
          if (!output_file(runs_[i].args, changed)) ADD_FAILURE() << describe(runs_[i]) << "\nchanged " << changed;
        }
        continue;
      }
      if (input(path)) {
        opened.insert(path);
      } else if (!output_file(runs_[i].args, path) && !loader_file(path) && !(kSanitized && path.starts_with("/proc/self/")) &&
                 !(runs_[i].fake_clock && faketime_file(path))) {
        ADD_FAILURE() << describe(runs_[i]) << "\nopened " << path << ":\n" << call;
      }
    }
    EXPECT_EQ(execs, 1u) << describe(runs_[i]);
  }
  // The trace is read correctly only if it shows the inputs being read: every named input that
  // exists is opened by some run.
  for (const std::string& path : named) {
    if (fs::is_regular_file(path)) {
      EXPECT_TRUE(opened.contains(path)) << path << " was never seen opened";
    }
  }
}

}  // namespace
}  // namespace orv::test
