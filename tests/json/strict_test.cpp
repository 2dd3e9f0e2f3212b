#include <gtest/gtest.h>

#include <string>

#include "json/document.h"
#include "support/printers.h"

namespace orv::json {
namespace {

const std::string kNotCanonical =
    " is not a canonical integer (fractions, exponents, -0 and integers beyond 64 bits are never issued)";

std::string strict_error(std::string_view text) { return error_of(strict_check(text)).value_or("(accepted)"); }

TEST(StrictCheck, AcceptsIssuerForms) {
  for (const char* text : {"-9223372036854775808", "18446744073709551615", "0", "-1", "5", "\"x\"", "null", "true", "{}\n",
                           "[]\r\n\t ", "{\"a\":{\"a\":1}}", "[{\"a\":1},{\"a\":2}]", "{\"a\":1,\"A\":2}",
                           "{\"\\u00e9\":\"\\u00e9\",\"\u00e9x\":1}", "{\"a\":[1,2,{\"b\":null}],\"b\":\"\\ud83d\\ude00\"}"}) {
    EXPECT_TRUE(strict_check(text).ok()) << text;
  }
}

TEST(StrictCheck, RefusesNumbersThatAreNotCanonicalIntegersShowingThemAsPlainDecimals) {
  const struct {
    const char* text;
    std::string shown;
    int column;  // just after the number
  } cases[] = {
      {"1.0", "1", 4},
      {"1e2", "100", 4},
      {"1E2", "100", 4},
      {"1e+2", "100", 5},
      {"-0", "-0", 3},
      {"-0.0", "-0", 5},
      {"0.5", "0.5", 4},
      {"[1, 2.50]", "2.5", 9},
      {"18446744073709551616", "18446744073709552000", 21},
      {"-9223372036854775809", "-9223372036854776000", 21},
      {"1e-7", "0.0000001", 5},
      {"-1.5e-10", "-0.00000000015", 9},
      {"123456.789e3", "123456789", 13},
      {"1e300", "1" + std::string(300, '0'), 6},
      {"1e-400", "0", 7},
      {"{\"a\": 0.1}", "0.1", 10},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(strict_error(c.text), "number " + c.shown + kNotCanonical + " at line 1 column " + std::to_string(c.column))
        << c.text;
  }
  EXPECT_EQ(strict_error("{\n\"n\": -0\n}"), "number -0" + kNotCanonical + " at line 2 column 8");
}

TEST(StrictCheck, RefusesRepeatedMemberNamesAfterDecodingEscapes) {
  EXPECT_EQ(strict_error("{\"a\":1,\"a\":2}"), "duplicate key a at line 1 column 11");
  EXPECT_EQ(strict_error("{\"a\":1,\"\\u0061\":2}"), "duplicate key a at line 1 column 16");
  EXPECT_EQ(strict_error("{\"\\u00e9\":1,\"\u00e9\":2}"), "duplicate key \u00e9 at line 1 column 17");
  EXPECT_EQ(strict_error("{\"\":1,\"\":2}"), "duplicate key  at line 1 column 9");
  EXPECT_EQ(strict_error("{\"a\":{\"b\":1},\"c\":[{\"b\":1,\"b\":2}]}"), "duplicate key b at line 1 column 29");
  // The set belongs to one object: a closed nested object's names do not leak into its parent.
  EXPECT_TRUE(strict_check("{\"x\":{\"a\":1},\"a\":2}").ok());
  EXPECT_EQ(strict_error("{\"x\":{\"a\":1},\"a\":2,\"x\":3}"), "duplicate key x at line 1 column 23");
}

TEST(StrictCheck, ReportsTheFirstViolationInTextOrder) {
  EXPECT_EQ(strict_error("[1.5, {\"a\":1,\"a\":2}]"), "number 1.5" + kNotCanonical + " at line 1 column 5");
  EXPECT_EQ(strict_error("[{\"a\":1,\"a\":2}, 1.5]"), "duplicate key a at line 1 column 12");
  EXPECT_EQ(strict_error("[1.5"), "number 1.5" + kNotCanonical + " at line 1 column 5");
  EXPECT_EQ(strict_error("[1.5 x"), "number 1.5" + kNotCanonical + " at line 1 column 5");
  EXPECT_EQ(strict_error("{\"a\":1,\"a\":2"), "duplicate key a at line 1 column 11");
  EXPECT_EQ(strict_error("[1] 1.5"), "trailing characters at line 1 column 5");
  EXPECT_EQ(strict_error("[1, \"\\udc00\", 1.5]"), "invalid unicode code point at line 1 column 6");
  EXPECT_EQ(strict_error("[1e400, 1.5]"), "number out of range at line 1 column 2");
  EXPECT_EQ(strict_error("[2.5, " + std::string(200, '[')), "number 2.5" + kNotCanonical + " at line 1 column 5");
}

TEST(SizeGuard, RefusesOnlyAboveTheLimit) {
  EXPECT_TRUE(size_guard("the document", 1048576, 1048576).ok());
  EXPECT_TRUE(size_guard("the document", 0, 0).ok());
  const Expected<void, Problem> problem = size_guard("the document", 1048577, 1048576);
  ASSERT_FALSE(problem.ok());
  EXPECT_EQ(problem.error().code, "INPUT_TOO_LARGE");
  EXPECT_EQ(problem.error().message, "the document is 1048577 bytes; the limit is 1048576 bytes. Refusing without parsing it");
  EXPECT_EQ(size_guard("the chain", UINT64_MAX, 268435456).error().message,
            "the chain is 18446744073709551615 bytes; the limit is 268435456 bytes. Refusing without parsing it");
}

}  // namespace
}  // namespace orv::json
