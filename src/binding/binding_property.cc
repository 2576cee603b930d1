#include "binding/binding_property.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace Tesk {

using BindingInternal::BlobBlock;
using BindingInternal::CollectionBlock;
using BindingInternal::EnumCell;
using BindingInternal::InternedString;
using BindingInternal::MemberMap;
using BindingInternal::StructureBlock;
using Kind = BindingPropertyKind;

namespace {

constexpr char kLengthError[] = "vector<T> too long";

bool IsHeapKind(Kind kind) {
  return kind == Kind::String || kind == Kind::Blob || kind == Kind::Enum ||
         kind == Kind::Collection || kind == Kind::Structure;
}

// Names and lookups end at the first NUL, as interned texts do. The length
// comes back in a register: a view returned through memory (the 32-bit x86
// convention) stalls the caller that reloads it, on every member access.
size_t LengthToNul(std::string_view text) {
  const size_t end = text.find('\0');
  return end == std::string_view::npos ? text.size() : end;
}

std::string_view CutAtNul(std::string_view text) { return {text.data(), LengthToNul(text)}; }

template <class Block>
Block* NewBlock(BindingStorage& storage) {
  return static_cast<Block*>(storage.AllocateBlock(sizeof(Block)));
}

}  // namespace

const BindingProperty& EmptyBindingProperty() {
  static const BindingProperty empty;
  return empty;
}

BindingProperty::BindingProperty(const BindingProperty& other) {
  try {
    if (other.ownsStorage_ && other.storage_ != nullptr && IsHeapKind(other.kind_)) {
      // A whole tree: its table holds exactly the texts the copy will intern.
      EnsureStorage().ReserveInterned(other.storage_->InternedCount());
    }
    CopyFrom(other);
  } catch (...) {
    // No destructor runs for a constructor that throws: drop the partial copy.
    BindingStorage::Destroy(storage_);
    throw;
  }
}

BindingProperty::BindingProperty(BindingProperty&& other) noexcept {
  if (other.ownsStorage_) {
    std::swap(payload_, other.payload_);
    std::swap(storage_, other.storage_);
    std::swap(kind_, other.kind_);
    other.Reset();
  } else {
    CopyFrom(other);
    other.Reset();
  }
}

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
  if (this == &other) return *this;
  if (other.storage_ != nullptr && other.storage_ == storage_) {
    // The source is part of this tree (maybe of this very value): copy it out first.
    BindingProperty detached(other);
    return *this = std::move(detached);
  }
  Reset();
  CopyFrom(other);
  return *this;
}

BindingProperty& BindingProperty::operator=(BindingProperty&& other) noexcept {
  if (this == &other) return *this;
  if (ownsStorage_ && other.ownsStorage_) {
    std::swap(payload_, other.payload_);
    std::swap(storage_, other.storage_);
    std::swap(kind_, other.kind_);
    other.Reset();
    return *this;
  }
  if (other.storage_ != nullptr && other.storage_ == storage_) {
    // Same tree: detach the source first, so that unwrapping a value's own
    // member (value = std::move(value.MemberRef("data"))) works.
    BindingProperty detached(other);
    other.Reset();
    Reset();
    CopyFrom(detached);
    return *this;
  }
  Reset();
  CopyFrom(other);
  other.Reset();
  return *this;
}

BindingProperty::~BindingProperty() {
  if (ownsStorage_) {
    // The whole tree lives in the storage: drop it without visiting it.
    BindingStorage::Destroy(storage_);
  } else if (IsHeapKind(kind_)) {
    ReleasePayload();
  }
}

void BindingProperty::Reset() noexcept {
  if (IsHeapKind(kind_)) {
    if (ownsStorage_) {
      storage_->Clear();
    } else {
      ReleasePayload();
    }
  }
  kind_ = Kind::Empty;
  payload_.unsignedValue = 0;
}

