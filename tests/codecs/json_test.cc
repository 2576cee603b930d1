#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/native_type_builder.h"
#include "codecs/json.h"

namespace Tesk {
namespace {

using Kind = BindingPropertyKind;

struct ErrorCase {
  const char* what;
  std::string input;
  const char* message;
};

const ErrorCase kBadJson[] = {
    {"empty", "", "Error: The document is empty. at offset 0."},
    {"spaces", "   ", "Error: The document is empty. at offset 3."},
    {"two roots", "1 2",
     "Error: The document root must not be followed by other values. at offset 2."},
    {"trailing comma", "{\"a\":1,}", "Error: Missing a name for object member. at offset 7."},
    {"bad literal", "[tru]", "Error: Invalid value. at offset 4."},
    {"missing colon", "{\"a\" 1}",
     "Error: Missing a colon after a name of object member. at offset 5."},
    {"missing brace", "{\"a\":1",
     "Error: Missing a comma or '}' after an object member. at offset 6."},
    {"missing bracket", "[1", "Error: Missing a comma or ']' after an array element. at offset 2."},
    {"bad hex", "\"\\u12x4\"",
     "Error: Incorrect hex digit after \\u escape in string. at offset 1."},
    {"bad surrogate", "\"\\uD800\\u0041\"",
     "Error: The surrogate pair in string is invalid. at offset 1."},
    {"bad escape", "\"\\q\"", "Error: Invalid escape character in string. at offset 1."},
    {"unterminated", "\"abc", "Error: Missing a closing quotation mark in string. at offset 4."},
    {"raw tab", "\"a\tb\"", "Error: Invalid encoding in string. at offset 2."},
    {"raw line feed", "[\"\n\"]", "Error: Invalid encoding in string. at offset 2."},
    {"control byte after an escape and a long run", "\"\\n" + std::string(40, 'x') + "\x01\"",
     "Error: Invalid encoding in string. at offset 43."},
    {"unterminated after an escape", "[\"a\\tb",
     "Error: Missing a closing quotation mark in "
     "string. at offset 6."},
    {"escape cut by the end", "\"\\", "Error: Invalid escape character in string. at offset 1."},
    {"high surrogate then plain text", "\"ab\\uD83Dxy\"",
     "Error: The surrogate pair in string is invalid. at offset 3."},
    {"lone low surrogate", "\"\\udc00\"",
     "Error: The surrogate pair in string is invalid. at offset 1."},
    {"low surrogate first, after text", "[\"ab\\uDFFF\\uD800\"]",
     "Error: The surrogate pair in string is invalid. at offset 4."},
    {"bad hex in a low surrogate", "\"\\uD83D\\uDE0G\"",
     "Error: Incorrect hex digit after \\u escape in string. at offset 1."},
    {"minus alone", "[-]", "Error: Invalid value. at offset 2."},
    {"leading zero", "[01]", "Error: Missing a comma or ']' after an array element. at offset 2."},
    {"exponent sign alone", "1e+", "Error: Miss exponent in number. at offset 3."},
    {"huge number", "1e400", "Error: Number too big to be stored in double. at offset 0."},
    {"no fraction", "1.", "Error: Miss fraction part in number. at offset 2."},
    {"no exponent", "1e", "Error: Miss exponent in number. at offset 2."},
    {"comment", "// x\n1", "Error: Invalid value. at offset 0."},
    {"NaN literal", "NaN", "Error: Invalid value. at offset 0."},
    {"too deep", std::string(kMaxJsonDepth + 1, '['),
     "Error: The document is nested too deeply. at offset 513."},
};

TEST(ParseJson, ReportsErrorsWithTextAndOffset) {
  for (const ErrorCase& c : kBadJson) {
    SCOPED_TRACE(c.what);
    const BindingResult result = ParseJson(c.input);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.ErrorText(), c.message);
    EXPECT_EQ(result.value.Size(), 1u) << "only the error member remains";
  }
}

TEST(ParseJson, NumbersBeyondADoubleNeverBecomeInfinity) {
  // Reported at the number's first byte, never read as infinity.
  const std::pair<std::string, int> cases[] = {{std::string(113, '3') + ".0e223", 0},
                                               {"1e400", 0},
                                               {"[-" + std::string(400, '9') + "]", 1},
                                               {"[1.7976931348623159e308]", 1}};
  for (const auto& [input, offset] : cases) {
    SCOPED_TRACE(input);
    EXPECT_EQ(
        ParseJson(input).ErrorText(),
        "Error: Number too big to be stored in double. at offset " + std::to_string(offset) + ".");
  }
}

TEST(ParseJson, HostileNestingIsRefusedNotOverflowed) {
  const std::string deep(100000, '[');
  const BindingResult arrays = ParseJson(deep);
  EXPECT_EQ(arrays.ErrorText(), "Error: The document is nested too deeply. at offset 513.");
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  EXPECT_FALSE(ParseJson(objects).ok);
  // The deepest accepted document reads and writes back.
  const std::string deepest = std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']');
  const BindingResult accepted = ParseJson(deepest);
  ASSERT_TRUE(accepted.ok) << accepted.ErrorText();
  EXPECT_EQ(WriteJson(accepted.value), deepest);
}

