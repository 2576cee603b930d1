#include "binding/binding_registry.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/binding_call_result.h"
#include "binding/binding_storage.h"

namespace Tesk {
namespace {

enum class LoginState : int32_t { InProgress = 0, Succeeded = 1, LoggingOut = 2, Error = 3 };

std::vector<std::string> EnumeratorNames(const BindingTypeInfo& type) {
  std::vector<std::string> names;
  for (const BindingEnumerator& e : type.enumerators) names.push_back(e.name);
  return names;
}

TEST(BindingRegistryEnumerations, KeptInNameOrderAndLookedUpByValue) {
  BindingRegistry registry;
  auto state = registry.BeginType<LoginState>("LoginState");
  state.Enumerator("IN_PROGRESS", LoginState::InProgress);
  state.Enumerator("ERROR", LoginState::Error, "Failed");
  state.Enumerator("SUCCEEDED", LoginState::Succeeded);
  state.Enumerator("LOGGING_OUT", LoginState::LoggingOut);

  const BindingTypeInfo* type = registry.FindTypeByName("LoginState");
  ASSERT_NE(type, nullptr);
  EXPECT_TRUE(type->isEnum);
  EXPECT_EQ(type->size, sizeof(LoginState));
  EXPECT_EQ(EnumeratorNames(*type),
            (std::vector<std::string>{"ERROR", "IN_PROGRESS", "LOGGING_OUT", "SUCCEEDED"}));
  EXPECT_EQ(type->enumerators[0].owner, type);
  EXPECT_EQ(type->enumerators[0].description, "Failed");

  const TypeKey& key = TypeKeyOf<LoginState>();
  EXPECT_EQ(registry.EnumeratorName(key, 3), "ERROR");
  EXPECT_EQ(registry.EnumeratorName(key, 0), "IN_PROGRESS");
  EXPECT_EQ(registry.EnumeratorName(key, 7), std::nullopt);
  EXPECT_EQ(registry.EnumeratorName(TypeKeyOf<int>(), 0), std::nullopt);
  EXPECT_TRUE(BindingRegistry::IsEnumerator(type, 2));
  EXPECT_FALSE(BindingRegistry::IsEnumerator(type, 4));
  EXPECT_FALSE(BindingRegistry::IsEnumerator(nullptr, 0));

  ASSERT_NE(type->FindEnumerator("LOGGING_OUT"), nullptr);
  EXPECT_EQ(type->FindEnumerator("LOGGING_OUT")->value, 2);
  EXPECT_EQ(type->FindEnumerator("logging_out"), nullptr);
  EXPECT_EQ(type->FindEnumerator("LOGGING"), nullptr);
}

TEST(BindingRegistryEnumerations, SameNameReplacesAndSameValuePrefersTheFirstName) {
  BindingRegistry registry;
  auto state = registry.BeginType<LoginState>("LoginState");
  state.Enumerator("b", LoginState::Succeeded, "first");
  state.Enumerator("B", LoginState::Succeeded);  // "B" sorts before "b", byte-wise
  state.Enumerator("b", LoginState::Error, "second");
  const BindingTypeInfo& type = state.Record();
  EXPECT_EQ(EnumeratorNames(type), (std::vector<std::string>{"B", "b"}));
  EXPECT_EQ(type.enumerators[1].value, 3);
  EXPECT_EQ(type.enumerators[1].description, "second");
  EXPECT_EQ(registry.EnumeratorName(TypeKeyOf<LoginState>(), 1), "B");
}

TEST(BindingRegistryTypes, SecondRegistrationOfANameChangesNothing) {
  BindingRegistry registry;
  auto first = registry.BeginType<LoginState>("BindingHelpFormat");
  first.Enumerator("Full", LoginState::InProgress);
  first.SetDescription("first");
  first.AddTag("help");
  EXPECT_FALSE(first.IsExisting());

  auto second = registry.BeginType<LoginState>("BindingHelpFormat");
  EXPECT_TRUE(second.IsExisting());
  EXPECT_EQ(&second.Record(), &first.Record());
  second.Enumerator("Other", LoginState::Error);
  second.SetDescription("second");
  second.AddTag("other");
  second.SetNamespace("ns");

  const BindingTypeInfo* type = registry.FindTypeByName("BindingHelpFormat");
  ASSERT_EQ(type, &first.Record());
  EXPECT_EQ(EnumeratorNames(*type), std::vector<std::string>{"Full"});
  EXPECT_EQ(type->description, "first");
  EXPECT_EQ(type->tags, std::vector<std::string>{"help"});
  EXPECT_EQ(type->nameSpace, "");
  EXPECT_EQ(registry.AllTypes().size(), 1u);
}

TEST(BindingRegistryTypes, EmptyTagsAreIgnored) {
  BindingRegistry registry;
  auto type = registry.BeginType<LoginState>("LoginState");
  type.AddTag("$builtin");
  type.AddTag("");
  const std::vector<std::string> tags = {"help", "", "qclient"};
  type.AddTags(tags);
  EXPECT_EQ(type.Record().tags, (std::vector<std::string>{"$builtin", "help", "qclient"}));
}

struct Alpha {
  int32_t value = 0;
};
struct Beta {
  int32_t value = 0;
};

TEST(BindingRegistryTypes, FoundByNameAndById) {
  BindingRegistry registry;
  (void)registry.BeginType<Beta>("Beta");
  (void)registry.BeginType<Alpha>("Alpha");
  const BindingTypeInfo* alpha = registry.FindTypeByName("Alpha");
  ASSERT_NE(alpha, nullptr);
  EXPECT_FALSE(alpha->isEnum);
  EXPECT_EQ(alpha->owner, &registry);
  EXPECT_EQ(alpha->typeKey, &TypeKeyOf<Alpha>());
  EXPECT_EQ(alpha->id, TypeKeyOf<Alpha>().id);
  EXPECT_EQ(registry.FindTypeById(TypeKeyOf<Alpha>()), alpha);
  EXPECT_EQ(registry.FindTypeById(TypeKeyOf<Beta>()), registry.FindTypeByName("Beta"));
  EXPECT_EQ(registry.FindTypeById(TypeKeyOf<LoginState>()), nullptr);
  EXPECT_EQ(registry.FindTypeByName("alpha"), nullptr);

  const std::vector<const BindingTypeInfo*> all = registry.AllTypes();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0]->name, "Alpha");
  EXPECT_EQ(all[1]->name, "Beta");
}

