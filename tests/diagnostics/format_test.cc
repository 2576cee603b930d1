#include "diagnostics/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

namespace Tesk {
namespace {

using Kind = FormatArg::Kind;

// Integer types pick their kind by size and signedness on every target, and
// bool does not slip in as a number or a character.
static_assert(FormatArg(1).kind() == Kind::Int32);
static_assert(FormatArg(1u).kind() == Kind::UInt32);
static_assert(FormatArg(1ll).kind() == Kind::Int64);
static_assert(FormatArg(1ull).kind() == Kind::UInt64);
static_assert(FormatArg(int64_t{1}).kind() == Kind::Int64);
static_assert(FormatArg(uint64_t{1}).kind() == Kind::UInt64);
static_assert(FormatArg(1l).kind() == (sizeof(long) == 8 ? Kind::Int64 : Kind::Int32));
static_assert(FormatArg(size_t{1}).kind() == (sizeof(size_t) == 8 ? Kind::UInt64 : Kind::UInt32));
static_assert(FormatArg(static_cast<unsigned char>(1)).kind() == Kind::UInt32);
static_assert(FormatArg('a').kind() == Kind::Char);
static_assert(FormatArg(1.5f).kind() == Kind::Float);
static_assert(FormatArg("a").kind() == Kind::Text);
static_assert(!std::is_convertible_v<bool, FormatArg>);
static_assert(FormatArg(-1).integerBits() == UINT64_MAX);

// A table row: the arguments are built by a function, so that rows can mix kinds.
struct FormatCase {
  const char* what;
  const char* templateText;
  std::vector<FormatArg> args;
  const char* expected;
};

void ExpectCases(const std::vector<FormatCase>& cases) {
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Format(c.templateText, c.args), c.expected) << "template: " << c.templateText;
  }
}

TEST(Format, FillsPositionalPlaceholders) {
  ExpectCases({
      {"version", "%1.%2.%3", {18, 0, 0}, "18.0.0"},
      {"any order", "%2 %1", {"a", "b"}, "b a"},
      {"repeated", "%1-%1", {"a"}, "a-a"},
      {"unused arguments are ignored", "[%1]", {"a", "b", "c"}, "[a]"},
      {"two-digit number", "%12 %1", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, "12 1"},
      {"number followed by text", "%1x", {5}, "5x"},
      {"no placeholder", "plain text", {}, "plain text"},
      {"percent escape", "100%%", {}, "100%"},
      {"percent escape next to a placeholder", "%1%%", {7}, "7%"},
      {"API message",
       "%1 which supports plugin API %2 is not compatible with core's plugin API %3",
       {"tav", "17.0.0", "18.0.0"},
       "tav which supports plugin API 17.0.0 is not compatible with core's plugin API 18.0.0"},
  });
}

TEST(Format, PrintsEachKindWithItsDefaultConversion) {
  ExpectCases({
      {"negative int32", "%1", {-42}, "-42"},
      {"uint32 above INT32_MAX", "%1", {4294967295u}, "4294967295"},
      {"int64 beyond 32 bits", "%1", {int64_t{5000000000}}, "5000000000"},
      {"negative int64", "%1", {int64_t{-5000000000}}, "-5000000000"},
      {"uint64 maximum", "%1", {UINT64_MAX}, "18446744073709551615"},
      {"character", "%1", {'A'}, "A"},
      {"float", "%1", {1.5}, "1.5"},
      // Every runtime prints a NaN alike, whatever its sign bit.
      {"NaN of either sign",
       "%1 %2 %2$f %2$E",
       {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()},
       "nan nan nan NAN"},
      {"infinities", "%1 %2", {HUGE_VAL, -HUGE_VAL}, "inf -inf"},
      {"text", "%1", {std::string("text")}, "text"},
      {"null text", "%1", {static_cast<const char*>(nullptr)}, "(null)"},
  });
}

TEST(Format, AppliesPrintfSpecifications) {
  ExpectCases({
      {"addressed argument with width", "%2$5d|", {"x", 42}, "   42|"},
      {"int64 with the template's %d prints its low 32 bits", "%1$d", {int64_t{0x100000002}}, "2"},
      {"int64 with %lld", "%1$lld", {int64_t{0x100000002}}, "4294967298"},
      {"int32 with %lld is widened", "%1$lld", {-1}, "-1"},
      {"uint32 with %d", "%1$d", {4294967295u}, "-1"},
      {"character as a number", "%1$d", {'A'}, "65"},
      {"number as a character", "%1$c", {66}, "B"},
      {"hex", "%1$x %1$X %1$#x %1$o", {255}, "ff FF 0xff 377"},
      {"flags", "[%1$+d] [%1$05d] [%1$-4d] [% d]", {7}, "[+7] [00007] [7   ] [ 7]"},
      {"precision", "%1$.2f %2$.3d", {1.5, 7}, "1.50 007"},
      {"lone dot is precision 0", "%1$.f", {2.0}, "2"},
      {"short and char lengths narrow", "%1$hd %2$hhd %2$hhu", {65537, 257}, "1 1 1"},
      {"size_t length", "%1$zu %2$jd %3$td", {7u, int64_t{-5000000000}, 3}, "7 -5000000000 3"},
      {"L on an integer is ll", "%1$Lu", {uint64_t{5000000000}}, "5000000000"},
      {"length on a float is dropped", "%1$Lf %1$lf", {0.25}, "0.250000 0.250000"},
      {"l on a text still prints narrow text", "%1$ls", {"abc"}, "abc"},
      {"text precision", "%1$.2s|", {"abcdef"}, "ab|"},
      {"text width", "%1$-4s|%1$4s", {"ab"}, "ab  |  ab"},
  });
}

