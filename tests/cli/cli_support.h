// Helpers for the command-line tests: a scratch directory, running the built binary with its
// output captured, and running the command line in-process with stand-in verifiers.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/run.h"
#include "cli/usage.h"

namespace orv::test {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orv-cli-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }

  // Creates the file and returns its path as a string, the way a user would type it.
  std::string write(const std::string& name, const std::string& content) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream(file, std::ios::binary) << content;
    return file.string();
  }
  std::string path(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string read_fd(int fd) {
  std::string data;
  ::lseek(fd, 0, SEEK_SET);
  char buf[65536];
  for (ssize_t got; (got = ::read(fd, buf, sizeof buf)) > 0;) data.append(buf, static_cast<size_t>(got));
  return data;
}

// Runs argv[0] with the arguments after it and collects its status and output. With env the
// program gets exactly that environment, else this one's. With close_stdout it starts with its
// standard output a pipe whose reader is already gone.
inline RunResult run_process(std::vector<std::string> argv, std::optional<std::vector<std::string>> env = std::nullopt,
                             bool close_stdout = false) {
  std::vector<char*> c_argv;
  for (std::string& arg : argv) c_argv.push_back(arg.data());
  c_argv.push_back(nullptr);
  std::vector<char*> c_env;
  if (env) {
    for (std::string& entry : *env) c_env.push_back(entry.data());
    c_env.push_back(nullptr);
  }
  const int out_fd = ::memfd_create("out", 0);
  const int err_fd = ::memfd_create("err", 0);
  int broken[2] = {-1, -1};
  if (close_stdout && ::pipe(broken) != 0) ADD_FAILURE() << "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(close_stdout ? broken[1] : out_fd, 1);
    ::dup2(err_fd, 2);
    if (close_stdout) ::close(broken[0]);
    if (env) {
      ::execve(c_argv[0], c_argv.data(), c_env.data());
    } else {
      ::execv(c_argv[0], c_argv.data());
    }
    ::_exit(127);
  }
  if (close_stdout) {
    ::close(broken[0]);
    ::close(broken[1]);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  RunResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.out = read_fd(out_fd);
  result.err = read_fd(err_fd);
  ::close(out_fd);
  ::close(err_fd);
  return result;
}

// Runs the built program.
inline RunResult run_binary(const std::vector<std::string>& args, bool close_stdout = false) {
  std::vector<std::string> argv{ORV_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(std::move(argv), std::nullopt, close_stdout);
}

// Runs the built companion program, orvelant-prepare.
inline RunResult run_prepare(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ORV_PREPARE_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(std::move(argv));
}

// Runs the command line in this process with the given verifiers and clock.
inline RunResult run_with(
    const std::vector<std::string>& args, const api::Verifiers& verifiers, const cli::Clock& clock = [] { return uint64_t{0}; },
    cli::ProgressLine* progress = nullptr) {
  char* out_buf = nullptr;
  char* err_buf = nullptr;
  size_t out_len = 0;
  size_t err_len = 0;
  std::FILE* out = ::open_memstream(&out_buf, &out_len);
  std::FILE* err = ::open_memstream(&err_buf, &err_len);
  RunResult result;
  result.status = cli::run(args, out, err, verifiers, clock, progress);
  std::fclose(out);
  std::fclose(err);
  result.out.assign(out_buf, out_len);
  result.err.assign(err_buf, err_len);
  std::free(out_buf);
  std::free(err_buf);
  return result;
}

inline std::string usage_error(const std::string& message) {
  return "error: " + message + "\n\n" + std::string(cli::usage_text()) + "\n";
}

}  // namespace orv::test