TEST(BindingRegistryTypes, NoRequestContextTypeIsEnteredByNameOnly) {
  BindingRegistry registry;
  (void)registry.BeginType<BindingNoRequestContext>("BindingNoRequestContext");
  EXPECT_NE(registry.FindTypeByName("BindingNoRequestContext"), nullptr);
  EXPECT_EQ(registry.FindTypeById(TypeKeyOf<BindingNoRequestContext>()), nullptr);
}

TEST(BindingRegistryTypes, ManyIdsStayFindable) {
  // Ids that differ only in their high bytes, and enough of them to grow the map.
  BindingRegistry registry;
  std::vector<TypeKey> keys(300);
  for (size_t i = 0; i < keys.size(); ++i) {
    keys[i].id = static_cast<uint32_t>(i) << 20 | 0x5;
    (void)registry.BeginType(4, "T" + std::to_string(i), keys[i], false);
  }
  for (size_t i = 0; i < keys.size(); ++i) {
    const BindingTypeInfo* type = registry.FindTypeById(keys[i]);
    ASSERT_NE(type, nullptr) << i;
    EXPECT_EQ(type->name, "T" + std::to_string(i));
  }
  TypeKey absent;
  absent.id = 0x7;
  EXPECT_EQ(registry.FindTypeById(absent), nullptr);
}

// Two native types whose readable names hash alike must never share a record.
TEST(BindingRegistryTypes, AnotherTypeOfATakenIdIsRefused) {
  BindingRegistry registry;
  TypeKey first;
  first.id = 0x1234;
  first.readableName = "First";
  TypeKey second = first;
  second.readableName = "Second";
  (void)registry.BeginType(4, "First", first, false);
  try {
    (void)registry.BeginType(8, "Second", second, false);
    ADD_FAILURE() << "the second type of the id was registered";
  } catch (const std::logic_error& error) {
    EXPECT_NE(std::string(error.what()).find("'Second' (Second)"), std::string::npos);
    EXPECT_NE(std::string(error.what()).find("'First' (First)"), std::string::npos);
  }
  EXPECT_EQ(registry.FindTypeByName("Second"), nullptr);
  EXPECT_EQ(registry.FindTypeById(second), nullptr);
  EXPECT_EQ(registry.FindTypeById(first), registry.FindTypeByName("First"));

  // The same key under another name is an alias, found by id as the first.
  (void)registry.BeginType(4, "FirstAlias", first, false);
  EXPECT_NE(registry.FindTypeByName("FirstAlias"), nullptr);
  EXPECT_EQ(registry.FindTypeById(first), registry.FindTypeByName("First"));
}

