// Machinery shared by parse and strict_check: the input stream RapidJSON reads from, the
// checks both apply on top of RapidJSON's grammar (nesting, lone surrogate escapes, numbers
// that do not fit a double, trailing characters) and the wording of grammar errors.
// Internal to src/json.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <rapidjson/reader.h>

#include "core/result.h"

namespace orv::json::detail {

// Arrays and objects open at once; entering one more is refused.
inline constexpr int kMaxDepth = 127;

// The flags of every pass. Numbers arrive as their text, so that parse can convert them with
// correct rounding and strict_check can judge how they were written. We judge what follows
// the value ourselves: RapidJSON takes a NUL byte for the end of input, so without
// kParseStopWhenDoneFlag it would accept "{}\0anything".
inline constexpr unsigned kReaderFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag |
                                         rapidjson::kParseStopWhenDoneFlag | rapidjson::kParseNumbersAsStringsFlag;

// A RapidJSON input stream over a byte range that knows its offset. Peek and Take return '\0'
// at the end and stay there: RapidJSON's UTF-8 validator takes continuation bytes without
// looking for the end, and over a NUL-terminated buffer it would read past it.
class Source {
 public:
  using Ch = char;

  explicit Source(std::string_view text) : text_(text) {}

  Ch Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  Ch Take() { return pos_ < text_.size() ? text_[pos_++] : '\0'; }
  size_t Tell() const { return pos_; }

  // The write half of RapidJSON's stream concept, used only by in-situ parsing (never here).
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  size_t PutEnd(Ch*) { return 0; }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// A refusal and the byte offset it is reported at.
struct Fault {
  std::string message;
  size_t offset = 0;
};

// message + " at line {} column {}", both 1-based; the column counts bytes within the line.
std::string with_position(std::string_view text, const Fault& fault);

// RapidJSON's error code and offset turned into our wording and the offending character's
// offset.
Fault grammar_fault(std::string_view text, rapidjson::ParseErrorCode code, size_t offset);

// The fault for a non-space character after the value ending at `end`, if there is one.
Expected<void, Fault> trailing_fault(std::string_view text, size_t end);

// A number's text read as JSON numbers are held: int64 when negative and in range, uint64 when
// non-negative and in range, double otherwise. Nullopt when the value overflows a double.
struct Number {
  enum class Form { Int64, Uint64, Double } form = Form::Double;
  int64_t i = 0;
  uint64_t u = 0;
  double d = 0;
  bool integer_text = false;  // written without fraction or exponent
};
std::optional<Number> read_number(std::string_view text);

// Offset where the number ending at `end` starts.
size_t number_start(std::string_view text, size_t end);

// What both SAX handlers check beyond RapidJSON's grammar, with the offset of the previous
// event so that a string's escapes can be found in the raw text again.
class Watch {
 public:
  Watch(std::string_view text, const Source& source) : text_(text), source_(source) {}

  // At StartObject/StartArray, where the stream still stands on the bracket.
  bool open();
  void close();
  // A decoded string or member name. RapidJSON refuses a lone leading surrogate escape but
  // encodes a lone trailing one (\udc00) as the three bytes of the surrogate, which are not
  // UTF-8: such a string is refused here.
  bool decoded_text_ok(const char* data, size_t length);
  // Records where the event just seen ended; call after every accepted event.
  void mark() { last_ = source_.Tell(); }
  bool refuse(std::string message, size_t offset);

  const std::optional<Fault>& fault() const { return fault_; }

  // With numbers as strings RapidJSON reports every number through RawNumber; the typed
  // number events never arrive, and are refused should they ever.
  bool Int(int) { return unexpected(); }
  bool Uint(unsigned) { return unexpected(); }
  bool Int64(int64_t) { return unexpected(); }
  bool Uint64(uint64_t) { return unexpected(); }
  bool Double(double) { return unexpected(); }

 protected:
  bool unexpected() { return refuse("expected value", source_.Tell()); }

  std::string_view text_;
  const Source& source_;

 private:
  size_t lone_surrogate_offset() const;

  size_t last_ = 0;
  int depth_ = 0;
  std::optional<Fault> fault_;
};

// Runs RapidJSON over the whole text with handler (a Watch) and returns the first fault in
// text order: the handler's, a grammar error, or trailing characters.
template <class Handler>
Expected<void, Fault> run(std::string_view text, Source& source, Handler& handler) {
  rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>> reader;
  const rapidjson::ParseResult result = reader.Parse<kReaderFlags>(source, handler);
  if (handler.fault()) return *handler.fault();
  if (result.IsError()) return grammar_fault(text, result.Code(), result.Offset());
  return trailing_fault(text, source.Tell());
}

}  // namespace orv::json::detail
