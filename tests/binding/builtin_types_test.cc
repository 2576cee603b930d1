#include "binding/builtin_types.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/conversion.h"
#include "binding_values.h"

namespace Tesk {
namespace {

using namespace Testing;
using Tags = std::vector<std::string>;

const Tags kHelpTags{"$builtin", "help"};
const Tags kAsyncTags{"$builtin", "async"};
const Tags kBuiltinTag{"$builtin"};

class BuiltinTypes : public ::testing::Test {
 protected:
  void SetUp() override { registry.Initialize(&RegisterBindingBuiltins); }

  const BindingTypeInfo& Type(std::string_view name) const {
    const BindingTypeInfo* type = registry.FindTypeByName(name);
    EXPECT_NE(type, nullptr) << name;
    static const BindingTypeInfo missing;
    return type != nullptr ? *type : missing;
  }

  BindingRegistry registry;
};

TEST_F(BuiltinTypes, EveryTypeHasItsDescriptionTagsAndMembers) {
  struct Case {
    const char* name;
    const char* description;
    const Tags* tags;
    bool isEnum;
    std::vector<std::string> members;  // fields in order, or enumerators in name order
  };
  const Case cases[] = {
      {"BindingHelpFormat",
       "Help format for binding functions and types.",
       &kHelpTags,
       true,
       {"Epytext", "Full"}},
      {"BindingFullTypeIdentifier",
       "Describes the type of a value.",
       &kHelpTags,
       false,
       {"type", "elementType"}},
      {"BindingFullArgumentHelp",
       "Describes a function parameter.",
       &kHelpTags,
       false,
       {"name", "description", "type", "optional"}},
      {"BindingFullFunctionHelp",
       "Describes a function.",
       &kHelpTags,
       false,
       {"name", "nameSpace", "arguments", "returns", "description", "help", "threadSafe", "async",
        "tags"}},
      {"BindingFullEnumValueHelp",
       "Describes an enumerator.",
       &kHelpTags,
       false,
       {"name", "description", "value"}},
      {"BindingFullFieldHelp",
       "Describes a member of a struct.",
       &kHelpTags,
       false,
       {"name", "description", "offset", "type", "optional"}},
      {"BindingFullTypeHelp",
       "Describes a struct or enum type.",
       &kHelpTags,
       false,
       {"name", "nameSpace", "size", "description", "tags", "fields", "values"}},
      {"BindingFullEventHelp",
       "Describes an event.",
       &kHelpTags,
       false,
       {"name", "nameSpace", "type", "description", "tags"}},
      {"BindingFullApiHelp",
       "Describes the exposed native API.",
       &kHelpTags,
       false,
       {"functions", "types", "events"}},
      {"BindingAsyncState",
       "Possible states of an asynchronous operation.",
       &kAsyncTags,
       true,
       {"Cancelled", "Cancelling", "Failed", "None", "Running", "Succeeded"}},
      {"BindingGenericEvent",
       "Represents generic data for an event.",
       &kBuiltinTag,
       false,
       {"data"}},
      {"BindingCallbackEvent",
       "Represents the parameters of a call to a provided callback.",
       &kBuiltinTag,
       false,
       {"id", "parameters"}},
      {"BindingGenericAsyncEvent",
       "Represents generic data for an asynchronous event.",
       &kAsyncTags,
       false,
       {"asyncToken", "data"}},
      {"BindingAsyncFailureEvent",
       "Represents a failed asynchronous operation.",
       &kAsyncTags,
       false,
       {"asyncToken", "error"}},
      {"BindingAsyncCancelEvent",
       "Represents a cancelled asynchronous operation.",
       &kAsyncTags,
       false,
       {"asyncToken"}},
  };
  EXPECT_EQ(registry.AllTypes().size(), std::size(cases));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BindingTypeInfo& type = Type(c.name);
    EXPECT_EQ(type.description, c.description);
    EXPECT_EQ(type.tags, *c.tags);
    EXPECT_EQ(type.isEnum, c.isEnum);
    EXPECT_EQ(type.nameSpace, "");
    std::vector<std::string> members;
    for (const BindingFieldInfo& field : type.fields) {
      members.push_back(field.name);
      EXPECT_EQ(field.flags, 0u) << field.name;
      EXPECT_FALSE(field.optional) << field.name;
      // Member types are registered before the structures that hold them.
      if (field.type.type == BindingValueType::Struct ||
          field.type.elementType == BindingValueType::Struct) {
        EXPECT_NE(field.type.typeRecord, nullptr) << field.name;
      }
      if (*c.tags == kHelpTags) {
        EXPECT_EQ(field.description, "") << field.name;
      }
    }
    for (const BindingEnumerator& enumerator : type.enumerators) members.push_back(enumerator.name);
    EXPECT_EQ(members, c.members);
  }
  EXPECT_EQ(Type("BindingHelpFormat").size, 4u);
  EXPECT_EQ(Type("BindingAsyncState").size, 4u);
  EXPECT_EQ(Type("BindingCallbackEvent").size, sizeof(BindingCallbackEvent));
  EXPECT_EQ(Type("BindingAsyncFailureEvent").fields[1].offset,
            offsetof(BindingAsyncFailureEvent, error));
}

TEST_F(BuiltinTypes, EnumeratorsAndPayloadMembersCarryTheirDescriptions) {
  struct Described {
    const char* type;
    const char* member;
    int32_t value;  // enumerators only
    const char* description;
  };
  const Described cases[] = {
      {"BindingHelpFormat", "Full", 1, "Native help format"},
      {"BindingHelpFormat", "Epytext", 2, "Python epytext format"},
      {"BindingAsyncState", "None", 0, "Invalid state"},
      {"BindingAsyncState", "Running", 1, "The operation is in flight"},
      {"BindingAsyncState", "Cancelling", 2, "A request to cancel the operation has been made"},
      {"BindingAsyncState", "Cancelled", 3, "The operation was cancelled"},
      {"BindingAsyncState", "Succeeded", 4, "The operation completed successfully"},
      {"BindingAsyncState", "Failed", 5, "The operation encountered an error"},
      {"BindingGenericEvent", "data", 0, "Event data"},
      {"BindingCallbackEvent", "id", 0, "ID of the callback being invoked"},
      {"BindingCallbackEvent", "parameters", 0, "Callback parameters"},
      {"BindingGenericAsyncEvent", "asyncToken", 0, "Asynchronous operation token"},
      {"BindingGenericAsyncEvent", "data", 0, "Event data"},
      {"BindingAsyncFailureEvent", "asyncToken", 0, "Asynchronous operation token"},
      {"BindingAsyncFailureEvent", "error", 0, "Error message"},
      {"BindingAsyncCancelEvent", "asyncToken", 0, "Asynchronous operation token"},
  };
  for (const Described& c : cases) {
    SCOPED_TRACE(std::string(c.type) + "." + c.member);
    const BindingTypeInfo& type = Type(c.type);
    if (type.isEnum) {
      const BindingEnumerator* enumerator = type.FindEnumerator(c.member);
      ASSERT_NE(enumerator, nullptr);
      EXPECT_EQ(enumerator->value, c.value);
      EXPECT_EQ(enumerator->description, c.description);
    } else {
      const BindingFieldInfo* found = nullptr;
      for (const BindingFieldInfo& field : type.fields) {
        if (field.name == c.member) found = &field;
      }
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(found->description, c.description);
    }
  }
  const BindingFieldInfo& parameters = Type("BindingCallbackEvent").fields[1];
  EXPECT_EQ(parameters.type.type, BindingValueType::Vector);
  EXPECT_EQ(parameters.type.elementType, BindingValueType::Object);
}

TEST_F(BuiltinTypes, InitializingAgainChangesNothing) {
  for (const char* name :
       {"BindingAsyncState", "BindingGenericEvent", "BindingCallbackEvent",
        "BindingGenericAsyncEvent", "BindingAsyncFailureEvent", "BindingAsyncCancelEvent"}) {
    EXPECT_NE(registry.FindTypeByName(name), nullptr) << name;
  }
  const BindingEventInfo* onCallback = registry.FindEvent("OnCallback");
  ASSERT_NE(onCallback, nullptr);
  EXPECT_EQ(onCallback->payloadType, &Type("BindingCallbackEvent"));
  EXPECT_EQ(onCallback->description, "Fired when a callback is invoked.");
  EXPECT_EQ(onCallback->tags, kBuiltinTag);

  const std::vector<const BindingTypeInfo*> before = registry.AllTypes();
  registry.Initialize(&RegisterBindingBuiltins);
  EXPECT_EQ(registry.AllTypes(), before) << "the same records, no new ones";
  EXPECT_EQ(Type("BindingAsyncState").tags, kAsyncTags);
  EXPECT_EQ(Type("BindingAsyncState").enumerators.size(), 6u);
  EXPECT_EQ(Type("BindingFullFunctionHelp").fields.size(), 9u);
  EXPECT_EQ(Type("BindingCallbackEvent").description,
            "Represents the parameters of a call to a provided callback.");
  ASSERT_EQ(registry.AllEvents().size(), 1u);
  EXPECT_EQ(registry.FindEvent("OnCallback")->tags, kBuiltinTag);
}

TEST_F(BuiltinTypes, CallbackParametersMustBeACollection) {
  BindingCallbackEvent event;
  BindingResult result;
  FromBinding(result, event, Structure({{"id", Unsigned(7)}, {"parameters", Text("x")}}), "event",
              &registry);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.ErrorText(),
            "Couldn't assign value to 'parameters' of type vector because the input not a "
            "collection.");
  EXPECT_EQ(event.id, 7u);
}

