#include "tsa/der.h"

namespace orv::tsa {
namespace {

constexpr uint8_t kConstructed = 0x20;
constexpr uint8_t kSetTag = 0x31;
constexpr uint8_t kBooleanTag = 0x01;

struct Header {
  size_t header_len = 0;
  size_t length = 0;
};

// Reads the length octets of the element at `at` (tag already present); `end` bounds them.
// Shared by the walk and by the SET member count, so both give the same messages.
std::optional<std::string> read_length(std::span<const uint8_t> bytes, size_t at, Header& out) {
  if (at + 1 >= bytes.size()) return std::string("truncated DER length");
  const uint8_t first = bytes[at + 1];
  if (first < 0x80) {
    out = {2, first};
    return std::nullopt;
  }
  const size_t count = first - 0x80u;
  if (count == 0 || count > 3) return std::string("indefinite or oversized DER length");
  if (bytes.size() - (at + 2) < count) return std::string("truncated DER length");
  size_t length = 0;
  for (size_t i = 0; i < count; ++i) length = (length << 8) | bytes[at + 2 + i];
  out = {2 + count, length};
  return std::nullopt;
}

// The element's end relative to `bytes`, after checking that it stays inside.
std::optional<std::string> element_end(std::span<const uint8_t> bytes, size_t at, const Header& header, size_t& end) {
  const size_t header_end = at + header.header_len;
  // Three length octets keep the length below 2^24, so this only trips on 32-bit size_t.
  if (header.length > SIZE_MAX - header_end) return std::string("DER length overflow");
  end = header_end + header.length;
  if (end > bytes.size()) return std::string("DER length past the end");
  return std::nullopt;
}

std::optional<std::string> count_set_members(std::span<const uint8_t> contents) {
  size_t members = 0;
  size_t at = 0;
  while (at < contents.size()) {
    if (members == kMaxSetMembers) return std::string("a DER SET has too many elements");
    Header header;
    if (auto error = read_length(contents, at, header)) return error;
    const size_t header_end = at + header.header_len;
    if (header.length > SIZE_MAX - header_end) return std::string("DER length overflow");
    // A member running past the SET is reported by the walk of the contents, with its own
    // message, exactly as for any other element.
    ++members;
    at = header_end + header.length;
  }
  return std::nullopt;
}

class Walk {
 public:
  std::optional<std::string> range(std::span<const uint8_t> bytes, size_t depth) {
    if (depth > kMaxDerDepth) return std::string("DER nesting too deep");
    size_t at = 0;
    while (at < bytes.size()) {
      if (++elements_ > kMaxDerElements) return std::string("too many DER elements");
      const uint8_t tag = bytes[at];
      if ((tag & 0x1F) == 0x1F) return std::string("multi-byte DER tags are not used here");
      Header header;
      if (auto error = read_length(bytes, at, header)) return error;
      size_t end = 0;
      if (auto error = element_end(bytes, at, header, end)) return error;
      if (tag & kConstructed) {
        const auto contents = bytes.subspan(at + header.header_len, header.length);
        if (tag == kSetTag) {
          if (auto error = count_set_members(contents)) return error;
        }
        if (auto error = range(contents, depth + 1)) return error;
      }
      at = end;
    }
    return std::nullopt;
  }

 private:
  size_t elements_ = 0;
};

bool minimal_range(std::span<const uint8_t> bytes) {
  DerCursor cursor(bytes);
  while (!cursor.empty()) {
    const std::optional<DerElement> element = cursor.next();
    if (!element) return false;
    if (element->tag == kBooleanTag) {
      if (element->contents.size() != 1) return false;
      if (element->contents[0] != 0x00 && element->contents[0] != 0xFF) return false;
    }
    if ((element->tag & kConstructed) && !minimal_range(element->contents)) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> check_der_structure(std::span<const uint8_t> bytes) { return Walk().range(bytes, 0); }

bool has_minimal_encoding(std::span<const uint8_t> bytes) { return minimal_range(bytes); }

std::optional<uint8_t> DerCursor::peek_tag() const {
  if (rest_.empty()) return std::nullopt;
  return rest_[0];
}

std::optional<DerElement> DerCursor::next() {
  if (rest_.size() < 2) return std::nullopt;
  const uint8_t tag = rest_[0];
  if ((tag & 0x1F) == 0x1F) return std::nullopt;
  const uint8_t first = rest_[1];
  size_t header_len = 2;
  size_t length = first;
  if (first >= 0x80) {
    const size_t count = first - 0x80u;
    if (count == 0 || count > 3 || rest_.size() - 2 < count) return std::nullopt;
    if (rest_[2] == 0) return std::nullopt;  // a leading zero octet is never minimal
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | rest_[2 + i];
    if (length < 0x80) return std::nullopt;  // the short form was required
    header_len += count;
  }
  if (rest_.size() - header_len < length) return std::nullopt;
  DerElement element{tag, rest_.first(header_len + length), rest_.subspan(header_len, length)};
  rest_ = rest_.subspan(header_len + length);
  return element;
}

std::optional<DerElement> DerCursor::next(uint8_t tag) {
  if (peek_tag() != tag) return std::nullopt;
  return next();
}

}  // namespace orv::tsa
