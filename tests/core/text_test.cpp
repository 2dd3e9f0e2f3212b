#include <gtest/gtest.h>

#include "core/text.h"
#include "core/time_text.h"

namespace orv {
namespace {

TEST(TerminalSafe, EscapesControlInvisibleAndBidiCharacters) {
  EXPECT_EQ(terminal_safe("a\nb\x1b[31m"), "a\\u{000a}b\\u{001b}[31m");
  EXPECT_EQ(terminal_safe("\u202e"), "\\u{202e}");
  EXPECT_EQ(terminal_safe("\u2066"), "\\u{2066}");
  EXPECT_EQ(terminal_safe("\x7f\u0085\u061c\u180e\ufeff\u200b\u200f\u2028\u2060\u2064\u2069"),
            "\\u{007f}\\u{0085}\\u{061c}\\u{180e}\\u{feff}\\u{200b}\\u{200f}\\u{2028}\\u{2060}\\u{2064}\\u{2069}");
}

// Paths, option names and command words come from argv and are never checked as UTF-8: a byte
// that starts no character (a raw C1 CSI among them) is shown as a value, never written out.
TEST(TerminalSafe, ShowsBytesThatAreNotUtf8) {
  EXPECT_EQ(terminal_safe("\x9b"
                          "2J"),
            "\\x{9b}2J");
  EXPECT_EQ(terminal_safe("a\xe2\x82"), "a\\x{e2}\\x{82}");                        // cut short at the end
  EXPECT_EQ(terminal_safe("\xc0\xaf/\xff\xfe"), "\\x{c0}\\x{af}/\\x{ff}\\x{fe}");  // overlong, never-valid bytes
  EXPECT_EQ(terminal_safe("\xed\xa0\x80\u00e9"), "\\x{ed}\\x{a0}\\x{80}\u00e9");   // a surrogate, then a character
}

TEST(TerminalSafe, KeepsOrdinaryText) {
  EXPECT_EQ(terminal_safe("caf\u00e9 \u2065 \u00a0 /x"), "caf\u00e9 \u2065 \u00a0 /x");
  EXPECT_EQ(terminal_safe("\u2010\u2027\u202f\u206a\U0001F600"), "\u2010\u2027\u202f\u206a\U0001F600");
}

TEST(Utf8, RejectsMalformedSequences) {
  EXPECT_TRUE(is_valid_utf8("plain \u00e9\U0010FFFF"));
  EXPECT_FALSE(is_valid_utf8("\xc0\xaf"));          // overlong
  EXPECT_FALSE(is_valid_utf8("\xed\xa0\x80"));      // surrogate D800
  EXPECT_FALSE(is_valid_utf8("\xf4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\xe2\x82"));          // truncated
  EXPECT_FALSE(is_valid_utf8("\x80"));
}

TEST(TrimUnicode, RemovesUnicodeWhiteSpaceAtBothEnds) {
  EXPECT_EQ(trim_unicode(" \t\r\n ab c\n"), "ab c");
  EXPECT_EQ(trim_unicode("\u3000\u00a0x\u2029"), "x");
  EXPECT_EQ(trim_unicode("\u200bx"), "\u200bx");  // zero-width space is not white space
  EXPECT_EQ(trim_unicode("   "), "");
}

TEST(TimeText, FormatsUtcSeconds) {
  EXPECT_EQ(utc_time_text(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(utc_time_text(1738310709), "2025-01-31T08:05:09Z");
  EXPECT_EQ(utc_time_text(951782400), "2000-02-29T00:00:00Z");
  EXPECT_EQ(utc_time_text(4102444799), "2099-12-31T23:59:59Z");
}

}  // namespace
}  // namespace orv
