#include "binding/host_value_conversion.h"

#include <cstring>
#include <new>
#include <string>

#include "binding/binding_merging_builder.h"
#include "binding/binding_registry.h"
#include "binding/internal/conversion_messages.h"
#include "diagnostics/format.h"
#include "diagnostics/sdk_allocator.h"

namespace Tesk {

using Kind = BindingPropertyKind;
using Tag = HostValueTag;

namespace {

void* AllocateZeroed(size_t size) {
  void* block = Memory::Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  std::memset(block, 0, size);
  return block;
}

char* DuplicateText(const char* text) {
  char* copy = Memory::DuplicateString(text);
  if (copy == nullptr) throw std::bad_alloc();
  return copy;
}

void SetOwnedString(HostValue& out, const char* text, size_t length) {
  out.string.text = DuplicateText(text);
  out.string.length = static_cast<uint32_t>(length);
  out.tag = static_cast<uint32_t>(Tag::OwnedString);
}

// Fills `out`, which is empty on entry. Every owned part is attached to `out`
// as soon as it is allocated, so that releasing `out` after an exception frees
// everything made so far.
void Fill(HostValue& out, const BindingProperty& value, const BindingRegistry* registry) {
  switch (value.Kind()) {
    case Kind::Empty:
      return;
    case Kind::Bool:
      out.boolean = value.GetBool() ? 1 : 0;
      out.tag = static_cast<uint32_t>(Tag::Bool);
      return;
    case Kind::Signed:
      out.signedValue = value.GetSigned();
      out.tag = static_cast<uint32_t>(Tag::Signed);
      return;
    case Kind::Unsigned:
      out.unsignedValue = value.GetUnsigned();
      out.tag = static_cast<uint32_t>(Tag::Unsigned);
      return;
    case Kind::Float:
      out.floatValue = value.GetFloat();
      out.tag = static_cast<uint32_t>(Tag::Float);
      return;
    case Kind::String:
      SetOwnedString(out, value.CString(), value.Size());
      return;
    case Kind::Blob: {
      const std::span<const uint8_t> bytes = value.GetBlob();
      out.tag = static_cast<uint32_t>(Tag::OwnedBlob);
      if (bytes.empty()) return;
      uint8_t* copy = static_cast<uint8_t*>(AllocateZeroed(bytes.size()));
      std::memcpy(copy, bytes.data(), bytes.size());
      out.blob.bytes = copy;
      out.blob.length = static_cast<uint32_t>(bytes.size());
      return;
    }
    case Kind::Enum: {
      const BindingEnumValue enumValue = value.GetEnum();
      if (registry != nullptr && enumValue.type != nullptr) {
        if (const BindingTypeInfo* type = registry->FindTypeById(*enumValue.type)) {
          if (const BindingEnumerator* e = type->FindEnumeratorByValue(enumValue.value)) {
            SetOwnedString(out, e->name.c_str(), e->name.size());
            return;
          }
        }
      }
      out.signedValue = enumValue.value;
      out.tag = static_cast<uint32_t>(Tag::Signed);
      return;
    }
    case Kind::Collection: {
      const std::span<const BindingProperty> elements = value.Elements();
      out.tag = static_cast<uint32_t>(Tag::Collection);
      if (elements.empty()) return;
      out.collection.items =
          static_cast<HostValue*>(AllocateZeroed(elements.size() * sizeof(HostValue)));
      out.collection.count = static_cast<uint32_t>(elements.size());
      for (size_t index = 0; index < elements.size(); ++index) {
        Fill(out.collection.items[index], elements[index], registry);
      }
      return;
    }
    case Kind::Structure: {
      const BindingProperty::MemberRange members = value.Members();
      out.tag = static_cast<uint32_t>(Tag::Structure);
      if (members.empty()) return;
      out.structure.members =
          static_cast<HostValueMember*>(AllocateZeroed(members.size() * sizeof(HostValueMember)));
      out.structure.count = static_cast<uint32_t>(members.size());
      HostValueMember* member = out.structure.members;
      for (const BindingProperty::MemberView view : members) {
        member->name = DuplicateText(std::string(view.name).c_str());
        member->nameOwned = 1;
        Fill(member->value, view.value, registry);
        ++member;
      }
      return;
    }
  }
}

struct FromHostState {
  std::string_view label;
  ResponseRecord* hostResult;
  BindingMergingBuilder structures;
};

// Stops the conversion with `message`, written into the host result if any.
bool FailInto(const FromHostState& state, const std::string& message) {
  if (ResponseRecord* record = state.hostResult) {
    ReleaseHostValue(record->result);
    Memory::Free(record->errorText);
    record->errorText = DuplicateText(message.c_str());
    record->failed = 1;
  }
  return false;
}

// `depth` counts the collections and structures that enclose `in`.
bool Convert(const HostValue& in, BindingProperty& out, FromHostState& state, uint32_t depth) {
  const auto tag = static_cast<Tag>(in.tag);
  if ((tag == Tag::Collection || tag == Tag::Structure) && depth >= kMaxHostValueDepth) {
    return FailInto(state,
                    Format(BindingInternal::kHostValueTooDeep, state.label, kMaxHostValueDepth));
  }
  switch (tag) {
    case Tag::Empty:
      out.Reset();
      return true;
    case Tag::Bool:
      out.SetBool(in.boolean != 0);
      return true;
    case Tag::Signed:
      out.SetSigned(in.signedValue);
      return true;
    case Tag::Unsigned:
      out.SetUnsigned(in.unsignedValue);
      return true;
    case Tag::Float:
      out.SetFloat(in.floatValue);
      return true;
    case Tag::String:
    case Tag::OwnedString:
      out.SetString(in.string.text != nullptr ? in.string.text : "");
      return true;
    case Tag::Blob:
    case Tag::OwnedBlob:
      out.SetBlob(in.blob.bytes != nullptr ? std::span<const uint8_t>(in.blob.bytes, in.blob.length)
                                           : std::span<const uint8_t>());
      return true;
    case Tag::Collection: {
      out.MakeCollection();
      const uint32_t count = in.collection.items != nullptr ? in.collection.count : 0;
      out.Reserve(count);
      for (uint32_t index = 0; index < count; ++index) {
        if (!Convert(in.collection.items[index], out.Append(), state, depth + 1)) return false;
      }
      return true;
    }
    case Tag::Structure: {
      out.MakeStructure();
      const uint32_t count = in.structure.members != nullptr ? in.structure.count : 0;
      state.structures.Begin(out);
      for (uint32_t index = 0; index < count; ++index) {
        const HostValueMember& member = in.structure.members[index];
        const char* name = member.name != nullptr ? member.name : "";
        // A name given again: its last value wins, whatever the kinds.
        BindingProperty& value = state.structures.Member(name);
        value.Reset();
        if (!Convert(member.value, value, state, depth + 1)) return false;
      }
      state.structures.End();
      return true;
    }
  }
  return FailInto(state, Format(BindingInternal::kHostValueIncompatible, state.label,
                                HostValueTagName(in.tag)));
}

}  // namespace

HostValue ToHostValue(const BindingProperty& value, const BindingRegistry* registry) {
  HostValue out;
  std::memset(&out, 0, sizeof(out));
  try {
    Fill(out, value, registry);
  } catch (...) {
    ReleaseHostValue(out);
    throw;
  }
  return out;
}

void ReleaseHostValue(HostValue& value) {
  switch (static_cast<Tag>(value.tag)) {
    case Tag::Empty:
    case Tag::Bool:
    case Tag::Signed:
    case Tag::Unsigned:
    case Tag::Float:
    case Tag::String:
    case Tag::Blob:
      break;
    case Tag::OwnedString:
      Memory::Free(const_cast<char*>(value.string.text));
      break;
    case Tag::OwnedBlob:
      Memory::Free(const_cast<uint8_t*>(value.blob.bytes));
      break;
    case Tag::Collection:
      if (value.collection.items != nullptr) {
        for (uint32_t index = 0; index < value.collection.count; ++index) {
          ReleaseHostValue(value.collection.items[index]);
        }
        Memory::Free(value.collection.items);
      }
      break;
    case Tag::Structure:
      if (value.structure.members != nullptr) {
        for (uint32_t index = 0; index < value.structure.count; ++index) {
          HostValueMember& member = value.structure.members[index];
          ReleaseHostValue(member.value);
          if (member.nameOwned == 1) Memory::Free(const_cast<char*>(member.name));
        }
        Memory::Free(value.structure.members);
      }
      break;
  }
  std::memset(&value, 0, sizeof(value));
}

HostValueConversion FromHostValue(const HostValue& value, std::string_view label,
                                  ResponseRecord* hostResult) {
  HostValueConversion conversion;
  FromHostState state{label, hostResult, {}};
  conversion.ok = Convert(value, conversion.value, state, 0);
  // A conversion cut short may leave structures out of name order.
  if (!conversion.ok) conversion.value.Reset();
  return conversion;
}

const char* HostValueTagName(uint32_t tag) {
  switch (static_cast<Tag>(tag)) {
    case Tag::Empty:
      return "";
    case Tag::Bool:
      return "bool";
    case Tag::Signed:
      return "signed";
    case Tag::Unsigned:
      return "unsigned";
    case Tag::Float:
      return "float";
    case Tag::String:
    case Tag::OwnedString:
      return "string";
    case Tag::Blob:
    case Tag::OwnedBlob:
      return "blob";
    case Tag::Collection:
      return "collection";
    case Tag::Structure:
      return "structure";
  }
  return "";
}

}  // namespace Tesk
