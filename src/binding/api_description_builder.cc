#include "binding/api_description_builder.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "binding/binding_registry.h"

namespace Tesk {

namespace {

constexpr const char* kNoText = "";

// The exported form of a type identifier: its code (0 outside 1 to 19), the
// element's code and the record's name where the code has a record.
struct ExportedType {
  uint32_t type = 0;
  uint32_t elementType = 0;
  const char* typeName = kNoText;
};

uint32_t ExportedCode(BindingValueType type) {
  const auto code = static_cast<uint32_t>(type);
  return code <= static_cast<uint32_t>(BindingValueType::Map) ? code : 0;
}

ExportedType Export(const BindingTypeIdentifier& type, const BindingTypeIdentifier& helpType) {
  const BindingTypeIdentifier& shown = helpType.type != BindingValueType::None ? helpType : type;
  ExportedType exported{ExportedCode(shown.type), ExportedCode(shown.elementType), kNoText};
  switch (shown.type) {
    case BindingValueType::Vector:
    case BindingValueType::Enum:
    case BindingValueType::Struct:
    case BindingValueType::Map:
      if (shown.typeRecord != nullptr) exported.typeName = shown.typeRecord->name.c_str();
      break;
    default:
      break;
  }
  return exported;
}

// Links the records [first, first + count) through `next`; the last gets 0.
template <class Record>
Record* Link(Record* first, size_t count) {
  if (count == 0) return nullptr;
  for (size_t index = 0; index + 1 < count; ++index) first[index].next = &first[index + 1];
  first[count - 1].next = nullptr;
  return first;
}

}  // namespace

const ApiFunctionRecord* HostApiDescription::FindFunction(std::string_view name) const {
  // Functions are in name order.
  const auto found = std::lower_bound(functions_.begin(), functions_.end(), name,
                                      [](const ApiFunctionRecord& record, std::string_view key) {
                                        return std::string_view(record.name) < key;
                                      });
  return found != functions_.end() && std::string_view(found->name) == name ? &*found : nullptr;
}

HostApiDescription DescribeApi(const BindingRegistry& registry) {
  const std::vector<const BindingFunctionInfo*> functions = registry.AllFunctions();
  const std::vector<const BindingTypeInfo*> types = registry.AllTypes();
  const std::vector<const BindingEventInfo*> events = registry.AllEvents();

  // Every array is sized before any record points into it.
  size_t argumentCount = 0, fieldCount = 0, enumeratorCount = 0, tagCount = 0;
  for (const BindingFunctionInfo* function : functions) {
    argumentCount += function->arguments.size();
    tagCount += function->tags.size();
  }
  for (const BindingTypeInfo* type : types) {
    fieldCount += type->fields.size();
    if (type->fields.empty()) enumeratorCount += type->enumerators.size();
    tagCount += type->tags.size();
  }
  for (const BindingEventInfo* event : events) tagCount += event->tags.size();

  // Value-initialised records are all zero.
  HostApiDescription description;
  description.functions_.resize(functions.size());
  description.arguments_.resize(argumentCount);
  description.types_.resize(types.size());
  description.fields_.resize(fieldCount);
  description.enumerators_.resize(enumeratorCount);
  description.events_.resize(events.size());
  description.tags_.resize(tagCount);

  const char** nextTag = description.tags_.data();
  const auto addTags = [&nextTag](const std::vector<std::string>& tags) -> const char* const* {
    if (tags.empty()) return nullptr;
    const char** first = nextTag;
    for (const std::string& tag : tags) *nextTag++ = tag.c_str();
    return first;
  };

  ApiArgumentRecord* nextArgument = description.arguments_.data();
  for (size_t index = 0; index < functions.size(); ++index) {
    const BindingFunctionInfo& function = *functions[index];
    ApiFunctionRecord& record = description.functions_[index];
    record.name = function.name.c_str();
    record.nameSpace = function.nameSpace.c_str();
    ApiArgumentRecord* firstArgument = nextArgument;
    for (const BindingArgumentInfo& argument : function.arguments) {
      ApiArgumentRecord& out = *nextArgument++;
      const ExportedType type = Export(argument.type, argument.helpType);
      out.name = argument.name.c_str();
      out.description = argument.description.c_str();
      out.type = type.type;
      out.elementType = type.elementType;
      out.typeName = type.typeName;
      out.optional = argument.optional ? 1 : 0;
    }
    record.arguments = Link(firstArgument, function.arguments.size());
    record.argumentCount = static_cast<uint32_t>(function.arguments.size());
    const ExportedType returns = Export(function.returns, function.returnsHelp);
    record.returnType = returns.type;
    record.returnElementType = returns.elementType;
    record.returnTypeName = returns.typeName;
    record.description = function.description.c_str();
    record.help = function.helpText.c_str();
    record.threadSafe = function.threadSafe ? 1 : 0;
    record.asyncTypeName = function.async && function.returns.typeRecord != nullptr
                               ? function.returns.typeRecord->name.c_str()
                               : kNoText;
    record.tags = addTags(function.tags);
    record.tagCount = static_cast<uint32_t>(function.tags.size());
  }

  ApiFieldRecord* nextField = description.fields_.data();
  ApiEnumeratorRecord* nextEnumerator = description.enumerators_.data();
  for (size_t index = 0; index < types.size(); ++index) {
    const BindingTypeInfo& type = *types[index];
    ApiTypeRecord& record = description.types_[index];
    record.name = type.name.c_str();
    record.nameSpace = type.nameSpace.c_str();
    record.size = type.size;
    record.description = type.description.c_str();
    record.tags = addTags(type.tags);
    record.tagCount = static_cast<uint32_t>(type.tags.size());
    if (!type.fields.empty()) {
      ApiFieldRecord* first = nextField;
      for (const BindingFieldInfo& field : type.fields) {
        ApiFieldRecord& out = *nextField++;
        const ExportedType exported = Export(field.type, field.helpType);
        out.name = field.name.c_str();
        out.description = field.description.c_str();
        out.offset = field.offset;
        out.type = exported.type;
        out.elementType = exported.elementType;
        out.typeName = exported.typeName;
        out.optional = field.optional ? 1 : 0;
      }
      record.fields = Link(first, type.fields.size());
      record.memberCount = static_cast<uint32_t>(type.fields.size());
    } else {
      ApiEnumeratorRecord* first = nextEnumerator;
      for (const BindingEnumerator& enumerator : type.enumerators) {
        ApiEnumeratorRecord& out = *nextEnumerator++;
        out.name = enumerator.name.c_str();
        out.description = enumerator.description.c_str();
        out.value = enumerator.value;
      }
      record.enumerators = Link(first, type.enumerators.size());
      record.memberCount = static_cast<uint32_t>(type.enumerators.size());
    }
  }

  for (size_t index = 0; index < events.size(); ++index) {
    const BindingEventInfo& event = *events[index];
    ApiEventRecord& record = description.events_[index];
    record.name = event.name.c_str();
    record.nameSpace = event.nameSpace.c_str();
    record.payloadType = event.payloadType != nullptr ? event.payloadType->name.c_str() : kNoText;
    record.description = event.description.c_str();
    record.tags = addTags(event.tags);
    record.tagCount = static_cast<uint32_t>(event.tags.size());
  }

  ApiDescriptionHeader& header = description.header_;
  header.functions = Link(description.functions_.data(), description.functions_.size());
  header.functionCount = static_cast<uint32_t>(description.functions_.size());
  header.types = Link(description.types_.data(), description.types_.size());
  header.typeCount = static_cast<uint32_t>(description.types_.size());
  header.events = Link(description.events_.data(), description.events_.size());
  header.eventCount = static_cast<uint32_t>(description.events_.size());
  return description;
}

}  // namespace Tesk