void BindingProperty::ReleasePayload() noexcept {
  BindingStorage& storage = *storage_;
  switch (kind_) {
    case Kind::String:
      storage.Release(payload_.string);
      break;
    case Kind::Blob:
      storage.FreeBlock(payload_.blob->bytes, payload_.blob->size);
      storage.FreeBlock(payload_.blob, sizeof(BlobBlock));
      break;
    case Kind::Enum:
      storage.FreeBlock(payload_.enumCell, sizeof(EnumCell));
      break;
    case Kind::Collection: {
      CollectionBlock* block = payload_.collection;
      for (uint32_t i = 0; i < block->size; ++i) {
        if (IsHeapKind(block->elements[i].kind_)) block->elements[i].ReleasePayload();
      }
      storage.FreeBlock(block->elements, size_t{block->capacity} * sizeof(BindingProperty));
      storage.FreeBlock(block, sizeof(CollectionBlock));
      break;
    }
    case Kind::Structure: {
      StructureBlock* block = payload_.structure;
      for (auto& member : block->members) storage.Release(member.first);
      block->~StructureBlock();
      storage.FreeBlock(block, sizeof(StructureBlock));
      break;
    }
    case Kind::Empty:
    case Kind::Bool:
    case Kind::Signed:
    case Kind::Unsigned:
    case Kind::Float:
      break;
  }
}

BindingStorage& BindingProperty::EnsureStorage() {
  if (storage_ == nullptr) {
    storage_ = BindingStorage::Create();
    if (storage_ == nullptr) throw std::bad_alloc();
  }
  return *storage_;
}

void BindingProperty::SetBool(bool value) {
  Reset();
  kind_ = Kind::Bool;
  payload_.boolean = value ? 1 : 0;
}

void BindingProperty::SetSigned(int64_t value) {
  Reset();
  kind_ = Kind::Signed;
  payload_.signedValue = value;
}

void BindingProperty::SetUnsigned(uint64_t value) {
  Reset();
  kind_ = Kind::Unsigned;
  payload_.unsignedValue = value;
}

void BindingProperty::SetFloat(double value) {
  Reset();
  kind_ = Kind::Float;
  payload_.floatValue = value;
}

void BindingProperty::SetString(std::string_view text) {
  Reset();
  payload_.string = EnsureStorage().Intern(text);
  kind_ = Kind::String;
}

void BindingProperty::SetBlob(std::span<const uint8_t> bytes) {
  Reset();
  BindingStorage& storage = EnsureStorage();
  auto* block = NewBlock<BlobBlock>(storage);
  block->size = static_cast<uint32_t>(bytes.size());
  block->bytes = nullptr;
  if (!bytes.empty()) {
    try {
      block->bytes = static_cast<uint8_t*>(storage.AllocateBlock(bytes.size()));
    } catch (...) {
      storage.FreeBlock(block, sizeof(BlobBlock));
      throw;
    }
    std::memcpy(block->bytes, bytes.data(), bytes.size());
  }
  payload_.blob = block;
  kind_ = Kind::Blob;
}

void BindingProperty::SetEnum(BindingEnumValue value) {
  Reset();
  auto* cell = NewBlock<EnumCell>(EnsureStorage());
  cell->value = value.value;
  cell->type = value.type;
  payload_.enumCell = cell;
  kind_ = Kind::Enum;
}

void BindingProperty::MakeCollection() {
  if (kind_ == Kind::Collection) return;
  Reset();
  auto* block = NewBlock<CollectionBlock>(EnsureStorage());
  *block = CollectionBlock{nullptr, 0, 0};
  payload_.collection = block;
  kind_ = Kind::Collection;
}

void BindingProperty::MakeStructure() {
  if (kind_ == Kind::Structure) return;
  Reset();
  BindingStorage& storage = EnsureStorage();
  void* memory = storage.AllocateBlock(sizeof(StructureBlock));
  payload_.structure = new (memory) StructureBlock(&storage);
  kind_ = Kind::Structure;
}

