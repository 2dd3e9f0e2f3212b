// Verifying a one-token stamp file, next to `openssl ts -verify` of the same token run as a process
// in the same benchmark. The token is the fuzz targets' fixed test token (an ECDSA P-256 chain of
// signer, intermediate and root); the root is the one those targets pin.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../fuzz/fuzz_timestamp_authority.h"
#include "bench_files.h"
#include "tsa/stamp_file.h"

extern char** environ;

namespace {

void write(const std::filesystem::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

struct Fixture {
  std::string stamp = orv::bench::read_or_exit(orv::bench::source_dir() / "fuzz/seeds/fuzz_stamp_file/one.json");
  std::string token = orv::bench::read_or_exit(orv::bench::source_dir() / "fuzz/seeds/fuzz_timestamp_token/full.der");
  std::vector<orv::tsa::PinnedAuthority> authorities{orv::fuzz::test_authority()};
  std::filesystem::path dir;

  Fixture() {
    char pattern[] = "/tmp/orv-timestamp-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::exit(1);
    dir = pattern;
    write(dir / "token.der", token);
    write(dir / "subject", std::string(orv::fuzz::kTimestampSubject));
    const std::vector<uint8_t>& root = authorities[0].root_der;
    const unsigned char* cursor = root.data();
    X509* cert = d2i_X509(nullptr, &cursor, static_cast<long>(root.size()));
    FILE* pem = std::fopen((dir / "root.pem").c_str(), "w");
    if (cert == nullptr || pem == nullptr || PEM_write_X509(pem, cert) != 1) std::exit(1);
    std::fclose(pem);
    X509_free(cert);
  }
  ~Fixture() { std::filesystem::remove_all(dir); }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_VerifyStampFile(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    orv::tsa::TimestampReport report =
        orv::tsa::verify_stamp_file(orv::fuzz::kTimestampSubject, f.stamp, f.authorities, orv::fuzz::kTimestampNow);
    if (!report.valid) state.SkipWithError("the fixture stamp does not verify");
    benchmark::DoNotOptimize(report);
  }
}
BENCHMARK(BM_VerifyStampFile)->Unit(benchmark::kMicrosecond);

// `openssl ts -verify` judges the chain at the token's time (-attime), as this verifier does.
void BM_OpensslTsVerifyProcess(benchmark::State& state) {
  Fixture& f = fixture();
  const std::string token = (f.dir / "token.der").string();
  const std::string subject = (f.dir / "subject").string();
  const std::string root = (f.dir / "root.pem").string();
  const std::string at = std::to_string(orv::fuzz::kTimestampNow);
  std::vector<std::string> args{"openssl", "ts",    "-verify", "-token_in", "-in",     token,
                                "-data",   subject, "-CAfile", root,        "-attime", at};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  for (auto _ : state) {
    pid_t pid = 0;
    if (posix_spawnp(&pid, "openssl", &actions, nullptr, argv.data(), environ) != 0) {
      state.SkipWithError("cannot start openssl");
      break;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("openssl ts -verify did not verify the token");
      break;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
}
BENCHMARK(BM_OpensslTsVerifyProcess)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
