#include "json/scan.h"

#include <charconv>
#include <cmath>

#include "core/text.h"

namespace orv::json::detail {
namespace {

constexpr std::string_view kControlCharacter = "control character (\\u0000-\\u001F) found while parsing a string";

// Byte at i, or -1 past the end.
int byte_at(std::string_view text, size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : -1; }

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }

int hex_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The last non-space character before offset, or -1.
int previous_non_space(std::string_view text, size_t offset) {
  for (size_t i = std::min(offset, text.size()); i > 0; --i) {
    const int c = byte_at(text, i - 1);
    if (!is_space(c)) return c;
  }
  return -1;
}

// A digit right after a "0" that ended a number: RapidJSON stops the number at the zero and
// then trips over the digit, which is a leading zero, not a missing comma.
bool leading_zero_at(std::string_view text, size_t offset) {
  return offset > 0 && is_digit(byte_at(text, offset)) && text[offset - 1] == '0';
}

Fault eof(std::string_view text, std::string_view message) { return {std::string(message), text.size()}; }

// Reads four hex digits at i; on a fault sets it and returns -1.
long hex4(std::string_view text, size_t i, std::optional<Fault>& fault) {
  long value = 0;
  for (size_t k = 0; k < 4; ++k) {
    const int c = byte_at(text, i + k);
    if (c < 0) {
      fault = eof(text, "EOF while parsing a string");
      return -1;
    }
    const int h = hex_value(c);
    if (h < 0) {
      fault = Fault{"unexpected end of hex escape", i + k};
      return -1;
    }
    value = value * 16 + h;
  }
  return value;
}

// RapidJSON reports a bad \u escape (and a bad surrogate pair) at the first backslash; this
// walks the escape again to say what is wrong and where.
Fault escape_fault(std::string_view text, size_t offset) {
  std::optional<Fault> fault;
  const long first = hex4(text, offset + 2, fault);
  if (fault) return *fault;
  if (first < 0xD800 || first > 0xDBFF) return {"invalid escape", offset};  // not expected from RapidJSON
  const size_t next = offset + 6;
  const int backslash = byte_at(text, next);
  if (backslash < 0) return eof(text, "EOF while parsing a string");
  if (backslash != '\\') return {"lone leading surrogate in hex escape", next};
  const int u = byte_at(text, next + 1);
  if (u < 0) return eof(text, "EOF while parsing a string");
  if (u != 'u') return {"lone leading surrogate in hex escape", next};
  const long second = hex4(text, next + 2, fault);
  if (fault) return *fault;
  if (second < 0xDC00 || second > 0xDFFF) return {"lone leading surrogate in hex escape", next};
  return {"invalid escape", offset};  // a valid pair; not expected from RapidJSON
}

// Saturating decimal exponent of a number's text ("e-12" -> -12).
long exponent_of(std::string_view text) {
  const size_t e = text.find_first_of("eE");
  if (e == std::string_view::npos) return 0;
  size_t i = e + 1;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long value = 0;
  for (; i < text.size() && is_digit(byte_at(text, i)); ++i) {
    if (value < 100000000) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

// from_chars refuses both overflow and underflow; a JSON number that underflows is zero, one
// that overflows has no double. Decides which by the power of ten of the first significant
// digit, so that "0.000...1" (no exponent) is recognised as tiny.
bool underflows(std::string_view text) {
  const size_t e = std::min(text.find_first_of("eE"), text.size());
  const std::string_view mantissa = text.substr(0, e);
  const size_t point = std::min(mantissa.find('.'), mantissa.size());
  long position = 0;  // power of ten of the first non-zero digit
  bool found = false;
  for (size_t i = 0; i < mantissa.size() && !found; ++i) {
    if (!is_digit(byte_at(mantissa, i)) || mantissa[i] == '0') continue;
    found = true;
    position = i < point ? static_cast<long>(point - i - 1) : -static_cast<long>(i - point);
  }
  return !found || position + exponent_of(text) < 0;
}

}  // namespace

std::string with_position(std::string_view text, const Fault& fault) {
  const size_t offset = std::min(fault.offset, text.size());
  uint64_t line = 1;
  size_t line_start = 0;
  for (size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return fault.message + " at line " + decimal(line) + " column " + decimal(offset - line_start + 1);
}

Fault grammar_fault(std::string_view text, rapidjson::ParseErrorCode code, size_t offset) {
  using namespace rapidjson;
  offset = std::min(offset, text.size());
  // A NUL byte inside the text looks like the end to RapidJSON; only the real end is EOF.
  const bool at_end = offset == text.size();
  const int c = byte_at(text, offset);
  const int before = previous_non_space(text, offset);
  switch (code) {
    case kParseErrorDocumentEmpty: return at_end ? eof(text, "EOF while parsing a value") : Fault{"expected value", offset};
    case kParseErrorValueInvalid:
      if (at_end) return eof(text, before == '[' ? "EOF while parsing a list" : "EOF while parsing a value");
      if (c == ']' && before == ',') return {"trailing comma", offset};
      if (offset > 0 && text[offset - 1] == '-') return {"invalid number", offset};
      return {"expected value", offset};
    case kParseErrorObjectMissName:
      if (at_end) return eof(text, before == '{' ? "EOF while parsing an object" : "EOF while parsing a value");
      if (c == '}' && before == ',') return {"trailing comma", offset};
      return {"key must be a string", offset};
    case kParseErrorObjectMissColon: return at_end ? eof(text, "EOF while parsing an object") : Fault{"expected `:`", offset};
    case kParseErrorObjectMissCommaOrCurlyBracket:
      if (at_end) return eof(text, "EOF while parsing an object");
      return {leading_zero_at(text, offset) ? "invalid number" : "expected `,` or `}`", offset};
    case kParseErrorArrayMissCommaOrSquareBracket:
      if (at_end) return eof(text, "EOF while parsing a list");
      return {leading_zero_at(text, offset) ? "invalid number" : "expected `,` or `]`", offset};
    case kParseErrorStringEscapeInvalid:
      if (c == '\\') {
        if (offset + 1 >= text.size()) return eof(text, "EOF while parsing a string");
        return {"invalid escape", offset + 1};
      }
      return {std::string(kControlCharacter), offset};
    case kParseErrorStringMissQuotationMark:
      return at_end ? eof(text, "EOF while parsing a string") : Fault{std::string(kControlCharacter), offset};
    case kParseErrorStringUnicodeEscapeInvalidHex:
    case kParseErrorStringUnicodeSurrogateInvalid: return escape_fault(text, offset);
    case kParseErrorStringInvalidEncoding: return {"invalid unicode code point", offset};
    case kParseErrorNumberTooBig: return {"number out of range", offset};
    case kParseErrorNumberMissFraction:
    case kParseErrorNumberMissExponent: return at_end ? eof(text, "EOF while parsing a value") : Fault{"invalid number", offset};
    case kParseErrorDocumentRootNotSingular: return {"trailing characters", offset};
    default:  // Termination comes with the handler's own fault; comments are never enabled
      return {"expected value", offset};
  }
}

Expected<void, Fault> trailing_fault(std::string_view text, size_t end) {
  size_t i = end;
  while (i < text.size() && is_space(byte_at(text, i))) ++i;
  if (i == text.size()) return {};
  return Fault{leading_zero_at(text, i) ? "invalid number" : "trailing characters", i};
}

std::optional<Number> read_number(std::string_view text) {
  Number number;
  number.integer_text = text.find_first_of(".eE") == std::string_view::npos;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (number.integer_text) {
    if (!text.empty() && text[0] == '-') {
      if (std::from_chars(first, last, number.i).ec == std::errc()) {
        number.form = Number::Form::Int64;
        return number;
      }
    } else if (std::from_chars(first, last, number.u).ec == std::errc()) {
      number.form = Number::Form::Uint64;
      return number;
    }
  }
  const auto [ptr, ec] = std::from_chars(first, last, number.d);
  if (ec == std::errc::result_out_of_range && underflows(text)) {
    number.d = !text.empty() && text[0] == '-' ? -0.0 : 0.0;
  } else if (ec != std::errc() || ptr != last || !std::isfinite(number.d)) {
    return std::nullopt;
  }
  number.form = Number::Form::Double;
  return number;
}

size_t number_start(std::string_view text, size_t end) {
  size_t i = std::min(end, text.size());
  while (i > 0) {
    const char c = text[i - 1];
    if (!(is_digit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E')) break;
    --i;
  }
  return i;
}

bool Watch::refuse(std::string message, size_t offset) {
  fault_ = Fault{std::move(message), offset};
  return false;
}

bool Watch::open() {
  if (depth_ >= kMaxDepth) return refuse("recursion limit exceeded", source_.Tell());
  ++depth_;
  mark();
  return true;
}

void Watch::close() {
  --depth_;
  mark();
}

bool Watch::decoded_text_ok(const char* data, size_t length) {
  // Raw input was validated as UTF-8, so surrogate bytes (ED A0..BF) can only come from an
  // escape.
  for (size_t i = 0; i + 1 < length; ++i) {
    if (static_cast<unsigned char>(data[i]) == 0xED && static_cast<unsigned char>(data[i + 1]) >= 0xA0) {
      return refuse("invalid unicode code point", lone_surrogate_offset());
    }
  }
  mark();
  return true;
}

// Offset of the first lone trailing surrogate escape in the string that ends at the stream's
// position. Between the previous event and this string there are only brackets, commas,
// colons and spaces, so the first quote after the previous event opens it. RapidJSON has
// accepted the string, so every leading surrogate escape in it is followed by a trailing one.
size_t Watch::lone_surrogate_offset() const {
  size_t i = text_.find('"', last_);
  if (i == std::string_view::npos) return last_;
  const size_t end = source_.Tell();
  for (++i; i < end;) {
    if (text_[i] != '\\') {
      ++i;
      continue;
    }
    if (byte_at(text_, i + 1) != 'u') {
      i += 2;
      continue;
    }
    std::optional<Fault> ignored;
    const long unit = hex4(text_, i + 2, ignored);
    if (unit >= 0xDC00 && unit <= 0xDFFF) return i;
    i += unit >= 0xD800 && unit <= 0xDBFF ? 12 : 6;
  }
  return last_;
}

}  // namespace orv::json::detail