struct NumberCase {
  const char* input;
  Kind kind;
  const char* written;  // null: compared with the C library's conversion instead
};

TEST(ParseJson, ClassifiesNumbersAtTheSixtyFourBitLimits) {
  const NumberCase cases[] = {
      {"0", Kind::Unsigned, "0"},
      {"-0", Kind::Signed, "0"},
      {"4294967296", Kind::Unsigned, "4294967296"},
      {"18446744073709551615", Kind::Unsigned, "18446744073709551615"},
      {"18446744073709551616", Kind::Float, nullptr},
      {"-9223372036854775808", Kind::Signed, "-9223372036854775808"},
      {"-9223372036854775809", Kind::Float, nullptr},
      {"1.5", Kind::Float, "1.5"},
      {"100", Kind::Unsigned, "100"},
      {"1e2", Kind::Float, "100.0"},
      {"-2.5E-3", Kind::Float, "-0.0025"},
      {"1e-400", Kind::Float, "0.0"},
      {"-1e-400", Kind::Float, "-0.0"},
      {"0e400", Kind::Float, "0.0"},
      {"-0.0", Kind::Float, "-0.0"},
      {"0.000000000000000000000000000012345e30", Kind::Float, "12.345"},
      {"12345678901234567890123e-20", Kind::Float, "123.45678901234568"},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.input);
    const BindingResult result = ParseJson(c.input);
    ASSERT_TRUE(result.ok) << result.ErrorText();
    EXPECT_EQ(result.value.Kind(), c.kind);
    if (c.written != nullptr) {
      EXPECT_EQ(WriteJson(result.value), c.written);
    } else {
      EXPECT_EQ(result.value.GetFloat(), std::strtod(c.input, nullptr));
    }
  }
}

TEST(ParseJson, ReadsDecimalTextsToTheNearestDouble) {
  // Texts whose nearest double a quick conversion misses: long significands,
  // large and small exponents, halfway cases, subnormals.
  const char* const texts[] = {
      "1e-7",
      "0.1",
      "-65.613616999999977",
      "2.2250738585072011e-308",
      "2.2250738585072014e-308",
      "4.9406564584124654e-324",
      "1.7976931348623157e308",
      "9007199254740993.0",
      "0.30000000000000004",
      "123456789012345678901234567890",
      "1.00000000000000011102230246251565404236316680908203125",
      "7.3177701707893310e+15",
      "8.988465674311580536566680e307",
      "3.4e-310",
      // Quotients on or next to a halfway point, which the exact comparison settles.
      "62881139106881452.0",
      "164666473637176336.0",
      "8626364756775001.5",
      "9007199254740995.0",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const BindingResult result = ParseJson(std::string("[") + text + "]");
    ASSERT_TRUE(result.ok) << result.ErrorText();
    EXPECT_EQ(result.value.At(0).GetFloat(), std::strtod(text, nullptr));
  }
}

