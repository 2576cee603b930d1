#include "binding/binding_help.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/builtin_types.h"
#include "binding/epytext.h"
#include "binding_values.h"

namespace Tesk {
namespace {

using namespace Testing;
using V = BindingValueType;

struct HelpTestOffer {
  std::string id;
};

BindingProperty TypeId(std::string_view type, std::string_view elementType = "") {
  return Structure({{"type", Text(type)}, {"elementType", Text(elementType)}});
}

BindingProperty Texts(std::initializer_list<std::string_view> texts) {
  BindingProperty p;
  p.MakeCollection();
  for (const std::string_view text : texts) p.Append().SetString(text);
  return p;
}

class BindingHelp : public ::testing::Test {
 protected:
  void SetUp() override {
    registry.Initialize(&RegisterBindingBuiltins);
    auto offer = registry.BeginType<HelpTestOffer>("Offer");
    offer.Field("id", &HelpTestOffer::id);
    BindingFunctionInfo& function = registry.RegisterFunction(
        "PostOffers", {{"offers", "The {offers}", false, {V::Vector, V::Struct, Type("Offer")}, {}},
                       {"state", "", true, {V::Enum, V::None, Type("BindingAsyncState")}, {}}});
    function.returns = {V::Struct, V::None, Type("Offer")};
    function.nameSpace = "Store";
    function.description = "Posts offers.";
    function.helpText = "More.";
    function.async = true;
    function.tags = {"store"};
    (void)registry.RegisterFunction("GetStatus", {});
  }

  const BindingTypeInfo* Type(std::string_view name) const { return registry.FindTypeByName(name); }

  BindingResult Help(BindingHelpFormat format) const {
    // Unsorted on purpose: help sorts by name.
    const std::vector<const BindingFunctionInfo*> functions = {registry.FindFunction("PostOffers"),
                                                               registry.FindFunction("GetStatus")};
    const std::vector<const BindingTypeInfo*> types = {Type("BindingCallbackEvent"),
                                                       Type("BindingAsyncState")};
    const std::vector<const BindingEventInfo*> events = {registry.FindEvent("OnCallback")};
    BindingResult result;
    BuildHelp(result, registry, functions, types, events, format);
    return result;
  }

