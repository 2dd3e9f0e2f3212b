// docs/problems.md documents every code of the problem-code table, and only those, with a
// Result column that agrees with whether the code refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/problem_codes.h"

namespace orv::test {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Each documented code with the Result cells of its rows ("REFUSED", "INVALID"; none for the
// log checks' codes, which only appear inside other problems' messages).
std::map<std::string, std::set<std::string>> documented_codes() {
  const fs::path path = fs::path(ORV_SOURCE_DIR) / "docs" / "problems.md";
  std::istringstream text(read_file(path));
  EXPECT_FALSE(text.str().empty()) << path << " is missing or empty";
  static const std::regex row(R"(^\| `([A-Z][A-Z0-9_]*)` \|(?: (REFUSED|INVALID) \|)?)");
  std::map<std::string, std::set<std::string>> codes;
  std::smatch match;
  for (std::string line; std::getline(text, line);) {
    if (!std::regex_search(line, match, row)) continue;
    std::set<std::string>& results = codes[match[1].str()];
    if (match[2].matched) results.insert(match[2].str());
  }
  return codes;
}

TEST(ProblemDocs, EveryCodeOfTheTableIsDocumentedAndNoOther) {
  std::map<std::string, std::set<std::string>> documented = documented_codes();
  for (const ProblemCodeEntry& entry : kProblemCodes) {
    EXPECT_EQ(documented.erase(std::string(entry.text)), 1u) << entry.text << " has no row in docs/problems.md";
  }
  for (const auto& [code, results] : documented) ADD_FAILURE() << code << " is documented but not in the table";
}

TEST(ProblemDocs, ResultColumnAgreesWithTheTable) {
  const std::map<std::string, std::set<std::string>> documented = documented_codes();
  for (const ProblemCodeEntry& entry : kProblemCodes) {
    const auto found = documented.find(std::string(entry.text));
    if (found == documented.end()) continue;
    const std::set<std::string>& results = found->second;
    // A code may refuse in some commands only; one that never refuses is never documented so.
    if (entry.refuses) {
      EXPECT_TRUE(results.contains("REFUSED")) << entry.text << " refuses, but no row says so";
    } else {
      EXPECT_NE(results, std::set<std::string>{"REFUSED"}) << entry.text << " is REFUSED in every row, yet never refuses";
    }
  }
}

}  // namespace
}  // namespace orv::test
