#include "diagnostics/named_template.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace Tesk {

// Readable failure messages for fields.
void PrintTo(const FormatArgument& argument, std::ostream* out) {
  *out << "{kind " << static_cast<uint32_t>(argument.kind) << ", text \"" << argument.text
       << "\", number " << argument.number << "}";
}

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

using Fields = std::vector<std::pair<std::string, FormatArgument>>;

struct ConvertCase {
  const char* what;
  const char* templateText;
  std::vector<FormatArgument> args;
  const char* expected;
  Fields fields;  // in name order
};

void ExpectCases(const std::vector<ConvertCase>& cases) {
  for (const ConvertCase& c : cases) {
    SCOPED_TRACE(c.what);
    const ConvertedTemplate result = ConvertNamedTemplate(c.templateText, c.args);
    EXPECT_EQ(result.positionalTemplate, c.expected) << "template: " << c.templateText;
    EXPECT_EQ(Fields(result.fields.begin(), result.fields.end()), c.fields);
  }
}

TEST(ConvertNamedTemplate, NumbersPlaceholdersAndRecordsFields) {
  ExpectCases({
      {"error response",
       "Error response for {method} {url}: {error}",
       {"GET", "http://x/a", "boom"},
       "Error response for %1$s %2$s: %3$s",
       {{"error", "boom"}, {"method", "GET"}, {"url", "http://x/a"}}},
      {"hidden placeholder takes the white space before it",
       "a {x} b {!y} c",
       {1, 2},
       "a %1$lld b c",
       {{"x", 1}, {"y", 2}}},
      {"hidden trims tabs and line ends", "a \t\r\n{!x}", {1}, "a", {{"x", 1}}},
      {"later value of a repeated name wins", "{x} {x}", {1, 2}, "%1$lld %2$lld", {{"x", 2}}},
      {"unnamed placeholder counts but records nothing",
       "{} {y}",
       {1, 2},
       "%1$lld %2$lld",
       {{"y", 2}}},
      {"format text is ignored", "{value:08x}", {255}, "%1$lld", {{"value", 255}}},
      {"backslash escapes", "{a\\}b\\:c\\!}", {"v"}, "%1$s", {{"a}b:c!", "v"}}},
      {"opening brace inside is ignored", "{a{b}", {"v"}, "%1$s", {{"ab", "v"}}},
  });
}

TEST(ConvertNamedTemplate, CopiesBracesAndPrintfPlaceholders) {
  ExpectCases({
      {"doubled braces", "{{x}}", {}, "{x}", {}},
      {"single closing brace", "a}b", {}, "a}b", {}},
      {"percent escape stays an escape", "100%% {x}", {1}, "100%% %1$lld", {{"x", 1}}},
      {"printf placeholders count and are numbered",
       "%s and {name}",
       {"a", "b"},
       "%1$s and %2$s",
       {{"name", "b"}}},
      {"printf placeholder with flags and a width",
       "%-5.2f|{n}",
       {1.5, 2},
       "%1$-5.2f|%2$lld",
       {{"n", 2}}},
      {"numbered printf placeholder stays", "%2$s {n}", {1, "b"}, "%2$s %2$s", {{"n", "b"}}},
      {"unparsable percent is text", "%*5d {n}", {1}, "%*5d %1$lld", {{"n", 1}}},
  });
}

TEST(ConvertNamedTemplate, MissingArgumentsProduceNothing) {
  ExpectCases({
      {"named", "{a} and {b}.", {1}, "%1$lld and .", {{"a", 1}}},
      {"printf", "{a} %d.", {1}, "%1$lld .", {{"a", 1}}},
      {"no arguments", "x{a?alt}y", {}, "xy", {}},
      {"unclosed placeholder ends the text", "a {x} {y", {1, 2}, "a %1$lld ", {{"x", 1}}},
  });
}

TEST(ConvertNamedTemplate, PrintsAlternativeTextForEmptyArguments) {
  ExpectCases({
      {"zero", "[{n?none}]", {0}, "[none]", {}},
      {"non-zero", "[{n?none}]", {5}, "[%1$lld]", {{"n", 5}}},
      {"false", "{b?no}", {false}, "no", {}},
      {"true", "{b?no}", {true}, "%1$s", {{"b", true}}},
      {"float zero", "{f?zero}", {0.0}, "zero", {}},
      {"negative float zero", "{f?zero}", {-0.0}, "zero", {}},
      {"empty text", "{t?-}", {""}, "-", {}},
      {"unsigned zero", "{u?none}", {0u}, "none", {}},
      {"alternative before format text", "{n?a:b}", {0}, "a", {}},
      {"question mark inside format text", "{n:a?b}", {0}, "%1$lld", {{"n", 0}}},
      {"alternative of a hidden placeholder", "x {!n?none}", {0}, "x none", {}},
      {"empty alternative", "[{n?}]", {0}, "[]", {}},
  });
}

