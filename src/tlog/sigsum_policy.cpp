#include "tlog/sigsum_policy.h"

#include <algorithm>

#include "core/hex.h"
#include "core/text.h"
#include "crypto/digest.h"
#include "tlog/note.h"

namespace orv::tlog {
namespace {

constexpr std::string_view kReservedName = "none";

std::vector<std::string_view> fields_of(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    const size_t start = pos;
    while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') ++pos;
    if (pos > start) fields.push_back(line.substr(start, pos - start));
  }
  return fields;
}

std::optional<crypto::Ed25519Key> read_key(std::string_view hex) {
  if (hex.size() != 2 * crypto::kEd25519KeyBytes) return std::nullopt;
  const std::optional<std::vector<uint8_t>> bytes = hex_decode(hex);
  if (!bytes || !crypto::is_ed25519_public_key(*bytes)) return std::nullopt;
  crypto::Ed25519Key key{};
  std::copy(bytes->begin(), bytes->end(), key.begin());
  return key;
}

class Parser {
 public:
  Expected<SigsumPolicy, TlogError> run(std::string_view text) {
    std::string_view rest = text;
    while (!rest.empty()) {
      const size_t end = rest.find('\n');
      const std::string_view line = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      ++line_number_;
      if (auto reason = read_line(line); !reason.ok()) return refuse(reason.error());
    }
    if (!quorum_seen_) return refuse("policy has no quorum line");
    if (policy_.logs.empty()) return refuse("policy names no log");
    return std::move(policy_);
  }

 private:
  TlogError refuse(std::string_view reason) const {
    return tlog_error("TLOG_POLICY_INVALID", "policy line " + decimal(line_number_) + ": " + std::string(reason));
  }

  Expected<void, std::string> read_line(std::string_view line) {
    const std::vector<std::string_view> fields = fields_of(line);
    if (fields.empty() || fields[0].starts_with('#')) return {};
    const std::string_view keyword = fields[0];
    if (keyword == "log" && (fields.size() == 2 || fields.size() == 3)) return read_log(fields[1]);
    if (keyword == "witness" && (fields.size() == 3 || fields.size() == 4)) return read_witness(fields[1], fields[2]);
    if (keyword == "group" && fields.size() >= 4) return read_group(fields);
    if (keyword == "quorum" && fields.size() == 2) return read_quorum(fields[1]);
    return fail("unknown or malformed line");
  }

  Expected<void, std::string> read_log(std::string_view hex) {
    const std::optional<crypto::Ed25519Key> key = read_key(hex);
    if (!key) return fail("bad log key");
    const bool seen =
        std::any_of(policy_.logs.begin(), policy_.logs.end(), [&](const SigsumLog& log) { return log.key == *key; });
    if (seen) return fail("duplicate log");
    policy_.logs.push_back(SigsumLog{*key, crypto::sha256(*key)});
    return {};
  }

  Expected<void, std::string> read_witness(std::string_view name, std::string_view hex) {
    if (!name_is_free(name)) return fail("duplicate or reserved name");
    const std::optional<crypto::Ed25519Key> key = read_key(hex);
    if (!key) return fail("bad witness key");
    const bool seen = std::any_of(policy_.witnesses.begin(), policy_.witnesses.end(),
                                  [&](const SigsumWitness& witness) { return witness.key == *key; });
    if (seen) return fail("duplicate witness key");
    policy_.witnesses.push_back(SigsumWitness{std::string(name), *key, crypto::sha256(*key)});
    return {};
  }

  Expected<void, std::string> read_group(const std::vector<std::string_view>& fields) {
    const std::string_view name = fields[1];
    const std::string_view threshold_text = fields[2];
    const size_t member_count = fields.size() - 3;
    if (!name_is_free(name)) return fail("duplicate or reserved name");

    std::optional<size_t> threshold;
    bool numeric = false;
    if (threshold_text == "all") {
      threshold = member_count;
    } else if (threshold_text == "any") {
      threshold = 1;
    } else if (std::all_of(threshold_text.begin(), threshold_text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      numeric = true;
      // Leading zeros are harmless here; a value too large for 64 bits is simply out of range.
      std::string_view digits = threshold_text;
      while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
      if (const std::optional<uint64_t> value = parse_canonical_decimal(digits)) threshold = *value;
    } else {
      return fail("bad threshold");
    }

    SigsumGroup group;
    group.name = std::string(name);
    for (size_t i = 3; i < fields.size(); ++i) {
      const std::optional<SigsumEntity> member = find(fields[i]);
      if (!member) return fail("unknown group member");
      // Listing a member twice would let one cosignature count twice towards the threshold.
      if (std::find(group.members.begin(), group.members.end(), *member) != group.members.end()) {
        return fail("duplicate group member");
      }
      group.members.push_back(*member);
    }
    if (numeric && (!threshold || *threshold == 0 || *threshold > member_count)) return fail("threshold out of range");
    group.threshold = *threshold;
    policy_.groups.push_back(std::move(group));
    return {};
  }

  Expected<void, std::string> read_quorum(std::string_view name) {
    if (quorum_seen_) return fail("more than one quorum line");
    if (name != kReservedName) {
      const std::optional<SigsumEntity> entity = find(name);
      if (!entity) return fail("unknown quorum");
      policy_.quorum = *entity;
    }
    quorum_seen_ = true;
    return {};
  }

  std::optional<SigsumEntity> find(std::string_view name) const {
    for (size_t i = 0; i < policy_.witnesses.size(); ++i) {
      if (policy_.witnesses[i].name == name) return SigsumEntity{SigsumEntity::Kind::Witness, i};
    }
    for (size_t i = 0; i < policy_.groups.size(); ++i) {
      if (policy_.groups[i].name == name) return SigsumEntity{SigsumEntity::Kind::Group, i};
    }
    return std::nullopt;
  }

  bool name_is_free(std::string_view name) const { return name != kReservedName && !find(name); }

  SigsumPolicy policy_;
  bool quorum_seen_ = false;
  uint64_t line_number_ = 0;
};

}  // namespace

Expected<SigsumPolicy, TlogError> parse_sigsum_policy(std::string_view text) { return Parser().run(text); }

bool quorum_satisfied(const SigsumPolicy& policy, const std::vector<bool>& cosigned) {
  if (!policy.quorum) return true;
  // Members always precede their group, so one pass in definition order settles every group.
  std::vector<bool> group_ok(policy.groups.size(), false);
  auto satisfied = [&](const SigsumEntity& entity) -> bool {
    if (entity.kind == SigsumEntity::Kind::Witness) return entity.index < cosigned.size() && cosigned[entity.index];
    return group_ok[entity.index];
  };
  for (size_t g = 0; g < policy.groups.size(); ++g) {
    const SigsumGroup& group = policy.groups[g];
    const auto count = static_cast<size_t>(std::count_if(group.members.begin(), group.members.end(), satisfied));
    group_ok[g] = count >= group.threshold;
  }
  return satisfied(*policy.quorum);
}

}  // namespace orv::tlog
