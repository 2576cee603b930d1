// The registry's map from 32-bit type ids to type records: chained buckets, a
// power-of-two bucket count, the bucket chosen by the FNV-1a hash of the id's
// four bytes (lowest first) masked by the bucket count minus one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Tesk {

struct BindingTypeInfo;

namespace BindingInternal {

class TypeIdMap {
 public:
  [[nodiscard]] static uint32_t Hash(uint32_t id) {
    uint32_t hash = 2166136261u;
    for (int byte = 0; byte < 4; ++byte) {
      hash ^= (id >> (8 * byte)) & 0xFF;
      hash *= 16777619u;
    }
    return hash;
  }

  // Null when absent.
  [[nodiscard]] BindingTypeInfo* Find(uint32_t id) const {
    if (buckets_.empty()) return nullptr;
    for (const Entry& entry : buckets_[Hash(id) & (buckets_.size() - 1)]) {
      if (entry.id == id) return entry.record;
    }
    return nullptr;
  }

  // Enters `record` unless the id is present already; false when it was.
  bool Insert(uint32_t id, BindingTypeInfo* record) {
    if (Find(id) != nullptr) return false;
    if (size_ + 1 > buckets_.size()) Grow();
    buckets_[Hash(id) & (buckets_.size() - 1)].push_back(Entry{id, record});
    ++size_;
    return true;
  }

  [[nodiscard]] size_t Size() const { return size_; }

 private:
  struct Entry {
    uint32_t id;
    BindingTypeInfo* record;
  };

  void Grow() {
    std::vector<std::vector<Entry>> grown(buckets_.empty() ? 16 : buckets_.size() * 2);
    for (const std::vector<Entry>& chain : buckets_) {
      for (const Entry& entry : chain) grown[Hash(entry.id) & (grown.size() - 1)].push_back(entry);
    }
    buckets_.swap(grown);
  }

  std::vector<std::vector<Entry>> buckets_;
  size_t size_ = 0;
};

}  // namespace BindingInternal

}  // namespace Tesk
