// docs/orvelant-verify.1 follows the program: every synopsis line of the usage text is in the
// man page's SYNOPSIS with the same options, every option the argument scan accepts is described
// under OPTIONS, and the header names the program's version.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/usage.h"

namespace orv::test {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// One line of roff as the words a reader sees: the macro name and font changes dropped, the
// escaped minus, non-breaking space and quote written plainly, and .OP's operands bracketed.
std::string plain(std::string line) {
  const bool option_macro = line.starts_with(".OP ");
  if (line.starts_with(".")) line.erase(0, std::min(line.find(' '), line.size()));
  for (const char* font : {"\\fB", "\\fI", "\\fR", "\\fP"}) replace_all(line, font, "");
  replace_all(line, "\\-", "-");
  replace_all(line, "\\~", " ");
  replace_all(line, "\\&", "");
  replace_all(line, "\\(dq", "\"");
  replace_all(line, "\"", "");
  return option_macro ? " [" + line + " ]" : line;
}

// The words of a text, with the brackets and ellipses of a synopsis removed.
std::set<std::string> words_of(std::string text) {
  for (char& c : text) {
    if (c == '[' || c == ']') c = ' ';
  }
  replace_all(text, "...", " ");
  std::set<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.insert(word);
  return words;
}

const std::vector<std::string>& man_page() {
  static const std::vector<std::string> lines = lines_of(read_file(fs::path(ORV_SOURCE_DIR) / "docs" / "orvelant-verify.1"));
  return lines;
}

// The plain text of the lines under one .SH heading.
std::vector<std::string> section(const std::string& name) {
  std::vector<std::string> out;
  bool inside = false;
  for (const std::string& line : man_page()) {
    if (line.starts_with(".SH ")) {
      inside = line == ".SH " + name || line == ".SH \"" + name + "\"";
    } else if (inside) {
      out.push_back(line);
    }
  }
  return out;
}

// Each synopsis entry (.SY to .YS) as its set of words.
std::vector<std::set<std::string>> synopsis_entries() {
  std::vector<std::set<std::string>> entries;
  std::string entry;
  for (const std::string& line : section("SYNOPSIS")) {
    if (line.starts_with(".SY")) entry.clear();
    if (line.starts_with(".YS")) {
      entries.push_back(words_of(entry));
    } else {
      entry += " " + plain(line);
    }
  }
  return entries;
}

TEST(ManPage, SynopsisHasEveryUsageLineWithItsOptions) {
  const std::vector<std::set<std::string>> entries = synopsis_entries();
  ASSERT_FALSE(entries.empty()) << "docs/orvelant-verify.1 has no .SY entries under SYNOPSIS";
  size_t usage_lines = 0;
  for (const std::string& line : lines_of(std::string(cli::usage_text()))) {
    if (!line.starts_with("    orvelant-verify ")) continue;
    ++usage_lines;
    const std::set<std::string> usage = words_of(line);
    std::istringstream in(line);
    std::string program, command;
    in >> program >> command;
    std::set<std::string> options;
    for (const std::string& word : usage) {
      if (word.starts_with("-")) options.insert(word);
    }
    const auto entry = std::find_if(entries.begin(), entries.end(), [&](const std::set<std::string>& words) {
      return words.contains(command) &&
             std::all_of(options.begin(), options.end(), [&](const std::string& o) { return words.contains(o); });
    });
    EXPECT_NE(entry, entries.end()) << "no SYNOPSIS entry with " << command << " and its options for:\n" << line;
  }
  EXPECT_GE(usage_lines, 8u) << "the usage text's synopsis lines were not found";
}

TEST(ManPage, OptionsDescribesEveryOptionTheArgumentScanAccepts) {
  const std::string args = read_file(fs::path(ORV_SOURCE_DIR) / "src" / "cli" / "args.cpp");
  std::string options_text;
  for (const std::string& line : section("OPTIONS")) options_text += " " + plain(line);
  const std::set<std::string> described = words_of(options_text);

  static const std::regex option(R"re("(--[a-z][a-z-]*|-[a-zA-Z])")re");
  size_t accepted = 0;
  for (auto it = std::sregex_iterator(args.begin(), args.end(), option); it != std::sregex_iterator(); ++it) {
    ++accepted;
    const std::string name = (*it)[1].str();
    // Described items read "--key KEYFILE" or "-h, --help".
    EXPECT_TRUE(described.contains(name) || described.contains(name + ",")) << name << " is not under OPTIONS";
  }
  EXPECT_GE(accepted, 9u) << "the option names were not found in src/cli/args.cpp";
}

TEST(ManPage, HeaderNamesTheProgramVersion) {
  const auto th =
      std::find_if(man_page().begin(), man_page().end(), [](const std::string& line) { return line.starts_with(".TH "); });
  ASSERT_NE(th, man_page().end()) << "docs/orvelant-verify.1 has no .TH line";
  std::string header = *th;
  replace_all(header, "\\-", "-");
  EXPECT_NE(header.find('"' + std::string(cli::version_line()) + '"'), std::string::npos)
      << header << " does not carry \"" << cli::version_line() << '"';
}

}  // namespace
}  // namespace orv::test