enum class Kind8 : int32_t { A = 0 };
struct Part {
  int32_t n = 0;
};
struct Whole {
  bool flag = false;
  int32_t i32 = 0;
  uint32_t u32 = 0;
  int64_t i64 = 0;
  uint64_t u64 = 0;
  std::string text;
  BindingProperty object;
  Kind8 kind = Kind8::A;
  Part part;
  std::vector<Part> parts;
  std::vector<std::string> texts;
  std::vector<BindingProperty> objects;
};

TEST(BindingRegistryFields, TypedFieldsDescribeTheirMembers) {
  BindingRegistry registry;
  auto kind = registry.BeginType<Kind8>("Kind8");
  kind.Enumerator("A", Kind8::A);
  (void)registry.BeginType<Part>("Part");
  auto whole = registry.BeginType<Whole>("Whole");
  whole.Field("flag", &Whole::flag);
  whole.Field("i32", &Whole::i32);
  whole.Field("u32", &Whole::u32);
  whole.Field("i64", &Whole::i64);
  whole.Field("u64", &Whole::u64);
  whole.Field("text", &Whole::text);
  whole.Field("object", &Whole::object);
  whole.Field("kind", &Whole::kind);
  whole.Field("part", &Whole::part);
  whole.Field("parts", &Whole::parts);
  whole.Field("texts", &Whole::texts,
              {.description = "Texts",
               .flags = BindingFieldFlags::OmitEmpty | BindingFieldFlags::Required,
               .helpType = {BindingValueType::String},
               .optional = true});
  whole.Field("objects", &Whole::objects);

  const BindingTypeInfo* kindType = registry.FindTypeByName("Kind8");
  const BindingTypeInfo* partType = registry.FindTypeByName("Part");
  using V = BindingValueType;
  struct Expected {
    const char* name;
    size_t offset;
    const TypeKey* key;
    BindingTypeIdentifier type;
  };
  const Expected expected[] = {
      {"flag", offsetof(Whole, flag), &TypeKeyOf<bool>(), {V::Bool}},
      {"i32", offsetof(Whole, i32), &TypeKeyOf<int32_t>(), {V::Int32}},
      {"u32", offsetof(Whole, u32), &TypeKeyOf<uint32_t>(), {V::UInt32}},
      {"i64", offsetof(Whole, i64), &TypeKeyOf<int64_t>(), {V::Int64}},
      {"u64", offsetof(Whole, u64), &TypeKeyOf<uint64_t>(), {V::UInt64}},
      {"text", offsetof(Whole, text), &TypeKeyOf<std::string>(), {V::String}},
      {"object", offsetof(Whole, object), &TypeKeyOf<BindingProperty>(), {V::Object}},
      {"kind", offsetof(Whole, kind), &TypeKeyOf<Kind8>(), {V::Enum, V::None, kindType}},
      {"part", offsetof(Whole, part), &TypeKeyOf<Part>(), {V::Struct, V::None, partType}},
      {"parts",
       offsetof(Whole, parts),
       &TypeKeyOf<std::vector<Part>>(),
       {V::Vector, V::Struct, partType}},
      {"texts",
       offsetof(Whole, texts),
       &TypeKeyOf<std::vector<std::string>>(),
       {V::Vector, V::String}},
      {"objects",
       offsetof(Whole, objects),
       &TypeKeyOf<std::vector<BindingProperty>>(),
       {V::Vector, V::Object}},
  };
  const BindingTypeInfo& record = whole.Record();
  ASSERT_EQ(record.fields.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const BindingFieldInfo& field = record.fields[i];
    SCOPED_TRACE(field.name);
    EXPECT_EQ(field.name, expected[i].name);
    EXPECT_EQ(field.nameHash, BindingStringHash(expected[i].name));
    EXPECT_EQ(field.offset, expected[i].offset);
    EXPECT_EQ(field.typeKey, expected[i].key);
    EXPECT_EQ(field.type, expected[i].type);
    EXPECT_EQ(field.owner, &record);
    EXPECT_NE(field.converter.ops, nullptr);
  }
  EXPECT_EQ(record.fields[1].flags, 0u);
  EXPECT_FALSE(record.fields[1].optional);
  const BindingFieldInfo& texts = record.fields[10];
  EXPECT_EQ(texts.description, "Texts");
  EXPECT_EQ(texts.flags, 3u);
  EXPECT_EQ(texts.helpType.type, V::String);
  EXPECT_TRUE(texts.optional);
  // Fields of one native type share one converter table.
  EXPECT_EQ(record.fields[5].converter.ops, &kBindingConverterOps<std::string>);
}