TEST(ParseJson, ReadsLongSignificandsToTheNearestDouble) {
  // Random texts of 15 to 19 significant digits with small exponents, where
  // the reader settles the rounding itself, and some beyond, where it hands
  // the text on: each must read as the C library reads it.
  uint64_t state = 0x2545F4914F6CDD1Dull;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return state >> 11;
  };
  std::string text = "[";
  std::vector<std::string> numbers;
  for (int i = 0; i < 20000; ++i) {
    std::string digits = std::to_string(next() % 9 + 1);
    const int length = 15 + static_cast<int>(next() % (i % 4 == 0 ? 10 : 5));
    while (static_cast<int>(digits.size()) < length) digits += static_cast<char>('0' + next() % 10);
    const int point = 1 + static_cast<int>(next() % digits.size());
    std::string number = digits.substr(0, point);
    if (point < length) number += "." + digits.substr(point);
    number += "e" + std::to_string(static_cast<int>(next() % 41) - 20);
    text += (i == 0 ? "" : ",") + number;
    numbers.push_back(number);
  }
  text += "]";
  const BindingResult read = ParseJson(text);
  ASSERT_TRUE(read.ok) << read.ErrorText();
  int wrong = 0;
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (read.value.At(static_cast<uint32_t>(i)).GetFloat() !=
        std::strtod(numbers[i].c_str(), nullptr)) {
      if (++wrong < 5) ADD_FAILURE() << numbers[i];
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST(ParseJson, ReadsBackEveryDoubleItWrites) {
  // Random bit patterns over the whole range; what the writer writes must read
  // back to the very same double.
  uint64_t state = 0x9E3779B97F4A7C15ull;
  BindingProperty numbers;
  for (int i = 0; i < 20000; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    double value;
    const uint64_t bits = state ^ (state >> 29);
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    numbers.Append().SetFloat(i % 2 == 0 ? value : static_cast<double>(bits % 1000000) / 1000.0);
  }
  const BindingResult read = ParseJson(WriteJson(numbers));
  ASSERT_TRUE(read.ok) << read.ErrorText();
  ASSERT_EQ(read.value.Size(), numbers.Size());
  int changed = 0;
  for (uint32_t i = 0; i < numbers.Size(); ++i) {
    const BindingProperty& back = read.value.At(i);
    // Whole numbers come back as integers; every other one as the same double.
    const double number = back.Kind() == Kind::Float    ? back.GetFloat()
                          : back.Kind() == Kind::Signed ? static_cast<double>(back.GetSigned())
                                                        : static_cast<double>(back.GetUnsigned());
    if (number != numbers.At(i).GetFloat()) ++changed;
  }
  EXPECT_EQ(changed, 0);
}

struct RoundTripCase {
  const char* what;
  const char* input;
  const char* written;
};

TEST(ParseJson, BuildsValuesThatWriteBack) {
  const RoundTripCase cases[] = {
      {"null root", "null", ""},
      {"array of null", "[null]", "[null]"},
      {"members sorted", "{\"b\":1,\"a\":2}", "{\"a\":2,\"b\":1}"},
      {"duplicate scalar then null", "{\"a\":1,\"a\":null}", "{\"a\":1}"},
      {"duplicate arrays append", "{\"a\":[1],\"a\":[2]}", "{\"a\":[1,2]}"},
      {"duplicate objects merge", "{\"a\":{\"x\":1},\"a\":{\"y\":2}}", "{\"a\":{\"x\":1,\"y\":2}}"},
      {"duplicate scalars", "{\"a\":1,\"a\":2}", "{\"a\":2}"},
      {"duplicate replaced, then an object",
       "{\"o\":{\"k\":{\"x\":1}},\"o\":{\"k\":5,\"k\":{\"y\":2}}}", "{\"o\":{\"k\":{\"y\":2}}}"},
      {"duplicate deep inside an array", "[{\"a\":1},{\"b\":[{\"c\":1,\"c\":[2],\"c\":[3]}]}]",
       "[{\"a\":1},{\"b\":[{\"c\":[2,3]}]}]"},
      {"names with a NUL cut there", "{\"a\\u0000x\":1,\"a\":2}", "{\"a\":2}"},
      {"NUL ends a string", "\"a\\u0000b\"", "\"a\""},
      {"escapes", "\"q\\\"b\\\\s\\/t\\tn\\nc\\u0001\\u007f\"",
       "\"q\\\"b\\\\s/t\\tn\\nc\\u0001\x7f\""},
      {"unicode", "\"\\u00e9\\ud83d\\ude00\"", "\"\xC3\xA9\xF0\x9F\x98\x80\""},
      {"escapes between runs longer than a block",
       "[\"0123456789abcdefghij\\n0123456789abcdefghij\\u00e90123456789abcdefghij\"]",
       "[\"0123456789abcdefghij\\n0123456789abcdefghij\xC3\xA9"
       "0123456789abcdefghij\"]"},
      {"nested", " {\"list\": [true, false, {\"k\": \"v\"}, []], \"o\": {}} ",
       "{\"list\":[true,false,{\"k\":\"v\"},[]],\"o\":{}}"},
      // Records in one place whose names repeat, change order, grow, shrink,
      // share a prefix or repeat a name: the builder expects each record's
      // names from the last one and remembers orders, and must never reuse
      // either where the names differ.
      {"records of changing names",
       "[{\"b\":1,\"a\":2},{\"b\":3,\"a\":4},{\"a\":5,\"b\":6},{\"b\":7,\"c\":8},"
       "{\"b\":9,\"a\":10,\"c\":11},{\"bb\":12,\"a\":13},{\"b\":14},"
       "{\"b\":15,\"a\":16,\"b\":17}]",
       "[{\"a\":2,\"b\":1},{\"a\":4,\"b\":3},{\"a\":5,\"b\":6},{\"b\":7,\"c\":8},"
       "{\"a\":10,\"b\":9,\"c\":11},{\"a\":13,\"bb\":12},{\"b\":14},{\"a\":16,\"b\":17}]"},
      {"same names in other places",
       "{\"x\":{\"b\":1,\"a\":2},\"y\":{\"a\":3,\"c\":4},\"z\":[{\"b\":5,\"a\":6},{\"c\":7}]}",
       "{\"x\":{\"a\":2,\"b\":1},\"y\":{\"a\":3,\"c\":4},\"z\":[{\"a\":6,\"b\":5},{\"c\":7}]}"},
      {"a structure closing in the place of the one that holds it",
       "[{\"x\":{\"b\":1,\"x\":2}},{\"x\":{\"b\":1,\"x\":{\"z\":2,\"y\":3}}}]",
       "[{\"x\":{\"b\":1,\"x\":2}},{\"x\":{\"b\":1,\"x\":{\"y\":3,\"z\":2}}}]"},
  };
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.what);
    const BindingResult result = ParseJson(c.input);
    ASSERT_TRUE(result.ok) << result.ErrorText();
    EXPECT_EQ(WriteJson(result.value), c.written);
  }
}

