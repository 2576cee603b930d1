#include "binding/api_description_builder.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/builtin_types.h"

namespace Tesk {
namespace {

using V = BindingValueType;

enum class DescribedColor : int32_t { Red = 1, Blue = 2 };
struct DescribedEmpty {};
struct DescribedOffer {
  std::string id;
  DescribedColor color = DescribedColor::Red;
  std::vector<std::string> labels;
  BindingProperty raw;
};

std::string_view Text(const char* text) { return text != nullptr ? text : "<null>"; }

// Members of packed records must not be bound to references, and the gtest
// comparisons take their operands by reference: these compare copies.
template <class T>
T Value(T value) {
  return value;
}
#define EXPECT_VALUE_EQ(a, b) EXPECT_EQ(Value(a), Value(b))
#define EXPECT_VALUE_NE(a, b) EXPECT_NE(Value(a), Value(b))
#define ASSERT_VALUE_EQ(a, b) ASSERT_EQ(Value(a), Value(b))
#define ASSERT_VALUE_NE(a, b) ASSERT_NE(Value(a), Value(b))

class ApiDescription : public ::testing::Test {
 protected:
  void SetUp() override {
    registry.Initialize(&RegisterBindingBuiltins);
    auto color = registry.BeginType<DescribedColor>("Color");
    color.SetDescription("Colors");
    color.Enumerator("Red", DescribedColor::Red, "Warm");
    color.Enumerator("Blue", DescribedColor::Blue);
    (void)registry.BeginType<DescribedEmpty>("Empty");
    auto offer = registry.BeginType<DescribedOffer>("Offer");
    offer.SetNamespace("Store");
    offer.AddTag("store");
    offer.Field("id", &DescribedOffer::id, {.description = "The id", .optional = true});
    offer.Field("color", &DescribedOffer::color);
    offer.Field("labels", &DescribedOffer::labels);
    offer.Field("raw", &DescribedOffer::raw, {.helpType = {V::Map, V::String}});
    offerType = registry.FindTypeByName("Offer");
    colorType = registry.FindTypeByName("Color");

    BindingFunctionInfo& post = registry.RegisterFunction(
        "PostOffers", {{"offers", "All offers", false, {V::Vector, V::Struct, offerType}, {}},
                       {"limit", "", true, {V::UInt32}, {}},
                       {"odd", "", false, {static_cast<V>(25), static_cast<V>(40)}, {}},
                       {"shown", "", false, {V::Int32}, {V::Enum, V::None, colorType}},
                       {"text", "", false, {V::String, V::None, offerType}, {}}});
    post.returns = {V::Struct, V::None, offerType};
    post.nameSpace = "Store";
    post.description = "Posts";
    post.helpText = "Help";
    post.threadSafe = true;
    post.async = true;
    post.tags = {"a", "b"};
    (void)registry.RegisterFunction("GetStatus", {});

    auto event = registry.BeginEvent("OnOffers", offerType);
    event.SetNamespace("Store");
    event.SetDescription("Offers changed");
    event.AddTag("store");
    (void)registry.BeginEvent("OnBare", nullptr);
  }

