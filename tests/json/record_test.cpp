#include <gtest/gtest.h>

#include <array>
#include <string>

#include "json/record.h"
#include "support/printers.h"

namespace orv::json {
namespace {

constexpr std::array<Field, 2> kInnerFields = {{{"n", Kind::U64}, {"s", Kind::String}}};
constexpr Record kInner{"Inner", kInnerFields};

constexpr std::array<Field, 7> kOuterFields = {{
    {"name", Kind::String},
    {"inner", Kind::Object, false, &kInner},
    {"flag", Kind::Bool, true},
    {"list", Kind::Array},
    {"map", Kind::Object},
    {"any", Kind::Any, true},
    {"count", Kind::U64, true},
}};
constexpr Record kOuter{"Outer", kOuterFields};

constexpr std::array<Field, 1> kOneField = {{{"a", Kind::String}}};
constexpr Record kOne{"One", kOneField};
constexpr std::array<Field, 1> kFlagField = {{{"a", Kind::Bool}}};
constexpr Record kFlag{"Flag", kFlagField};

Document parsed(std::string_view text) {
  Expected<Document, std::string> document = parse(text);
  EXPECT_TRUE(document) << document.error();
  return document ? std::move(document).value() : Document();
}

std::string mapping_error(std::string_view text, const Record& record = kOuter) {
  return error_of(check_record(parsed(text).root(), record)).value_or("(accepted)");
}

TEST(RecordMapping, AcceptsAnExactRecord) {
  EXPECT_TRUE(check_record(parsed(R"({"name":"x","inner":{"s":"y","n":18446744073709551615},"list":[1,"a"],)"
                                  R"("map":{"k":[]},"any":null})")
                               .root(),
                           kOuter)
                  .ok());
  // Optional members may be absent; Any takes any JSON value.
  for (const char* any : {"null", "1.5", "\"s\"", "[]", "{}", "-3", "true"}) {
    const std::string text = std::string(R"({"map":{},"list":[],"inner":{"n":0,"s":""},"name":"","any":)") + any + "}";
    EXPECT_TRUE(check_record(parsed(text).root(), kOuter).ok()) << any;
  }
}

TEST(RecordMapping, UnknownMembersListTheAllowedNames) {
  EXPECT_EQ(mapping_error(R"({"a":"x","b":1})", kOne), "unknown field `b`, expected `a`");
  EXPECT_EQ(mapping_error(R"({"x":1})", kInner), "unknown field `x`, expected `n` or `s`");
  EXPECT_EQ(mapping_error(R"({"Name":"x"})"),
            "unknown field `Name`, expected one of `name`, `inner`, `flag`, `list`, `map`, `any`, `count`");
  constexpr Record kEmpty{"Empty", {}};
  EXPECT_EQ(mapping_error(R"({"x":1})", kEmpty), "unknown field `x`, there are no fields");
  EXPECT_TRUE(check_record(parsed("{}").root(), kEmpty).ok());
}

TEST(RecordMapping, WrongTypesNameWhatWasFoundAndWhatWasExpected) {
  const struct {
    const char* value;
    const char* what;
  } found[] = {
      {"null", "null"},
      {"true", "boolean `true`"},
      {"false", "boolean `false`"},
      {"5", "integer `5`"},
      {"-5", "integer `-5`"},
      {"18446744073709551615", "integer `18446744073709551615`"},
      {"-9223372036854775808", "integer `-9223372036854775808`"},
      {"1.5", "floating point `1.5`"},
      {"1.0", "floating point `1.0`"},
      {"{}", "map"},
      {"[]", "sequence"},
  };
  for (const auto& f : found) {
    EXPECT_EQ(mapping_error(std::string(R"({"a":)") + f.value + "}", kOne),
              std::string("invalid type: ") + f.what + ", expected a string")
        << f.value;
  }
  EXPECT_EQ(mapping_error(R"({"a":"x"})", kFlag), "invalid type: string \"x\", expected a boolean");
  EXPECT_EQ(mapping_error(R"({"a":"a\"b\\c\n\u0001"})", kFlag), R"(invalid type: string "a\"b\\c\n\u{01}", expected a boolean)");
  EXPECT_EQ(mapping_error(R"({"name":1})"), "invalid type: integer `1`, expected a string");
  EXPECT_EQ(mapping_error(R"({"count":-1})"), "invalid type: integer `-1`, expected u64");
  EXPECT_EQ(mapping_error(R"({"count":1.0})"), "invalid type: floating point `1.0`, expected u64");
  EXPECT_EQ(mapping_error(R"({"count":"1"})"), "invalid type: string \"1\", expected u64");
  EXPECT_EQ(mapping_error(R"({"flag":"true"})"), "invalid type: string \"true\", expected a boolean");
  EXPECT_EQ(mapping_error(R"({"list":{}})"), "invalid type: map, expected a sequence");
  EXPECT_EQ(mapping_error(R"({"map":[]})"), "invalid type: sequence, expected a map");
  EXPECT_EQ(mapping_error(R"({"inner":[]})"), "invalid type: sequence, expected struct Inner");
  EXPECT_EQ(mapping_error(R"({"inner":null})"), "invalid type: null, expected struct Inner");
  EXPECT_EQ(mapping_error("[]"), "invalid type: sequence, expected struct Outer");
  EXPECT_EQ(mapping_error("\"x\""), "invalid type: string \"x\", expected struct Outer");
}

TEST(RecordMapping, ErrorsComeInDocumentOrderWithNestedRecordsCheckedInPlace) {
  EXPECT_EQ(mapping_error(R"({"zzz":1,"name":5})"),
            "unknown field `zzz`, expected one of `name`, `inner`, `flag`, "
            "`list`, `map`, `any`, `count`");
  EXPECT_EQ(mapping_error(R"({"name":5,"zzz":1})"), "invalid type: integer `5`, expected a string");
  EXPECT_EQ(mapping_error(R"({"inner":{"n":"x"},"zzz":1})"), "invalid type: string \"x\", expected u64");
  EXPECT_EQ(mapping_error(R"({"inner":{"q":1},"name":5})"), "unknown field `q`, expected `n` or `s`");
  // A nested record's missing member is found when that record ends, before the parent's.
  EXPECT_EQ(mapping_error(R"({"inner":{"s":""}})"), "missing field `n`");
  EXPECT_EQ(mapping_error(R"({"inner":{"s":"","n":1},"name":"x","zzz":1})"),
            "unknown field `zzz`, expected one of `name`, `inner`, `flag`, `list`, `map`, `any`, `count`");
}

TEST(RecordMapping, StringArraysCheckEveryElement) {
  static constexpr std::array<Field, 2> kFields = {{{"tags", Kind::StringArray}, {"after", Kind::U64, true}}};
  constexpr Record kTagged{"Tagged", kFields};
  EXPECT_EQ(mapping_error(R"({"tags":[]})", kTagged), "(accepted)");
  EXPECT_EQ(mapping_error(R"({"tags":["a","b"]})", kTagged), "(accepted)");
  EXPECT_EQ(mapping_error(R"({"tags":"a"})", kTagged), "invalid type: string \"a\", expected a sequence");
  EXPECT_EQ(mapping_error(R"({"tags":["a",5,null],"after":-1})", kTagged), "invalid type: integer `5`, expected a string");
  EXPECT_EQ(mapping_error(R"({"tags":[["a"]]})", kTagged), "invalid type: sequence, expected a string");
}

TEST(RecordMapping, RecordArraysAndNarrowIntegers) {
  static constexpr std::array<Field, 1> kFields = {{{"entries", Kind::RecordArray, false, &kInner}}};
  constexpr Record kLog{"Log", kFields};
  EXPECT_EQ(mapping_error(R"({"entries":[]})", kLog), "(accepted)");
  EXPECT_EQ(mapping_error(R"({"entries":[{"n":1,"s":""},{"n":2,"s":"x"}]})", kLog), "(accepted)");
  EXPECT_EQ(mapping_error(R"({"entries":[{"n":1,"s":""},{"n":2}]})", kLog), "missing field `s`");
  EXPECT_EQ(mapping_error(R"({"entries":[{"n":1,"s":""},5]})", kLog), "invalid type: integer `5`, expected struct Inner");
  EXPECT_EQ(mapping_error(R"({"entries":{}})", kLog), "invalid type: map, expected a sequence");

  static constexpr std::array<Field, 1> kNarrow = {{{"v", Kind::U32}}};
  constexpr Record kSmall{"Small", kNarrow};
  EXPECT_EQ(mapping_error(R"({"v":4294967295})", kSmall), "(accepted)");
  EXPECT_EQ(mapping_error(R"({"v":4294967296})", kSmall), "invalid value: integer `4294967296`, expected u32");
  EXPECT_EQ(mapping_error(R"({"v":-1})", kSmall), "invalid type: integer `-1`, expected u32");
}

TEST(RecordMapping, MissingMembersInDeclaredOrder) {
  EXPECT_EQ(mapping_error("{}"), "missing field `name`");
  EXPECT_EQ(mapping_error(R"({"map":{},"name":""})"), "missing field `inner`");
  EXPECT_EQ(mapping_error(R"({"name":"","inner":{"n":1,"s":""},"map":{}})"), "missing field `list`");
}

TEST(RecordMapping, RepeatedMembersOfAParsedValue) {
  EXPECT_EQ(mapping_error(R"({"a":"x","a":"y"})", kOne), "duplicate field `a`");
  EXPECT_EQ(mapping_error(R"({"a":"x","a":5})", kOne), "duplicate field `a`");
  EXPECT_EQ(mapping_error(R"({"b":1,"b":1})", kOne), "unknown field `b`, expected `a`");
}

TEST(RecordAccessors, ReadMembersByName) {
  const Document document = parsed(R"({"s":"t\u0000u","n":42,"neg":-1,"f":1.5,"o":{"x":1}})");
  const Value& root = document.root();
  ASSERT_NE(member(root, "o"), nullptr);
  EXPECT_TRUE(member(root, "o")->IsObject());
  EXPECT_EQ(member(root, "absent"), nullptr);
  EXPECT_EQ(member(*member(root, "s"), "x"), nullptr);  // not an object
  EXPECT_EQ(string_member(root, "s"), std::string_view("t\0u", 3));
  EXPECT_EQ(u64_member(root, "n"), 42u);
  EXPECT_EQ(string_member(root, "n"), "");
  EXPECT_EQ(u64_member(root, "neg"), 0u);
  EXPECT_EQ(u64_member(root, "f"), 0u);
  EXPECT_EQ(u64_member(root, "absent"), 0u);
}

}  // namespace
}  // namespace orv::json
