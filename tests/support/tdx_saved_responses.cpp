#include "support/tdx_saved_responses.h"

#include <cctype>

#include "core/hex.h"
#include "core/text.h"
#include "dcap/quote.h"
#include "json/document.h"
#include "support/shared_data.h"

namespace orv::test {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string trimmed(const std::filesystem::path& path) { return std::string(trim_unicode(read_file(path))); }

std::string signed_body(const std::filesystem::path& dir, std::string_view member, std::string_view stem) {
  return "{\"" + std::string(member) + "\":" + trimmed(dir / (std::string(stem) + ".json")) + ",\"signature\":\"" +
         trimmed(dir / (std::string(stem) + ".sig.hex")) + "\"}";
}

}  // namespace

std::string url_encode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string saved_headers(std::string_view chain_name, std::string_view chain_pem, const ResponseStyle& style,
                          std::string_view status_line) {
  const auto name = [&](std::string_view n) { return style.http2 ? lower(n) : std::string(n); };
  std::string out;
  if (style.redirect) out += "HTTP/1.1 302 Found\r\nLocation: https://mirror.example/doc\r\nContent-Length: 0\r\n\r\n";
  out += style.http2 && status_line.starts_with("HTTP/1.1 200") ? std::string("HTTP/2 200 ") : std::string(status_line);
  out += "\r\n" + name("Content-Type") + ": application/octet-stream\r\n";
  if (!chain_name.empty()) out += name(chain_name) + ": " + url_encode(chain_pem) + "\r\n";
  out += name("Request-ID") + ": 0123456789abcdef\r\n";
  if (!style.date.empty()) out += name("Date") + ": " + style.date + "\r\n";
  return out + "\r\n";
}

std::map<std::string, std::string> real_saved_responses(const std::filesystem::path& dir, const ResponseStyle& style) {
  return {
      {"tcb-info.body", signed_body(dir, "tcbInfo", "tcb_info")},
      {"tcb-info.headers", saved_headers("TCB-Info-Issuer-Chain", read_file(dir / "tcb_info_issuer_chain.pem"), style)},
      {"qe-identity.body", signed_body(dir, "enclaveIdentity", "qe_identity")},
      {"qe-identity.headers",
       saved_headers("SGX-Enclave-Identity-Issuer-Chain", read_file(dir / "qe_identity_issuer_chain.pem"), style)},
      {"pck-crl.body", read_file(dir / "pck_crl.der")},
      {"pck-crl.headers", saved_headers("SGX-PCK-CRL-Issuer-Chain", read_file(dir / "pck_crl_issuer_chain.pem"), style)},
      {"root-ca-crl.body", read_file(dir / "root_ca_crl.der")},
  };
}

std::string real_key_receipt(const std::filesystem::path& dir, const std::string& live_key_hex) {
  return R"({"schema":"orvelant/live-key-receipt/v1","alg":"ML-DSA-65","public_key_hex":")" + live_key_hex +
         R"(","quote_hex":")" + hex_encode(as_bytes(read_file(dir / "quote_alice.bin"))) + R"(","event_log":)" +
         trimmed(dir / "event_log.json") + R"(,"issued_at":"2025-09-15T12:00:00Z"})";
}

std::string real_expected_td(const std::filesystem::path& dir) {
  const std::string raw = read_file(dir / "quote_alice.bin");
  const auto quote = dcap::decode_quote(as_bytes(raw));
  const dcap::TdReport10* td = quote ? quote->td_report10() : nullptr;
  if (td == nullptr) {
    ADD_FAILURE() << "the real quote does not decode as a TD quote";
    return {};
  }
  std::string out = R"({"schema":"orvelant/expected-td/v1")";
  const auto pin = [&](std::string_view name, std::span<const uint8_t> value) {
    out += ",\"" + std::string(name) + "\":\"" + hex_encode(value) + "\"";
  };
  pin("td_attributes", td->td_attributes);
  pin("xfam", td->xfam);
  pin("mr_td", td->mr_td);
  pin("mr_config_id", td->mr_config_id);
  pin("mr_owner", td->mr_owner);
  pin("mr_owner_config", td->mr_owner_config);
  pin("rt_mr0", td->rt_mr0);
  pin("rt_mr1", td->rt_mr1);
  pin("rt_mr2", td->rt_mr2);
  const auto log = json::parse(read_file(dir / "event_log.json"));
  for (const auto& [field, event] : {std::pair{"app_id", "app-id"}, std::pair{"compose_hash", "compose-hash"},
                                     std::pair{"os_image_hash", "os-image-hash"}, std::pair{"key_provider", "key-provider"}}) {
    for (const json::Value& entry : log->root().GetArray()) {
      if (entry["imr"].GetUint64() == 3 && std::string_view(entry["event"].GetString()) == event) {
        out += ",\"" + std::string(field) + "\":\"" + entry["event_payload"].GetString() + "\"";
      }
    }
  }
  return out + R"(,"min_tcb_evaluation_data_number":17})";
}

}  // namespace orv::test
