#include "binding/binding_property.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "binding/internal/name_bytes.h"

namespace Tesk {

using BindingInternal::ArrayHeader;
using BindingInternal::BlobBlock;
using BindingInternal::CopyShort;
using BindingInternal::CutAtNul;
using BindingInternal::ElementsOf;
using BindingInternal::EmptyArray;
using BindingInternal::EnumCell;
using BindingInternal::InternedString;
using BindingInternal::MemberSlot;
using BindingInternal::MembersOf;
using BindingInternal::NameLess;
using BindingInternal::StringBlock;
using Kind = BindingPropertyKind;

static_assert(sizeof(BindingProperty) == 16, "a value is 16 bytes in every build");

namespace {

constexpr char kLengthError[] = "vector<T> too long";

size_t ElementArrayBytes(uint32_t capacity) {
  return sizeof(ArrayHeader) + size_t{capacity} * sizeof(BindingProperty);
}

size_t MemberArrayBytes(uint32_t capacity) {
  return sizeof(ArrayHeader) + size_t{capacity} * sizeof(MemberSlot);
}

// The capacity after growing one that cannot hold `needed` items: by half,
// at least to `needed` and to 8, at most to kMaxCollectionSize.
uint32_t GrownCapacity(uint32_t capacity, uint32_t needed) {
  uint64_t grown = uint64_t{capacity} + capacity / 2;
  if (grown < needed) grown = needed;
  if (grown < 8) grown = 8;
  if (grown > kMaxCollectionSize) grown = kMaxCollectionSize;
  return static_cast<uint32_t>(grown);
}

// The position of `name` among `count` sorted members, and whether it is there.
struct MemberPosition {
  uint32_t index;
  bool found;
};

MemberPosition FindMember(const MemberSlot* members, uint32_t count, std::string_view name) {
  const uint64_t key = BindingInternal::NameOrderKey(name);
  uint32_t low = 0;
  uint32_t high = count;
  // Names are often added in order: try after the last one first.
  if (count != 0) {
    const int last = BindingInternal::CompareNames(*members[count - 1].name, key, name);
    if (last < 0) return {count, false};
    if (last == 0) return {count - 1, true};
    high = count - 1;
  }
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    const int order = BindingInternal::CompareNames(*members[middle].name, key, name);
    if (order == 0) return {middle, true};
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return {low, false};
}

// The same for a name interned in the storage of the members: a name is
// interned once per storage, so the same name is the same entry.
MemberPosition FindMember(const MemberSlot* members, uint32_t count, const InternedString& name) {
  uint32_t low = 0;
  uint32_t high = count;
  if (count != 0) {
    const InternedString* last = members[count - 1].name;
    if (last == &name) return {count - 1, true};
    if (BindingInternal::NameBefore(*last, name)) return {count, false};
    high = count - 1;
  }
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    const InternedString* at = members[middle].name;
    if (at == &name) return {middle, true};
    if (BindingInternal::NameBefore(*at, name)) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return {low, false};
}

// Whether `at` is the position of `name` (interned in the storage of the
// members): the member there, or the place between its neighbours.
bool IsPositionOf(const MemberSlot* members, uint32_t count, const InternedString& name,
                  uint32_t at, MemberPosition& position) {
  if (at < count && members[at].name == &name) {
    position = {at, true};
    return true;
  }
  if (at <= count && (at == 0 || BindingInternal::NameBefore(*members[at - 1].name, name)) &&
      (at == count || BindingInternal::NameBefore(name, *members[at].name))) {
    position = {at, false};
    return true;
  }
  return false;
}

}  // namespace

// Deep copies into one storage. Member names from another storage are interned
// again; a small cache remembers the last entries seen, since a tree repeats
// few names many times.
class BindingProperty::Copier {
 public:
  Copier(BindingStorage& storage, const BindingStorage* source)
      : storage_(storage), sameStorage_(source == &storage) {}

