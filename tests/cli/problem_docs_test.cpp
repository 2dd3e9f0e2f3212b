// docs/problems.md documents every problem code the program can report, and only those: the
// codes are read from the sources at test time, so adding or removing a code without its entry
// fails here.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace orv::test {
namespace {

namespace fs = std::filesystem;

// Upper-case string literals in src/ that are values the checks compare or write, not problem
// codes. An entry that no longer occurs in the sources fails a test below, so this list cannot
// quietly hide a code.
const std::set<std::string> kNotCodes = {
    "VALID", "INVALID", "REFUSED",  // the outcome words of a report
    "GENESIS",                      // what the first link of a chain names
    "EVIDENCE_MISSING", "NO_VERIFIER", "EVIDENCE_REJECTED", "POLICY_DENIED",  // a refusal's reason_code values
    "PKIX_ECDSA_P256_SHA_256", "SHA2_256",  // the key and digest names of a Rekor entry
    "SGX", "TDX", "QE", "TD_QE",            // identifiers inside Intel's collateral
    "EC",                                   // OpenSSL's name for the elliptic-curve key type
    "Z",                                    // the UTC designator of time text
    "TZ",                                   // the environment variable that selects UTC
};

bool is_code_text(std::string_view text) {
  static const std::regex pattern("[A-Z][A-Z0-9]*(_[A-Z0-9]+)*");
  return std::regex_match(text.begin(), text.end(), pattern);
}

// The string literals of C++ source text whose whole content has the form of a code (upper-case
// words joined by underscores). Comments are skipped, so a code that survives only in a comment
// is not counted as emitted; character literals and escapes are read so that a quote inside them
// does not open a string.
std::vector<std::string> code_shaped_literals(std::string_view source) {
  std::vector<std::string> found;
  size_t i = 0;
  const auto at = [&](size_t k) { return k < source.size() ? source[k] : '\0'; };
  while (i < source.size()) {
    const char c = source[i];
    if (c == '/' && at(i + 1) == '/') {
      while (i < source.size() && source[i] != '\n') ++i;
    } else if (c == '/' && at(i + 1) == '*') {
      const size_t end = source.find("*/", i + 2);
      i = end == std::string_view::npos ? source.size() : end + 2;
    } else if (c == '"' || (c == '\'' && !(i > 0 && std::isalnum(static_cast<unsigned char>(source[i - 1]))))) {
      // A quote right after a letter or digit is a digit separator, not a character literal.
      std::string text;
      for (++i; i < source.size() && source[i] != c; ++i) {
        if (source[i] == '\\') ++i;
        if (i < source.size()) text += source[i];
      }
      ++i;
      if (c == '"' && is_code_text(text)) found.push_back(std::move(text));
    } else {
      ++i;
    }
  }
  return found;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every code-shaped literal in the C++ sources under src/.
std::set<std::string> literals_in_sources() {
  const fs::path src = fs::path(ORV_SOURCE_DIR) / "src";
  std::set<std::string> literals;
  size_t files = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(src)) {
    const fs::path& path = entry.path();
    if (!entry.is_regular_file() || (path.extension() != ".cpp" && path.extension() != ".h")) continue;
    ++files;
    for (std::string& literal : code_shaped_literals(read_file(path))) literals.insert(std::move(literal));
  }
  EXPECT_GT(files, 0u) << "no C++ sources under " << src;
  return literals;
}

std::set<std::string> emitted_codes() {
  std::set<std::string> codes;
  for (const std::string& literal : literals_in_sources()) {
    if (!kNotCodes.contains(literal)) codes.insert(literal);
  }
  return codes;
}

// The codes docs/problems.md documents: the first cell of a table row, written as `CODE`.
std::set<std::string> documented_codes() {
  const fs::path path = fs::path(ORV_SOURCE_DIR) / "docs" / "problems.md";
  std::istringstream text(read_file(path));
  EXPECT_FALSE(text.str().empty()) << path << " is missing or empty";
  static const std::regex row(R"(^\| `([^`]+)` \|)");
  std::set<std::string> codes;
  std::smatch match;
  for (std::string line; std::getline(text, line);) {
    if (std::regex_search(line, match, row) && is_code_text(match[1].str())) codes.insert(match[1].str());
  }
  return codes;
}

std::string listed(const std::vector<std::string>& codes) {
  std::string out;
  for (const std::string& code : codes) out += "\n  " + code;
  return out;
}

TEST(ProblemDocs, LiteralScanFindsCodesOutsideCommentsOnly) {
  const std::string_view source = R"cpp(
    // "IN_LINE_COMMENT" is only talked about
    /* "IN_BLOCK_COMMENT" too */
    problems.push_back({"SIGNATURE_INVALID", "a \"QUOTED\" word"});
    add(line, "PARSE", std::string(1, '"') + "x");
    constexpr uint64_t kMany = 10'000; const char* k = "TLOG_PARSE";
    return "lower_case" + "Mixed_Case" + "ENDS_" + "A_B2_C3";
  )cpp";
  EXPECT_EQ(code_shaped_literals(source), (std::vector<std::string>{"SIGNATURE_INVALID", "PARSE", "TLOG_PARSE", "A_B2_C3"}));
}

TEST(ProblemDocs, EveryEmittedCodeIsDocumented) {
  const std::set<std::string> documented = documented_codes();
  std::vector<std::string> missing;
  for (const std::string& code : emitted_codes()) {
    if (!documented.contains(code)) missing.push_back(code);
  }
  EXPECT_TRUE(missing.empty()) << "codes in src/ without a row in docs/problems.md:" << listed(missing);
}

TEST(ProblemDocs, EveryDocumentedCodeIsEmitted) {
  const std::set<std::string> emitted = emitted_codes();
  std::vector<std::string> stale;
  for (const std::string& code : documented_codes()) {
    if (!emitted.contains(code)) stale.push_back(code);
  }
  EXPECT_TRUE(stale.empty()) << "codes documented in docs/problems.md that src/ no longer emits:" << listed(stale);
}

TEST(ProblemDocs, EveryValueLeftOutStillOccursAndIsNotDocumented) {
  const std::set<std::string> literals = literals_in_sources();
  const std::set<std::string> documented = documented_codes();
  for (const std::string& value : kNotCodes) {
    EXPECT_TRUE(literals.contains(value)) << value << " no longer occurs in src/; drop it from kNotCodes";
    EXPECT_FALSE(documented.contains(value)) << value << " is documented as a code but left out of the scan";
  }
}

}  // namespace
}  // namespace orv::test
