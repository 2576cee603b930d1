#include "codecs/yaml_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "codecs/internal/yaml_general_reader.h"
#include "codecs/value_text.h"

namespace Tesk {
namespace {

using ::testing::Not;
using ::testing::StartsWith;
using namespace std::string_view_literals;

struct ValueCase {
  const char* what;
  std::string_view yaml;
  std::string_view value;  // FlowText of the result
};

struct ErrorCase {
  const char* what;
  std::string_view yaml;
  std::string_view error;
};

std::string FlowText(const BindingProperty& value) {
  return Testing::ValueText(value, Testing::ValueTextStyle::YamlFlow);
}

std::string Outcome(const BindingResult& result) {
  return result.ok ? FlowText(result.value) : "error: " + result.ErrorText();
}

// Reads `yaml` and returns FlowText of the value, or "error: " and the message.
// The general reader alone must read it the same: the usual document takes
// another way.
std::string Read(std::string_view yaml) {
  const std::string outcome = Outcome(ParseYaml(yaml));
  EXPECT_EQ(Outcome(YamlInternal::ReadYamlGeneral(yaml.data(), yaml.size())), outcome);
  return outcome;
}

std::string Repeat(std::string_view text, size_t count) {
  std::string out;
  out.reserve(text.size() * count);
  for (size_t i = 0; i < count; ++i) out += text;
  return out;
}

constexpr ValueCase kScalarTyping[] = {
    {"plain integer", "a: 1", "{a: 1u}"},
    {"whole float", "a: -1.0", "{a: -1}"},
    {"quoted number", R"(a: "1")", R"({a: "1"})"},
    {"true word", "a: yes", "{a: true}"},
    {"null word", "a: ~", "{a: ~}"},
    {"no value", "a:", "{a: ~}"},
    {"flow sequence", "[1, 2.5, x]", R"([1u, 2.5, "x"])"},
    {"null words", "[~, null, Null, NULL, '', nULL]", R"([~, ~, ~, ~, "", "nULL"])"},
    {"number forms", "[12, 1.0, 1e3, 0x10, -3, 2.5, +7, .5, -0, 1.]",
     "[12u, 1u, 1000u, 16u, -3, 2.5, 7u, 0.5, 0u, 1u]"},
    {"whole numbers around 15 digits",
     "[007, -007, 999999999999999, -999999999999999, 9999999999999999]",
     "[7u, -7, 999999999999999u, -999999999999999, 9999999999999999u]"},
    {"integers that fit 64 bits keep every digit",
     "[9007199254740993, -9007199254740993, 18446744073709551615, -9223372036854775808, 1e19]",
     "[9007199254740993u, -9007199254740993, 18446744073709551615u, -9223372036854775808, "
     "10000000000000000000u]"},
    {"an integer beyond 2^53 in a mapping", "id: 9007199254740993", "{id: 9007199254740993u}"},
    {"whole numbers beyond 64 bits stay floats",
     "[18446744073709551616, 2e19, -9223372036854777856, -1e300]",
     "[1.8446744073709552e+19, 2e+19, -9.223372036854778e+18, -1e+300]"},
    {"infinities stay text, not-a-number is a float", "[inf, -inf, 1e400, -1e400, .inf, nan]",
     R"(["inf", "-inf", "1e400", "-1e400", ".inf", nan])"},
    {"true words", "[true, True, TRUE, y, Y, yes, Yes, YES, on, On, ON]",
     "[true, true, true, true, true, true, true, true, true, true, true]"},
    {"false words", "[false, False, FALSE, n, N, no, No, NO, off, Off, OFF]",
     "[false, false, false, false, false, false, false, false, false, false, false]"},
    {"words in other cases stay text", "[tRUE, yES, oFF, Nope]",
     R"(["tRUE", "yES", "oFF", "Nope"])"},
    {"quoted scalars are never typed", R"(['1', "yes", '~', "", 'null'])",
     R"(["1", "yes", "~", "", "null"])"},
    {"literal scalar keeps its line break", "a: |\n  12\n", R"({a: "12\x0a"})"},
    {"stripped literal and folded scalars are typed", "a: |-\n  12\nb: >-\n  yes\n",
     "{a: 12u, b: true}"},
    {"text", "a: hello world", R"({a: "hello world"})"},
    {"keys are never typed", R"({1: a, true: b, ~: c, null: d, 0x1: e})",
     R"({0x1: "e", 1: "a", null: "d", true: "b", "~": "c"})"},
    {"empty document", "", "~"},
    {"comment only", "# nothing here\n", "~"},
};

TEST(YamlReader, TypesScalars) {
  for (const ValueCase& c : kScalarTyping) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Read(c.yaml), c.value);
  }
}