const char* BindingProperty::KindName(BindingPropertyKind kind) {
  switch (kind) {
    case Kind::Empty:
      return "empty";
    case Kind::Bool:
      return "bool";
    case Kind::Signed:
      return "signed";
    case Kind::Unsigned:
      return "unsigned";
    case Kind::Float:
      return "float";
    case Kind::String:
      return "string";
    case Kind::Blob:
      return "blob";
    case Kind::Enum:
      return "enum";
    case Kind::Collection:
      return "collection";
    case Kind::Structure:
      return "structure";
  }
  return "";
}

uint32_t BindingProperty::Size() const {
  switch (kind_) {
    case Kind::Empty:
      return 0;
    case Kind::String:
      return payload_.string->length;
    case Kind::Blob:
      return payload_.blob->size;
    case Kind::Collection:
      return payload_.collection->size;
    case Kind::Structure:
      return static_cast<uint32_t>(payload_.structure->members.size());
    case Kind::Bool:
    case Kind::Signed:
    case Kind::Unsigned:
    case Kind::Float:
    case Kind::Enum:
      return 1;
  }
  return 0;
}

bool BindingProperty::GetBool(bool fallback) const {
  return kind_ == Kind::Bool ? payload_.boolean != 0 : fallback;
}

int64_t BindingProperty::GetSigned(int64_t fallback) const {
  return kind_ == Kind::Signed ? payload_.signedValue : fallback;
}

uint64_t BindingProperty::GetUnsigned(uint64_t fallback) const {
  return kind_ == Kind::Unsigned ? payload_.unsignedValue : fallback;
}

double BindingProperty::GetFloat(double fallback) const {
  return kind_ == Kind::Float ? payload_.floatValue : fallback;
}

std::string_view BindingProperty::GetString(std::string_view fallback) const {
  return kind_ == Kind::String ? payload_.string->View() : fallback;
}

const char* BindingProperty::CString() const {
  return kind_ == Kind::String ? payload_.string->text : "";
}

std::span<const uint8_t> BindingProperty::GetBlob(std::span<const uint8_t> fallback) const {
  if (kind_ != Kind::Blob) return fallback;
  return {payload_.blob->bytes, payload_.blob->size};
}

BindingEnumValue BindingProperty::GetEnum(BindingEnumValue fallback) const {
  if (kind_ != Kind::Enum) return fallback;
  return {payload_.enumCell->value, payload_.enumCell->type};
}

bool BindingProperty::Truth() const {
  switch (kind_) {
    case Kind::Empty:
      return false;
    case Kind::Bool:
      return payload_.boolean != 0;
    case Kind::Signed:
      return payload_.signedValue != 0;
    case Kind::Unsigned:
      return payload_.unsignedValue != 0;
    case Kind::Float:
      return payload_.floatValue != 0.0;
    case Kind::String: {
      const std::string_view text = payload_.string->View();
      return text == "true" || text == "1";
    }
    case Kind::Blob:
      return payload_.blob->size != 0;
    case Kind::Enum:
      return payload_.enumCell->value != 0;
    case Kind::Collection:
      return payload_.collection->size != 0;
    case Kind::Structure:
      return !payload_.structure->members.empty();
  }
  return false;
}

std::string BindingProperty::ToText() const {
  char number[64];
  switch (kind_) {
    case Kind::Bool:
      return payload_.boolean != 0 ? "true" : "false";
    case Kind::Signed:
      std::snprintf(number, sizeof number, "%" PRId64, payload_.signedValue);
      return number;
    case Kind::Unsigned:
      std::snprintf(number, sizeof number, "%" PRIu64, payload_.unsignedValue);
      return number;
    case Kind::Float: {
      // "%f" of a huge double needs more than 300 characters.
      const int length = std::snprintf(nullptr, 0, "%f", payload_.floatValue);
      std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
      std::snprintf(text.data(), text.size() + 1, "%f", payload_.floatValue);
      return text;
    }
    case Kind::String:
      return std::string(payload_.string->View());
    case Kind::Blob:
      return std::string(reinterpret_cast<const char*>(payload_.blob->bytes), payload_.blob->size);
    case Kind::Enum:
      std::snprintf(number, sizeof number, "%" PRId32, payload_.enumCell->value);
      return number;
    case Kind::Empty:
    case Kind::Collection:
    case Kind::Structure:
      return {};
  }
  return {};
}