TEST(ParseJson, TextEndsAtTheFirstNul) {
  const std::string text("[1]\0garbage", 11);
  const BindingResult fromString = ParseJson(text);
  ASSERT_TRUE(fromString.ok);
  EXPECT_EQ(WriteJson(fromString.value), "[1]");
  const BindingResult fromView = ParseJson(std::string_view(text));
  ASSERT_TRUE(fromView.ok);
  const BindingResult unterminatedView = ParseJson(std::string_view("[2]xyz", 3));
  ASSERT_TRUE(unterminatedView.ok) << unterminatedView.ErrorText();
  EXPECT_EQ(WriteJson(unterminatedView.value), "[2]");
}

TEST(WriteJson, WritesEveryKind) {
  BindingProperty value;
  value.MemberRef("float3").SetFloat(3);
  value.MemberRef("signed").SetSigned(-5);
  value.MemberRef("blob").SetBlob(std::vector<uint8_t>{'a', 'b', 'c'});
  value.MemberRef("blob1").SetBlob(std::vector<uint8_t>{'a'});
  value.MemberRef("blob2").SetBlob(std::vector<uint8_t>{'a', 'b'});
  value.MemberRef("enum").SetEnum({4, nullptr});
  value.MemberRef("nan").SetFloat(std::nan(""));
  value.MemberRef("inf").SetFloat(-std::numeric_limits<double>::infinity());
  value.MemberRef("tiny").SetFloat(1.5e-7);
  value.MemberRef("huge").SetFloat(1e21);
  value.MemberRef("negative zero").SetFloat(-0.0);
  value.MemberRef("empty").Reset();
  value.MemberRef("control").SetString("\x1f\b\f\r");
  EXPECT_EQ(
      WriteJson(value),
      "{\"blob\":\"YWJj\",\"blob1\":\"YQ==\",\"blob2\":\"YWI=\",\"control\":\"\\u001F\\b\\f\\r\","
      "\"empty\":null,\"enum\":4,\"float3\":3.0,\"huge\":1e21,\"inf\":null,\"nan\":null,"
      "\"negative zero\":-0.0,\"signed\":-5,\"tiny\":1.5e-7}");
}

