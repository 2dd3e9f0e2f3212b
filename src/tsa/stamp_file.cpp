#include "tsa/stamp_file.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <array>
#include <string>

#include "core/base64.h"
#include "core/hex.h"
#include "core/text.h"
#include "core/time_text.h"
#include "json/document.h"
#include "json/record.h"

namespace orv::tsa {
namespace {

using json::Field;
using json::Kind;

constexpr std::array<Field, 2> kStampTokenFields = {{{"tsa", Kind::String}, {"token_b64", Kind::String}}};
constexpr json::Record kStampToken{"StampToken", kStampTokenFields};

constexpr std::array<Field, 2> kStampFileFields = {{{"schema", Kind::String}, {"tokens", Kind::Array}}};
constexpr json::Record kStampFile{"StampFile", kStampFileFields};

struct StampToken {
  std::string tsa;
  std::string token_b64;
};

struct StampFile {
  std::string schema;
  std::vector<StampToken> tokens;
};

// The first byte that does not start a well-formed UTF-8 sequence, with the length at which the
// sequence broke off.
Expected<void, std::string> check_utf8(std::string_view text) {
  size_t at = 0;
  while (at < text.size()) {
    const auto byte = static_cast<uint8_t>(text[at]);
    if (byte < 0x80) {
      ++at;
      continue;
    }
    size_t length = 0;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (byte >= 0xC2 && byte <= 0xDF) {
      length = 2;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
      length = 3;
      if (byte == 0xE0) low = 0xA0;
      if (byte == 0xED) high = 0x9F;  // no surrogates
    } else if (byte >= 0xF0 && byte <= 0xF4) {
      length = 4;
      if (byte == 0xF0) low = 0x90;
      if (byte == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    }
    bool good = length > 0 && at + length <= text.size();
    for (size_t i = 1; good && i < length; ++i) {
      const auto next = static_cast<uint8_t>(text[at + i]);
      good = i == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
    }
    if (!good) return fail("invalid UTF-8 sequence at byte " + decimal(at));
    at += length;
  }
  return {};
}

// A record may be written as an array of its members in table order; it is mapped through the
// same member checks as the object form, so both forms give the same messages.
Expected<void, std::string> check_record_or_array(const json::Value& value, const json::Record& record) {
  if (!value.IsArray()) return json::check_record(value, record);
  if (value.Size() != record.fields.size()) {
    return fail("invalid length " + decimal(value.Size()) + ", expected struct " + std::string(record.name) + " with " +
                decimal(record.fields.size()) + " elements");
  }
  rapidjson::Document object(rapidjson::kObjectType);
  for (size_t i = 0; i < record.fields.size(); ++i) {
    const std::string_view name = record.fields[i].name;
    object.AddMember(rapidjson::Value(name.data(), static_cast<rapidjson::SizeType>(name.size()), object.GetAllocator()),
                     rapidjson::Value(value[static_cast<rapidjson::SizeType>(i)], object.GetAllocator()), object.GetAllocator());
  }
  return json::check_record(object, record);
}

std::string_view text_at(const json::Value& value, size_t index, std::string_view name) {
  const json::Value& member = value.IsArray() ? value[static_cast<rapidjson::SizeType>(index)] : *json::member(value, name);
  return {member.GetString(), member.GetStringLength()};
}

Expected<StampFile, std::string> decode_stamp_file(std::string_view text) {
  Expected<json::Document, std::string> parsed = json::parse(text);
  if (!parsed) return fail(parsed.error());
  const json::Value& root = parsed->root();
  if (auto mapped = check_record_or_array(root, kStampFile); !mapped.ok()) return fail(mapped.error());
  const json::Value& tokens = root.IsArray() ? root[1] : *json::member(root, "tokens");
  StampFile file;
  file.schema = std::string(text_at(root, 0, "schema"));
  for (const json::Value& token : tokens.GetArray()) {
    if (auto mapped = check_record_or_array(token, kStampToken); !mapped.ok()) return fail(mapped.error());
    file.tokens.push_back({std::string(text_at(token, 0, "tsa")), std::string(text_at(token, 1, "token_b64"))});
  }
  return file;
}

void conclude(TimestampReport& report) {
  report.valid = report.problems.empty();
  report.outcome = outcome_from(report.problems);
  report.no_later_than.reset();
  if (report.valid && !report.stamps.empty()) {
    const auto latest = std::max_element(report.stamps.begin(), report.stamps.end(), [](const auto& a, const auto& b) {
      return a.no_later_than_unix < b.no_later_than_unix;
    });
    report.no_later_than = utc_time_text(latest->no_later_than_unix);
  }
}

TimestampReport file_failure(TimestampReport report, ProblemCode code, std::string message) {
  report.problems.push_back({code, std::move(message), 0});
  conclude(report);
  return report;
}

}  // namespace

TimestampReport verify_stamp_file(std::string_view document, std::optional<std::string_view> stamp_file,
                                  std::span<const PinnedAuthority> authorities, uint64_t now) {
  TimestampReport report;
  report.evaluated_at = utc_time_text(now);
  report.scope = std::string(kTimestampScope);

  if (!stamp_file) return file_failure(std::move(report), "TIMESTAMP_MISSING", "no timestamp file given");
  const std::string_view text = *stamp_file;
  if (text.size() > kMaxStampFileBytes) {
    return file_failure(std::move(report), "TIMESTAMP_PARSE", "timestamp file is larger than 1 MiB");
  }
  if (auto utf8 = check_utf8(text); !utf8.ok()) {
    return file_failure(std::move(report), "TIMESTAMP_PARSE", "timestamp file: " + utf8.error());
  }
  if (auto strict = json::strict_check(text); !strict.ok()) {
    return file_failure(std::move(report), "TIMESTAMP_PARSE", "timestamp file: " + strict.error());
  }
  Expected<StampFile, std::string> file = decode_stamp_file(text);
  if (!file) return file_failure(std::move(report), "TIMESTAMP_PARSE", "timestamp file does not parse: " + file.error());
  if (file->schema != kStampSchema) {
    return file_failure(std::move(report), "TIMESTAMP_UNSUPPORTED", "unsupported timestamp schema");
  }
  if (file->tokens.empty() || file->tokens.size() > kMaxStampTokens) {
    return file_failure(std::move(report), "TIMESTAMP_PARSE", "timestamp file must hold 1 to 4 tokens");
  }

  for (const StampToken& entry : file->tokens) {
    const auto authority = std::find_if(authorities.begin(), authorities.end(),
                                        [&](const PinnedAuthority& candidate) { return candidate.name == entry.tsa; });
    if (authority == authorities.end()) {
      report.problems.push_back(
          {"TIMESTAMP_UNKNOWN_TSA", "'" + entry.tsa + "' is not a timestamp authority pinned in this verifier", 0});
      continue;
    }
    const std::optional<std::vector<uint8_t>> token = base64_decode(entry.token_b64);
    if (!token) {
      report.problems.push_back({"TIMESTAMP_PARSE", "token is not standard base64", 0});
      continue;
    }
    auto result = verify_timestamp_token(*token, as_bytes(document), *authority, now);
    if (result) {
      report.stamps.push_back(std::move(result).value());
    } else {
      report.problems.push_back(std::move(result).error());
    }
  }
  conclude(report);
  return report;
}

}  // namespace orv::tsa
