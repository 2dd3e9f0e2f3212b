#include "prepare/signed_body.h"

#include "core/base64.h"
#include "core/text.h"
#include "prepare/verifier.h"

namespace orv::prepare {
namespace {

bool json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

size_t skip_space(std::string_view text, size_t at) {
  while (at < text.size() && json_space(text[at])) ++at;
  return at;
}

// The offset just past the string that opens at `at` (a '"').
size_t skip_string(std::string_view text, size_t at) {
  for (++at; at < text.size(); ++at) {
    if (text[at] == '\\') {
      ++at;
    } else if (text[at] == '"') {
      return at + 1;
    }
  }
  return text.size();
}

// The offset just past the value that starts at `at`; strings are skipped whole, so brackets
// inside them do not count.
size_t skip_value(std::string_view text, size_t at) {
  if (at >= text.size()) return at;
  if (text[at] == '"') return skip_string(text, at);
  if (text[at] != '{' && text[at] != '[') {
    while (at < text.size() && !json_space(text[at]) && text[at] != ',' && text[at] != '}' && text[at] != ']') ++at;
    return at;
  }
  size_t depth = 0;
  while (at < text.size()) {
    const char c = text[at];
    if (c == '"') {
      at = skip_string(text, at);
      continue;
    }
    if (c == '{' || c == '[') ++depth;
    if ((c == '}' || c == ']') && --depth == 0) return at + 1;
    ++at;
  }
  return at;
}

constexpr std::string_view kPemBegin = "-----BEGIN X509 CRL-----";
constexpr std::string_view kPemEnd = "-----END X509 CRL-----";

}  // namespace

std::optional<std::pair<size_t, size_t>> member_value_span(std::string_view object_text, std::string_view name) {
  size_t at = skip_space(object_text, 0);
  if (at >= object_text.size() || object_text[at] != '{') return std::nullopt;
  at = skip_space(object_text, at + 1);
  while (at < object_text.size() && object_text[at] == '"') {
    const size_t name_end = skip_string(object_text, at);
    const std::string_view written = object_text.substr(at + 1, name_end - at - 2);
    at = skip_space(object_text, name_end);
    if (at >= object_text.size() || object_text[at] != ':') return std::nullopt;
    const size_t value_start = skip_space(object_text, at + 1);
    const size_t value_end = skip_value(object_text, value_start);
    if (written == name) return std::make_pair(value_start, value_end);
    at = skip_space(object_text, value_end);
    if (at < object_text.size() && object_text[at] == ',') at = skip_space(object_text, at + 1);
  }
  return std::nullopt;
}

Expected<SignedBody, Reason> cut_signed_body(std::string_view body, std::string_view member) {
  const verifier::Read<std::vector<verifier::JsonMember>> members = verifier::json_object_members(body);
  if (!members) return Reason{"is " + members.error().text};
  SignedBody out;
  bool have_member = false;
  bool have_signature = false;
  for (const verifier::JsonMember& m : *members) {
    if ((m.name == member && have_member) || (m.name == "signature" && have_signature)) {
      return Reason{"has the member \"" + m.name + "\" twice"};
    }
    if (m.name == member && m.object) {
      have_member = true;
    } else if (m.name == "signature" && m.text) {
      have_signature = true;
      out.signature = *m.text;
    } else {
      return Reason{"has a member \"" + terminal_safe(m.name) + "\" where only \"" + std::string(member) +
                    "\" (an object) and \"signature\" (a string) belong"};
    }
  }
  if (!have_member) return Reason{"has no \"" + std::string(member) + "\" object"};
  if (!have_signature) return Reason{"has no \"signature\" string"};
  const std::optional<std::pair<size_t, size_t>> span = member_value_span(body, member);
  // The parser saw the member under its decoded name; only an escaped spelling hides it here.
  if (!span) return Reason{"writes the name \"" + std::string(member) + "\" with escapes"};
  out.signed_text = std::string(body.substr(span->first, span->second - span->first));
  return out;
}

Expected<std::vector<uint8_t>, Reason> crl_der(std::string_view body) {
  const size_t begin = body.find(kPemBegin);
  if (begin == std::string_view::npos) {
    // DER starts with a SEQUENCE; anything else is most likely an error page or a message.
    if (!body.empty() && static_cast<uint8_t>(body.front()) == 0x30) return std::vector<uint8_t>(body.begin(), body.end());
    const std::string_view start = body.substr(0, 40);
    return Reason{
        "is neither a DER CRL nor a PEM \"X509 CRL\" block" +
        (is_valid_utf8(start) && !start.empty() ? " (it starts with \"" + terminal_safe(start) + "\")" : std::string())};
  }
  const size_t end = body.find(kPemEnd, begin);
  if (end == std::string_view::npos) return Reason{"has a PEM \"X509 CRL\" block without its end line"};
  if (body.find(kPemBegin, end) != std::string_view::npos) return Reason{"holds more than one PEM CRL"};
  std::string base64;
  for (char c : body.substr(begin + kPemBegin.size(), end - begin - kPemBegin.size())) {
    if (!json_space(c)) base64 += c;
  }
  std::optional<std::vector<uint8_t>> der = base64_decode(base64);
  if (!der || der->empty()) return Reason{"has a PEM \"X509 CRL\" block that is not base64"};
  return std::move(*der);
}

}  // namespace orv::prepare
