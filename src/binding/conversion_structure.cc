#include "binding/conversion_structure.h"

#include "binding/binding_registry.h"
#include "binding/binding_type_info.h"
#include "binding/internal/conversion_messages.h"
#include "diagnostics/format.h"

namespace Tesk {

using Kind = BindingPropertyKind;
using namespace BindingInternal;

namespace {

// Whether an OmitEmpty field leaves the converted value out.
bool IsOmittable(const BindingProperty& value) {
  switch (value.Kind()) {
    case Kind::Empty:
      return true;
    case Kind::Bool:
      return !value.GetBool();
    case Kind::Signed:
      return value.GetSigned() == 0;
    case Kind::Unsigned:
      return value.GetUnsigned() == 0;
    case Kind::Float:
      return value.GetFloat() == 0.0;
    case Kind::Enum:
      return value.GetEnum().value == 0;
    case Kind::String:
    case Kind::Blob:
    case Kind::Collection:
    case Kind::Structure:
      return value.Size() == 0;
  }
  return false;
}

}  // namespace

void FromBindingStructure(BindingResult& result, void* target, const BindingProperty& input,
                          std::string_view label, const BindingTypeInfo* record,
                          const BindingRegistry* registry) {
  if (!result.ok) return;
  if (record == nullptr) {
    result.Fail(Format(kStructureNotRegistered, label));
    return;
  }
  if (input.Kind() != Kind::Structure) {
    result.Fail(Format(kNotStructure, label, record->name));
    return;
  }
  for (const BindingFieldInfo& field : record->fields) {
    if (!result.ok) return;
    if (field.converter.ops == nullptr) continue;
    const BindingProperty& member = input.Member(field.name);
    if (!member.IsEmpty()) {
      field.converter.ops->fromBinding(result, static_cast<char*>(target) + field.offset, member,
                                       field.name, field.type.typeRecord, registry);
    } else if ((field.flags & BindingFieldFlags::Required) != 0) {
      result.Fail(Format(kRequiredFieldMissing, label, record->name, field.name));
    }
  }
}

void ToBindingStructure(BindingResult& result, BindingProperty& out, const void* source,
                        const BindingTypeInfo* record, const BindingRegistry* registry) {
  if (!result.ok) return;
  if (record == nullptr) {
    result.Fail(kNativeStructureNotRegistered);
    return;
  }
  out.MakeStructure();
  for (const BindingFieldInfo& field : record->fields) {
    if (field.converter.ops == nullptr) continue;
    BindingProperty& member = out.MemberRef(field.name);
    field.converter.ops->toBinding(result, member, static_cast<const char*>(source) + field.offset,
                                   field.type.typeRecord, registry);
    if (!result.ok) return;
    if ((field.flags & BindingFieldFlags::OmitEmpty) != 0 && IsOmittable(member)) {
      out.RemoveMember(field.name);
    }
  }
}

namespace BindingInternal {

const BindingTypeInfo* FindTypeRecord(const BindingRegistry* registry, const TypeKey& key) {
  return registry != nullptr ? registry->FindTypeById(key) : nullptr;
}

bool CheckVectorInput(BindingResult& result, const BindingProperty& input, std::string_view label) {
  if (input.Kind() == Kind::Collection) return true;
  result.Fail(Format(kVectorNotCollection, label));
  return false;
}

void FailValueRequired(BindingResult& result, std::string_view label) {
  result.Fail(Format(kValueRequired, label));
}

}  // namespace BindingInternal

}  // namespace Tesk
