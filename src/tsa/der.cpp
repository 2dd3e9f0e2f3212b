#include "tsa/der.h"

#include "core/byte_reader.h"

namespace orv::tsa {
namespace {

constexpr uint8_t kConstructed = 0x20;

// The header of the element at `at`, with the walk's messages; the SET member count reads
// lengths the same way, so both give the same messages.
Expected<void, std::string> read_header(std::span<const uint8_t> bytes, size_t at, DerHeader& out) {
  switch (read_der_header(bytes.subspan(at), out)) {
    case DerHeaderFault::None: return {};
    case DerHeaderFault::Truncated: return fail(std::string("truncated DER length"));
    case DerHeaderFault::Unsupported: break;
  }
  return fail(std::string("indefinite or oversized DER length"));
}

// The element's end relative to `bytes`, after checking that it stays inside.
Expected<void, std::string> element_end(std::span<const uint8_t> bytes, size_t at, const DerHeader& header, size_t& end) {
  const size_t header_end = at + header.header_bytes;
  // Three length octets keep the length below 2^24, so this only trips on 32-bit size_t.
  if (header.length > SIZE_MAX - header_end) return fail(std::string("DER length overflow"));
  end = header_end + header.length;
  if (end > bytes.size()) return fail(std::string("DER length past the end"));
  return {};
}

Expected<void, std::string> count_set_members(std::span<const uint8_t> contents) {
  size_t members = 0;
  size_t at = 0;
  while (at < contents.size()) {
    if (members == kMaxSetMembers) return fail(std::string("a DER SET has too many elements"));
    DerHeader header;
    if (auto error = read_header(contents, at, header); !error.ok()) return error;
    const size_t header_end = at + header.header_bytes;
    if (header.length > SIZE_MAX - header_end) return fail(std::string("DER length overflow"));
    // A member running past the SET is reported by the walk of the contents, with its own
    // message, exactly as for any other element.
    ++members;
    at = header_end + header.length;
  }
  return {};
}

class Walk {
 public:
  Expected<void, std::string> range(std::span<const uint8_t> bytes, size_t depth) {
    if (depth > kMaxDerDepth) return fail(std::string("DER nesting too deep"));
    size_t at = 0;
    while (at < bytes.size()) {
      if (++elements_ > kMaxDerElements) return fail(std::string("too many DER elements"));
      const uint8_t tag = bytes[at];
      if ((tag & 0x1F) == 0x1F) return fail(std::string("multi-byte DER tags are not used here"));
      DerHeader header;
      if (auto error = read_header(bytes, at, header); !error.ok()) return error;
      size_t end = 0;
      if (auto error = element_end(bytes, at, header, end); !error.ok()) return error;
      if (tag & kConstructed) {
        const auto contents = bytes.subspan(at + header.header_bytes, header.length);
        if (tag == der_tag::kSet) {
          if (auto error = count_set_members(contents); !error.ok()) return error;
        }
        if (auto error = range(contents, depth + 1); !error.ok()) return error;
      }
      at = end;
    }
    return {};
  }

 private:
  size_t elements_ = 0;
};

bool minimal_range(std::span<const uint8_t> bytes) {
  ByteReader reader(bytes);
  while (!reader.empty()) {
    DerElement element;
    if (!reader.read_der(element)) return false;
    if (element.tag == der_tag::kBoolean) {
      if (element.contents.size() != 1) return false;
      if (element.contents[0] != 0x00 && element.contents[0] != 0xFF) return false;
    }
    if ((element.tag & kConstructed) && !minimal_range(element.contents)) return false;
  }
  return true;
}

}  // namespace

Expected<void, std::string> check_der_structure(std::span<const uint8_t> bytes) { return Walk().range(bytes, 0); }

bool has_minimal_encoding(std::span<const uint8_t> bytes) { return minimal_range(bytes); }

}  // namespace orv::tsa