  // `target` is empty and belongs to the storage.
  void Copy(BindingProperty& target, const BindingProperty& source) {
    switch (source.Kind()) {
      case Kind::Empty:
      case Kind::Bool:
      case Kind::Signed:
      case Kind::Unsigned:
      case Kind::Float:
        CopyPlain(target, source);
        return;
      case Kind::String:
        if ((source.head_ & kInlineTextBit) != 0) {
          CopyPlain(target, source);
        } else {
          target.payload_.string = NewString(source.payload_.string->View());
          target.SetKind(Kind::String);
        }
        return;
      case Kind::Blob:
        target.SetBlob(source.GetBlob());
        return;
      case Kind::Enum:
        target.SetEnum(source.GetEnum());
        return;
      case Kind::Collection:
        CopyElements(target, *source.payload_.array);
        return;
      case Kind::Structure:
        CopyMembers(target, *source.payload_.array);
        return;
    }
  }

  StringBlock* NewString(std::string_view text) {
    const auto length = static_cast<uint32_t>(text.size());
    auto* block = static_cast<StringBlock*>(storage_.AllocateBlock(StringBlock::BlockSize(length)));
    block->length = length;
    std::memcpy(block->text, text.data(), length);
    block->text[length] = '\0';
    return block;
  }

 private:
  struct CachedName {
    const InternedString* from = nullptr;
    InternedString* to = nullptr;
  };
  static constexpr size_t kCachedNames = 64;

  // A value without blocks: its bytes, with this storage's address in the head.
  void CopyPlain(BindingProperty& target, const BindingProperty& source) {
    std::memcpy(static_cast<void*>(&target), &source, sizeof(BindingProperty));
    target.head_ =
        (source.head_ & ~(kStorageMask | kOwnsStorageBit)) | reinterpret_cast<uintptr_t>(&storage_);
  }

  void CopyElements(BindingProperty& target, const ArrayHeader& from) {
    ArrayHeader* header =
        NewArray(target, Kind::Collection, from.size, ElementArrayBytes(from.size));
    const BindingProperty* source = ElementsOf(&from);
    BindingProperty* elements = ElementsOf(header);
    for (uint32_t i = 0; i < from.size; ++i) CopyItem(*header, elements[i], source[i]);
  }

  void CopyMembers(BindingProperty& target, const ArrayHeader& from) {
    ArrayHeader* header = NewArray(target, Kind::Structure, from.size, MemberArrayBytes(from.size));
    const MemberSlot* source = MembersOf(&from);
    MemberSlot* members = MembersOf(header);
    for (uint32_t i = 0; i < from.size; ++i) {
      members[i].name = Name(source[i].name);
      CopyItem(*header, members[i].value, source[i].value);
    }
  }

  // Makes `target` a container with room for exactly `count` items of `bytes`
  // in all (none: the shared empty header); returns its header.
  ArrayHeader* NewArray(BindingProperty& target, BindingPropertyKind kind, uint32_t count,
                        size_t bytes) {
    target.payload_.array = EmptyArray();
    target.SetKind(kind);
    if (count == 0) return EmptyArray();
    auto* header = static_cast<ArrayHeader*>(storage_.AllocateBlock(bytes));
    header->size = 0;
    header->capacity = count;
    target.payload_.array = header;
    return header;
  }

  // Copies the next item of a container being filled. The item counts before
  // its copy runs, so that a copy cut short by an exception leaves a container
  // whose every counted item can be released.
  void CopyItem(ArrayHeader& header, BindingProperty& item, const BindingProperty& source) {
    ++header.size;
    if (!source.HoldsBlock()) {
      CopyPlain(item, source);
      return;
    }
    item.MakeChildOf(&storage_);
    Copy(item, source);
  }

  InternedString* Name(InternedString* name) {
    if (sameStorage_) {
      BindingStorage::AddReference(name);
      return name;
    }
    CachedName& cached = names_[(reinterpret_cast<uintptr_t>(name) >> 4) % kCachedNames];
    if (cached.from == name) {
      BindingStorage::AddReference(cached.to);
      return cached.to;
    }
    InternedString* interned = storage_.Intern(*name);
    cached = {name, interned};
    return interned;
  }