  BindingRegistry registry;
};

TEST_F(BindingHelp, FullHelpOfTypesAndEvents) {
  const BindingResult result = Help(BindingHelpFormat::Full);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  const BindingProperty& types = result.value.Member("types");
  ASSERT_EQ(types.Kind(), BindingPropertyKind::Collection);
  ASSERT_EQ(types.Size(), 2u);

  const BindingProperty& state = types.At(0);
  EXPECT_EQ(state.Member("name"), Text("BindingAsyncState"));
  EXPECT_EQ(state.Member("nameSpace"), Text(""));
  EXPECT_EQ(state.Member("size"), Unsigned(4));
  EXPECT_EQ(state.Member("description"), Text("Possible states of an asynchronous operation."));
  EXPECT_EQ(state.Member("tags"), Texts({"$builtin", "async"}));
  EXPECT_EQ(state.Member("fields"), Collection({}));
  const BindingProperty& values = state.Member("values");
  ASSERT_EQ(values.Size(), 6u);
  EXPECT_EQ(values.At(0), Structure({{"name", Text("Cancelled")},
                                     {"description", Text("The operation was cancelled")},
                                     {"value", Signed(3)}}));
  EXPECT_EQ(values.At(3).Member("name"), Text("None"));

  const BindingProperty& callback = types.At(1);
  EXPECT_EQ(callback.Member("name"), Text("BindingCallbackEvent"));
  EXPECT_EQ(callback.Member("size"), Unsigned(sizeof(BindingCallbackEvent)));
  EXPECT_EQ(callback.Member("values"), Collection({}));
  EXPECT_EQ(callback.Member("fields"),
            Collection({Structure({{"name", Text("id")},
                                   {"description", Text("ID of the callback being invoked")},
                                   {"offset", Unsigned(0)},
                                   {"type", TypeId("uint32")},
                                   {"optional", Bool(false)}}),
                        Structure({{"name", Text("parameters")},
                                   {"description", Text("Callback parameters")},
                                   {"offset", Unsigned(offsetof(BindingCallbackEvent, parameters))},
                                   {"type", TypeId("vector", "object")},
                                   {"optional", Bool(false)}})}));

  EXPECT_EQ(result.value.Member("events"),
            Collection({Structure({{"name", Text("OnCallback")},
                                   {"nameSpace", Text("")},
                                   {"type", TypeId("BindingCallbackEvent")},
                                   {"description", Text("Fired when a callback is invoked.")},
                                   {"tags", Texts({"$builtin"})}})}));
}

TEST_F(BindingHelp, FullHelpOfAFunctionWithArguments) {
  const BindingResult result = Help(BindingHelpFormat::Full);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  const BindingProperty& functions = result.value.Member("functions");
  ASSERT_EQ(functions.Size(), 2u);
  EXPECT_EQ(functions.At(0).Member("name"), Text("GetStatus"));
  EXPECT_EQ(functions.At(0).Member("returns"), TypeId(""));
  EXPECT_EQ(functions.At(0).Member("async"), Text(""));
  EXPECT_EQ(functions.At(0).Member("arguments"), Collection({}));
  EXPECT_EQ(functions.At(1),
            Structure({{"name", Text("PostOffers")},
                       {"nameSpace", Text("Store")},
                       {"arguments", Collection({Structure({{"name", Text("offers")},
                                                            {"description", Text("The {offers}")},
                                                            {"type", TypeId("vector", "Offer")},
                                                            {"optional", Bool(false)}}),
                                                 Structure({{"name", Text("state")},
                                                            {"description", Text("")},
                                                            {"type", TypeId("BindingAsyncState")},
                                                            {"optional", Bool(true)}})})},
                       {"returns", TypeId("Offer")},
                       {"description", Text("Posts offers.")},
                       {"help", Text("More.")},
                       {"threadSafe", Bool(false)},
                       {"async", Text("Offer")},
                       {"tags", Texts({"store"})}}));
}

TEST_F(BindingHelp, EpytextHelpNamesEachItem) {
  const BindingResult result = Help(BindingHelpFormat::Epytext);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  EXPECT_EQ(result.value.Member("functions"),
            Structure({{"GetStatus", Text("")},
                       {"PostOffers", Text("Posts offers.\r\n\r\n"
                                           "More.\r\n\r\n"
                                           "@param offers: The E{lb}offersE{rb}\r\n"
                                           "@type offers: list[L{Offer}]\r\n"
                                           "@type state: L{BindingAsyncState}\r\n"
                                           "@rtype: L{Offer}\r\n"
                                           "@tags: store\r\n"
                                           "@async: L{Offer}\r\n")}}));
  const BindingProperty& types = result.value.Member("types");
  ASSERT_EQ(types.Size(), 2u);
  EXPECT_EQ(types.Member("BindingAsyncState"), Text(TypeEpytext(*Type("BindingAsyncState"))));
  EXPECT_EQ(types.Member("BindingCallbackEvent"), Text(TypeEpytext(*Type("BindingCallbackEvent"))));
  EXPECT_EQ(result.value.Member("events"),
            Structure({{"OnCallback",
                        Text("Fired when a callback is invoked.\r\n\r\n@tags: $builtin\r\n")}}));
}

TEST_F(BindingHelp, UnknownFormatAndEmptyListsLeaveTheMembersEmpty) {
  const BindingResult unknown = Help(static_cast<BindingHelpFormat>(3));
  ASSERT_TRUE(unknown.ok);
  EXPECT_EQ(unknown.value,
            Structure({{"functions", Empty()}, {"types", Empty()}, {"events", Empty()}}));

  BindingResult result;
  result.Fail("earlier");
  const std::vector<const BindingTypeInfo*> types = {Type("BindingHelpFormat"), nullptr};
  BuildHelp(result, registry, {}, types, {}, BindingHelpFormat::Epytext);
  ASSERT_TRUE(result.ok);
  EXPECT_TRUE(result.value.Member("functions").IsEmpty());
  EXPECT_EQ(result.value.Member("types").Size(), 1u);
  EXPECT_TRUE(result.value.Member("events").IsEmpty());
}

TEST(BindingHelpWithoutBuiltins, ElementsStayEmptyWhenTheHelpTypeIsNotRegistered) {
  BindingRegistry registry;
  auto offer = registry.BeginType<HelpTestOffer>("Offer");
  offer.Field("id", &HelpTestOffer::id);
  const std::vector<const BindingTypeInfo*> types = {&offer.Record()};
  BindingResult result;
  BuildHelp(result, registry, {}, types, {}, BindingHelpFormat::Full);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.value.Member("types"), Collection({Empty()}));
}

}  // namespace
}  // namespace Tesk
