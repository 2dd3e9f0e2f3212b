#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

#include "json/canonical.h"
#include "support/shared_data.h"

namespace orv::json {
namespace {

const std::string kIntegerError =
    "value is not JCS-serializable: integer magnitude exceeds 2^53 (I-JSON interop bound); serde_jcs would round it "
    "through f64 \u2014 refusing to coerce";
const std::string kFloatError =
    "value is not JCS-serializable: float magnitude in (2^53, 1e21): its canonical text reparses as an integer beyond "
    "the I-JSON interop bound \u2014 out of domain";
const std::string kNonFiniteError = "value is not JCS-serializable: non-finite float (NaN/Infinity) is not JCS-serializable";

std::string canonical(std::string_view text) {
  Expected<Document, std::string> parsed = parse(text);
  if (!parsed) return "(parse) " + parsed.error();
  Expected<std::string, std::string> out = canonicalize(parsed->root());
  return out ? *out : out.error();
}

std::string number_text(double value) {
  CanonicalWriter writer;
  writer.number(value);
  Expected<std::string, std::string> out = writer.finish();
  return out ? *out : out.error();
}

TEST(Canonical, SortsMembersByUtf16CodeUnits) {
  EXPECT_EQ(canonical(R"({"b":1,"a":2,"B":3})"), R"({"B":3,"a":2,"b":1})");
  // U+1F600 is the pair D83D DE00, below U+E000 in UTF-16 though above it in UTF-8.
  EXPECT_EQ(canonical("{\"\\ue000\":1,\"\\ud83d\\ude00\":2}"), "{\"\U0001F600\":2,\"\ue000\":1}");
  EXPECT_EQ(canonical(R"({"ab":1,"a":2,"":3})"), R"({"":3,"a":2,"ab":1})");
  EXPECT_EQ(canonical(R"({"z":{"y":1,"x":[{"d":1,"c":2}]},"a":{}})"), R"({"a":{},"z":{"x":[{"c":2,"d":1}],"y":1}})");
}

// Names are ordered by their code units, not by their escaped text (where every escaped name
// would start with a backslash), and two names that differ only in an escape stay two members.
TEST(Canonical, EscapedMemberNamesSortByWhatTheyDecodeTo) {
  EXPECT_EQ(canonical(R"({"a":0,"]":1,"\\":2,"[":3,"#":4,"\"":5,"\f":6,"\t":7,"\b":8,"\u0007":9})"),
            R"({"\u0007":9,"\b":8,"\t":7,"\f":6,"\"":5,"#":4,"[":3,"\\":2,"]":1,"a":0})");
}

TEST(Canonical, ARepeatedNameKeepsTheLastValue) {
  EXPECT_EQ(canonical(R"({"a":1,"b":2,"a":3})"), R"({"a":3,"b":2})");
  EXPECT_EQ(canonical(R"({"a":1,"\u0061":{"x":2}})"), R"({"a":{"x":2}})");
}

TEST(Canonical, WritesScalarsAndEmptyContainers) {
  EXPECT_EQ(canonical(" { } "), "{}");
  EXPECT_EQ(canonical("[ ]"), "[]");
  EXPECT_EQ(canonical("[null, true, false, 0, -0, 5, -5, \"\"]"), R"([null,true,false,0,0,5,-5,""])");
  EXPECT_EQ(canonical("[[[]],{\"a\":[{}]}]"), R"([[[]],{"a":[{}]}])");
}

TEST(Canonical, EscapesOnlyWhatRfc8785Requires) {
  EXPECT_EQ(canonical(R"("\u001f")"), R"("\u001f")");
  EXPECT_EQ(canonical(R"("\u0000\u0001\u000b\u000e")"), R"("\u0000\u0001\u000b\u000e")");
  EXPECT_EQ(canonical(R"("\b\t\n\f\r")"), R"("\b\t\n\f\r")");
  EXPECT_EQ(canonical(R"("\"\\\/")"), R"("\"\\/")");
  EXPECT_EQ(canonical(R"("\u007f\u00e9\u2028\ud83d\ude00")"), "\"\x7f\u00e9\u2028\U0001F600\"");
  EXPECT_EQ(canonical("{\"\\n\":1,\"\\u001f\":2}"), R"({"\n":1,"\u001f":2})");
}

TEST(Canonical, IntegersStayWithin2To53) {
  EXPECT_EQ(canonical("[9007199254740992,-9007199254740992]"), "[9007199254740992,-9007199254740992]");
  EXPECT_EQ(canonical("9007199254740993"), kIntegerError);
  EXPECT_EQ(canonical("-9007199254740993"), kIntegerError);
  EXPECT_EQ(canonical("{\"a\":{\"b\":[1,18446744073709551615]}}"), kIntegerError);
  EXPECT_EQ(canonical("-9223372036854775808"), kIntegerError);
  CanonicalWriter writer;
  EXPECT_TRUE(writer.integer(5) && writer.finish() && *writer.finish() == "5");
}

TEST(Canonical, TheFirstOffendingNumberEndsIt) {
  EXPECT_EQ(canonical("[9007199254740993, 1e20]"), kIntegerError);
  EXPECT_EQ(canonical("[1e20, 9007199254740993]"), kFloatError);
  EXPECT_EQ(canonical(R"({"b":9007199254740993,"a":1e20})"), kIntegerError);  // document order, not sorted order
}

TEST(Canonical, FloatsFollowEcmascriptNumberToString) {
  // RFC 8785 appendix B values (by their IEEE 754 bits), those inside the I-JSON domain.
  const struct {
    uint64_t bits;
    const char* text;
  } cases[] = {
      {0x0000000000000000, "0"},
      {0x8000000000000000, "0"},
      {0x0000000000000001, "5e-324"},
      {0x8000000000000001, "-5e-324"},
      {0x7fefffffffffffff, "1.7976931348623157e+308"},
      {0xffefffffffffffff, "-1.7976931348623157e+308"},
      {0x4340000000000000, "9007199254740992"},
      {0xc340000000000000, "-9007199254740992"},
      {0x44b52d02c7e14af5, "9.999999999999997e+22"},
      {0x44b52d02c7e14af6, "1e+23"},
      {0x44b52d02c7e14af7, "1.0000000000000001e+23"},
      {0x444b1ae4d6e2ef50, "1e+21"},
      {0x3eb0c6f7a0b5ed8c, "9.999999999999997e-7"},
      {0x3eb0c6f7a0b5ed8d, "0.000001"},
      {0x41b3de4355555553, "333333333.3333332"},
      {0x41b3de4355555554, "333333333.33333325"},
      {0x41b3de4355555555, "333333333.3333333"},
      {0x41b3de4355555556, "333333333.3333334"},
      {0x41b3de4355555557, "333333333.33333343"},
      {0xbecbf647612f3696, "-0.0000033333333333333333"},
      {0x43143ff3c1cb0959, "1424953923781206.2"},
  };
  for (const auto& c : cases) EXPECT_EQ(number_text(std::bit_cast<double>(c.bits)), c.text) << std::hex << c.bits;
  EXPECT_EQ(number_text(56.0), "56");
  EXPECT_EQ(number_text(4.5), "4.5");
  EXPECT_EQ(number_text(1e-7), "1e-7");
  EXPECT_EQ(number_text(1.5e-7), "1.5e-7");
  EXPECT_EQ(number_text(1e30), "1e+30");
}

TEST(Canonical, FloatsOutsideTheDomainAreRefused) {
  EXPECT_EQ(number_text(std::bit_cast<double>(uint64_t{0x4430000000000000})), kFloatError);  // 2^68
  EXPECT_EQ(number_text(9007199254740994.0), kFloatError);
  EXPECT_EQ(number_text(-9.99999999999999e20), kFloatError);
  EXPECT_EQ(number_text(std::numeric_limits<double>::quiet_NaN()), kNonFiniteError);
  EXPECT_EQ(number_text(-std::numeric_limits<double>::infinity()), kNonFiniteError);
  // A float that happens to be exactly 2^53 stays in.
  EXPECT_EQ(canonical("9007199254740992.0"), "9007199254740992");
  EXPECT_EQ(canonical("[18446744073709551616]"), kFloatError);
}

TEST(CanonicalWriter, ProtocolErrors) {
  const auto error_of = [](auto calls) {
    CanonicalWriter writer;
    calls(writer);
    Expected<std::string, std::string> out = writer.finish();
    return out ? "(accepted) " + *out : out.error();
  };
  const std::string prefix = "value is not JCS-serializable: ";
  EXPECT_EQ(error_of([](CanonicalWriter& w) { w.end_object(); }), prefix + "end_object called before begin_object");
  EXPECT_EQ(error_of([](CanonicalWriter& w) { w.end_object_key(); }), prefix + "end_object_key called before begin_object");
  EXPECT_EQ(error_of([](CanonicalWriter& w) { w.begin_object_key(); }), prefix + "begin_object_key called before begin_object");
  EXPECT_EQ(error_of([](CanonicalWriter& w) { w.end_object_value(); }), prefix + "end_object_value called before begin_object");
  // After a closed object there is again no object open.
  EXPECT_EQ(error_of([](CanonicalWriter& w) { w.begin_object() && w.end_object() && w.end_object(); }),
            prefix + "end_object called before begin_object");
  // The first failure stays; later calls change nothing.
  EXPECT_EQ(error_of([](CanonicalWriter& w) {
              w.begin_array();
              w.integer(uint64_t{1} << 60);
              w.end_object();
              w.end_array();
            }),
            kIntegerError);
  EXPECT_EQ(error_of([](CanonicalWriter& w) { w.begin_object() && w.integer(1); }),
            prefix + "a value written outside a member name or member value");
  EXPECT_EQ(error_of([](CanonicalWriter& w) {
              w.begin_object() && w.begin_object_key() && w.integer(1) && w.end_object_key() && w.begin_object_value() &&
                  w.null() && w.end_object_value();
            }),
            prefix + "an object member name that is not a string");
  EXPECT_EQ(error_of([](CanonicalWriter& w) { w.begin_object() && w.key("a") && w.end_object(); }),
            prefix + "end_object called inside a member");
  EXPECT_EQ(error_of([](CanonicalWriter& w) { w.begin_array() && w.end_object_value(); }),
            prefix + "end_object_value called before begin_object");
  EXPECT_EQ(error_of([](CanonicalWriter& w) { w.begin_object() && w.key("a") && w.begin_array() && w.end_object_value(); }),
            prefix + "end_object_value called inside an array");
  EXPECT_EQ(error_of([](CanonicalWriter& w) { w.begin_object() && w.key("a") && w.null() && w.null(); }),
            prefix + "a second value in one member name or member value");
  EXPECT_EQ(error_of([](CanonicalWriter& w) { w.null() && w.null(); }), prefix + "a second value after the complete one");
  EXPECT_EQ(error_of([](CanonicalWriter& w) { w.begin_array(); }), prefix + "the value is incomplete");
  EXPECT_EQ(error_of([](CanonicalWriter&) {}), prefix + "the value is incomplete");
  EXPECT_EQ(error_of([](CanonicalWriter& w) { w.string("\xC0\xAF"); }), prefix + "a string that is not UTF-8");
}

TEST(CanonicalWriter, BuildsRecordsThroughTheProtocol) {
  CanonicalWriter w;
  ASSERT_TRUE(w.begin_object());
  ASSERT_TRUE(w.key("usage") && w.integer(uint64_t{7}) && w.end_object_value());
  ASSERT_TRUE(w.begin_object_key() && w.string("list") && w.end_object_key() && w.begin_object_value());
  ASSERT_TRUE(w.begin_array() && w.string("x\"y") && w.number(0.5) && w.begin_object() && w.end_object() && w.end_array() &&
              w.end_object_value());
  ASSERT_TRUE(w.key("a\u00e9") && w.boolean(false) && w.end_object_value());
  ASSERT_TRUE(w.end_object());
  ASSERT_TRUE(w.finish());
  EXPECT_EQ(*w.finish(), "{\"a\u00e9\":false,\"list\":[\"x\\\"y\",0.5,{}],\"usage\":7}");
}

TEST(Canonical, RefusesNestingBeyondWhatParseAdmits) {
  EXPECT_EQ(canonical(std::string(127, '[') + std::string(127, ']')), std::string(127, '[') + std::string(127, ']'));
  rapidjson::Document deep;
  rapidjson::Value* at = &deep.SetArray();
  for (int i = 0; i < 127; ++i) {
    at->PushBack(rapidjson::Value(rapidjson::kArrayType), deep.GetAllocator());
    at = &(*at)[0];
  }
  EXPECT_EQ(canonicalize(deep).error(), "value is not JCS-serializable: nesting deeper than 127 levels");
}

// RFC 8785 vectors published with its reference implementation and with a Go package.
TEST(Canonical, PublishedJcsVectors) {
  ORV_REQUIRE_SHARED(shared);
  int checked = 0;
  for (const char* set : {"cyberphone", "gowebpki"}) {
    const std::filesystem::path dir = shared / "realdata/jcs" / set;
    ASSERT_TRUE(std::filesystem::is_directory(dir / "input")) << dir;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "input")) {
      const std::string name = entry.path().filename().string();
      const std::string expected = test::read_file(dir / "output" / name);
      EXPECT_EQ(canonical(test::read_file(entry.path())), expected) << set << "/" << name;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 10);
}

}  // namespace
}  // namespace orv::json