  BindingStorage& storage_;
  const bool sameStorage_;
  CachedName names_[kCachedNames];
};

const BindingProperty& EmptyBindingProperty() {
  static const BindingProperty empty;
  return empty;
}

BindingProperty::BindingProperty(const BindingProperty& other) {
  try {
    const BindingStorage* source = other.Storage();
    if (other.OwnsStorage() && source != nullptr && other.HoldsBlock()) {
      // A whole tree: its table holds exactly the names the copy will intern,
      // and its chunks the bytes its small blocks need.
      BindingStorage& storage = EnsureStorage();
      storage.ReserveInterned(source->InternedCount());
      storage.ReserveBytes(source->SmallBytesInUse());
    }
    CopyFrom(other);
  } catch (...) {
    // No destructor runs for a constructor that throws: drop the partial copy.
    BindingStorage::Destroy(Storage());
    throw;
  }
}

void BindingProperty::SwapBytes(BindingProperty& other) noexcept {
  unsigned char mine[sizeof(BindingProperty)];
  std::memcpy(mine, static_cast<const void*>(this), sizeof mine);
  std::memcpy(static_cast<void*>(this), &other, sizeof mine);
  std::memcpy(static_cast<void*>(&other), mine, sizeof mine);
}

BindingProperty::BindingProperty(BindingProperty&& other) {
  if (other.OwnsStorage()) {
    SwapBytes(other);
    other.Reset();
    return;
  }
  // A child: this new root takes a copy of its blocks.
  try {
    CopyFrom(other);
  } catch (...) {
    BindingStorage::Destroy(Storage());
    throw;
  }
  other.Reset();
}

BindingProperty::StagedBytes BindingProperty::StageCopyOf(const BindingProperty& source) {
  StagedBytes staged;
  if (!source.HoldsBlock()) {
    std::memcpy(staged.bytes, &source, sizeof staged.bytes);
    return staged;
  }
  // Blocks are never moved once allocated, so the source may lie in this very
  // tree (even inside this value) while it is copied. A copy cut short is
  // released by `copy`'s destructor.
  BindingProperty copy;
  copy.MakeChildOf(&EnsureStorage());
  copy.CopyFrom(source);
  std::memcpy(staged.bytes, &copy, sizeof staged.bytes);
  copy.MakeChildOf(copy.Storage());  // the blocks now belong to `staged`
  return staged;
}

void BindingProperty::TakeStaged(const StagedBytes& staged) noexcept {
  const uintptr_t keep = head_ & (kStorageMask | kOwnsStorageBit);
  std::memcpy(static_cast<void*>(this), staged.bytes, sizeof staged.bytes);
  head_ = (head_ & ~(kStorageMask | kOwnsStorageBit)) | keep;
}

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
  if (this == &other) return *this;
  if (other.Storage() != nullptr && other.Storage() == Storage()) {
    if (OwnsStorage()) {
      // A root's Reset frees its whole storage: take a tree of its own.
      BindingProperty detached(other);
      SwapBytes(detached);
      return *this;
    }
    const StagedBytes staged = StageCopyOf(other);
    Reset();
    TakeStaged(staged);
    return *this;
  }
  // Released first, so that a tree whose parts are replaced again and again
  // reuses their blocks.
  Reset();
  CopyFrom(other);
  return *this;
}

BindingProperty& BindingProperty::operator=(BindingProperty&& other) {
  if (this == &other) return *this;
  if (OwnsStorage() && other.OwnsStorage()) {
    SwapBytes(other);
    other.Reset();
    return *this;
  }
  if (other.Storage() != nullptr && other.Storage() == Storage()) {
    // Same tree: the source may be part of this value
    // (value = std::move(value.MemberRef("data"))).
    if (OwnsStorage()) {
      // A root's Reset frees its whole storage: take a tree of its own.
      BindingProperty detached(other);
      other.Reset();
      SwapBytes(detached);
      return *this;
    }
    const StagedBytes staged = StageCopyOf(other);
    other.Reset();
    Reset();
    TakeStaged(staged);
    return *this;
  }
  Reset();
  CopyFrom(other);
  other.Reset();
  return *this;
}

