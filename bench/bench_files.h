// Where the benchmarks find their inputs, and reading them whole; a benchmark without its
// input stops at once rather than timing nothing.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace orv::bench {

inline std::filesystem::path source_dir() {
#ifdef ORV_SOURCE_DIR
  return ORV_SOURCE_DIR;
#else
  return std::filesystem::path(__FILE__).parent_path().parent_path();
#endif
}

// The shared folder beside the checkout, where third-party samples live.
inline std::filesystem::path shared_dir() { return source_dir() / ".." / "shared"; }

inline std::string read_or_exit(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::exit(1);
  }
  return text.str();
}

}  // namespace orv::bench
