// TypeBuilder and EventBuilder: fill a type or event record right after
// BindingRegistry::BeginType / BeginEvent created it. A builder for a name that
// was already registered refers to the existing record and does nothing, so
// registering the same type or event twice is harmless.
//
// Threads: a record is filled by one thread, outside the registry lock, before
// other threads use it (during start-up).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "binding/binding_function_info.h"
#include "binding/binding_type_info.h"

namespace Tesk {

class TypeBuilder {
 public:
  // `record` is never null; `existing`: every operation does nothing.
  TypeBuilder(BindingTypeInfo* record, bool existing) : record_(record), existing_(existing) {}

  // Appends a field to a structure. Help shows `helpType` instead of `type`
  // when its type is not None. `flags` are BindingFieldFlags.
  void AddField(std::string_view name, std::string_view description, uint32_t offset,
                const TypeKey& fieldTypeKey, const BindingTypeIdentifier& type,
                const BindingTypeIdentifier& helpType, uint32_t flags, BindingConverter converter,
                bool optional);
  // Inserts an enumerator in name order; an enumerator of the same name gets
  // the new value and description instead.
  void AddEnumerator(std::string_view name, int32_t value, std::string_view description);
  void SetDescription(std::string_view text);
  void SetNamespace(std::string_view text);
  // Appends a tag; the empty text is ignored.
  void AddTag(std::string_view text);
  void AddTags(std::span<const std::string> tags);

  // The type's record, the existing one for an existing type. Never null.
  [[nodiscard]] const BindingTypeInfo& Record() const { return *record_; }
  [[nodiscard]] bool IsExisting() const { return existing_; }

 private:
  BindingTypeInfo* record_;
  bool existing_;
};

class EventBuilder {
 public:
  // `record` is never null; `existing`: every operation does nothing.
  EventBuilder(BindingEventInfo* record, bool existing) : record_(record), existing_(existing) {}

  void SetDescription(std::string_view text);
  void SetNamespace(std::string_view text);
  // Appends a tag; the empty text is ignored.
  void AddTag(std::string_view text);
  void AddTags(std::span<const std::string> tags);

  [[nodiscard]] const BindingEventInfo& Record() const { return *record_; }
  [[nodiscard]] bool IsExisting() const { return existing_; }

 private:
  BindingEventInfo* record_;
  bool existing_;
};

}  // namespace Tesk