BindingProperty::~BindingProperty() {
  if (OwnsStorage()) {
    // The whole tree lives in the storage: drop it without visiting it.
    BindingStorage::Destroy(Storage());
  } else if (HoldsBlock()) {
    ReleasePayload();
  }
}

void BindingProperty::ReleaseBlocks() noexcept {
  if (OwnsStorage()) {
    Storage()->Clear();
  } else {
    ReleasePayload();
  }
}

void BindingProperty::ReleasePayload() noexcept {
  BindingStorage& storage = *Storage();
  switch (Kind()) {
    case Kind::String:
      storage.FreeBlock(payload_.string, StringBlock::BlockSize(payload_.string->length));
      break;
    case Kind::Blob:
      storage.FreeBlock(payload_.blob, BlobBlock::BlockSize(payload_.blob->size));
      break;
    case Kind::Enum:
      storage.FreeBlock(payload_.enumCell, sizeof(EnumCell));
      break;
    case Kind::Collection: {
      ArrayHeader* header = payload_.array;
      BindingProperty* elements = ElementsOf(header);
      for (uint32_t i = 0; i < header->size; ++i) {
        if (elements[i].HoldsBlock()) elements[i].ReleasePayload();
      }
      if (header->capacity != 0) storage.FreeBlock(header, ElementArrayBytes(header->capacity));
      break;
    }
    case Kind::Structure:
      ReleaseMembers();
      break;
    case Kind::Empty:
    case Kind::Bool:
    case Kind::Signed:
    case Kind::Unsigned:
    case Kind::Float:
      break;
  }
}

void BindingProperty::ReleaseMembers() noexcept {
  BindingStorage& storage = *Storage();
  ArrayHeader* header = payload_.array;
  MemberSlot* members = MembersOf(header);
  for (uint32_t i = 0; i < header->size; ++i) {
    storage.Release(members[i].name);
    if (members[i].value.HoldsBlock()) members[i].value.ReleasePayload();
  }
  if (header->capacity != 0) storage.FreeBlock(header, MemberArrayBytes(header->capacity));
}

BindingStorage& BindingProperty::EnsureStorage() {
  BindingStorage* storage = Storage();
  if (storage == nullptr) {
    storage = BindingStorage::Create();
    if (storage == nullptr) throw std::bad_alloc();
    head_ = (head_ & kTagMask) | reinterpret_cast<uintptr_t>(storage);
  }
  return *storage;
}

void BindingProperty::SetInlineText(std::string_view text) {
  // The storage address stays in the head; the text overwrites what follows it.
  char* at = InlineText();
  CopyShort(at, text.data(), text.size());
  at[text.size()] = '\0';
  reinterpret_cast<unsigned char*>(this)[15] =
      static_cast<unsigned char>(kInlineCapacity - text.size());
  head_ = (head_ & ~kKindMask) | kInlineTextBit | static_cast<uintptr_t>(Kind::String);
}

// The text or bytes a setter stores may lie in what the value holds now (its
// own inline text, its string or blob block, or anywhere in the tree of a root
// container), so the setters make the new payload before they release the
// old one, or copy the input aside when releasing frees the whole tree.

bool BindingProperty::ReleaseDropsTree() const {
  return OwnsStorage() && (Kind() == Kind::Collection || Kind() == Kind::Structure);
}

void BindingProperty::SetString(std::string_view text) {
  text = CutAtNul(text);
  if (text.size() <= kInlineCapacity) {
    char copy[kInlineCapacity + 1];
    CopyShort(copy, text.data(), text.size());
    Reset();
    SetInlineText(std::string_view(copy, text.size()));
    return;
  }
  if (text.size() > UINT32_MAX - 64) throw std::length_error(kLengthError);
  if (ReleaseDropsTree()) {
    const std::string copy(text);
    Reset();
    SetString(copy);
    return;
  }
  StringBlock* const block = Copier(EnsureStorage(), nullptr).NewString(text);
  if (HoldsBlock()) ReleasePayload();
  payload_.string = block;
  SetKind(Kind::String);
}