  BindingRegistry registry;
  const BindingTypeInfo* offerType = nullptr;
  const BindingTypeInfo* colorType = nullptr;
};

TEST_F(ApiDescription, FunctionsAndTheirArguments) {
  const HostApiDescription description = DescribeApi(registry);
  const ApiDescriptionHeader& header = description.Header();
  ASSERT_VALUE_EQ(header.functionCount, 2u);
  const std::span<const ApiFunctionRecord> functions = description.Functions();
  EXPECT_VALUE_EQ(header.functions, functions.data());
  EXPECT_VALUE_EQ(functions[0].next, &functions[1]);
  EXPECT_VALUE_EQ(functions[1].next, nullptr);
  EXPECT_VALUE_EQ(description.FindFunction("GetStatus"), &functions[0]);
  EXPECT_VALUE_EQ(description.FindFunction("PostOffers"), &functions[1]);
  EXPECT_VALUE_EQ(description.FindFunction("Post"), nullptr);
  EXPECT_VALUE_EQ(description.FindFunction("Zzz"), nullptr);

  const ApiFunctionRecord& status = functions[0];
  EXPECT_VALUE_EQ(Text(status.name), "GetStatus");
  EXPECT_VALUE_EQ(status.arguments, nullptr);
  EXPECT_VALUE_EQ(status.argumentCount, 0u);
  EXPECT_VALUE_EQ(status.returnType, 0u);
  EXPECT_VALUE_EQ(Text(status.returnTypeName), "");
  EXPECT_VALUE_EQ(Text(status.asyncTypeName), "");
  EXPECT_VALUE_EQ(Text(status.nameSpace), "");
  EXPECT_VALUE_EQ(status.tags, nullptr);
  EXPECT_VALUE_EQ(status.tagCount, 0u);

  const ApiFunctionRecord& post = functions[1];
  const BindingFunctionInfo& info = *registry.FindFunction("PostOffers");
  EXPECT_VALUE_EQ(post.reserved, 0u);
  EXPECT_VALUE_EQ(post.dispatchContext, nullptr);
  EXPECT_VALUE_EQ(post.name, info.name.c_str()) << "texts are the registry's own";
  EXPECT_VALUE_EQ(Text(post.nameSpace), "Store");
  EXPECT_VALUE_EQ(post.returnType, 17u);
  EXPECT_VALUE_EQ(post.returnElementType, 0u);
  EXPECT_VALUE_EQ(Text(post.returnTypeName), "Offer");
  EXPECT_VALUE_EQ(Text(post.description), "Posts");
  EXPECT_VALUE_EQ(Text(post.help), "Help");
  EXPECT_VALUE_EQ(post.threadSafe, 1u);
  EXPECT_VALUE_EQ(Text(post.asyncTypeName), "Offer");
  ASSERT_VALUE_EQ(post.tagCount, 2u);
  EXPECT_VALUE_EQ(Text(post.tags[0]), "a");
  EXPECT_VALUE_EQ(Text(post.tags[1]), "b");

  const struct {
    const char* name;
    const char* description;
    uint32_t type;
    uint32_t elementType;
    const char* typeName;
    uint8_t optional;
  } expected[] = {
      {"offers", "All offers", 15, 17, "Offer", 0},
      {"limit", "", 7, 0, "", 1},
      {"odd", "", 0, 0, "", 0},          // codes outside 1 to 19
      {"shown", "", 16, 0, "Color", 0},  // the help type replaces the type
      {"text", "", 12, 0, "", 0},        // no record name for a string
  };
  ASSERT_VALUE_EQ(post.argumentCount, std::size(expected));
  const ApiArgumentRecord* argument = post.arguments;
  for (const auto& e : expected) {
    SCOPED_TRACE(e.name);
    ASSERT_VALUE_NE(argument, nullptr);
    EXPECT_VALUE_EQ(Text(argument->name), e.name);
    EXPECT_VALUE_EQ(Text(argument->description), e.description);
    EXPECT_VALUE_EQ(argument->type, e.type);
    EXPECT_VALUE_EQ(argument->elementType, e.elementType);
    EXPECT_VALUE_EQ(Text(argument->typeName), e.typeName);
    EXPECT_VALUE_EQ(argument->optional, e.optional);
    if (argument->next != nullptr) {
      EXPECT_VALUE_EQ(argument->next, argument + 1) << "contiguous";
    }
    argument = argument->next;
  }
  EXPECT_VALUE_EQ(argument, nullptr);
}

TEST_F(ApiDescription, TypesWithFieldsOrEnumerators) {
  const HostApiDescription description = DescribeApi(registry);
  const std::vector<const BindingTypeInfo*> all = registry.AllTypes();
  const std::span<const ApiTypeRecord> types = description.Types();
  ASSERT_VALUE_EQ(description.Header().typeCount, all.size());
  ASSERT_VALUE_EQ(types.size(), all.size());
  EXPECT_VALUE_EQ(description.Header().types, types.data());
  for (size_t index = 0; index < types.size(); ++index) {
    EXPECT_VALUE_EQ(Text(types[index].name), all[index]->name) << "registry name order";
    EXPECT_VALUE_EQ(types[index].next, index + 1 < types.size() ? &types[index + 1] : nullptr);
  }
  const auto find = [&](std::string_view name) -> const ApiTypeRecord& {
    for (const ApiTypeRecord& type : types) {
      if (Text(type.name) == name) return type;
    }
    ADD_FAILURE() << name;
    return types[0];
  };

  const ApiTypeRecord& offer = find("Offer");
  EXPECT_VALUE_EQ(Text(offer.nameSpace), "Store");
  EXPECT_VALUE_EQ(offer.size, sizeof(DescribedOffer));
  EXPECT_VALUE_EQ(Text(offer.description), "");
  ASSERT_VALUE_EQ(offer.tagCount, 1u);
  EXPECT_VALUE_EQ(Text(offer.tags[0]), "store");
  EXPECT_VALUE_EQ(offer.enumerators, nullptr);
  ASSERT_VALUE_EQ(offer.memberCount, 4u);
  const struct {
    const char* name;
    const char* description;
    uint32_t offset;
    uint32_t type;
    uint32_t elementType;
    const char* typeName;
    uint8_t optional;
  } fields[] = {
      {"id", "The id", offsetof(DescribedOffer, id), 12, 0, "", 1},
      {"color", "", offsetof(DescribedOffer, color), 16, 0, "Color", 0},
      {"labels", "", offsetof(DescribedOffer, labels), 15, 12, "", 0},
      {"raw", "", offsetof(DescribedOffer, raw), 19, 12, "", 0},  // its help type
  };
  const ApiFieldRecord* field = offer.fields;
  for (const auto& e : fields) {
    SCOPED_TRACE(e.name);
    ASSERT_VALUE_NE(field, nullptr);
    EXPECT_VALUE_EQ(Text(field->name), e.name);
    EXPECT_VALUE_EQ(Text(field->description), e.description);
    EXPECT_VALUE_EQ(field->offset, e.offset);
    EXPECT_VALUE_EQ(field->type, e.type);
    EXPECT_VALUE_EQ(field->elementType, e.elementType);
    EXPECT_VALUE_EQ(Text(field->typeName), e.typeName);
    EXPECT_VALUE_EQ(field->optional, e.optional);
    field = field->next;
  }
  EXPECT_VALUE_EQ(field, nullptr);

  const ApiTypeRecord& color = find("Color");
  EXPECT_VALUE_EQ(Text(color.description), "Colors");
  EXPECT_VALUE_EQ(color.size, 4u);
  EXPECT_VALUE_EQ(color.tags, nullptr);
  EXPECT_VALUE_EQ(color.fields, nullptr);
  ASSERT_VALUE_EQ(color.memberCount, 2u);
  ASSERT_VALUE_NE(color.enumerators, nullptr);
  EXPECT_VALUE_EQ(Text(color.enumerators[0].name), "Blue");
  EXPECT_VALUE_EQ(color.enumerators[0].value, 2);
  EXPECT_VALUE_EQ(Text(color.enumerators[0].description), "");
  EXPECT_VALUE_EQ(color.enumerators[0].next, &color.enumerators[1]);
  EXPECT_VALUE_EQ(Text(color.enumerators[1].name), "Red");
  EXPECT_VALUE_EQ(color.enumerators[1].value, 1);
  EXPECT_VALUE_EQ(Text(color.enumerators[1].description), "Warm");
  EXPECT_VALUE_EQ(color.enumerators[1].next, nullptr);

  const ApiTypeRecord& empty = find("Empty");
  EXPECT_VALUE_EQ(empty.fields, nullptr);
  EXPECT_VALUE_EQ(empty.enumerators, nullptr);
  EXPECT_VALUE_EQ(empty.memberCount, 0u);
}

TEST_F(ApiDescription, EventsAndMovingKeepsTheRecords) {
  HostApiDescription description = DescribeApi(registry);
  const std::span<const ApiEventRecord> events = description.Events();
  ASSERT_VALUE_EQ(description.Header().eventCount, 3u);
  EXPECT_VALUE_EQ(Text(events[0].name), "OnBare");
  EXPECT_VALUE_EQ(Text(events[0].payloadType), "");
  EXPECT_VALUE_EQ(events[0].tags, nullptr);
  EXPECT_VALUE_EQ(Text(events[1].name), "OnCallback");
  EXPECT_VALUE_EQ(Text(events[1].payloadType), "BindingCallbackEvent");
  EXPECT_VALUE_EQ(Text(events[1].description), "Fired when a callback is invoked.");
  EXPECT_VALUE_EQ(Text(events[2].name), "OnOffers");
  EXPECT_VALUE_EQ(Text(events[2].nameSpace), "Store");
  EXPECT_VALUE_EQ(Text(events[2].payloadType), "Offer");
  ASSERT_VALUE_EQ(events[2].tagCount, 1u);
  EXPECT_VALUE_EQ(Text(events[2].tags[0]), "store");
  EXPECT_VALUE_EQ(events[0].next, &events[1]);
  EXPECT_VALUE_EQ(events[2].next, nullptr);

  const ApiDescriptionHeader before = description.Header();
  const HostApiDescription moved = std::move(description);
  EXPECT_VALUE_EQ(moved.Header().functions, before.functions);
  EXPECT_VALUE_EQ(moved.Header().types, before.types);
  EXPECT_VALUE_EQ(moved.Header().events, before.events);
  EXPECT_VALUE_EQ(moved.FindFunction("PostOffers"),
                  static_cast<const ApiFunctionRecord*>(before.functions) + 1);

  const HostApiDescription nothing = DescribeApi(BindingRegistry());
  EXPECT_VALUE_EQ(nothing.Header().functions, nullptr);
  EXPECT_VALUE_EQ(nothing.Header().functionCount, 0u);
  EXPECT_VALUE_EQ(nothing.Header().types, nullptr);
  EXPECT_VALUE_EQ(nothing.Header().events, nullptr);
}

// The host reads the records by offset: check the bytes where it looks.
template <class T>
T ReadAt(const void* record, size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof value);
  return value;
}

uint32_t Address(const void* pointer) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

std::string_view TextAt(const void* record, size_t offset) {
  return reinterpret_cast<const char*>(static_cast<uintptr_t>(ReadAt<uint32_t>(record, offset)));
}

TEST_F(ApiDescription, RawLayoutOnThe32BitHost) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "the host's layout has 32-bit pointers";
  const HostApiDescription description = DescribeApi(registry);
  const ApiDescriptionHeader& header = description.Header();
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(&header, 0), Address(description.Functions().data()));
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(&header, 4), 2u);
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(&header, 8), Address(description.Types().data()));
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(&header, 12), description.Types().size());
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(&header, 16), Address(description.Events().data()));
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(&header, 20), 3u);

  // Function records are 61 bytes apart.
  const auto* status = reinterpret_cast<const unsigned char*>(description.Functions().data());
  const unsigned char* post = status + 61;
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(status, 0), Address(post));
  EXPECT_VALUE_EQ(TextAt(status, 12), "GetStatus");
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(post, 0), 0u);
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(post, 4), 0u);
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(post, 8), 0u);
  EXPECT_VALUE_EQ(TextAt(post, 12), "PostOffers");
  EXPECT_VALUE_EQ(TextAt(post, 16), "Store");
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(post, 24), 5u);
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(post, 28), 17u);
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(post, 32), 0u);
  EXPECT_VALUE_EQ(TextAt(post, 36), "Offer");
  EXPECT_VALUE_EQ(TextAt(post, 40), "Posts");
  EXPECT_VALUE_EQ(TextAt(post, 44), "Help");
  EXPECT_VALUE_EQ(post[48], 1u);
  EXPECT_VALUE_EQ(TextAt(post, 49), "Offer");
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(post, 57), 2u);
  const uint32_t tags = ReadAt<uint32_t>(post, 53);
  EXPECT_VALUE_EQ(TextAt(reinterpret_cast<const void*>(static_cast<uintptr_t>(tags)), 4), "b");

  // Argument records are 25 bytes apart.
  const auto* offers =
      reinterpret_cast<const unsigned char*>(static_cast<uintptr_t>(ReadAt<uint32_t>(post, 20)));
  const unsigned char* limit = offers + 25;
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(offers, 0), Address(limit));
  EXPECT_VALUE_EQ(TextAt(offers, 4), "offers");
  EXPECT_VALUE_EQ(TextAt(offers, 8), "All offers");
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(offers, 12), 15u);
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(offers, 16), 17u);
  EXPECT_VALUE_EQ(TextAt(offers, 20), "Offer");
  EXPECT_VALUE_EQ(offers[24], 0u);
  EXPECT_VALUE_EQ(TextAt(limit, 4), "limit");
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(limit, 12), 7u);
  EXPECT_VALUE_EQ(limit[24], 1u);

  // Type records are 40 bytes apart; the Offer type's field records 29.
  const auto* types = reinterpret_cast<const unsigned char*>(description.Types().data());
  const unsigned char* offer = nullptr;
  const unsigned char* color = nullptr;
  for (size_t index = 0; index < description.Types().size(); ++index) {
    const unsigned char* type = types + 40 * index;
    if (TextAt(type, 4) == "Offer") offer = type;
    if (TextAt(type, 4) == "Color") color = type;
  }
  ASSERT_VALUE_NE(offer, nullptr);
  ASSERT_VALUE_NE(color, nullptr);
  EXPECT_VALUE_EQ(TextAt(offer, 8), "Store");
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(offer, 12), sizeof(DescribedOffer));
  EXPECT_VALUE_EQ(TextAt(offer, 16), "");
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(offer, 24), 1u);
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(offer, 32), 0u);
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(offer, 36), 4u);
  const auto* id =
      reinterpret_cast<const unsigned char*>(static_cast<uintptr_t>(ReadAt<uint32_t>(offer, 28)));
  const unsigned char* colorField = id + 29;
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(id, 0), Address(colorField));
  EXPECT_VALUE_EQ(TextAt(id, 4), "id");
  EXPECT_VALUE_EQ(TextAt(id, 8), "The id");
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(id, 12), offsetof(DescribedOffer, id));
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(id, 16), 12u);
  EXPECT_VALUE_EQ(id[28], 1u);
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(colorField, 12), offsetof(DescribedOffer, color));
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(colorField, 16), 16u);
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(colorField, 20), 0u);
  EXPECT_VALUE_EQ(TextAt(colorField, 24), "Color");

  // Enumerator records are 16 bytes apart.
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(color, 28), 0u);
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(color, 36), 2u);
  const auto* blue =
      reinterpret_cast<const unsigned char*>(static_cast<uintptr_t>(ReadAt<uint32_t>(color, 32)));
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(blue, 0), Address(blue + 16));
  EXPECT_VALUE_EQ(TextAt(blue, 4), "Blue");
  EXPECT_VALUE_EQ(ReadAt<int32_t>(blue, 12), 2);
  EXPECT_VALUE_EQ(TextAt(blue + 16, 8), "Warm");
  EXPECT_VALUE_EQ(ReadAt<int32_t>(blue + 16, 12), 1);

  // Event records are 28 bytes apart.
  const auto* events = reinterpret_cast<const unsigned char*>(description.Events().data());
  const unsigned char* onOffers = events + 2 * 28;
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(events + 28, 0), Address(onOffers));
  EXPECT_VALUE_EQ(TextAt(onOffers, 4), "OnOffers");
  EXPECT_VALUE_EQ(TextAt(onOffers, 8), "Store");
  EXPECT_VALUE_EQ(TextAt(onOffers, 12), "Offer");
  EXPECT_VALUE_EQ(TextAt(onOffers, 16), "Offers changed");
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(onOffers, 24), 1u);
  EXPECT_VALUE_EQ(ReadAt<uint32_t>(onOffers, 0), 0u);
}

}  // namespace
}  // namespace Tesk