TEST(ConvertNamedTemplate, AppendsTypeSuffixes) {
  ExpectCases({
      {"each kind",
       "{#b} {#i} {#u} {#f} {#s}",
       {true, -1, 2u, 0.5, "t"},
       "%1$s %2$lld %3$llu %4$g %5$s",
       {{"b_bool", true}, {"f_float", 0.5}, {"i_int", -1}, {"s_str", "t"}, {"u_int", 2u}}},
      {"known suffixes stay",
       "{#a_time} {#b_ip} {#c_long} {#d_int}",
       {1, "1.2.3.4", 2, "text"},
       "%1$lld %2$s %3$lld %4$s",
       {{"a_time", 1}, {"b_ip", "1.2.3.4"}, {"c_long", 2}, {"d_int", "text"}}},
      {"only the part after the last underscore counts",
       "{#int_count}",
       {3},
       "%1$lld",
       {{"int_count_int", 3}}},
      {"without the flag", "{count}", {3}, "%1$lld", {{"count", 3}}},
  });
}

TEST(ConvertNamedTemplate, OutputFillsWithFormat) {
  const FormatArgument args[] = {"GET", "http://x/a", 404};
  const ConvertedTemplate converted =
      ConvertNamedTemplate("Error response for {method} {url}: {#status}", args);
  EXPECT_EQ(Format(converted.positionalTemplate, args[0].AsFormatArg(), args[1].AsFormatArg(),
                   args[2].AsFormatArg()),
            "Error response for GET http://x/a: 404");
  EXPECT_THAT(converted.fields, ElementsAre(Pair("method", args[0]), Pair("status_int", args[2]),
                                            Pair("url", args[1])));
}

// What Format makes of the converted template with the same arguments.
std::string Filled(const char* templateText, const std::vector<FormatArgument>& args) {
  std::vector<FormatArg> positional;
  for (const FormatArgument& arg : args) positional.push_back(arg.AsFormatArg());
  return Format(ConvertNamedTemplate(templateText, args).positionalTemplate, positional);
}

TEST(ConvertNamedTemplate, EveryPlaceholderPrintsItsOwnArgument) {
  struct Case {
    const char* what;
    const char* templateText;
    std::vector<FormatArgument> args;
    const char* expected;
  };
  const Case cases[] = {
      {"printf placeholder between named ones", "{a} %s {b}", {"x", "y", "z"}, "x y z"},
      {"printf placeholders around a named one", "%s-{a}-%5.1f|", {"x", "y", 2.5}, "x-y-  2.5|"},
      {"digit after a placeholder", "{n}0 items", {5}, "50 items"},
      {"dollar after a placeholder", "{amount}$ each", {5}, "5$ each"},
      {"digit and dollar after a number", "{n}1$d", {7u}, "71$d"},
      {"letter after a placeholder", "{f}e3 {s}s", {1.5, "x"}, "1.5e3 xs"},
      {"full 64-bit values",
       "{i}|{u}",
       {int64_t{-5000000000}, UINT64_MAX},
       "-5000000000|18446744073709551615"},
      {"bool as text", "{b}1", {true}, "true1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Filled(c.templateText, c.args), c.expected);
  }
}

TEST(FormatArgument, KeepsKindAndValue) {
  const FormatArgument negative = int64_t{-5000000000};
  EXPECT_EQ(negative.kind, FormatArgumentKind::Signed);
  EXPECT_EQ(negative.AsSigned(), -5000000000);
  EXPECT_EQ(FormatArgument(UINT64_MAX).kind, FormatArgumentKind::Unsigned);
  EXPECT_EQ(FormatArgument(UINT64_MAX).AsUnsigned(), UINT64_MAX);
  EXPECT_EQ(FormatArgument(1.5).AsFloat(), 1.5);
  EXPECT_EQ(FormatArgument(true).kind, FormatArgumentKind::Bool);
  EXPECT_EQ(FormatArgument(static_cast<const char*>(nullptr)).text, "");
  EXPECT_EQ(FormatArgument(std::string_view("abc", 2)).text, "ab");

  EXPECT_EQ(Format("%1 %2 %3 %4 %5", FormatArgument(false).AsFormatArg(), negative.AsFormatArg(),
                   FormatArgument(UINT64_MAX).AsFormatArg(), FormatArgument(0.25).AsFormatArg(),
                   FormatArgument("t").AsFormatArg()),
            "false -5000000000 18446744073709551615 0.25 t");
}

}  // namespace
}  // namespace Tesk