void BindingProperty::SetBlob(std::span<const uint8_t> bytes) {
  if (bytes.size() > UINT32_MAX - 64) throw std::length_error(kLengthError);
  if (ReleaseDropsTree()) {
    const std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    Reset();
    SetBlob(copy);
    return;
  }
  const auto size = static_cast<uint32_t>(bytes.size());
  auto* block = static_cast<BlobBlock*>(EnsureStorage().AllocateBlock(BlobBlock::BlockSize(size)));
  block->size = size;
  if (size != 0) std::memcpy(block->bytes, bytes.data(), size);
  if (HoldsBlock()) ReleasePayload();
  payload_.blob = block;
  SetKind(Kind::Blob);
}

void BindingProperty::SetEnum(BindingEnumValue value) {
  Reset();
  auto* cell = static_cast<EnumCell*>(EnsureStorage().AllocateBlock(sizeof(EnumCell)));
  cell->value = value.value;
  cell->type = value.type;
  payload_.enumCell = cell;
  SetKind(Kind::Enum);
}

void BindingProperty::MakeCollection() {
  if (Kind() == Kind::Collection) return;
  Reset();
  EnsureStorage();
  payload_.array = EmptyArray();
  SetKind(Kind::Collection);
}

void BindingProperty::MakeStructure() {
  if (Kind() == Kind::Structure) return;
  Reset();
  EnsureStorage();
  payload_.array = EmptyArray();
  SetKind(Kind::Structure);
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
  switch (Kind()) {
    case Kind::Empty:
      return 0;
    case Kind::String:
      return (head_ & kInlineTextBit) != 0 ? InlineLength() : payload_.string->length;
    case Kind::Blob:
      return payload_.blob->size;
    case Kind::Collection:
    case Kind::Structure:
      return payload_.array->size;
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
  return Kind() == Kind::Bool ? payload_.boolean != 0 : fallback;
}

int64_t BindingProperty::GetSigned(int64_t fallback) const {
  return Kind() == Kind::Signed ? payload_.signedValue : fallback;
}

uint64_t BindingProperty::GetUnsigned(uint64_t fallback) const {
  return Kind() == Kind::Unsigned ? payload_.unsignedValue : fallback;
}

double BindingProperty::GetFloat(double fallback) const {
  return Kind() == Kind::Float ? payload_.floatValue : fallback;
}

std::string_view BindingProperty::GetString(std::string_view fallback) const {
  if (Kind() != Kind::String) return fallback;
  if ((head_ & kInlineTextBit) != 0) return {InlineText(), InlineLength()};
  return payload_.string->View();
}

const char* BindingProperty::CString() const {
  if (Kind() != Kind::String) return "";
  return (head_ & kInlineTextBit) != 0 ? InlineText() : payload_.string->text;
}

std::span<const uint8_t> BindingProperty::GetBlob(std::span<const uint8_t> fallback) const {
  if (Kind() != Kind::Blob) return fallback;
  return {payload_.blob->bytes, payload_.blob->size};
}

BindingEnumValue BindingProperty::GetEnum(BindingEnumValue fallback) const {
  if (Kind() != Kind::Enum) return fallback;
  return {payload_.enumCell->value, payload_.enumCell->type};
}

bool BindingProperty::Truth() const {
  switch (Kind()) {
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
      const std::string_view text = GetString();
      return text == "true" || text == "1";
    }
    case Kind::Blob:
      return payload_.blob->size != 0;
    case Kind::Enum:
      return payload_.enumCell->value != 0;
    case Kind::Collection:
    case Kind::Structure:
      return payload_.array->size != 0;
  }
  return false;
}

