#include <gtest/gtest.h>

#include <filesystem>

#include "cli/inputs.h"
#include "cli_support.h"

namespace orv::cli {
namespace {

using test::TempDir;

TEST(ReadBytes, AcceptsExactlyTheLimitAndRefusesOneByteMore) {
  TempDir dir;
  const std::string at = dir.write("at", std::string(100, 'a'));
  const std::string over = dir.write("over", std::string(101, 'a'));
  const std::string empty = dir.write("empty", "");
  EXPECT_EQ(read_bytes(at, "file", 100).value(), std::string(100, 'a'));
  EXPECT_EQ(read_bytes(over, "key", 100).error(), "key " + over + " is larger than the 100-byte limit; refusing to read it");
  EXPECT_EQ(read_bytes(empty, "file", 0).value(), "");
  EXPECT_EQ(read_bytes(at, "file", 0).error(), "file " + at + " is larger than the 0-byte limit; refusing to read it");
}

TEST(ReadBytes, CutsOffAnEndlessFile) {
  // /dev/zero reports size 0 and never ends: only a reader that counts bytes stops.
  EXPECT_EQ(read_bytes("/dev/zero", "file", 300000).error(),
            "file /dev/zero is larger than the 300000-byte limit; refusing to read it");
}

TEST(ReadBytes, ReportsTheSystemReason) {
  TempDir dir;
  const std::string missing = dir.path("missing");
  EXPECT_EQ(read_bytes(missing, "head", 10).error(), "cannot read head " + missing + ": No such file or directory (os error 2)");
  EXPECT_EQ(read_bytes(dir.path(""), "file", 10).error(), "cannot read file " + dir.path("") + ": Is a directory (os error 21)");
  // Paths in messages cannot carry terminal controls.
  EXPECT_EQ(read_bytes(dir.path("a\x1b]0;x\x07"), "file", 10).error(),
            "cannot read file " + dir.path("a\\u{001b}]0;x\\u{0007}") + ": No such file or directory (os error 2)");
}

TEST(ReadText, RefusesInvalidUtf8AnywhereAndKeepsTheBytesOtherwise) {
  TempDir dir;
  const std::string bad = dir.write("bad", "{\"a\":1}\n# trailing \xff\n");
  const std::string bom = dir.write("bom", "\xef\xbb\xbf{}\r\n\n");
  EXPECT_EQ(read_text(bad, "snapshot", 100).error(), "snapshot " + bad + " is not UTF-8 text");
  EXPECT_EQ(read_text(bom, "file", 100).value(), "\xef\xbb\xbf{}\r\n\n");
  EXPECT_EQ(read_bytes(bad, "file", 100).value(), "{\"a\":1}\n# trailing \xff\n");
  // The size limit is judged before the encoding.
  EXPECT_EQ(read_text(bad, "file", 5).error(), "file " + bad + " is larger than the 5-byte limit; refusing to read it");
}

TEST(SameFile, ComparesResolvedPathsAndIgnoresUnresolvable) {
  TempDir dir;
  const std::string a = dir.write("a", "x");
  const std::string b = dir.write("b", "x");
  std::filesystem::create_symlink(a, dir.path("link"));
  std::filesystem::create_directory(dir.path("sub"));
  EXPECT_TRUE(same_file(a, dir.path("link")));
  EXPECT_TRUE(same_file(a, dir.path("sub/../a")));
  EXPECT_FALSE(same_file(a, b));
  EXPECT_FALSE(same_file(dir.path("missing"), dir.path("missing")));
}

TEST(SameFile, FirstSharedFileNamesTheEarlierInputOfTheFirstPair) {
  TempDir dir;
  const std::string a = dir.write("a", "x");
  const std::string b = dir.write("b", "x");
  const std::string c = dir.write("c", "x");
  std::filesystem::create_symlink(b, dir.path("b2"));
  std::filesystem::create_symlink(c, dir.path("c2"));
  EXPECT_EQ(first_shared_file({a, b, c}), std::nullopt);
  EXPECT_EQ(first_shared_file({a, b, c, a}), 0u);
  // (1,4) is compared before (2,3).
  EXPECT_EQ(first_shared_file({a, b, c, dir.path("c2"), dir.path("b2")}), 1u);
  EXPECT_EQ(first_shared_file({a, dir.path("gone"), dir.path("gone")}), std::nullopt);
}

}  // namespace
}  // namespace orv::cli
