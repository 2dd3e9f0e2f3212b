#include <gtest/gtest.h>

#include <algorithm>

#include "cli/args.h"
#include "cli/usage.h"
#include "crypto/digest.h"

namespace orv::cli {
namespace {

Scan scan_ok(const std::vector<std::string>& args) {
  Expected<Scan, std::string> scan = scan_arguments(args);
  EXPECT_TRUE(scan.ok()) << scan.error();
  return scan ? *scan : Scan{};
}

std::string scan_error(const std::vector<std::string>& args) {
  Expected<Scan, std::string> scan = scan_arguments(args);
  return scan ? "(accepted)" : scan.error();
}

TEST(UsageText, HasSixtyLinesAndNoFinalNewline) {
  const std::string_view text = usage_text();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 59);
  EXPECT_NE(text.back(), '\n');
  EXPECT_TRUE(text.starts_with("orvelant-verify \u2014 offline verifier for Orvelant receipts\n\nUSAGE:\n"));
  EXPECT_TRUE(text.ends_with("\nNothing is sent anywhere: this program opens no network connections."));
  // Pins every byte: scripts and the README quote this text.
  EXPECT_EQ(crypto::sha256_hex({reinterpret_cast<const uint8_t*>(text.data()), text.size()}),
            "48a895c740c50eaf0c2cba03ab451b622e08fe647d2d65f75af5aa70e41b0f54");
  EXPECT_EQ(version_line(), "orvelant-verify 0.1.0");
}

TEST(ScanArguments, HelpWinsEverywhereThenEmptyThenVersion) {
  EXPECT_EQ(scan_ok({"receipt", "f", "--key", "k", "--help"}).action, Action::Help);
  EXPECT_EQ(scan_ok({"--key", "-h", "receipt", "f"}).action, Action::Help);
  EXPECT_EQ(scan_ok({"--version", "--help"}).action, Action::Help);
  EXPECT_EQ(scan_ok({"--bogus", "-h"}).action, Action::Help);
  EXPECT_EQ(scan_ok({}).action, Action::EmptyHelp);
  EXPECT_EQ(scan_ok({"-V"}).action, Action::Version);
  EXPECT_EQ(scan_ok({"--bogus", "--key", "--version"}).action, Action::Version);
}

TEST(ScanArguments, FillsTheCommandLine) {
  const CommandLine line = scan_ok({"--json", "key-chain", "--expected", "a", "--json", "f", "--contains", "c1", "--expected",
                                    "--b", "--contains", "c2", "--snapshot", "s"})
                               .line;
  EXPECT_EQ(line.command, "key-chain");
  EXPECT_EQ(line.file, "f");
  EXPECT_TRUE(line.json);
  EXPECT_EQ(line.expected, (std::vector<std::string>{"a", "--b"}));
  EXPECT_EQ(line.contains, (std::vector<std::string>{"c1", "c2"}));
  EXPECT_EQ(line.snapshot, "s");
  EXPECT_FALSE(line.key);

  // An option's value is taken even when it looks like an option.
  const CommandLine key_json = scan_ok({"receipt", "f", "--key", "--json"}).line;
  EXPECT_EQ(key_json.key, "--json");
  EXPECT_FALSE(key_json.json);

  const CommandLine dashes = scan_ok({"-", "-x"}).line;
  EXPECT_EQ(dashes.command, "-");
  EXPECT_EQ(dashes.file, "-x");
}

// The message texts are checked end to end (binary_test.cpp); these pin the scan's order.
TEST(ScanArguments, ReportsTheFirstMistakeFromTheLeft) {
  EXPECT_EQ(scan_error({"receipt", "f", "--key", "k", "--key"}), "--key given more than once; pass exactly one key");
  EXPECT_EQ(scan_error({"x", "f", "--key-receipt", "a", "--key-receipt"}), "--key-receipt given more than once");
  EXPECT_EQ(scan_error({"x", "f", "--evidence"}), "--evidence needs a file");
  EXPECT_EQ(scan_error({"receipt", "--\x1b[2J"}), "unknown option --\\u{001b}[2J");
  // The option scan finishes before the positional count is judged.
  EXPECT_EQ(scan_error({"receipt", "--nope"}), "unknown option --nope");
  EXPECT_EQ(scan_error({"--json"}), "expected a command and one file");
  // The UTF-8 check comes before the option scan.
  EXPECT_EQ(scan_error({"--nope", "\xff"}), "argument 2 is not UTF-8 text");
}

TEST(ScanArguments, RefusesArgumentsThatAreNotUtf8) {
  EXPECT_EQ(scan_error({"receipt", "f\xff", "--key", "k"}), "argument 2 is not UTF-8 text");
  EXPECT_EQ(scan_error({"receipt", "f", "--key", "\xc0\xaf"}), "argument 4 is not UTF-8 text");
  // Letters outside ASCII are ordinary text.
  EXPECT_EQ(scan_ok({"receipt", "caf\u00e9"}).line.file, "caf\u00e9");
}

}  // namespace
}  // namespace orv::cli