const BindingProperty& BindingProperty::At(uint32_t index) const {
  if (kind_ != Kind::Collection || index >= payload_.collection->size) {
    return EmptyBindingProperty();
  }
  return payload_.collection->elements[index];
}

const BindingProperty& BindingProperty::Member(std::string_view name) const {
  if (kind_ != Kind::Structure) return EmptyBindingProperty();
  const MemberMap& members = payload_.structure->members;
  const auto found = members.find(CutAtNul(name));
  return found != members.end() ? found->second : EmptyBindingProperty();
}

bool BindingProperty::HasMember(std::string_view name) const {
  if (kind_ != Kind::Structure) return false;
  const MemberMap& members = payload_.structure->members;
  return members.find(CutAtNul(name)) != members.end();
}

BindingProperty& BindingProperty::Element(uint32_t index) {
  MakeCollection();
  CollectionBlock& block = *payload_.collection;
  if (index < block.size) return block.elements[index];
  if (index >= kMaxCollectionSize) throw std::length_error(kLengthError);
  const uint32_t needed = index + 1;
  if (needed > block.capacity) {
    uint32_t capacity = block.capacity + block.capacity / 2;
    if (capacity < needed) capacity = needed;
    if (capacity < 4) capacity = 4;
    if (capacity > kMaxCollectionSize) capacity = kMaxCollectionSize;
    Reserve(capacity);
  }
  for (uint32_t i = block.size; i < needed; ++i) {
    BindingProperty* element = new (&block.elements[i]) BindingProperty();
    element->AdoptChildOf(storage_);
  }
  block.size = needed;
  return block.elements[index];
}

void BindingProperty::Reserve(uint32_t count) {
  if (kind_ != Kind::Collection) return;
  if (count > kMaxCollectionSize) throw std::length_error(kLengthError);
  CollectionBlock& block = *payload_.collection;
  if (count <= block.capacity) return;
  // Elements hold no pointer into themselves, so they move by copying bytes.
  block.elements = static_cast<BindingProperty*>(
      storage_->ResizeBlock(block.elements, size_t{block.capacity} * sizeof(BindingProperty),
                            size_t{count} * sizeof(BindingProperty)));
  block.capacity = count;
}

BindingProperty& BindingProperty::MemberRef(std::string_view name) {
  MakeStructure();
  name = CutAtNul(name);
  MemberMap& members = payload_.structure->members;
  auto at = members.lower_bound(name);
  if (at != members.end() && at->first->View() == name) return at->second;
  InternedString* interned = storage_->Intern(name);
  try {
    at = members.emplace_hint(at, std::piecewise_construct, std::forward_as_tuple(interned),
                              std::forward_as_tuple());
  } catch (...) {
    storage_->Release(interned);
    throw;
  }
  at->second.AdoptChildOf(storage_);
  return at->second;
}

bool BindingProperty::RemoveMember(std::string_view name) {
  if (kind_ != Kind::Structure) return false;
  MemberMap& members = payload_.structure->members;
  const auto found = members.find(CutAtNul(name));
  if (found == members.end()) return false;
  InternedString* interned = found->first;
  members.erase(found);
  storage_->Release(interned);
  return true;
}

std::span<const BindingProperty> BindingProperty::Elements() const {
  if (kind_ != Kind::Collection) return {};
  return {payload_.collection->elements, payload_.collection->size};
}

std::span<BindingProperty> BindingProperty::MutableElements() {
  if (kind_ != Kind::Collection) return {};
  return {payload_.collection->elements, payload_.collection->size};
}

