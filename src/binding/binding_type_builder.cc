#include "binding/binding_type_builder.h"

#include <algorithm>

#include "binding/binding_registry.h"
#include "binding/binding_storage.h"

namespace Tesk {

namespace {

void AppendTag(std::vector<std::string>& tags, std::string_view text) {
  if (!text.empty()) tags.emplace_back(text);
}

}  // namespace

void TypeBuilder::AddField(std::string_view name, std::string_view description, uint32_t offset,
                           const TypeKey& fieldTypeKey, const BindingTypeIdentifier& type,
                           const BindingTypeIdentifier& helpType, uint32_t flags,
                           BindingConverter converter, bool optional) {
  if (existing_) return;
  BindingFieldInfo& field = record_->fields.emplace_back();
  field.name = name;
  field.nameHash = BindingStringHash(name);
  field.description = description;
  field.typeKey = &fieldTypeKey;
  field.offset = offset;
  field.type = type;
  field.helpType = helpType;
  field.flags = flags;
  field.converter = converter;
  field.optional = optional;
  field.owner = record_;
}

void TypeBuilder::AddEnumerator(std::string_view name, int32_t value,
                                std::string_view description) {
  if (existing_) return;
  std::vector<BindingEnumerator>& enumerators = record_->enumerators;
  const auto at =
      std::lower_bound(enumerators.begin(), enumerators.end(), name,
                       [](const BindingEnumerator& e, std::string_view n) { return e.name < n; });
  if (at != enumerators.end() && at->name == name) {
    at->value = value;
    at->description = description;
    return;
  }
  enumerators.insert(
      at, BindingEnumerator{std::string(name), value, std::string(description), record_});
}

void TypeBuilder::SetDescription(std::string_view text) {
  if (!existing_) record_->description = text;
}

void TypeBuilder::SetNamespace(std::string_view text) {
  if (!existing_) record_->nameSpace = text;
}

void TypeBuilder::AddTag(std::string_view text) {
  if (!existing_) AppendTag(record_->tags, text);
}

void TypeBuilder::AddTags(std::span<const std::string> tags) {
  for (const std::string& tag : tags) AddTag(tag);
}

void EventBuilder::SetDescription(std::string_view text) {
  if (!existing_) record_->description = text;
}

void EventBuilder::SetNamespace(std::string_view text) {
  if (!existing_) record_->nameSpace = text;
}

void EventBuilder::AddTag(std::string_view text) {
  if (!existing_) AppendTag(record_->tags, text);
}

void EventBuilder::AddTags(std::span<const std::string> tags) {
  for (const std::string& tag : tags) AddTag(tag);
}

}  // namespace Tesk
