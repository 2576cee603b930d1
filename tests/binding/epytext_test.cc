#include "binding/epytext.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "binding/binding_help.h"
#include "binding/binding_registry.h"
#include "binding/builtin_types.h"

namespace Tesk {
namespace {

using V = BindingValueType;
using namespace std::literals;

struct EpytextTestOffer {
  std::string id;
};
enum class EpytextTestColor : int32_t { Red = 1, Blue = 2 };

TEST(EpytextEscape, EscapesBracesAndALeadingMinus) {
  const struct {
    std::string_view text;
    const char* escaped;
  } cases[] = {
      {"-x {y}", "E{-}x E{lb}yE{rb}"},
      {"a-b", "a-b"},
      {"--", "E{-}-"},
      {"}{", "E{rb}E{lb}"},
      {"", ""},
      {"plain text", "plain text"},
      {"cut\0{after}"sv, "cut"},
  };
  for (const auto& c : cases) EXPECT_EQ(EpytextEscape(c.text), c.escaped) << c.text;
}

TEST(TypeTexts, FullAndEpytextFormsOfEveryCode) {
  BindingRegistry registry;
  auto offer = registry.BeginType<EpytextTestOffer>("Offer");
  offer.Field("id", &EpytextTestOffer::id);
  (void)registry.BeginType<EpytextTestColor>("Color");
  const BindingTypeInfo* offerType = registry.FindTypeByName("Offer");
  const BindingTypeInfo* colorType = registry.FindTypeByName("Color");

  const struct {
    BindingTypeIdentifier type;
    const char* fullType;
    const char* fullElement;
    const char* epytext;
  } cases[] = {
      {{V::None}, "", "", ""},
      {{V::Bool}, "bool", "", "bool"},
      {{V::Int8}, "int8", "", "int8"},
      {{V::UInt8}, "uint8", "", "uint8"},
      {{V::Int16}, "int16", "", "int16"},
      {{V::UInt16}, "uint16", "", "uint16"},
      {{V::Int32}, "int32", "", "int32"},
      {{V::UInt32}, "uint32", "", "uint32"},
      {{V::Int64}, "int64", "", "int64"},
      {{V::UInt64}, "uint64", "", "uint64"},
      {{V::Float}, "float", "", "float"},
      {{V::Double}, "double", "", "double"},
      {{V::String}, "string", "", "string"},
      {{V::Object}, "object", "", "object"},
      {{V::Blob}, "blob", "", "bytearray"},
      {{V::Callback}, "callback", "", "callback"},
      {{static_cast<V>(20)}, "", "", ""},
      {{V::Struct, V::None, offerType}, "Offer", "", "L{Offer}"},
      {{V::Struct}, "struct", "", "L{}"},
      {{V::Enum, V::None, colorType}, "Color", "", "L{Color}"},
      {{V::Enum}, "enum", "", "L{}"},
      {{V::Vector, V::Struct, offerType}, "vector", "Offer", "list[L{Offer}]"},
      {{V::Vector, V::String}, "vector", "string", "list[string]"},
      {{V::Vector, V::Object}, "vector", "object", "list[object]"},
      {{V::Map, V::Enum, colorType}, "map", "Color", "dict[L{Color}]"},
      {{V::Map, V::Int32}, "map", "int32", "dict[int32]"},
      {{V::Vector, V::Struct}, "vector", "struct", "list[L{}]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.epytext);
    const BindingFullTypeIdentifier text = TypeText(c.type);
    EXPECT_EQ(text.type, c.fullType);
    EXPECT_EQ(text.elementType, c.fullElement);
    EXPECT_EQ(EpytextTypeText(c.type), c.epytext);
  }
}

class EpytextOfRecords : public ::testing::Test {
 protected:
  void SetUp() override { registry.Initialize(&RegisterBindingBuiltins); }
  const BindingTypeInfo& Type(std::string_view name) { return *registry.FindTypeByName(name); }
  BindingRegistry registry;
};

TEST_F(EpytextOfRecords, EnumerationListsItsEnumeratorsByValueThenTagsAndSize) {
  EXPECT_EQ(TypeEpytext(Type("BindingAsyncState")),
            "Possible states of an asynchronous operation.\r\n\r\n"
            "@cvar None: (0) Invalid state\r\n"
            "@cvar Running: (1) The operation is in flight\r\n"
            "@cvar Cancelling: (2) A request to cancel the operation has been made\r\n"
            "@cvar Cancelled: (3) The operation was cancelled\r\n"
            "@cvar Succeeded: (4) The operation completed successfully\r\n"
            "@cvar Failed: (5) The operation encountered an error\r\n"
            "@tags: $builtin,async\r\n"
            "@size: 4\r\n");

  // Without description or tags; equal values keep name order; negative values.
  auto color = registry.BeginType<EpytextTestColor>("Color");
  color.Enumerator("b", EpytextTestColor::Blue, "{raw}");
  color.Enumerator("a", EpytextTestColor::Blue);
  color.Enumerator("minus", static_cast<EpytextTestColor>(-1));
  EXPECT_EQ(TypeEpytext(Type("Color")),
            "@cvar minus: (-1)\r\n"
            "@cvar a: (2)\r\n"
            "@cvar b: (2) {raw}\r\n"
            "@size: 4\r\n");
}

TEST_F(EpytextOfRecords, StructureListsItsFieldsInRegistrationOrder) {
  EXPECT_EQ(TypeEpytext(Type("BindingCallbackEvent")),
            "Represents the parameters of a call to a provided callback.\r\n\r\n"
            "@ivar id: ID of the callback being invoked\r\n"
            "@type id: uint32\r\n"
            "@ivar parameters: Callback parameters\r\n"
            "@type parameters: list[object]\r\n"
            "@tags: $builtin\r\n");
  EXPECT_EQ(TypeEpytext(Type("BindingFullTypeIdentifier")),
            "Describes the type of a value.\r\n\r\n"
            "@ivar type: \r\n"
            "@type type: string\r\n"
            "@ivar elementType: \r\n"
            "@type elementType: string\r\n"
            "@tags: $builtin,help\r\n");
}

TEST_F(EpytextOfRecords, EventWritesItsDescriptionEvenWhenEmpty) {
  EXPECT_EQ(EventEpytext(*registry.FindEvent("OnCallback")),
            "Fired when a callback is invoked.\r\n\r\n@tags: $builtin\r\n");
  const BindingEventInfo& bare = registry.BeginEvent("OnBare", nullptr).Record();
  EXPECT_EQ(EventEpytext(bare), "\r\n\r\n");
}

TEST_F(EpytextOfRecords, FunctionWithArgumentsReturnTagsAndFlags) {
  auto offer = registry.BeginType<EpytextTestOffer>("Offer");
  offer.Field("id", &EpytextTestOffer::id);
  const BindingTypeInfo* offerType = &Type("Offer");
  BindingFunctionInfo& function = registry.RegisterFunction(
      "PostOffers", {{"offers", "The -offers {all}", false, {V::Vector, V::Struct, offerType}, {}},
                     {"limit", "", true, {V::UInt32}, {}},
                     {"state", "State", true, {V::Enum, V::None, &Type("BindingAsyncState")}, {}}});
  function.returns = {V::Struct, V::None, offerType};
  function.description = "-Posts {offers}";
  function.helpText = "Help";
  function.threadSafe = true;
  function.async = true;
  function.tags = {"a", "b"};
  EXPECT_EQ(FunctionEpytext(function),
            "E{-}Posts E{lb}offersE{rb}\r\n\r\n"
            "Help\r\n\r\n"
            "@param offers: The -offers E{lb}allE{rb}\r\n"
            "@type offers: list[L{Offer}]\r\n"
            "@type limit: uint32\r\n"
            "@param state: (optional) State\r\n"
            "@type state: L{BindingAsyncState}\r\n"
            "@rtype: L{Offer}\r\n"
            "@tags: a,b\r\n"
            "@threadsafe: true\r\n"
            "@async: L{Offer}\r\n");

  const BindingFunctionInfo& bare = registry.RegisterFunction("GetNothing", {});
  EXPECT_EQ(FunctionEpytext(bare), "");
}

}  // namespace
}  // namespace Tesk
