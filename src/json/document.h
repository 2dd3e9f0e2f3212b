// Strict JSON: parsing into a document, the one-pass strictness check and the size guard.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <rapidjson/document.h>

#include "core/result.h"
#include "core/verdict.h"

namespace orv::json {

using Value = rapidjson::Value;

// Owns one parsed JSON value. Numbers are held as RapidJSON holds them (Int64/Uint64/double).
class Document {
 public:
  Document();
  const Value& root() const;

 private:
  friend Expected<Document, std::string> parse(std::string_view text);
  std::unique_ptr<rapidjson::Document> doc_;
};

// Parses exactly one JSON value (iteratively; nesting beyond 127 levels is refused with
// "recursion limit exceeded"). A string holding a lone surrogate escape is not JSON.
// The error text is the parser's message followed by " at line {} column {}".
Expected<Document, std::string> parse(std::string_view text);

// The strictness check over raw text: the first violation's message with " at line {} column
// {}".
Expected<void, std::string> strict_check(std::string_view text);

// "INPUT_TOO_LARGE" when size exceeds limit (a size equal to the limit passes).
Expected<void, Problem> size_guard(std::string_view label, uint64_t size, uint64_t limit);

}  // namespace orv::json
