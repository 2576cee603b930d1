#include "binding/builtin_types.h"

#include <initializer_list>
#include <string_view>

#include "binding/binding_registry.h"

namespace Tesk {

namespace {

constexpr std::string_view kBuiltin = "$builtin";
constexpr std::string_view kHelp = "help";
constexpr std::string_view kAsync = "async";

template <class T>
NativeTypeBuilder<T> Begin(BindingRegistry& registry, std::string_view name,
                           std::string_view description,
                           std::initializer_list<std::string_view> tags) {
  NativeTypeBuilder<T> builder = registry.BeginType<T>(name);
  builder.SetDescription(description);
  for (const std::string_view tag : tags) builder.AddTag(tag);
  return builder;
}

// Help structures: members without descriptions or flags.
void RegisterHelpTypes(BindingRegistry& registry) {
  const std::initializer_list<std::string_view> tags = {kBuiltin, kHelp};

  auto format = Begin<BindingHelpFormat>(registry, "BindingHelpFormat",
                                         "Help format for binding functions and types.", tags);
  format.Enumerator("Full", BindingHelpFormat::Full, "Native help format");
  format.Enumerator("Epytext", BindingHelpFormat::Epytext, "Python epytext format");

  using TypeId = BindingFullTypeIdentifier;
  auto typeId =
      Begin<TypeId>(registry, "BindingFullTypeIdentifier", "Describes the type of a value.", tags);
  typeId.Field("type", &TypeId::type);
  typeId.Field("elementType", &TypeId::elementType);

  using Argument = BindingFullArgumentHelp;
  auto argument =
      Begin<Argument>(registry, "BindingFullArgumentHelp", "Describes a function parameter.", tags);
  argument.Field("name", &Argument::name);
  argument.Field("description", &Argument::description);
  argument.Field("type", &Argument::type);
  argument.Field("optional", &Argument::optional);

  using Function = BindingFullFunctionHelp;
  auto function =
      Begin<Function>(registry, "BindingFullFunctionHelp", "Describes a function.", tags);
  function.Field("name", &Function::name);
  function.Field("nameSpace", &Function::nameSpace);
  function.Field("arguments", &Function::arguments);
  function.Field("returns", &Function::returns);
  function.Field("description", &Function::description);
  function.Field("help", &Function::help);
  function.Field("threadSafe", &Function::threadSafe);
  function.Field("async", &Function::async);
  function.Field("tags", &Function::tags);

  using EnumValue = BindingFullEnumValueHelp;
  auto enumValue =
      Begin<EnumValue>(registry, "BindingFullEnumValueHelp", "Describes an enumerator.", tags);
  enumValue.Field("name", &EnumValue::name);
  enumValue.Field("description", &EnumValue::description);
  enumValue.Field("value", &EnumValue::value);

  using Field = BindingFullFieldHelp;
  auto field =
      Begin<Field>(registry, "BindingFullFieldHelp", "Describes a member of a struct.", tags);
  field.Field("name", &Field::name);
  field.Field("description", &Field::description);
  field.Field("offset", &Field::offset);
  field.Field("type", &Field::type);
  field.Field("optional", &Field::optional);

  using Type = BindingFullTypeHelp;
  auto type =
      Begin<Type>(registry, "BindingFullTypeHelp", "Describes a struct or enum type.", tags);
  type.Field("name", &Type::name);
  type.Field("nameSpace", &Type::nameSpace);
  type.Field("size", &Type::size);
  type.Field("description", &Type::description);
  type.Field("tags", &Type::tags);
  type.Field("fields", &Type::fields);
  type.Field("values", &Type::values);

  using Event = BindingFullEventHelp;
  auto event = Begin<Event>(registry, "BindingFullEventHelp", "Describes an event.", tags);
  event.Field("name", &Event::name);
  event.Field("nameSpace", &Event::nameSpace);
  event.Field("type", &Event::type);
  event.Field("description", &Event::description);
  event.Field("tags", &Event::tags);

  using Api = BindingFullApiHelp;
  auto api = Begin<Api>(registry, "BindingFullApiHelp", "Describes the exposed native API.", tags);
  api.Field("functions", &Api::functions);
  api.Field("types", &Api::types);
  api.Field("events", &Api::events);
}

void RegisterAsyncTypes(BindingRegistry& registry) {
  constexpr std::string_view kToken = "Asynchronous operation token";
  constexpr std::string_view kData = "Event data";

  using State = BindingAsyncState;
  auto state = Begin<State>(registry, "BindingAsyncState",
                            "Possible states of an asynchronous operation.", {kBuiltin, kAsync});
  state.Enumerator("None", State::None, "Invalid state");
  state.Enumerator("Running", State::Running, "The operation is in flight");
  state.Enumerator("Cancelling", State::Cancelling,
                   "A request to cancel the operation has been made");
  state.Enumerator("Cancelled", State::Cancelled, "The operation was cancelled");
  state.Enumerator("Succeeded", State::Succeeded, "The operation completed successfully");
  state.Enumerator("Failed", State::Failed, "The operation encountered an error");

  using Generic = BindingGenericEvent;
  auto generic = Begin<Generic>(registry, "BindingGenericEvent",
                                "Represents generic data for an event.", {kBuiltin});
  generic.Field("data", &Generic::data, {.description = kData});

  using Callback = BindingCallbackEvent;
  auto callback =
      Begin<Callback>(registry, "BindingCallbackEvent",
                      "Represents the parameters of a call to a provided callback.", {kBuiltin});
  callback.Field("id", &Callback::id, {.description = "ID of the callback being invoked"});
  callback.Field("parameters", &Callback::parameters, {.description = "Callback parameters"});

  using GenericAsync = BindingGenericAsyncEvent;
  auto genericAsync =
      Begin<GenericAsync>(registry, "BindingGenericAsyncEvent",
                          "Represents generic data for an asynchronous event.", {kBuiltin, kAsync});
  genericAsync.Field("asyncToken", &GenericAsync::asyncToken, {.description = kToken});
  genericAsync.Field("data", &GenericAsync::data, {.description = kData});

  using Failure = BindingAsyncFailureEvent;
  auto failure = Begin<Failure>(registry, "BindingAsyncFailureEvent",
                                "Represents a failed asynchronous operation.", {kBuiltin, kAsync});
  failure.Field("asyncToken", &Failure::asyncToken, {.description = kToken});
  failure.Field("error", &Failure::error, {.description = "Error message"});

  using Cancel = BindingAsyncCancelEvent;
  auto cancel = Begin<Cancel>(registry, "BindingAsyncCancelEvent",
                              "Represents a cancelled asynchronous operation.", {kBuiltin, kAsync});
  cancel.Field("asyncToken", &Cancel::asyncToken, {.description = kToken});
}

}  // namespace

void RegisterBindingBuiltins(BindingRegistry& registry) {
  RegisterHelpTypes(registry);
  RegisterAsyncTypes(registry);
  // The event "OnCallback" is BindingRegistry::Initialize's own, once its
  // payload type BindingCallbackEvent exists.
}

}  // namespace Tesk