BindingProperty::MemberRange BindingProperty::Members() const {
  return kind_ == Kind::Structure ? MemberRange(&payload_.structure->members) : MemberRange();
}

void BindingProperty::CopyFrom(const BindingProperty& source) {
  switch (source.kind_) {
    case Kind::Empty:
    case Kind::Bool:
    case Kind::Signed:
    case Kind::Unsigned:
    case Kind::Float:
      payload_ = source.payload_;
      kind_ = source.kind_;
      return;
    case Kind::String: {
      BindingStorage& storage = EnsureStorage();
      InternedString* entry = source.payload_.string;
      if (source.storage_ == &storage) {
        BindingStorage::AddReference(entry);
      } else {
        entry = storage.Intern(*entry);
      }
      payload_.string = entry;
      kind_ = Kind::String;
      return;
    }
    case Kind::Blob:
      SetBlob(source.GetBlob());
      return;
    case Kind::Enum:
      SetEnum(source.GetEnum());
      return;
    case Kind::Collection: {
      MakeCollection();
      const uint32_t count = source.payload_.collection->size;
      Reserve(count);
      CollectionBlock& block = *payload_.collection;
      const BindingProperty* from = source.payload_.collection->elements;
      for (uint32_t i = 0; i < count; ++i) {
        BindingProperty* element = new (&block.elements[i]) BindingProperty();
        element->AdoptChildOf(storage_);
        block.size = i + 1;
        element->CopyFrom(from[i]);
      }
      return;
    }
    case Kind::Structure: {
      MakeStructure();
      MemberMap& members = payload_.structure->members;
      const bool sameStorage = source.storage_ == storage_;
      // The source is in order: each member goes at the end, without searching.
      for (const auto& [name, value] : source.payload_.structure->members) {
        InternedString* interned = name;
        if (sameStorage) {
          BindingStorage::AddReference(interned);
        } else {
          interned = storage_->Intern(*name);
        }
        MemberMap::iterator at;
        try {
          at = members.emplace_hint(members.end(), std::piecewise_construct,
                                    std::forward_as_tuple(interned), std::forward_as_tuple());
        } catch (...) {
          storage_->Release(interned);
          throw;
        }
        at->second.AdoptChildOf(storage_);
        at->second.CopyFrom(value);
      }
      return;
    }
  }
}

bool operator==(const BindingProperty& a, const BindingProperty& b) {
  if (a.Kind() != b.Kind()) return false;
  switch (a.Kind()) {
    case Kind::Empty:
      return true;
    case Kind::Bool:
      return a.GetBool() == b.GetBool();
    case Kind::Signed:
      return a.GetSigned() == b.GetSigned();
    case Kind::Unsigned:
      return a.GetUnsigned() == b.GetUnsigned();
    case Kind::Float:
      return a.GetFloat() == b.GetFloat();
    case Kind::String:
      return a.GetString() == b.GetString();
    case Kind::Blob: {
      const auto x = a.GetBlob();
      const auto y = b.GetBlob();
      return x.size() == y.size() && (x.empty() || std::memcmp(x.data(), y.data(), x.size()) == 0);
    }
    case Kind::Enum:
      return a.GetEnum() == b.GetEnum();
    case Kind::Collection: {
      const auto x = a.Elements();
      const auto y = b.Elements();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) {
        if (!(x[i] == y[i])) return false;
      }
      return true;
    }
    case Kind::Structure: {
      if (a.Size() != b.Size()) return false;
      auto y = b.Members().begin();
      for (const auto member : a.Members()) {
        const auto other = *y++;
        if (member.name != other.name || !(member.value == other.value)) return false;
      }
      return true;
    }
  }
  return false;
}

void BindingResult::Fail(std::string_view message) {
  value.Reset();
  ok = false;
  value.MemberRef("error").SetString(message);
}

std::string BindingResult::ErrorText() const {
  if (ok) return {};
  return std::string(value.Member("error").GetString());
}

}  // namespace Tesk