TEST_F(BuiltinTypes, PayloadsRoundTripAndAbsentMembersKeepTheirValues) {
  BindingCallbackEvent callback;
  BindingResult result;
  FromBinding(result, callback,
              Structure({{"id", Text("12")},
                         {"parameters",
                          Collection({Signed(-1), Empty(), Structure({{"a", Bool(true)}})})}}),
              "event", &registry);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  EXPECT_EQ(callback.id, 12u);
  ASSERT_EQ(callback.parameters.size(), 3u);
  EXPECT_EQ(callback.parameters[0], Signed(-1));
  EXPECT_TRUE(callback.parameters[1].IsEmpty());
  EXPECT_EQ(callback.parameters[2], Structure({{"a", Bool(true)}}));

  ToBinding(result, callback, &registry);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  EXPECT_EQ(result.value,
            Structure({{"id", Unsigned(12)},
                       {"parameters",
                        Collection({Signed(-1), Empty(), Structure({{"a", Bool(true)}})})}}));

  // No member is required: a failure event without "error" keeps its text.
  BindingAsyncFailureEvent failure{.asyncToken = 1, .error = "kept"};
  FromBinding(result, failure, Structure({{"asyncToken", Unsigned(9)}}), "event", &registry);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  EXPECT_EQ(failure.asyncToken, 9u);
  EXPECT_EQ(failure.error, "kept");

  // "data" is any value; an empty one is written as an empty member.
  BindingGenericAsyncEvent generic{.asyncToken = 3, .data = {}};
  ToBinding(result, generic, &registry);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  EXPECT_TRUE(result.value.HasMember("data"));
  EXPECT_TRUE(result.value.Member("data").IsEmpty());
  EXPECT_EQ(result.value.Member("asyncToken"), Unsigned(3));
}

}  // namespace
}  // namespace Tesk