constexpr ValueCase kTags[] = {
    {"int tag on a quoted negative", R"(a: !!int "-5")", "{a: -5}"},
    {"str tag on a number", "a: !!str 5", R"({a: "5"})"},
    {"str tag on a null word", "a: !!str ~", R"({a: "~"})"},
    {"int tag: hexadecimal and octal", "[!!int 0x1F, !!int 010, !!int 7]", "[31u, 8u, 7u]"},
    {"int tag: the 64-bit limits",
     "[!!int 18446744073709551615, !!int -9223372036854775808, !!int 9223372036854775807]",
     "[18446744073709551615u, -9223372036854775808, 9223372036854775807u]"},
    {"int tag: the empty text reads as 0", "a: !!int", "{a: 0u}"},
    {"float tag", R"([!!float 1, !!float "2.5", !!float -0.25])", "[1.0, 2.5, -0.25]"},
    {"bool tag", "[!!bool yes, !!bool off, !!bool True]", "[true, false, true]"},
    {"str tag on a key", "!!str 1: x", R"({1: "x"})"},
    {"tags on sequences and mappings are ignored", "a: !!set {x: 1}\nb: !!seq [1]",
     "{a: {x: 1u}, b: [1u]}"},
};

TEST(YamlReader, ReadsTaggedScalars) {
  for (const ValueCase& c : kTags) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Read(c.yaml), c.value);
  }
}

constexpr ValueCase kAnchorsAndAliases[] = {
    {"alias of a sequence is a copy", "a: &x [1]\nb: *x", "{a: [1u], b: [1u]}"},
    {"alias of a scalar keeps its kind", "a: &x 5\nb: *x\nc: &y '5'\nd: *y",
     R"({a: 5u, b: 5u, c: "5", d: "5"})"},
    {"alias of a mapping", "a: &m {k: [1, {z: x}]}\nb: *m",
     R"({a: {k: [1u, {z: "x"}]}, b: {k: [1u, {z: "x"}]}})"},
    {"anchor inside a sequence", "- &x 1\n- [*x, *x]", "[1u, [1u, 1u]]"},
    {"alias of an anchored key is its text", "&k a: 1\nb: *k", R"({a: 1u, b: "a"})"},
    {"alias of an anchored key as a key", "&k a: 1\nb: {*k : 2}", "{a: 1u, b: {a: 2u}}"},
    {"alias of a string as a key", "a: &s name\n*s : 1", R"({a: "name", name: 1u})"},
    {"the copy is the anchored node as it is at the alias", "a: &x [1]\nb: *x\na: [2]\nc: *x",
     "{a: [1u, 2u], b: [1u], c: [1u, 2u]}"},
    {"the copy is deep", "a: &x {k: [1]}\nb: *x\nb: {k: [2]}", "{a: {k: [1u]}, b: {k: [1u, 2u]}}"},
    {"alias of a node inside the value it replaces", "a: {b: &x [1]}\na: *x", "{a: [1u]}"},
    {"alias of a closed sibling in a flow sequence", "[&x [1, 2], *x]", "[[1u, 2u], [1u, 2u]]"},
};

TEST(YamlReader, ResolvesAnchorsAndAliases) {
  for (const ValueCase& c : kAnchorsAndAliases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Read(c.yaml), c.value);
  }
}

constexpr ValueCase kStructure[] = {
    {"nested block collections", "a:\n  - b: 1\n  - [2, {c: 3}]\nd: {}",
     "{a: [{b: 1u}, [2u, {c: 3u}]], d: {}}"},
    {"members in byte order", "b: 1\nB: 2\na: 3\n_: 4", "{B: 2u, _: 4u, a: 3u, b: 1u}"},
    {"a later scalar replaces the value", "a: 1\na: 2", "{a: 2u}"},
    {"a later mapping adds to the mapping", "a: {x: 1, y: 1}\na: {y: 2, z: 2}",
     "{a: {x: 1u, y: 2u, z: 2u}}"},
    {"a later sequence appends", "a: [1]\na: [2, 3]", "{a: [1u, 2u, 3u]}"},
    {"a later scalar replaces a mapping", "a: {x: 1}\na: 5\nb: 6", "{a: 5u, b: 6u}"},
    {"a later null replaces a mapping", "a: {x: 1}\na:\nb: 6", "{a: ~, b: 6u}"},
    {"a later sequence replaces a mapping", "a: {x: 1}\na: [1]", "{a: [1u]}"},
    {"a later mapping replaces a sequence", "a: [1]\na: {x: 1}", "{a: {x: 1u}}"},
    {"a later alias replaces a mapping", "a: {x: 1}\nb: &y 2\na: *y", "{a: 2u, b: 2u}"},
    {"the empty key is a member", R"({"": 1, b: 2})", R"({"": 1u, b: 2u})"},
    {"the empty key holds a sequence", "'': [1]", R"({"": [1u]})"},
    {"a plain empty key", "? \n: 1\nb: 2", R"({"": 1u, b: 2u})"},
    {"a first document that is null lets the second through", "--- ~\n---\na: 1", "{a: 1u}"},
    {"an empty first document", "---\n--- [1]", "[1u]"},
};