TEST(WriteJson, IndentsWithTheGivenLineBreak) {
  BindingProperty value;
  value.MemberRef("a").Append().SetUnsigned(1);
  EXPECT_EQ(WriteJson(value, nullptr, "\r\n"), "{\r\n    \"a\": [\r\n        1\r\n    ]\r\n}");
  EXPECT_EQ(WriteJson(value, nullptr, "\n"), "{\n    \"a\": [\n        1\n    ]\n}");
  BindingProperty withEmpties;
  withEmpties.MemberRef("list").MakeCollection();
  withEmpties.MemberRef("map").MakeStructure();
  withEmpties.MemberRef("text").SetString("line\nbreak");
  EXPECT_EQ(WriteJson(withEmpties, nullptr, "\r\n"),
            "{\r\n    \"list\": [],\r\n    \"map\": {},\r\n    \"text\": \"line\\nbreak\"\r\n}");
}

// Texts of several MiB are moved to the result in pieces, into room reserved
// for what the tree is expected to need: pieces must join without a byte
// lost, also where escapes (longer than expected) and long strings (larger
// than a piece) make the guess too small.
TEST(WriteJson, LargeTextsComeOutWhole) {
  BindingProperty value;
  BindingProperty& rows = value.MemberRef("rows");
  for (int i = 0; i < 40000; ++i) {
    BindingProperty& row = rows.Append();
    row.MemberRef("n").SetUnsigned(static_cast<uint64_t>(i));
    row.MemberRef("x").SetFloat(i / 7.0);
    row.MemberRef("s").SetString("\"quoted\"\n\x01 and more text " + std::to_string(i));
  }
  value.MemberRef("long").SetString(std::string(3 << 20, '\t'));
  for (const char* lineBreak : {"", "\n"}) {
    const std::string text = WriteJson(value, nullptr, lineBreak);
    EXPECT_GT(text.size(), size_t{8} << 20);
    const BindingResult back = ParseJson(text);
    ASSERT_TRUE(back.ok) << back.ErrorText();
    EXPECT_TRUE(back.value == value);
    EXPECT_EQ(WriteJson(back.value, nullptr, lineBreak), text);
  }
}

}  // namespace
}  // namespace Tesk

