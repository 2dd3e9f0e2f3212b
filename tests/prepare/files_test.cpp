// Inputs read under their limit; the output replaces nothing unless forced, at either guard.
#include <gtest/gtest.h>

#include "cli/cli_support.h"
#include "prepare/files.h"
#include "support/shared_data.h"

namespace orv::prepare {
namespace {

TEST(PrepareFiles, InputsAreReadWholeUpToTheirLimit) {
  test::TempDir dir;
  const std::string path = dir.write("in", "12345");
  EXPECT_EQ(*read_input(path, "file", 5), "12345");
  EXPECT_EQ(read_input(path, "file", 4).error().what, "file " + path + " is larger than 4 bytes");
  EXPECT_FALSE(read_input_if_present(dir.path("none"), "file", 4)->has_value());
  EXPECT_TRUE(read_input(dir.path("none"), "file", 4).error().what.starts_with("cannot read file "));
}

TEST(PrepareFiles, AnExistingFileIsReplacedOnlyWithForce) {
  test::TempDir dir;
  const std::string path = dir.write("out.json", "mine");
  // Each guard on its own: the early check, and the write for a file that appeared since.
  EXPECT_EQ(check_output(path, false)->what, path + " already exists");
  EXPECT_EQ(write_output(path, "new", false)->what, path + " already exists");
  EXPECT_EQ(test::read_file(path), "mine");
  EXPECT_FALSE(check_output(path, true));
  EXPECT_FALSE(write_output(path, "new", true));
  EXPECT_EQ(test::read_file(path), "new");
  EXPECT_TRUE(check_output(dir.path(""), true)->what.ends_with(" is a folder"));
  EXPECT_FALSE(write_output(dir.path("fresh.json"), "x", false));
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path(""))) ++files;
  EXPECT_EQ(files, 2u);  // no temporary file left beside them
}

}  // namespace
}  // namespace orv::prepare
