// Reading what an HTTP client saved: headers as curl -D writes them, the URL-encoded chains,
// the Date header, and the signed member cut from a body as its exact bytes.
#include <gtest/gtest.h>

#include "prepare/saved_response.h"
#include "prepare/signed_body.h"

namespace orv::prepare {
namespace {

TEST(SavedHeaders, TheLastResponseCountsAndNamesIgnoreCase) {
  const auto read = read_saved_headers(
      "HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nX-Chain: old\r\n\r\n"
      "HTTP/1.1 100 Continue\r\n\r\n"
      "HTTP/2 200 \nx-chain:  new value \t\ndate: Mon, 15 Sep 2025 00:00:00 GMT\nx-chain: again\n\n");
  ASSERT_TRUE(read) << read.error().text;
  EXPECT_EQ(read->status, 200u);
  EXPECT_EQ(read->responses, 3u);
  EXPECT_EQ(read->field("X-CHAIN"), "new value");
  EXPECT_EQ(read->count("X-Chain"), 2u);
  EXPECT_FALSE(read->field("Location"));
}

TEST(SavedHeaders, RefusesWhatCurlDashDNeverWrites) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "holds no HTTP response"},
      {"{\"tcbInfo\":{}}", "line 1 is not an HTTP status line"},
      {"HTTP/1.1 200 OK\r\n\r\n{\"tcbInfo\":{}}", "line 3 follows a response's blank line"},
      {"HTTP/1.1 200 OK\r\nA: b\r\n  folded\r\n", "line 3 continues a folded header field"},
      {"HTTP/1.1 200 OK\r\nA b\r\n", "line 2 is not a header field"},
      {"HTTP/1.1 200 OK\r\nA: b\x01\r\n", "line 2 has a control character"},
      {"HTTP/1.1 200 OK\r\nA(: b\r\n", "line 2 has a header field name"},
      {"HTTP/1.1 2000 OK\r\n", "line 1 is not an HTTP status line"},
      {"HTTP/1.1 100 Continue\r\n\r\n", "ends with an interim response"},
      {"HTTP/1.1 200 OK\r\nA: \xff\r\n", "is not UTF-8 text"},
  };
  for (const auto& [text, reason] : cases) {
    const auto read = read_saved_headers(text);
    ASSERT_FALSE(read) << text;
    EXPECT_TRUE(read.error().text.starts_with(reason)) << read.error().text;
  }
}

TEST(SavedHeaders, PercentDecodingKeepsPlusAndRefusesBrokenEscapes) {
  EXPECT_EQ(*percent_decode("-----BEGIN%20CERT%0a+ab%2B%2f%3D"), "-----BEGIN CERT\n+ab+/=");
  EXPECT_FALSE(percent_decode("ab%2"));
  EXPECT_FALSE(percent_decode("ab%zz"));
}

TEST(SavedHeaders, HttpDatesInTheirOneFormWithTheRightWeekday) {
  EXPECT_EQ(*read_http_date("Mon, 15 Sep 2025 00:00:00 GMT"), 1757894400);
  EXPECT_EQ(*read_http_date("Thu, 01 Jan 1970 00:00:00 GMT"), 0);
  EXPECT_EQ(read_http_date("Tue, 15 Sep 2025 00:00:00 GMT").error().text, "names the wrong day of the week for its date");
  for (const char* bad : {"Mon, 15 Sep 2025 00:00:00 UTC", "Monday, 15-Sep-25 00:00:00 GMT", "Mon, 31 Sep 2025 00:00:00 GMT",
                          "Mon, 15 Sep 2025 24:00:00 GMT", "2025-09-15T00:00:00Z"}) {
    EXPECT_FALSE(read_http_date(bad)) << bad;
  }
}

TEST(SignedBody, TheSignedMemberIsCutAsItsExactBytes) {
  // Braces and quotes inside strings, and spacing, must neither end the cut nor be changed.
  const std::string inner = R"({ "a" : "}\"{" ,"b":[1, {"c":"]"}] })";
  const std::string body = " {\"signature\" : \"abcd\",\n \"tcbInfo\":" + inner + "\n}\n";
  const auto cut = cut_signed_body(body, "tcbInfo");
  ASSERT_TRUE(cut) << cut.error().text;
  EXPECT_EQ(cut->signed_text, inner);
  EXPECT_EQ(cut->signature, "abcd");
}

TEST(SignedBody, RefusesAnythingButTheMemberAndItsSignature) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"tcbInfo":{},"signature":"ab","extra":1})", "has a member \"extra\""},
      {R"({"tcbInfo":{},"tcbInfo":{},"signature":"ab"})", "has the member \"tcbInfo\" twice"},
      {R"({"enclaveIdentity":{},"signature":"ab"})", "has a member \"enclaveIdentity\""},
      {R"({"signature":"ab"})", "has no \"tcbInfo\" object"},
      {R"({"tcbInfo":"{}","signature":"ab"})", "has a member \"tcbInfo\""},
      {R"({"tcbInfo":{}})", "has no \"signature\" string"},
      {R"({"\u0074cbInfo":{},"signature":"ab"})", "writes the name"},
      {"<html>Service Unavailable</html>", "is not JSON"},
  };
  for (const auto& [body, reason] : cases) {
    const auto cut = cut_signed_body(body, "tcbInfo");
    ASSERT_FALSE(cut) << body;
    EXPECT_TRUE(cut.error().text.starts_with(reason)) << cut.error().text;
  }
}

TEST(CrlBody, DerAsItStandsAndPemDecoded) {
  EXPECT_EQ(*crl_der(std::string("\x30\x03\x02\x01\x01", 5)), (std::vector<uint8_t>{0x30, 3, 2, 1, 1}));
  EXPECT_EQ(*crl_der("-----BEGIN X509 CRL-----\nMAMCAQE=\n-----END X509 CRL-----\n"), (std::vector<uint8_t>{0x30, 3, 2, 1, 1}));
  EXPECT_EQ(crl_der("{\"error\":\"busy\"}").error().text,
            "is neither a DER CRL nor a PEM \"X509 CRL\" block (it starts with \"{\"error\":\"busy\"}\")");
  EXPECT_FALSE(crl_der("-----BEGIN X509 CRL-----\nMAMCAQE\n-----END X509 CRL-----\n"));
  EXPECT_FALSE(crl_der("-----BEGIN X509 CRL-----\nMAMCAQE=\n"));
}

}  // namespace
}  // namespace orv::prepare
