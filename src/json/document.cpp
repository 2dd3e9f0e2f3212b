#include "json/document.h"

#include "json/scan.h"

namespace orv::json {
namespace {

// Feeds RapidJSON's events into the document while applying the checks every parse shares.
// Numbers come as text and are converted here (std::from_chars rounds correctly; RapidJSON's
// default conversion may be off by one unit in the last place, which would change canonical
// forms).
class Builder : public detail::Watch {
 public:
  Builder(std::string_view text, const detail::Source& source, rapidjson::Document& target)
      : Watch(text, source), target_(target) {}

  bool Null() { return target_.Null() && accept(); }
  bool Bool(bool b) { return target_.Bool(b) && accept(); }

  bool RawNumber(const char* data, rapidjson::SizeType length, bool) {
    const std::optional<detail::Number> number = detail::read_number({data, length});
    if (!number) return refuse("number out of range", detail::number_start(text_, source_.Tell()));
    switch (number->form) {
      case detail::Number::Form::Int64: target_.Int64(number->i); break;
      case detail::Number::Form::Uint64: target_.Uint64(number->u); break;
      case detail::Number::Form::Double: target_.Double(number->d); break;
    }
    return accept();
  }

  bool String(const char* data, rapidjson::SizeType length, bool copy) {
    return decoded_text_ok(data, length) && target_.String(data, length, copy);
  }
  bool Key(const char* data, rapidjson::SizeType length, bool copy) {
    return decoded_text_ok(data, length) && target_.Key(data, length, copy);
  }
  bool StartObject() { return open() && target_.StartObject(); }
  bool EndObject(rapidjson::SizeType count) {
    close();
    return target_.EndObject(count);
  }
  bool StartArray() { return open() && target_.StartArray(); }
  bool EndArray(rapidjson::SizeType count) {
    close();
    return target_.EndArray(count);
  }

 private:
  bool accept() {
    mark();
    return true;
  }

  rapidjson::Document& target_;
};

}  // namespace

Document::Document() : doc_(std::make_unique<rapidjson::Document>()) {}

const Value& Document::root() const { return *doc_; }

Expected<Document, std::string> parse(std::string_view text) {
  Document result;
  detail::Source source(text);
  Expected<void, detail::Fault> events;
  // Populate clears the document's value stack whether or not the events complete a value.
  auto generate = [&](rapidjson::Document& target) {
    Builder builder(text, source, target);
    events = detail::run(text, source, builder);
    return events.ok();
  };
  result.doc_->Populate(generate);
  if (!events.ok()) return fail(detail::with_position(text, events.error()));
  return result;
}

}  // namespace orv::json
