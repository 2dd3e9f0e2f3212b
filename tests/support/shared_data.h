// Where tests find third-party material: the shared folder beside the checkout, read at run
// time and never copied in. Tests that need it skip themselves where it is absent.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace orv::test {

// The shared folder, or nullopt on a fresh clone that has none.
std::optional<std::filesystem::path> shared_dir();

// The whole file as bytes; fails the test (and returns empty) when it cannot be read.
std::string read_file(const std::filesystem::path& path);

}  // namespace orv::test

// Skips the current test when the shared folder is absent; binds `dir` to it otherwise.
#define ORV_REQUIRE_SHARED(dir)                                                     \
  const auto dir##_opt = ::orv::test::shared_dir();                                 \
  if (!dir##_opt) GTEST_SKIP() << "shared test material not present (fresh clone)"; \
  const std::filesystem::path dir = *dir##_opt