TEST(Format, ReplacesConversionsTheKindDoesNotAccept) {
  ExpectCases({
      {"letter on a text", "%1$x", {"text"}, "text"},
      {"unknown letter on an integer", "%5q|", {42}, "   42|"},
      {"integer letter on a float", "%1$d", {1.5}, "1.5"},
      {"float letter on an integer", "%1$f", {3}, "3"},
      {"text letter on a character", "%s", {'z'}, "z"},
      {"unsigned default", "%1$s", {4294967295u}, "4294967295"},
      {"percent as a conversion", "%5%|", {1}, "    1|"},
  });
}

TEST(Format, TakesSequentialArgumentsInOrder) {
  ExpectCases({
      {"printf style", "%s and %s", {"a", "b"}, "a and b"},
      {"number above the count is a width; y is its conversion", "x%3y", {"a", "b"}, "x  a"},
      {"leading zero is a flag", "%05d", {42}, "00042"},
      {"numbered placeholders do not advance the sequence", "%2 %s %s", {"a", "b"}, "b a b"},
      {"width from the next argument", "[%*d]", {5, 42}, "[   42]"},
      {"negative width left-aligns", "[%*d]", {-4, 7}, "[7   ]"},
      {"precision from the next argument", "%.*f", {2, 1.5}, "1.50"},
      {"negative precision is no precision", "[%.*s]", {-1, "abc"}, "[abc]"},
      {"width and precision from addressed arguments", "[%1$*2$.*3$f]", {1.5, 6, 1}, "[   1.5]"},
      {"int64 width uses the low 32 bits", "[%*d]", {int64_t{0x100000003}, 7}, "[  7]"},
      {"character width", "[%*d]", {'\x03', 7}, "[  7]"},
      {"text precision from an argument", "%.*s", {2, "abc"}, "ab"},
      {"lone percent at the end of the template", "a%", {1}, "a1"},
      // A placeholder cut off by the end of the template loses its last character.
      {"cut-off width", "a%5", {1}, "a1"},
      {"cut-off width of two digits", "a%25", {1}, "a 1"},
      {"cut-off length modifier", "[%05l", {1}, "[00001"},
      {"cut-off precision", "[%.35", {"abcdef"}, "[abc"},
  });
}

TEST(Format, StopsAtTheFirstPlaceholderItCannotFill) {
  ExpectCases({
      {"missing sequential argument", "%s and %s", {"a"}, "a and "},
      {"no arguments at all", "a %d b", {}, "a "},
      {"lone percent at the end without an argument", "100%", {}, "100"},
      {"width from a text", "a%*db", {"x", 1}, "a"},
      {"width from a float", "a%*db", {1.5, 1}, "a"},
      {"precision from a text", "a%.*fb", {"x", 1.5}, "a"},
      {"width argument beyond the count", "a%1$*3$db", {1, 2}, "a"},
      {"star followed by digits without $", "a%*5db", {1, 2}, "a"},
      {"star naming argument zero", "a%*0$db", {1, 2}, "a"},
      {"missing width argument", "a%*db", {1}, "a"},
  });
}

TEST(Format, LimitsPlaceholderTextTo59Characters) {
  const std::string flags57(57, '-');
  const std::string at59 = "<%" + flags57 + "d>";  // "%", 57 flags, "d"
  const std::string at60 = "<%" + flags57 + "-d>";
  EXPECT_EQ(Format(at59, 7), "<7>");
  EXPECT_EQ(Format(at60, 7), "<");
  // After an argument number, the text starts again at the "$".
  EXPECT_EQ(Format("<%1$" + flags57 + "d>", 7), "<7>");
}

TEST(Format, CutsTheOutputAt4095Bytes) {
  const std::string long5000(5000, 'a');
  EXPECT_EQ(Format(long5000), std::string(4095, 'a'));
  EXPECT_EQ(Format("xy%1", long5000), "xy" + std::string(4093, 'a'));
  EXPECT_EQ(Format(std::string(4093, '-') + "%1 tail", 12345), std::string(4093, '-') + "12");
  EXPECT_EQ(Format(std::string(4094, '-') + "%%%%"), std::string(4094, '-') + "%");
  // A width beyond the buffer fills it with padding and stops.
  EXPECT_EQ(Format("%*d tail", 100000, 1), std::string(4095, ' '));
  EXPECT_EQ(Format("%-2147483647d tail", 1), "1" + std::string(4094, ' '));
}

TEST(Format, ReadsOnlyTheGivenTemplateBytes) {
  // The views end inside a larger text: nothing past them may be read.
  const std::string text = "%12345";
  EXPECT_EQ(Format(std::string_view(text).substr(0, 2), 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12),
            "1");
  const std::string argument = "abcdef";
  EXPECT_EQ(Format("[%1]", std::string_view(argument).substr(1, 3)), "[bcd]");
  // Bytes after the "%N" of a view are not part of the placeholder.
  EXPECT_EQ(Format(std::string_view("%1$5d", 3), 7), "7");
  // NUL bytes are ordinary template characters.
  EXPECT_EQ(Format(std::string_view("a\0%1", 4), 'b'), std::string("a\0b", 3));
}

TEST(Format, AcceptsAnArgumentSpan) {
  const FormatArg args[] = {"a", 2};
  EXPECT_EQ(Format("%1%2", std::span<const FormatArg>(args)), "a2");
}

}  // namespace
}  // namespace Tesk