namespace Tesk {
namespace {

enum class Shade : int32_t { Dark = 0, Light = 1 };

struct Swatch {
  std::string name;
  Shade shade = Shade::Dark;
  std::vector<std::string> tags;
};

struct Unregistered {
  int32_t value = 0;
};

class JsonNative : public ::testing::Test {
 protected:
  void SetUp() override {
    auto shade = registry.BeginType<Shade>("Shade");
    shade.Enumerator("Dark", Shade::Dark);
    shade.Enumerator("Light", Shade::Light);
    auto swatch = registry.BeginType<Swatch>("Swatch");
    swatch.Field("name", &Swatch::name);
    swatch.Field("shade", &Swatch::shade);
    swatch.Field("tags", &Swatch::tags);
  }
  BindingRegistry registry;
};

TEST_F(JsonNative, ReadsIntoAndWritesFromNativeTypes) {
  Swatch swatch;
  ASSERT_TRUE(ParseJsonAs("{\"name\":\"teal\",\"shade\":\"Light\",\"tags\":[\"a\",\"b\"]}",
                          &registry, swatch));
  EXPECT_EQ(swatch.name, "teal");
  EXPECT_EQ(swatch.shade, Shade::Light);
  EXPECT_EQ(swatch.tags, (std::vector<std::string>{"a", "b"}));

  const JsonWriteResult written = WriteJsonFrom(swatch, &registry);
  ASSERT_TRUE(written.ok);
  EXPECT_EQ(written.text, "{\"name\":\"teal\",\"shade\":\"Light\",\"tags\":[\"a\",\"b\"]}");
  // Without a registry to name it, the enumeration value is written as its number.
  BindingProperty light;
  light.SetEnum({1, &TypeKeyOf<Shade>()});
  EXPECT_EQ(WriteJson(light), "1");
  EXPECT_EQ(WriteJson(light, &registry), "\"Light\"");
  light.SetEnum({7, &TypeKeyOf<Shade>()});
  EXPECT_EQ(WriteJson(light, &registry), "7");

  EXPECT_FALSE(ParseJsonAs("{\"shade\":\"Purple\"}", &registry, swatch));
  EXPECT_FALSE(ParseJsonAs("{", &registry, swatch));
}

TEST_F(JsonNative, UnregisteredStructureFailsToWrite) {
  const JsonWriteResult written = WriteJsonFrom(Unregistered{}, &registry);
  EXPECT_FALSE(written.ok);
  EXPECT_EQ(written.text.rfind("Failed to convert type ", 0), 0u);
  EXPECT_NE(written.text.find("Unregistered"), std::string::npos);
  EXPECT_NE(written.text.find(" to BindingProperty for serialization"), std::string::npos);
}

// Many names in descending order and one of them again, through the merging
// reader: the repeated array appends, every other member as without the
// repeat, all in name order.
TEST(ParseJson, ManyNamesInDescendingOrderWithARepeat) {
  std::string repeated = "{";
  std::string merged = "{";
  char member[32];
  for (int i = 20000; i > 0; --i) {
    std::snprintf(member, sizeof member, "\"k%05d\":[%d],", i, i);
    repeated += member;
    if (i == 10000) std::snprintf(member, sizeof member, "\"k%05d\":[%d,7],", i, i);
    merged += member;
  }
  repeated += "\"k10000\":[7]}";
  merged.back() = '}';
  const BindingResult read = ParseJson(repeated);
  ASSERT_TRUE(read.ok) << read.ErrorText();
  const BindingResult expected = ParseJson(merged);
  ASSERT_TRUE(expected.ok);
  EXPECT_TRUE(read.value == expected.value);
}

}  // namespace
}  // namespace Tesk