std::string BindingProperty::ToText() const {
  char number[64];
  switch (Kind()) {
    case Kind::Bool:
      return payload_.boolean != 0 ? "true" : "false";
    case Kind::Signed:
      std::snprintf(number, sizeof number, "%" PRId64, payload_.signedValue);
      return number;
    case Kind::Unsigned:
      std::snprintf(number, sizeof number, "%" PRIu64, payload_.unsignedValue);
      return number;
    case Kind::Float: {
      // "%f" of a huge double needs more than 300 characters. A NaN is "nan"
      // on every target, whatever its sign bit (glibc would print "-nan").
      const double value =
          std::isnan(payload_.floatValue) ? std::fabs(payload_.floatValue) : payload_.floatValue;
      const int length = std::snprintf(nullptr, 0, "%f", value);
      std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
      std::snprintf(text.data(), text.size() + 1, "%f", value);
      return text;
    }
    case Kind::String:
      return std::string(GetString());
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
  if (Kind() != Kind::Collection || index >= payload_.array->size) {
    return EmptyBindingProperty();
  }
  return ElementsOf(payload_.array)[index];
}

const BindingProperty& BindingProperty::Member(std::string_view name) const {
  if (Kind() != Kind::Structure) return EmptyBindingProperty();
  const ArrayHeader* header = payload_.array;
  const auto* members = MembersOf(header);
  const MemberPosition at = FindMember(members, header->size, CutAtNul(name));
  return at.found ? members[at.index].value : EmptyBindingProperty();
}

bool BindingProperty::HasMember(std::string_view name) const {
  if (Kind() != Kind::Structure) return false;
  const ArrayHeader* header = payload_.array;
  return FindMember(MembersOf(header), header->size, CutAtNul(name)).found;
}

BindingProperty& BindingProperty::GrowTo(uint32_t index) {
  MakeCollection();
  ArrayHeader* header = payload_.array;
  if (index < header->size) return ElementsOf(header)[index];
  if (index >= kMaxCollectionSize) throw std::length_error(kLengthError);
  const uint32_t needed = index + 1;
  if (needed > header->capacity) {
    Reserve(GrownCapacity(header->capacity, needed));
    header = payload_.array;
  }
  BindingProperty* elements = ElementsOf(header);
  BindingStorage* storage = Storage();
  for (uint32_t i = header->size; i < needed; ++i) {
    new (&elements[i]) BindingProperty();
    elements[i].MakeChildOf(storage);
  }
  header->size = needed;
  return elements[index];
}

void BindingProperty::Reserve(uint32_t count) {
  if (Kind() != Kind::Collection) return;
  GrowArray(count, sizeof(BindingProperty));
}

void BindingProperty::ReserveMembers(uint32_t count) {
  if (Kind() != Kind::Structure) return;
  GrowArray(count, sizeof(MemberSlot));
}

void BindingProperty::GrowArray(uint32_t capacity, size_t itemBytes) {
  if (capacity > kMaxCollectionSize) throw std::length_error(kLengthError);
  ArrayHeader* header = payload_.array;
  if (capacity <= header->capacity) return;
  BindingStorage& storage = *Storage();
  // Items hold no pointer into themselves, so they move by copying bytes.
  const size_t bytes = BindingInternal::ArrayBlockBytes(capacity, itemBytes);
  if (header->capacity == 0) {
    header = static_cast<ArrayHeader*>(storage.AllocateBlock(bytes));
    header->size = 0;
  } else {
    header = static_cast<ArrayHeader*>(storage.ResizeBlock(
        header, BindingInternal::ArrayBlockBytes(header->capacity, itemBytes), bytes));
  }
  header->capacity = capacity;
  payload_.array = header;
}

void BindingProperty::MakeRoomForMember(InternedString* name) {
  const ArrayHeader* header = payload_.array;
  if (header->size < header->capacity) return;
  try {
    if (header->capacity >= kMaxCollectionSize) throw std::length_error(kLengthError);
    GrowArray(GrownCapacity(header->capacity, header->size + 1), sizeof(MemberSlot));
  } catch (...) {
    Storage()->Release(name);
    throw;
  }
}

BindingProperty& BindingProperty::MemberRef(std::string_view name) {
  MakeStructure();
  BindingStorage& storage = *Storage();
  ArrayHeader* header = payload_.array;
  // A name given at the address the storage last interned it from (a
  // literal, a registry's field name) is found without cutting or hashing it,
  // and where it was last found or placed among as many members is tried
  // first: records built by one piece of code repeat those positions.
  BindingStorage::KnownName* const known = name.empty() ? nullptr : storage.Known(name);
  MemberPosition at;
  if (known != nullptr) {
    if (known->among != header->size ||
        !IsPositionOf(MembersOf(header), header->size, *known->entry, known->at, at)) {
      at = FindMember(MembersOf(header), header->size, *known->entry);
    }
    known->among = header->size;
    known->at = at.index;
  } else {
    name = CutAtNul(name);
    at = FindMember(MembersOf(header), header->size, name);
  }
  if (at.found) return MembersOf(header)[at.index].value;
  // Interned before the array grows: the name may lie in this structure (a
  // member's inline text), which growing moves.
  InternedString* interned;
  if (known != nullptr) {
    interned = known->entry;
    BindingStorage::AddReference(interned);
  } else {
    interned = storage.InternName(name);
  }
  MakeRoomForMember(interned);
  header = payload_.array;
  MemberSlot* members = MembersOf(header);
  MemberSlot* slot = members + at.index;
  // Members hold no pointer into themselves: the later ones move up by bytes.
  const uint32_t later = header->size - at.index;
  if (later <= 8) {
    for (uint32_t i = later; i > 0; --i) {
      std::memcpy(static_cast<void*>(slot + i), slot + i - 1, sizeof(MemberSlot));
    }
  } else {
    std::memmove(static_cast<void*>(slot + 1), slot, later * sizeof(MemberSlot));
  }
  slot->name = interned;
  new (&slot->value) BindingProperty();
  slot->value.MakeChildOf(&storage);
  ++header->size;
  return slot->value;
}

bool BindingProperty::RemoveMember(std::string_view name) {
  if (Kind() != Kind::Structure) return false;
  ArrayHeader* header = payload_.array;
  MemberSlot* members = MembersOf(header);
  const MemberPosition at = FindMember(members, header->size, CutAtNul(name));
  if (!at.found) return false;
  MemberSlot* slot = members + at.index;
  Storage()->Release(slot->name);
  if (slot->value.HoldsBlock()) slot->value.ReleasePayload();
  std::memmove(static_cast<void*>(slot), slot + 1,
               (header->size - at.index - 1) * sizeof(MemberSlot));
  --header->size;
  return true;
}

std::span<const BindingProperty> BindingProperty::Elements() const {
  if (Kind() != Kind::Collection) return {};
  return {ElementsOf(payload_.array), payload_.array->size};
}

std::span<BindingProperty> BindingProperty::MutableElements() {
  if (Kind() != Kind::Collection) return {};
  return {ElementsOf(payload_.array), payload_.array->size};
}

BindingProperty::MemberRange BindingProperty::Members() const {
  return Kind() == Kind::Structure ? MemberRange(payload_.array) : MemberRange();
}

void BindingProperty::CopyFrom(const BindingProperty& source) {
  // This value is empty (just reset or made).
  if (!source.HoldsBlock()) {
    const uintptr_t keep = head_ & (kStorageMask | kOwnsStorageBit);
    std::memcpy(static_cast<void*>(this), &source, sizeof(BindingProperty));
    head_ = (head_ & ~(kStorageMask | kOwnsStorageBit)) | keep;
    return;
  }
  BindingStorage& storage = EnsureStorage();
  Copier(storage, source.Storage()).Copy(*this, source);
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
  // The message may lie in the value being replaced.
  BindingProperty failed;
  failed.MemberRef("error").SetString(message);
  value = std::move(failed);
  ok = false;
}

std::string BindingResult::ErrorText() const {
  if (ok) return {};
  return std::string(value.Member("error").GetString());
}

}  // namespace Tesk