TEST(YamlReader, BuildsCollectionsAndMergesRepeatedKeys) {
  for (const ValueCase& c : kStructure) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Read(c.yaml), c.value);
  }
}

// What follows a run of records that the usual reading builds bottom-up; each
// needs the rules of the general reading, which then reads from the start.
constexpr ValueCase kRulesMetLate[] = {
    {"nothing", "", "}"},
    {"an anchor and its alias", "b: &x [1]\nc: *x", ", b: [1u], c: [1u]}"},
    {"an anchored key", "&k b: 1\nc: *k", R"(, b: 1u, c: "b"})"},
    {"a key given twice in a nested mapping", "b: {k: 1, j: 0, k: 2}", ", b: {j: 0u, k: 2u}}"},
    {"a key given twice at the root", "b: [1]\nb: [2]", ", b: [1u, 2u]}"},
    {"a second document", "--- 1", "error: Multi-document YAML is not supported."},
    {"a tag that fails", "b: !!int x",
     "error: Value x for 'yaml' of type uint64_t is in an incorrect format"},
    {"a typed key", "!!int 5: x",
     "error: Invalid mapping key. Only string scalar keys are allowed. At line: 42 col: 1"},
    {"a parser error", "b: [1",
     "error: YAML parser error: did not find expected ',' or ']'. At line: 42 col: 0"},
};

TEST(YamlReader, ReadsTheSameWhereverARuleOfTheGeneralReadingIsMet) {
  // Records of two shapes, so that names are also met out of their last places.
  const std::string records =
      "a:\n" + Repeat("- {id: 1, name: x, tags: [t]}\n- {name: z, id: -2, extra: ~}\n", 20);
  const std::string value =
      "{a: [" + Repeat(R"({id: 1u, name: "x", tags: ["t"]}, {extra: ~, id: -2, name: "z"}, )", 20);
  const std::string prefix = value.substr(0, value.size() - 2) + "]";
  for (const ValueCase& c : kRulesMetLate) {
    SCOPED_TRACE(c.what);
    const std::string expected =
        c.value.starts_with("error") ? std::string(c.value) : prefix + std::string(c.value);
    EXPECT_EQ(Read(records + std::string(c.yaml)), expected);
  }
}

