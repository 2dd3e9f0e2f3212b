// Intel's responses for the real TDX quote in ../shared/testdata/tdx-real/tee-solver-dstack, as
// a user's `curl -L -D ... -o ...` saves them: bodies shaped as Intel's service sends them and
// headers carrying the URL-encoded issuer chains. Built at test time from the real signed
// documents; nothing third-party is committed. Also a key receipt around that quote (naming a
// placeholder live key it does not bind) and an expected-TD file pinning what the quote shows.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace orv::test {

// Inside the window in which every piece of that collateral is valid.
inline constexpr std::string_view kRealFetchDate = "Mon, 15 Sep 2025 00:00:00 GMT";
inline constexpr std::string_view kRealFetchedAt = "2025-09-15T00:00:00Z";

struct ResponseStyle {
  bool http2 = false;                              // "HTTP/2 200 " and lower-case names, as curl writes HTTP/2 headers
  bool redirect = false;                           // a 302 block before the final one, as `curl -L -D` writes it
  std::string date = std::string(kRealFetchDate);  // empty: no Date header
};

std::string url_encode(std::string_view text);

// One response's headers file: its status line, the chain header (when chain_name is not
// empty), a Date header and the blank line that ends it.
std::string saved_headers(std::string_view chain_name, std::string_view chain_pem, const ResponseStyle& style = {},
                          std::string_view status_line = "HTTP/1.1 200 OK");

// File name -> content: tcb-info, qe-identity and pck-crl (.body, .headers), root-ca-crl.body.
std::map<std::string, std::string> real_saved_responses(const std::filesystem::path& dstack_dir, const ResponseStyle& style = {});

// The key receipt (v1) around quote_alice.bin and its event log, and the matching expected-TD
// file (minimum TCB evaluation data number 17).
std::string real_key_receipt(const std::filesystem::path& dstack_dir, const std::string& live_key_hex);
std::string real_expected_td(const std::filesystem::path& dstack_dir);

}  // namespace orv::test
