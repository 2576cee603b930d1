// The structure block behind BindingProperty's structure kind, and iteration
// over members. Included at the end of binding_property.h.
#pragma once

#include <map>
#include <new>
#include <utility>

#include "binding/binding_storage.h"

namespace Tesk::BindingInternal {

// Allocates a container's nodes from a tree's storage.
template <class T>
class StorageAllocator {
 public:
  using value_type = T;
  explicit StorageAllocator(BindingStorage* storage) noexcept : storage_(storage) {}
  template <class U>
  StorageAllocator(const StorageAllocator<U>& other) noexcept : storage_(other.storage()) {}

  T* allocate(size_t count) { return static_cast<T*>(storage_->AllocateBlock(count * sizeof(T))); }
  void deallocate(T* block, size_t count) noexcept {
    storage_->FreeBlock(block, count * sizeof(T));
  }
  [[nodiscard]] BindingStorage* storage() const noexcept { return storage_; }

  template <class U>
  bool operator==(const StorageAllocator<U>& other) const noexcept {
    return storage_ == other.storage();
  }

 private:
  BindingStorage* storage_;
};

using MemberMap = std::map<InternedString*, BindingProperty, NameLess,
                           StorageAllocator<std::pair<InternedString* const, BindingProperty>>>;

struct StructureBlock {
  explicit StructureBlock(BindingStorage* storage)
      : members(NameLess(), MemberMap::allocator_type(storage)) {}
  MemberMap members;
};

}  // namespace Tesk::BindingInternal

namespace Tesk {

// One member seen through iteration: its name and its value.
struct BindingProperty::MemberView {
  std::string_view name;
  const BindingProperty& value;
};

class BindingProperty::MemberIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = MemberView;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = MemberView;

  MemberIterator() = default;
  explicit MemberIterator(BindingInternal::MemberMap::const_iterator at) : at_(at) {}
  MemberView operator*() const { return {at_->first->View(), at_->second}; }
  MemberIterator& operator++() {
    ++at_;
    return *this;
  }
  MemberIterator operator++(int) {
    MemberIterator before = *this;
    ++at_;
    return before;
  }
  bool operator==(const MemberIterator& other) const { return at_ == other.at_; }

 private:
  BindingInternal::MemberMap::const_iterator at_;
};

class BindingProperty::MemberRange {
 public:
  MemberRange() = default;
  explicit MemberRange(const BindingInternal::MemberMap* map) : map_(map) {}
  [[nodiscard]] MemberIterator begin() const {
    return map_ != nullptr ? MemberIterator(map_->begin()) : MemberIterator();
  }
  [[nodiscard]] MemberIterator end() const {
    return map_ != nullptr ? MemberIterator(map_->end()) : MemberIterator();
  }
  [[nodiscard]] bool empty() const { return map_ == nullptr || map_->empty(); }
  [[nodiscard]] size_t size() const { return map_ != nullptr ? map_->size() : 0; }

 private:
  const BindingInternal::MemberMap* map_ = nullptr;
};

}  // namespace Tesk