TEST(BindingValueType, PrintedNames) {
  EXPECT_STREQ(BindingValueTypeName(BindingValueType::Bool), "bool");
  EXPECT_STREQ(BindingValueTypeName(BindingValueType::UInt16), "uint16");
  EXPECT_STREQ(BindingValueTypeName(BindingValueType::Object), "object");
  EXPECT_STREQ(BindingValueTypeName(BindingValueType::Callback), "callback");
  EXPECT_STREQ(BindingValueTypeName(BindingValueType::Map), "map");
  EXPECT_STREQ(BindingValueTypeName(BindingValueType::None), "");
  EXPECT_STREQ(BindingValueTypeName(static_cast<BindingValueType>(20)), "");
}

// Records its destruction, as the REST layer's invokers would release their handler.
class CountingInvoker : public BindingInvoker {
 public:
  explicit CountingInvoker(int& destroyed) : destroyed_(destroyed) {}
  ~CountingInvoker() override { ++destroyed_; }
  void* Start(BindingCallResult&, std::span<const BindingProperty>, uint32_t) override {
    return nullptr;
  }
  const TypeKey& ContextType() const override { return TypeKeyOf<BindingNoRequestContext>(); }
  void Finish(BindingCallResult&, const BindingRequestContext*, void*, uint32_t) override {}
  void Release(void*) noexcept override {}

 private:
  int& destroyed_;
};

TEST(BindingRegistryFunctions, RegisterReplaceAndUnregister) {
  BindingRegistry registry;
  int destroyed = 0;
  EXPECT_EQ(registry.ChangeCount(), 0u);
  BindingFunctionInfo& status =
      registry.RegisterFunction("GetStatus", {BindingArgumentInfo{.name = "id"}});
  status.invoker = std::make_unique<CountingInvoker>(destroyed);
  (void)registry.RegisterFunction("DeleteOffer", {});
  EXPECT_EQ(registry.ChangeCount(), 2u);
  EXPECT_EQ(registry.FindFunction("GetStatus"), &status);
  ASSERT_EQ(status.arguments.size(), 1u);
  EXPECT_EQ(status.arguments[0].name, "id");
  EXPECT_EQ(registry.FindFunction("getstatus"), nullptr);
  const std::vector<const BindingFunctionInfo*> all = registry.AllFunctions();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0]->name, "DeleteOffer");

  BindingFunctionInfo& replacement = registry.RegisterFunction("GetStatus", {});
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(registry.FindFunction("GetStatus"), &replacement);
  EXPECT_EQ(registry.ChangeCount(), 3u);

  replacement.invoker = std::make_unique<CountingInvoker>(destroyed);
  registry.UnregisterFunction(&replacement);
  EXPECT_EQ(destroyed, 2);
  EXPECT_EQ(registry.FindFunction("GetStatus"), nullptr);
  EXPECT_EQ(registry.ChangeCount(), 4u);

  // A record of another registry (or already removed) is ignored.
  BindingRegistry other;
  const BindingFunctionInfo& foreign = other.RegisterFunction("DeleteOffer", {});
  registry.UnregisterFunction(&foreign);
  registry.UnregisterFunction(nullptr);
  EXPECT_NE(registry.FindFunction("DeleteOffer"), nullptr);
  EXPECT_EQ(registry.ChangeCount(), 4u);
}

