#include "binding/binding_help.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/conversion_structure.h"
#include "binding/epytext.h"
#include "binding/type_key.h"

namespace Tesk {

namespace {

template <class Record>
std::vector<const Record*> SortedByName(std::span<const Record* const> records) {
  std::vector<const Record*> sorted;
  sorted.reserve(records.size());
  for (const Record* record : records) {
    if (record != nullptr) sorted.push_back(record);
  }
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Record* a, const Record* b) { return a->name < b->name; });
  return sorted;
}

// Appends one element per record to `out`, the record's help structure
// converted through its registered help type.
template <class Help, class Record, class Describe>
void AppendFullHelp(BindingResult& result, BindingProperty& out, const BindingRegistry& registry,
                    const std::vector<const Record*>& records, Describe describe) {
  const BindingTypeInfo* helpType = registry.FindTypeById(TypeKeyOf<Help>());
  for (const Record* record : records) {
    BindingProperty& element = out.Append();
    if (helpType == nullptr) continue;
    const Help help = describe(*record);
    ToBindingStructure(result, element, &help, helpType, &registry);
    if (!result.ok) return;
  }
}

// Sets one string member per record, named after it, to its epytext.
template <class Record, class Write>
void SetEpytextHelp(BindingProperty& out, const std::vector<const Record*>& records, Write write) {
  for (const Record* record : records) out.MemberRef(record->name).SetString(write(*record));
}

BindingTypeIdentifier PayloadIdentifier(const BindingTypeInfo* payload) {
  if (payload == nullptr) return {};
  return {payload->isEnum ? BindingValueType::Enum : BindingValueType::Struct,
          BindingValueType::None, payload};
}

}  // namespace

BindingFullTypeIdentifier TypeText(const BindingTypeIdentifier& type) {
  using V = BindingValueType;
  BindingFullTypeIdentifier text;
  switch (type.type) {
    case V::Vector:
    case V::Map:
      text.type = BindingValueTypeName(type.type);
      text.elementType = TypeText({type.elementType, V::None, type.typeRecord}).type;
      break;
    case V::Enum:
    case V::Struct:
      text.type = type.typeRecord != nullptr ? type.typeRecord->name
                                             : std::string(BindingValueTypeName(type.type));
      break;
    default:
      text.type = BindingValueTypeName(type.type);
      break;
  }
  return text;
}

BindingFullFunctionHelp FunctionHelp(const BindingFunctionInfo& function) {
  BindingFullFunctionHelp help;
  help.name = function.name;
  help.nameSpace = function.nameSpace;
  help.arguments.reserve(function.arguments.size());
  for (const BindingArgumentInfo& argument : function.arguments) {
    help.arguments.push_back(
        {argument.name, argument.description, TypeText(argument.type), argument.optional});
  }
  help.returns = TypeText(function.returns);
  help.description = function.description;
  help.help = function.helpText;
  help.threadSafe = function.threadSafe;
  if (function.async && function.returns.typeRecord != nullptr) {
    help.async = function.returns.typeRecord->name;
  }
  help.tags = function.tags;
  return help;
}

BindingFullTypeHelp TypeHelp(const BindingTypeInfo& type) {
  BindingFullTypeHelp help;
  help.name = type.name;
  help.nameSpace = type.nameSpace;
  help.size = type.size;
  help.description = type.description;
  help.tags = type.tags;
  if (type.isEnum) {
    help.values.reserve(type.enumerators.size());
    for (const BindingEnumerator& enumerator : type.enumerators) {
      help.values.push_back({enumerator.name, enumerator.description, enumerator.value});
    }
  } else {
    help.fields.reserve(type.fields.size());
    for (const BindingFieldInfo& field : type.fields) {
      help.fields.push_back(
          {field.name, field.description, field.offset, TypeText(field.type), field.optional});
    }
  }
  return help;
}

BindingFullEventHelp EventHelp(const BindingEventInfo& event) {
  BindingFullEventHelp help;
  help.name = event.name;
  help.nameSpace = event.nameSpace;
  help.type = TypeText(PayloadIdentifier(event.payloadType));
  help.description = event.description;
  help.tags = event.tags;
  return help;
}

void BuildHelp(BindingResult& result, const BindingRegistry& registry,
               std::span<const BindingFunctionInfo* const> functions,
               std::span<const BindingTypeInfo* const> types,
               std::span<const BindingEventInfo* const> events, BindingHelpFormat format) {
  result.value.Reset();
  result.ok = true;
  BindingProperty help;
  help.MakeStructure();
  // All three members first: adding a member may move the others.
  help.MemberRef("functions");
  help.MemberRef("types");
  help.MemberRef("events");
  BindingProperty& functionsOut = help.MemberRef("functions");
  BindingProperty& typesOut = help.MemberRef("types");
  BindingProperty& eventsOut = help.MemberRef("events");

  const auto sortedFunctions = SortedByName(functions);
  const auto sortedTypes = SortedByName(types);
  const auto sortedEvents = SortedByName(events);
  switch (format) {
    case BindingHelpFormat::Full:
      AppendFullHelp<BindingFullFunctionHelp>(result, functionsOut, registry, sortedFunctions,
                                              &FunctionHelp);
      if (result.ok) {
        AppendFullHelp<BindingFullTypeHelp>(result, typesOut, registry, sortedTypes, &TypeHelp);
      }
      if (result.ok) {
        AppendFullHelp<BindingFullEventHelp>(result, eventsOut, registry, sortedEvents, &EventHelp);
      }
      break;
    case BindingHelpFormat::Epytext:
      SetEpytextHelp(functionsOut, sortedFunctions, &FunctionEpytext);
      SetEpytextHelp(typesOut, sortedTypes, &TypeEpytext);
      SetEpytextHelp(eventsOut, sortedEvents, &EventEpytext);
      break;
  }
  if (result.ok) result.value = std::move(help);
}

}  // namespace Tesk
