// RFC 8785 canonical JSON writer with the I-JSON number domain.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/result.h"
#include "json/document.h"

namespace orv::json {

// A streaming writer. Each object's members are buffered as text and emitted sorted by name
// (as UTF-16 code units, per RFC 8785) when the object ends; a repeated name replaces the
// earlier member. Protocol for an object: begin_object; for each member begin_object_key,
// the name (string), end_object_key, begin_object_value, the value, end_object_value;
// end_object. Arrays: begin_array, the elements, end_array.
//
// Every call returns false once the writer has failed (a number outside the I-JSON domain, a
// call out of order, text that is not UTF-8); the first failure is kept and later calls do
// nothing.
class CanonicalWriter {
 public:
  bool begin_object();
  bool begin_object_key();
  bool end_object_key();
  bool begin_object_value();
  bool end_object_value();
  bool end_object();
  bool begin_array();
  bool end_array();

  // begin_object_key, the name, end_object_key, begin_object_value.
  bool key(std::string_view name);

  bool null();
  bool boolean(bool value);
  // Integers must satisfy |n| <= 2^53.
  bool integer(int64_t value);
  bool integer(uint64_t value);
  template <class T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool>) bool integer(T value) {
    if constexpr (std::is_signed_v<T>) {
      return integer(static_cast<int64_t>(value));
    } else {
      return integer(static_cast<uint64_t>(value));
    }
  }
  // Finite, and |x| <= 2^53 or |x| >= 1e21.
  bool number(double value);
  // Must be UTF-8.
  bool string(std::string_view value);

  // The canonical bytes of the one complete value written, or
  // "value is not JCS-serializable: {}".
  Expected<std::string, std::string> finish() const;
  // The first failure, without the wrapping; empty while none.
  const std::string& error() const { return error_; }

 private:
  enum class Part { Idle, InName, NameDone, InValue };
  struct Frame {
    Part part = Part::Idle;
    bool filled = false;  // the current name or value has been started
    std::string name;     // the member name as written, quotes and escapes included
    std::string value;
    std::map<std::u16string, std::pair<std::string, std::string>> members;  // name text, value text
  };
  struct Container {
    bool object = false;
    size_t elements = 0;  // arrays: how many have been started
  };

  bool fail(std::string message);
  std::string& sink();
  bool begin_value();
  void end_value();
  bool scalar(std::string_view text);
  bool need_object(std::string_view call);

  std::string output_;
  std::vector<Frame> frames_;          // open objects
  std::vector<Container> containers_;  // open objects and arrays, innermost last
  bool root_started_ = false;
  bool root_done_ = false;
  std::string error_;
};

// Canonical bytes of a parsed value, or "value is not JCS-serializable: {}".
Expected<std::string, std::string> canonicalize(const Value& value);

}  // namespace orv::json
