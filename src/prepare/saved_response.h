// HTTP responses as a user's client saved them: the headers file `curl -D` writes (one block of
// status line and header lines per response, each ended by a blank line; after redirects one
// block per response, the last being the one whose body was saved), and the URL-encoded values
// Intel's service puts its issuer chains in.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "prepare/outcome.h"

namespace orv::prepare {

// Far more than any response's headers; a headers file is read whole.
inline constexpr size_t kMaxHeadersBytes = 262144;

struct SavedHeaders {
  std::string status_line;  // of the last response, as written
  unsigned status = 0;
  size_t responses = 0;                                     // blocks in the file: more than one after redirects
  std::vector<std::pair<std::string, std::string>> fields;  // the last response's, names as sent

  // How many fields carry this name (ASCII case does not matter, as in HTTP), and the first
  // one's value.
  size_t count(std::string_view name) const;
  std::optional<std::string_view> field(std::string_view name) const;
};

// UTF-8 text, CRLF or LF line ends; interim (1xx) responses count as blocks. Refuses anything else: a line
// that is neither a status line nor a header field, folded (continued) fields, control
// characters in values, a file without any response.
Expected<SavedHeaders, Reason> read_saved_headers(std::string_view text);

// %XX escapes decoded (either case of hex digit); every other byte kept, '+' included.
Expected<std::string, Reason> percent_decode(std::string_view text);

// The seconds since the epoch of an HTTP date in its one current form (RFC 9110, section
// 5.6.7, IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT"), weekday checked.
Expected<int64_t, Reason> read_http_date(std::string_view text);

}  // namespace orv::prepare
