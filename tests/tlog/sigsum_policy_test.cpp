#include <gtest/gtest.h>

#include "core/hex.h"
#include "support/shared_data.h"
#include "support/tlog_fixtures.h"
#include "tlog/sigsum_policy.h"

namespace orv::tlog {
namespace {

// Valid keys that the tests below arrange into policies.
class PolicyText : public ::testing::Test {
 protected:
  test::Ed25519TestKey k1, k2, k3, k4;

  std::string log(const test::Ed25519TestKey& key) const { return "log " + key.public_hex() + "\n"; }
  std::string witness(const std::string& name, const test::Ed25519TestKey& key) const {
    return "witness " + name + " " + key.public_hex() + "\n";
  }
  std::string three_witnesses() const { return witness("a", k2) + witness("b", k3) + witness("c", k4); }

  static std::string error_of(const std::string& text) {
    const Expected<SigsumPolicy, TlogError> policy = parse_sigsum_policy(text);
    if (policy) return "ok";
    EXPECT_EQ(policy.error().code, "TLOG_POLICY_INVALID");
    return policy.error().message;
  }
};

TEST_F(PolicyText, ReadsLogsWitnessesGroupsAndQuorum) {
  const std::string text = "# comment\n\n" + log(k1) + "log " + k2.public_hex() + " https://log.example/\n" + "  \t\n" +
                           witness("a", k3) + "witness b " + k4.public_hex() + " https://b.example\n" +
                           "group g any a b\ngroup top all g a\nquorum top\n";
  const Expected<SigsumPolicy, TlogError> policy = parse_sigsum_policy(text);
  ASSERT_TRUE(policy.ok()) << policy.error().message;
  ASSERT_EQ(policy->logs.size(), 2u);
  EXPECT_EQ(policy->logs[1].key, k2.public_key());
  EXPECT_EQ(policy->logs[1].key_hash, k2.key_hash());
  ASSERT_EQ(policy->witnesses.size(), 2u);
  EXPECT_EQ(policy->witnesses[0].name, "a");
  EXPECT_EQ(policy->witnesses[1].key_hash, k4.key_hash());
  ASSERT_EQ(policy->groups.size(), 2u);
  EXPECT_EQ(policy->groups[0].threshold, 1u);
  EXPECT_EQ(policy->groups[1].threshold, 2u);
  EXPECT_EQ(policy->groups[1].members[0], (SigsumEntity{SigsumEntity::Kind::Group, 0}));
  EXPECT_EQ(policy->quorum, (SigsumEntity{SigsumEntity::Kind::Group, 1}));
}

TEST_F(PolicyText, EveryRefusalWithItsLineNumber) {
  const std::string base = log(k1) + three_witnesses();  // lines 1 to 4
  EXPECT_EQ(error_of(base + "quorum a\n"), "ok");
  EXPECT_EQ(error_of(base + "quorum none\n"), "ok");

  EXPECT_EQ(error_of("log abcd\n"), "policy line 1: bad log key");
  EXPECT_EQ(error_of("log " + k1.public_hex() + "00\n"), "policy line 1: bad log key");
  EXPECT_EQ(error_of("# c\nlog 02" + std::string(62, '0') + "\n"), "policy line 2: bad log key");  // not a point
  EXPECT_EQ(error_of(base + "witness d 02" + std::string(62, '0') + "\n"), "policy line 5: bad witness key");
  EXPECT_EQ(error_of(base + "witness d zz\n"), "policy line 5: bad witness key");
  EXPECT_EQ(error_of(base + log(k1)), "policy line 5: duplicate log");
  EXPECT_EQ(error_of(base + witness("d", k2)), "policy line 5: duplicate witness key");
  // A witness may share a key with a log; only two witnesses may not.
  EXPECT_EQ(error_of(base + witness("d", k1) + "quorum d\n"), "ok");
  EXPECT_EQ(error_of(base + witness("a", k1)), "policy line 5: duplicate or reserved name");
  EXPECT_EQ(error_of(base + witness("none", k1)), "policy line 5: duplicate or reserved name");
  EXPECT_EQ(error_of(base + "group a 1 b\n"), "policy line 5: duplicate or reserved name");
  EXPECT_EQ(error_of(base + "group none 1 b\n"), "policy line 5: duplicate or reserved name");
  EXPECT_EQ(error_of(base + "group g 1 a\ngroup g 1 b\n"), "policy line 6: duplicate or reserved name");
  EXPECT_EQ(error_of(base + "group g two a b\n"), "policy line 5: bad threshold");
  EXPECT_EQ(error_of(base + "group g -1 a b\n"), "policy line 5: bad threshold");
  EXPECT_EQ(error_of(base + "group g 0 a b\n"), "policy line 5: threshold out of range");
  EXPECT_EQ(error_of(base + "group g 3 a b\n"), "policy line 5: threshold out of range");
  EXPECT_EQ(error_of(base + "group g 99999999999999999999999 a b\n"), "policy line 5: threshold out of range");
  EXPECT_EQ(error_of(base + "group g 2 a x\n"), "policy line 5: unknown group member");
  // A group may use only names defined on earlier lines, so it can never contain itself.
  EXPECT_EQ(error_of(base + "group g 1 g\n"), "policy line 5: unknown group member");
  EXPECT_EQ(error_of(base + "group g 2 a a\n"), "policy line 5: duplicate group member");
  EXPECT_EQ(error_of(base + "quorum a\nquorum b\n"), "policy line 6: more than one quorum line");
  EXPECT_EQ(error_of(base + "quorum x\n"), "policy line 5: unknown quorum");
  EXPECT_EQ(error_of(base + "quorum\n"), "policy line 5: unknown or malformed line");
  EXPECT_EQ(error_of(base + "quorum a b\n"), "policy line 5: unknown or malformed line");
  EXPECT_EQ(error_of(base + "log\n"), "policy line 5: unknown or malformed line");
  EXPECT_EQ(error_of(base + "log " + k4.public_hex() + " url extra\n"), "policy line 5: unknown or malformed line");
  EXPECT_EQ(error_of(base + "witness d\n"), "policy line 5: unknown or malformed line");
  EXPECT_EQ(error_of(base + "group g 1\n"), "policy line 5: unknown or malformed line");
  EXPECT_EQ(error_of(base + "Log " + k4.public_hex() + "\n"), "policy line 5: unknown or malformed line");
  EXPECT_EQ(error_of(base + "cosigner d\n"), "policy line 5: unknown or malformed line");
  EXPECT_EQ(error_of(base), "policy line 4: policy has no quorum line");
  EXPECT_EQ(error_of(three_witnesses() + "quorum a\n"), "policy line 4: policy names no log");
  EXPECT_EQ(error_of(""), "policy line 0: policy has no quorum line");
}

TEST_F(PolicyText, QuorumEvaluation) {
  const std::string base = log(k1) + three_witnesses();
  auto satisfied = [&](const std::string& rules, std::vector<bool> cosigned) {
    const Expected<SigsumPolicy, TlogError> policy = parse_sigsum_policy(base + rules);
    EXPECT_TRUE(policy.ok()) << policy.error().message;
    return policy && quorum_satisfied(*policy, cosigned);
  };
  const std::string two_of_three = "group q 2 a b c\nquorum q\n";
  EXPECT_TRUE(satisfied(two_of_three, {true, true, false}));
  EXPECT_TRUE(satisfied(two_of_three, {false, true, true}));
  EXPECT_TRUE(satisfied(two_of_three, {true, true, true}));
  EXPECT_FALSE(satisfied(two_of_three, {false, false, true}));
  EXPECT_FALSE(satisfied(two_of_three, {false, false, false}));

  EXPECT_TRUE(satisfied("group q all a b c\nquorum q\n", {true, true, true}));
  EXPECT_FALSE(satisfied("group q all a b c\nquorum q\n", {true, false, true}));
  EXPECT_TRUE(satisfied("group q any a b c\nquorum q\n", {false, false, true}));
  EXPECT_FALSE(satisfied("group q any a b c\nquorum q\n", {false, false, false}));
  EXPECT_TRUE(satisfied("quorum b\n", {false, true, false}));
  EXPECT_FALSE(satisfied("quorum b\n", {true, false, true}));
  EXPECT_TRUE(satisfied("quorum none\n", {false, false, false}));
  // Nested: c, or both a and b.
  const std::string nested = "group ab all a b\ngroup q any ab c\nquorum q\n";
  EXPECT_TRUE(satisfied(nested, {false, false, true}));
  EXPECT_TRUE(satisfied(nested, {true, true, false}));
  EXPECT_FALSE(satisfied(nested, {true, false, false}));
}

// The compiled-in policy: two logs, three witnesses, 2 of 3, with the published key hashes.
TEST(CompiledInPolicy, ParsesToTwoLogsThreeWitnessesTwoOfThree) {
  ORV_REQUIRE_SHARED(shared);
  const Expected<SigsumPolicy, TlogError> policy = parse_sigsum_policy(test::read_file(shared / "trust/sigsum-policy.txt"));
  ASSERT_TRUE(policy.ok()) << policy.error().message;
  ASSERT_EQ(policy->logs.size(), 2u);
  EXPECT_EQ(hex_encode(policy->logs[0].key), "0ec7e16843119b120377a73913ac6acbc2d03d82432e2c36b841b09a95841f25");
  EXPECT_EQ(hex_encode(policy->logs[0].key_hash), "44ad38f8226ff9bd27629a41e55df727308d0a1cd8a2c31d3170048ac1dd22a1");
  EXPECT_EQ(hex_encode(policy->logs[1].key), "f00c159663d09bbda6131ee1816863b6adcacfe80b0b288000b11aba8fe38314");
  EXPECT_EQ(hex_encode(policy->logs[1].key_hash), "c03f05182be9341e33b9edd5f3f8675b08332164640203e743f4285359cace47");
  ASSERT_EQ(policy->witnesses.size(), 3u);
  const std::vector<std::pair<std::string, std::string>> witnesses = {
      {"b2106db9065ec97f25e09c18839216751a6e26d8ed8b41e485a563d3d1498536",
       "6bdf03b285fce48e00ff9b199cb2b77472dcc4a112f067fa5b274929cb9504e3"},
      {"15d6d0141543247b74bab3c1076372d9c894f619c376d64b29aa312cc00f61ad",
       "5da2b3803c2f802eed9744b74e3e4a3d31e1e77ed994ef56730d57fa52f698a5"},
      {"076be8c9ee7ea60916f0df3608c945d7730082ecb37749dad2c9ed339fea770c",
       "774fafee07d3b0d9399d669676440a6301db9fa8fe2140d7d352418da25144c5"}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(hex_encode(policy->witnesses[i].key), witnesses[i].first);
    EXPECT_EQ(hex_encode(policy->witnesses[i].key_hash), witnesses[i].second);
  }
  ASSERT_EQ(policy->groups.size(), 1u);
  EXPECT_EQ(policy->groups[0].name, "quorum-rule");
  EXPECT_EQ(policy->groups[0].threshold, 2u);
  EXPECT_EQ(policy->groups[0].members.size(), 3u);
  EXPECT_EQ(policy->quorum, (SigsumEntity{SigsumEntity::Kind::Group, 0}));
  EXPECT_TRUE(quorum_satisfied(*policy, {true, false, true}));
  EXPECT_FALSE(quorum_satisfied(*policy, {false, true, false}));
}

}  // namespace
}  // namespace orv::tlog
