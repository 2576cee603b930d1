#include "binding/conversion_scalar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/conversion.h"
#include "binding_values.h"

namespace Tesk {
namespace {

using namespace Testing;

enum class SyncState : int32_t { InProgress = 0, Succeeded = 1, LoggingOut = 2, Error = 3 };
enum class UnlistedState : int32_t { A = 0 };

// One conversion of `input` into a T labelled "x": either the value or the
// message (error non-null).
template <class T>
struct FromCase {
  const char* what;
  BindingProperty input;
  T expected{};
  const char* error = nullptr;
};

template <class T>
void ExpectFromBinding(const std::vector<FromCase<T>>& cases,
                       const BindingRegistry* registry = nullptr) {
  for (const FromCase<T>& c : cases) {
    SCOPED_TRACE(c.what);
    T target{};
    BindingResult result;
    FromBinding(result, target, c.input, "x", registry);
    if (c.error == nullptr) {
      EXPECT_TRUE(result.ok) << result.ErrorText();
      EXPECT_EQ(target, c.expected);
    } else {
      EXPECT_FALSE(result.ok);
      EXPECT_EQ(result.ErrorText(), c.error);
      EXPECT_EQ(target, T{}) << "a failed conversion leaves the target alone";
    }
  }
}

TEST(FromBindingBool, AcceptsBoolsAndTheFourTexts) {
  ExpectFromBinding<bool>({
      {"bool", Bool(true), true},
      {"text true", Text("true"), true},
      {"text 1", Text("1"), true},
      {"text false", Text("false"), false},
      {"text 0", Text("0"), false},
      {"empty", Empty(), false, "A value for 'x' is required."},
      {"text True", Text("True"), false,
       "Value True for 'x' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {"text with a space", Text("1 "), false,
       "Value 1  for 'x' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {"unsigned 1", Unsigned(1), false,
       "Couldn't assign value to 'x' of type bool because the input is of an invalid type "
       "unsigned."},
      {"signed 1", Signed(1), false,
       "Couldn't assign value to 'x' of type bool because the input is of an invalid type "
       "signed."},
      {"collection", Collection({}), false,
       "Couldn't assign value to 'x' of type bool because the input is of an invalid type "
       "collection."},
  });
}

TEST(FromBindingSignedInteger, Int32FromEveryKind) {
  ExpectFromBinding<int32_t>({
      {"signed", Signed(-5), -5},
      {"signed maximum", Signed(2147483647), 2147483647},
      {"signed minimum", Signed(-2147483648LL), std::numeric_limits<int32_t>::min()},
      {"signed 2147483648", Signed(2147483648LL), 0,
       "Value 2147483648 for 'x' of type int32 is out of range"},
      {"signed below minimum", Signed(-2147483649LL), 0,
       "Value -2147483649 for 'x' of type int32 is out of range"},
      {"unsigned", Unsigned(7), 7},
      {"unsigned 2147483648", Unsigned(2147483648ULL), 0,
       "Value 2147483648 for 'x' of type int32 is out of range"},
      {"float 3.9 truncates", Float(3.9), 3},
      {"float -3.9 truncates toward zero", Float(-3.9), -3},
      {"float 3e10", Float(3e10), 0, "Value 3e+10 for 'x' of type int32 is out of range"},
      {"text", Text("42"), 42},
      {"text hexadecimal", Text("0x10"), 16},
      {"text octal", Text("010"), 8},
      {"text with leading space", Text(" 7"), 7},
      {"text negative", Text("-12"), -12},
      {"empty text", Text(""), 0},
      {"text with trailing letters", Text("12abc"), 0,
       "Value 12abc for 'x' of type int32 is in an incorrect format"},
      {"text with trailing space", Text("7 "), 0,
       "Value 7  for 'x' of type int32 is in an incorrect format"},
      {"text without digits", Text("abc"), 0,
       "Value abc for 'x' of type int32 is in an incorrect format"},
      {"text above the range", Text("2147483648"), 0,
       "Value 2147483648 for 'x' of type int32 is out of range"},
      {"text overflowing 64 bits", Text("99999999999999999999"), 0,
       "Value 99999999999999999999 for 'x' of type int32 is out of range"},
      {"enum value", Enum(3), 3},
      {"empty", Empty(), 0, "A value for 'x' is required."},
      {"bool", Bool(true), 0,
       "Couldn't assign value to 'x' of type int32 because the input is of an invalid type "
       "bool."},
      {"blob", Blob({1}), 0,
       "Couldn't assign value to 'x' of type int32 because the input is of an invalid type "
       "blob."},
      {"structure", Structure({}), 0,
       "Couldn't assign value to 'x' of type int32 because the input is of an invalid type "
       "structure."},
  });
}

TEST(FromBindingSignedInteger, Int64AtItsLimits) {
  ExpectFromBinding<int64_t>({
      {"signed minimum", Signed(INT64_MIN), INT64_MIN},
      {"unsigned maximum", Unsigned(9223372036854775807ULL), INT64_MAX},
      {"unsigned 2^63", Unsigned(9223372036854775808ULL), 0,
       "Value 9223372036854775808 for 'x' of type int64 is out of range"},
      {"text minimum", Text("-9223372036854775808"), INT64_MIN},
      {"text overflow", Text("9223372036854775808"), 0,
       "Value 9223372036854775808 for 'x' of type int64 is out of range"},
      {"float -2^63", Float(-9223372036854775808.0), INT64_MIN},
      // 2^63 compares equal to the maximum converted to double, yet no int64 holds it.
      {"float 2^63", Float(9223372036854775808.0), 0,
       "Value 9.22337e+18 for 'x' of type int64 is out of range"},
  });
}

TEST(FromBindingUnsignedInteger, Uint32FromEveryKind) {
  ExpectFromBinding<uint32_t>({
      {"unsigned maximum", Unsigned(4294967295ULL), 4294967295u},
      {"unsigned 4294967296", Unsigned(4294967296ULL), 0,
       "Value 4294967296 for 'x' of type uint32 is out of range"},
      {"signed", Signed(12), 12},
      {"signed -1", Signed(-1), 0, "Value -1 for 'x' of type uint32 is out of range"},
      {"float truncates", Float(2.9), 2},
      {"float -0.5", Float(-0.5), 0, "Value -0.5 for 'x' of type uint32 is out of range"},
      {"text hexadecimal", Text("0xFF"), 255},
      {"text -1", Text("-1"), 0, "Value -1 for 'x' of type uint32 is out of range"},
      {"text -0", Text("-0"), 0, "Value -0 for 'x' of type uint32 is out of range"},
      {"text above the range", Text("4294967296"), 0,
       "Value 4294967296 for 'x' of type uint32 is out of range"},
      {"text with trailing letters", Text("1g"), 0,
       "Value 1g for 'x' of type uint32 is in an incorrect format"},
      {"text minus without digits", Text("-x"), 0,
       "Value -x for 'x' of type uint32 is in an incorrect format"},
      {"enum value", Enum(2), 2},
      {"negative enum value", Enum(-1), 0, "Value -1 for 'x' of type uint32 is out of range"},
      {"empty", Empty(), 0, "A value for 'x' is required."},
      {"bool", Bool(false), 0,
       "Couldn't assign value to 'x' of type uint32 because the input is of an invalid type "
       "bool."},
  });
}

TEST(FromBindingUnsignedInteger, Uint64AtItsLimits) {
  ExpectFromBinding<uint64_t>({
      {"unsigned maximum", Unsigned(UINT64_MAX), UINT64_MAX},
      {"text maximum", Text("18446744073709551615"), UINT64_MAX},
      {"text overflow", Text("18446744073709551616"), 0,
       "Value 18446744073709551616 for 'x' of type uint64 is out of range"},
      // strtoull would read these as 2^64 - 1.
      {"text -1", Text("-1"), 0, "Value -1 for 'x' of type uint64 is out of range"},
      {"text -1 after white space", Text(" -1"), 0,
       "Value  -1 for 'x' of type uint64 is out of range"},
      {"float 2^64", Float(18446744073709551616.0), 0,
       "Value 1.84467e+19 for 'x' of type uint64 is out of range"},
  });
}

TEST(FromBindingInteger, NotANumberIsOutOfRange) {
  const BindingProperty nan = Float(std::numeric_limits<double>::quiet_NaN());
  int32_t signedTarget = 4;
  uint32_t unsignedTarget = 4;
  BindingResult signedResult;
  BindingResult unsignedResult;
  FromBinding(signedResult, signedTarget, nan, "x", nullptr);
  FromBinding(unsignedResult, unsignedTarget, nan, "x", nullptr);
  EXPECT_FALSE(signedResult.ok);
  EXPECT_FALSE(unsignedResult.ok);
  EXPECT_EQ(signedTarget, 4);
  EXPECT_EQ(unsignedTarget, 4u);
}

TEST(FromBindingInteger, SmallWidthsUseTheirOwnRangeAndName) {
  ExpectFromBinding<int8_t>({
      {"in range", Text("-128"), -128},
      {"above", Signed(128), 0, "Value 128 for 'x' of type int8 is out of range"},
      {"enum value above", Enum(300), 0, "Value 300 for 'x' of type int8 is out of range"},
  });
  ExpectFromBinding<uint16_t>({
      {"in range", Unsigned(65535), 65535},
      {"above", Unsigned(65536), 0, "Value 65536 for 'x' of type uint16 is out of range"},
  });
}

TEST(FromBindingFloatingPoint, DoubleAndFloat) {
  ExpectFromBinding<double>({
      {"float", Float(1.5), 1.5},
      {"signed", Signed(-3), -3.0},
      {"unsigned", Unsigned(UINT64_MAX), 18446744073709551616.0},
      {"text", Text("0.25"), 0.25},
      {"text with exponent", Text("1e3"), 1000.0},
      {"text with trailing letters", Text("1.5x"), 0,
       "Value 1.5x for 'x' of type double is in an incorrect format"},
      {"text overflow", Text("1e400"), 0, "Value 1e400 for 'x' of type double is out of range"},
      {"text infinity", Text("inf"), 0, "Value inf for 'x' of type double is out of range"},
      {"enum value", Enum(2), 2.0},
      {"empty", Empty(), 0, "A value for 'x' is required."},
      {"bool", Bool(true), 0,
       "Couldn't assign value to 'x' of type double because the input is of an invalid type "
       "bool."},
  });
  ExpectFromBinding<float>({
      {"float", Float(0.25), 0.25f},
      {"float above the float range", Float(1e39), 0,
       "Value 1e+39 for 'x' of type float is out of range"},
      {"text above the float range", Text("1e39"), 0,
       "Value 1e39 for 'x' of type float is out of range"},
  });
}

TEST(FromBindingString, TextsAndEnumeratorNames) {
  BindingRegistry registry;
  auto state = registry.BeginType<SyncState>("SyncState");
  state.Enumerator("ERROR", SyncState::Error);
  state.Enumerator("IN_PROGRESS", SyncState::InProgress);
  const TypeKey* stateKey = &TypeKeyOf<SyncState>();
  ExpectFromBinding<std::string>(
      {
          {"text", Text("offer-1"), "offer-1"},
          {"empty text", Text(""), ""},
          {"enum value with a name", Enum(3, stateKey), "ERROR"},
          {"enum value without a name", Enum(7, stateKey), "",
           "7 is not a valid enumeration value for 'x'."},
          {"enum value of an unregistered type", Enum(0, &TypeKeyOf<UnlistedState>()), "",
           "0 is not a valid enumeration value for 'x'."},
          {"enum value without a type", Enum(3), "", "3 is not a valid enumeration value for 'x'."},
          {"empty", Empty(), "", "A value for 'x' is required."},
          {"signed 5", Signed(5), "",
           "Couldn't assign value to 'x' because the input is not a string."},
          {"structure", Structure({}), "",
           "Couldn't assign value to 'x' because the input is not a string."},
      },
      &registry);
}

TEST(FromBindingEnumeration, ValuesNamesAndTexts) {
  BindingRegistry registry;
  auto state = registry.BeginType<SyncState>("SyncState");
  state.Enumerator("IN_PROGRESS", SyncState::InProgress);
  state.Enumerator("ERROR", SyncState::Error);
  state.Enumerator("SUCCEEDED", SyncState::Succeeded);
  state.Enumerator("LOGGING_OUT", SyncState::LoggingOut);
  ExpectFromBinding<SyncState>(
      {
          {"signed", Signed(3), SyncState::Error},
          {"unsigned", Unsigned(1), SyncState::Succeeded},
          {"wide number whose low 32 bits are registered",
           Signed(4294967297LL),
           {},
           "4294967297 is not a valid SyncState enumeration value for 'x'."},
          {"number below the int32 range",
           Signed(-4294967294LL),
           {},
           "-4294967294 is not a valid SyncState enumeration value for 'x'."},
          {"unsigned above the int32 range",
           Unsigned(2147483648ULL),
           {},
           "2147483648 is not a valid SyncState enumeration value for 'x'."},
          {"signed not registered",
           Signed(7),
           {},
           "7 is not a valid SyncState enumeration value for 'x'."},
          {"unsigned not registered",
           Unsigned(4294967296ULL + 9),
           {},
           "4294967305 is not a valid SyncState enumeration value for 'x'."},
          {"name", Text("LOGGING_OUT"), SyncState::LoggingOut},
          {"registered number as text", Text("2"), SyncState::LoggingOut},
          {"hexadecimal text", Text("0x3"), SyncState::Error},
          {"unregistered number as text",
           Text("7"),
           {},
           "7 is not a valid SyncState enumeration value for 'x'."},
          {"name in the wrong case",
           Text("error"),
           {},
           "error is not a valid SyncState enumeration value for 'x'."},
          {"text out of the int32 range",
           Text("4294967299"),
           {},
           "4294967299 is not a valid SyncState enumeration value for 'x'."},
          {"enum value", Enum(1), SyncState::Succeeded},
          {"enum value not registered",
           Enum(9),
           {},
           "9 is not a valid SyncState enumeration value for 'x'."},
          {"empty", Empty(), {}, "A value for 'x' is required."},
          {"float",
           Float(1.0),
           {},
           "Couldn't assign value to 'x' of enum type because the input is of an invalid type "
           "float."},
          {"bool",
           Bool(true),
           {},
           "Couldn't assign value to 'x' of enum type because the input is of an invalid type "
           "bool."},
      },
      &registry);
}

TEST(FromBindingEnumeration, UnregisteredEnumerationIsAPlainInt32) {
  ExpectFromBinding<UnlistedState>({
      {"any number", Signed(7), static_cast<UnlistedState>(7)},
      {"numeric text", Text("5"), static_cast<UnlistedState>(5)},
      {"name", Text("A"), {}, "Value A for 'x' of type int32 is in an incorrect format"},
  });
}

TEST(FromBindingObject, CopiesAnyInput) {
  const BindingProperty inputs[] = {Empty(), Signed(3), Text("t"),
                                    Structure({{"a", Collection({Signed(1), Empty()})}})};
  for (const BindingProperty& input : inputs) {
    BindingProperty target = Text("previous");
    BindingResult result;
    FromBinding(result, target, input, "x", nullptr);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(target, input);
  }
}

TEST(FromBindingScalar, FailedResultIsLeftAlone) {
  BindingResult result;
  result.Fail("earlier");
  int32_t number = 1;
  std::string text = "kept";
  BindingProperty object = Signed(1);
  FromBinding(result, number, Signed(2), "x", nullptr);
  FromBinding(result, text, Text("new"), "x", nullptr);
  FromBinding(result, object, Signed(2), "x", nullptr);
  EXPECT_EQ(number, 1);
  EXPECT_EQ(text, "kept");
  EXPECT_EQ(object, Signed(1));
  EXPECT_EQ(result.ErrorText(), "earlier");
}

TEST(ToBindingScalar, SettersAndEnumValues) {
  BindingResult result;
  ToBinding(result, int32_t{-4}, nullptr);
  EXPECT_EQ(result.value, Signed(-4));
  ToBinding(result, uint16_t{4}, nullptr);
  EXPECT_EQ(result.value, Unsigned(4));
  ToBinding(result, 0.5f, nullptr);
  EXPECT_EQ(result.value, Float(0.5));
  ToBinding(result, std::string("t"), nullptr);
  EXPECT_EQ(result.value, Text("t"));
  ToBinding(result, SyncState::Error, nullptr);
  EXPECT_EQ(result.value, Enum(3, &TypeKeyOf<SyncState>()));

  // A failed result is reset on entry.
  result.Fail("earlier");
  ToBinding(result, true, nullptr);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.value, Bool(true));
}

}  // namespace
}  // namespace Tesk