constexpr ErrorCase kErrors[] = {
    {"second document", "--- {a: 1}\n--- b", "Multi-document YAML is not supported."},
    {"second document after an empty sequence", "--- []\n--- 1",
     "Multi-document YAML is not supported."},
    {"int tag on a key", "a: 1\n!!int 5: x",
     "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
    {"alias of a number as a key", "a: &x 5\n*x : 1",
     "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
    {"alias of a mapping as a key", "a: &x {b: 1}\n*x : 1",
     "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
    {"sequence as a key", "[1]: x", "Unexpected start of sequence. At line: 1 col: 1"},
    {"mapping as a key", "a: 1\n{b: 1}: x", "Unexpected start of mapping. At line: 2 col: 1"},
    {"anchor declared twice", "a: &x 1\nb: &x 2",
     "Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
    {"key anchor declared twice", "&x a: 1\nb: [&x 2]",
     "Duplicate occurrence of anchor \"x\". At line: 2 col: 5"},
    {"alias of the open sequence", "&x [1, *x]",
     "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 8"},
    {"alias of an enclosing mapping", "a: &x {b: [*x]}",
     "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 12"},
    {"alias of an enclosing mapping re-entered through a repeated key", "a: &x {b: 1}\na: {c: *x}",
     "Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 8"},
    {"undefined alias", "b: *y", "Undefined alias encountered: \"y\". At line: 1 col: 4"},
    {"alias before its anchor", "a: *x\nb: &x 1",
     "Undefined alias encountered: \"x\". At line: 1 col: 4"},
    {"binary tag", "a: !!binary aGk=", "Unsupported YAML tag 'tag:yaml.org,2002:binary'."},
    {"local tag", "- !point 1", "Unsupported YAML tag '!point'."},
    {"null tag", "a: !!null ~", "Unsupported YAML tag 'tag:yaml.org,2002:null'."},
    {"unclosed flow sequence", "a: [1",
     "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
    {"tab indentation", "a:\n\t- 1",
     "YAML parser error: found character that cannot start any token. At line: 1 col: 0"},
    {"NUL byte inside the length", "a: 1\0b"sv,
     "YAML parser error: control characters are not allowed. At line: 0 col: 0"},
    {"invalid UTF-8", "a: \xff",
     "YAML parser error: invalid leading UTF-8 octet. At line: 0 col: 0"},
    {"int tag: trailing characters", "a: !!int 12x",
     "Value 12x for 'yaml' of type uint64_t is in an incorrect format"},
    {"int tag: negative with trailing characters", "a: !!int -1.5",
     "Value -1.5 for 'yaml' of type int64_t is in an incorrect format"},
    {"int tag: above uint64", "a: !!int 18446744073709551616",
     "Value 18446744073709551616 for 'yaml' of type uint64_t is out of range"},
    {"int tag: below int64", "a: !!int -9223372036854775809",
     "Value -9223372036854775809 for 'yaml' of type int64_t is out of range"},
    {"int tag: a minus after white space", "a: !!int ' -5'",
     "Value  -5 for 'yaml' of type uint64_t is out of range"},
    {"float tag: overflow", "a: !!float 1e400",
     "Value 1e400 for 'yaml' of type double is out of range"},
    {"float tag: infinity", "a: !!float inf",
     "Value inf for 'yaml' of type double is out of range"},
    {"float tag: trailing characters", "a: !!float 1.5x",
     "Value 1.5x for 'yaml' of type double is in an incorrect format"},
    {"bool tag: not a bool word", "a: !!bool maybe",
     "Value maybe for 'yaml' of type bool is in an incorrect format"},
};

TEST(YamlReader, ReportsEveryProblemWithItsPosition) {
  for (const ErrorCase& c : kErrors) {
    SCOPED_TRACE(c.what);
    const BindingResult result = ParseYaml(c.yaml);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.ErrorText(), c.error);
    EXPECT_EQ(result.value.Size(), 1u) << "a failed result holds only the message";
  }
}

TEST(YamlReader, ReadsOnlyTheGivenLength) {
  const char text[] = "a: 12345";
  EXPECT_EQ(FlowText(ParseYaml(text, 4).value), "{a: 1u}");
  EXPECT_EQ(FlowText(ParseYaml(std::string_view("a: [1]\0garbage", 6)).value), "{a: [1u]}");
  const BindingResult none = ParseYaml(nullptr, 0);
  EXPECT_TRUE(none.ok);
  EXPECT_TRUE(none.value.IsEmpty());
}

// Sequences nested `levels` deep, written as flow or as block sequences.
std::string FlowNesting(size_t levels) { return Repeat("[", levels) + Repeat("]", levels); }

TEST(YamlReader, LimitsNestingTo512Levels) {
  const BindingResult deepest = ParseYaml(FlowNesting(kYamlMaxNesting));
  ASSERT_TRUE(deepest.ok) << deepest.ErrorText();
  const BindingResult copy(deepest.value);
  EXPECT_TRUE(copy.value == deepest.value);

  EXPECT_EQ(Read(FlowNesting(kYamlMaxNesting + 1)),
            "error: YAML nesting is too deep. At line: 1 col: 513");
  EXPECT_EQ(Read(Repeat("- ", 600) + "x"), "error: YAML nesting is too deep. At line: 1 col: 1025");
  EXPECT_EQ(Read(Repeat("{a: ", 600)), "error: YAML nesting is too deep. At line: 1 col: 2049");
}

TEST(YamlReader, LimitsNestingReachedThroughAliases) {
  // 256 + 256 levels fit; a copy that would reach level 513 fails at its alias.
  const std::string fits =
      "a: &x " + FlowNesting(255) + "\nb: " + Repeat("[", 256) + "*x" + Repeat("]", 256);
  const BindingResult result = ParseYaml(fits);
  ASSERT_TRUE(result.ok) << result.ErrorText();

  const std::string tooDeep =
      "a: &x " + FlowNesting(256) + "\nb: " + Repeat("[", 256) + "*x" + Repeat("]", 256);
  EXPECT_EQ(Read(tooDeep), "error: YAML nesting is too deep. At line: 2 col: 260");

  // Chained aliases would otherwise grow the depth by 511 levels per anchor.
  std::string chain = "a0: &a0 " + FlowNesting(500) + "\n";
  for (int i = 1; i < 4; ++i) {
    chain += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " " + Repeat("[", 500) + "*a" +
             std::to_string(i - 1) + Repeat("]", 500) + "\n";
  }
  EXPECT_THAT(Read(chain), StartsWith("error: YAML nesting is too deep. At line: 2 col: "));
}

TEST(YamlReader, RefusesHostileInputQuickly) {
  // libyaml rescans every open flow level for each token: 100,000 levels
  // would take it minutes; the reader stops at level 513.
  EXPECT_EQ(Read(Repeat("[", 100'000)), "error: YAML nesting is too deep. At line: 1 col: 513");
  EXPECT_EQ(Read(Repeat("{a: [", 50'000)), "error: YAML nesting is too deep. At line: 1 col: 1281");

  // Nine levels of ten aliases each would be a billion nodes.
  std::string laughs = "l0: &l0 [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]\n";
  for (int i = 1; i < 10; ++i) {
    const std::string previous = "*l" + std::to_string(i - 1);
    laughs += "l" + std::to_string(i) + ": &l" + std::to_string(i) + " [" +
              Repeat(previous + ", ", 9) + previous + "]\n";
  }
  EXPECT_THAT(Read(laughs), StartsWith("error: YAML aliases expand to too many nodes. At line: "));

  // Few nodes, but each alias copies a megabyte of text.
  const std::string text =
      "t: &t " + std::string(1 << 20, 'x') + "\nc: [" + Repeat("*t, ", 100) + "]";
  EXPECT_THAT(Read(text),
              StartsWith("error: YAML aliases expand to too much text. At line: 2 col: "));
}

// Alias copies are bounded in proportion to the input: the same copies that
// a short document may not make, a document ten times their size may.
TEST(YamlReader, AliasBudgetsGrowWithTheInput) {
  // Five levels of ten aliases each: 100,000 nodes from about 300 bytes.
  std::string laughs = "l0: &l0 [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]\n";
  for (int i = 1; i < 5; ++i) {
    const std::string previous = "*l" + std::to_string(i - 1);
    laughs += "l" + std::to_string(i) + ": &l" + std::to_string(i) + " [" +
              Repeat(previous + ", ", 9) + previous + "]\n";
  }
  // 200 KiB copied from an anchor of 20 KiB.
  const std::string text =
      "t: &t " + std::string(20 << 10, 'x') + "\nc: [" + Repeat("*t, ", 10) + "]\n";
  struct Case {
    const char* what;
    std::string yaml;
    const char* error;  // null: read
  };
  const Case cases[] = {
      {"many nodes from a short document", laughs, "error: YAML aliases expand to too many nodes."},
      {"the same nodes from a long document", laughs + "# " + std::string(40'000, 'p') + "\n",
       nullptr},
      {"text within the floor", text, nullptr},
      {"more text than ten times the input", text + "d: [" + Repeat("*t, ", 20) + "]\n",
       "error: YAML aliases expand to too much text."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string outcome = Read(c.yaml);
    if (c.error != nullptr) {
      EXPECT_THAT(outcome, StartsWith(c.error));
    } else {
      EXPECT_THAT(outcome, Not(StartsWith("error")));
    }
  }
}

// Many keys in descending order and one of them again, or an anchor: both
// through the general reader, with the members in name order.
TEST(YamlReader, ManyKeysInDescendingOrderWithARepeatOrAnAnchor) {
  std::string keys;
  std::string plain;     // the members in name order, as printed
  std::string repeated;  // the same with k10000 given again
  char text[40];
  for (int i = 20000; i > 0; --i) {
    std::snprintf(text, sizeof text, "k%05d: %d\n", i, i);
    keys += text;
  }
  for (int i = 1; i <= 20000; ++i) {
    std::snprintf(text, sizeof text, "k%05d: %du, ", i, i);
    plain += text;
    if (i == 10000) std::snprintf(text, sizeof text, "k%05d: 7u, ", i);
    repeated += text;
  }
  EXPECT_EQ(Read(keys + "k10000: 7\n"), "{" + repeated.substr(0, repeated.size() - 2) + "}");
  EXPECT_EQ(Read("a: &x 1\n" + keys + "z: *x\n"), "{a: 1u, " + plain + "z: 1u}");
}

}  // namespace
}  // namespace Tesk
