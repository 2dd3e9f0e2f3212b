#include <set>
#include <vector>

#include "core/text.h"
#include "json/document.h"
#include "json/number_text.h"
#include "json/scan.h"

namespace orv::json {
namespace {

// Positions of the token-level violations: a number is reported just after its last
// character, a duplicate member name just after its closing quote (where the stream stands
// when the token has been read). Grammar errors point at the offending character itself.
class StrictHandler : public detail::Watch {
 public:
  using Watch::Watch;

  bool Null() { return accept(); }
  bool Bool(bool) { return accept(); }

  bool RawNumber(const char* data, rapidjson::SizeType length, bool) {
    const std::string_view text(data, length);
    // A digit right after the number means it was written with a leading zero ("-01"): a
    // grammar error, which RapidJSON reports at that digit next.
    if (source_.Peek() >= '0' && source_.Peek() <= '9') return accept();
    const std::optional<detail::Number> number = detail::read_number(text);
    if (!number) return refuse("number out of range", detail::number_start(text_, source_.Tell()));
    const bool canonical = number->integer_text && text != "-0" && number->form != detail::Number::Form::Double;
    if (!canonical) {
      const double value = number->form == detail::Number::Form::Int64    ? static_cast<double>(number->i)
                           : number->form == detail::Number::Form::Uint64 ? static_cast<double>(number->u)
                                                                          : number->d;
      const std::string shown = text == "-0" ? "-0" : detail::plain_decimal(value);
      return refuse("number " + shown +
                        " is not a canonical integer (fractions, exponents, -0 and integers beyond 64 bits are never "
                        "issued)",
                    source_.Tell());
    }
    return accept();
  }

  bool String(const char* data, rapidjson::SizeType length, bool) { return decoded_text_ok(data, length); }

  bool Key(const char* data, rapidjson::SizeType length, bool) {
    if (!decoded_text_ok(data, length)) return false;
    std::string name(data, length);
    if (names_.back().contains(name)) return refuse("duplicate key " + name, source_.Tell());
    names_.back().insert(std::move(name));
    return true;
  }

  bool StartObject() { return enter(); }
  bool StartArray() { return enter(); }
  bool EndObject(rapidjson::SizeType) { return leave(); }
  bool EndArray(rapidjson::SizeType) { return leave(); }

 private:
  bool accept() {
    mark();
    return true;
  }
  bool enter() {
    if (!open()) return false;
    names_.emplace_back();
    return true;
  }
  bool leave() {
    close();
    names_.pop_back();
    return true;
  }

  // The member names seen so far in each open array or object (arrays keep theirs empty).
  // An ordered set: hostile names cannot degrade it the way they can a hash table.
  std::vector<std::set<std::string>> names_;
};

}  // namespace

Expected<void, std::string> strict_check(std::string_view text) {
  detail::Source source(text);
  StrictHandler handler(text, source);
  if (auto events = detail::run(text, source, handler); !events.ok()) {
    return fail(detail::with_position(text, events.error()));
  }
  return {};
}

Expected<void, Problem> size_guard(std::string_view label, uint64_t size, uint64_t limit) {
  if (size <= limit) return {};
  return Problem{"INPUT_TOO_LARGE", std::string(label) + " is " + decimal(size) + " bytes; the limit is " + decimal(limit) +
                                        " bytes. Refusing without parsing it"};
}

}  // namespace orv::json