TEST(BindingRegistryEvents, BeginFindAndUnregister) {
  BindingRegistry registry;
  const BindingTypeInfo& payload = registry.BeginType<Alpha>("Alpha").Record();
  EventBuilder event = registry.BeginEvent("OnJsonApiEvent", &payload);
  event.SetDescription("Fired when a resource is changed.");
  event.AddTag("qclient");
  event.AddTag("");
  EventBuilder again = registry.BeginEvent("OnJsonApiEvent", nullptr);
  EXPECT_TRUE(again.IsExisting());
  again.SetDescription("other");
  again.AddTag("other");

  const BindingEventInfo* found = registry.FindEvent("OnJsonApiEvent");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->payloadType, &payload);
  EXPECT_EQ(found->description, "Fired when a resource is changed.");
  EXPECT_EQ(found->tags, std::vector<std::string>{"qclient"});
  EXPECT_EQ(registry.AllEvents().size(), 1u);

  registry.UnregisterEvent("OnJsonApiEvent");
  registry.UnregisterEvent("OnJsonApiEvent");
  EXPECT_EQ(registry.FindEvent("OnJsonApiEvent"), nullptr);
}

struct CallbackEvent {
  uint32_t id = 0;
  std::vector<BindingProperty> parameters;
};

int builtinRuns = 0;

void RegisterTestBuiltins(BindingRegistry& registry) {
  ++builtinRuns;
  auto callback = registry.BeginType<CallbackEvent>("BindingCallbackEvent");
  callback.SetDescription("Represents the parameters of a call to a provided callback.");
  callback.AddTag("$builtin");
  callback.Field("id", &CallbackEvent::id);
  callback.Field("parameters", &CallbackEvent::parameters);
}

TEST(BindingRegistryLifecycle, InitializeRegistersBuiltinsAndIsRepeatable) {
  BindingRegistry registry;
  builtinRuns = 0;
  EXPECT_FALSE(registry.IsInitialized());
  registry.Initialize(&RegisterTestBuiltins);
  EXPECT_TRUE(registry.IsInitialized());
  EXPECT_EQ(builtinRuns, 1);
  const BindingEventInfo* onCallback = registry.FindEvent("OnCallback");
  ASSERT_NE(onCallback, nullptr);
  EXPECT_EQ(onCallback->payloadType, registry.FindTypeByName("BindingCallbackEvent"));
  EXPECT_EQ(onCallback->description, "Fired when a callback is invoked.");
  EXPECT_EQ(onCallback->tags, std::vector<std::string>{"$builtin"});

  (void)registry.RegisterFunction("GetStatus", {});
  (void)registry.BeginEvent("OnLcdsEvent", nullptr);
  const uint32_t changes = registry.ChangeCount();
  registry.Initialize(&RegisterTestBuiltins);
  EXPECT_EQ(builtinRuns, 2);
  EXPECT_EQ(registry.ChangeCount(), changes + 1) << "the removed function counts";
  EXPECT_TRUE(registry.AllFunctions().empty());
  const std::vector<const BindingEventInfo*> events = registry.AllEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->name, "OnCallback");
  const BindingTypeInfo* payload = registry.FindTypeByName("BindingCallbackEvent");
  ASSERT_NE(payload, nullptr);
  EXPECT_EQ(payload->fields.size(), 2u);
  EXPECT_EQ(payload->tags, std::vector<std::string>{"$builtin"});
}

TEST(BindingRegistryLifecycle, ShutdownRemovesFunctionsAndEventsOnlyWhenInitialized) {
  BindingRegistry registry;
  (void)registry.RegisterFunction("GetStatus", {});
  registry.Shutdown();  // not initialised: nothing happens
  EXPECT_NE(registry.FindFunction("GetStatus"), nullptr);

  registry.Initialize(nullptr);
  EXPECT_EQ(registry.FindEvent("OnCallback"), nullptr) << "no payload type, no event";
  (void)registry.RegisterFunction("GetStatus", {});
  (void)registry.BeginEvent("OnLcdsEvent", nullptr);
  (void)registry.BeginType<Alpha>("Alpha");
  registry.Shutdown();
  EXPECT_FALSE(registry.IsInitialized());
  EXPECT_TRUE(registry.AllFunctions().empty());
  EXPECT_TRUE(registry.AllEvents().empty());
  EXPECT_NE(registry.FindTypeByName("Alpha"), nullptr);
}

}  // namespace
}  // namespace Tesk
