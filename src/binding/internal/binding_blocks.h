// The blocks behind the heap-backed kinds of BindingProperty, all taken from
// the tree's BindingStorage. Internal to the binding layer: code outside it
// uses BindingProperty's interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

namespace Tesk {
class BindingProperty;
class BindingStorage;
struct TypeKey;
}  // namespace Tesk

namespace Tesk::BindingInternal {

// One entry of a storage's table of member names; the text follows the header.
struct InternedString {
  // The first eight bytes read big-endian, zero beyond the name's end: names
  // (which hold no NUL) order as these keys do wherever the keys differ.
  uint64_t orderKey;
  uint32_t hash;
  uint32_t references;
  uint32_t length;
  char text[1];  // length bytes and a NUL

  [[nodiscard]] std::string_view View() const { return {text, length}; }
  [[nodiscard]] static size_t BlockSize(uint32_t length) {
    return offsetof(InternedString, text) + length + 1;
  }
};

// The shared entry of the empty text, in every storage; never counted.
[[nodiscard]] InternedString* EmptyInterned();

// Byte-wise order of names, as unsigned bytes (the order of strcmp).
struct NameLess {
  static int Compare(std::string_view a, std::string_view b) {
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    size_t i = 0;
    // Eight bytes at a time while both have them: names that share a long
    // prefix ("profile_background_color", "profile_background_image") are
    // common. Read big-endian, the words order as their bytes do.
    for (; i + 8 <= common; i += 8) {
      uint64_t x;
      uint64_t y;
      std::memcpy(&x, a.data() + i, 8);
      std::memcpy(&y, b.data() + i, 8);
      if (x != y) {
        x = __builtin_bswap64(x);
        y = __builtin_bswap64(y);
        return x < y ? -1 : 1;
      }
    }
    for (; i < common; ++i) {
      const auto x = static_cast<unsigned char>(a[i]);
      const auto y = static_cast<unsigned char>(b[i]);
      if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
  }
};

// The order key of a name (see InternedString::orderKey).
inline uint64_t NameOrderKey(std::string_view name) {
  uint64_t word = 0;
  if (!name.empty()) std::memcpy(&word, name.data(), name.size() < 8 ? name.size() : 8);
  return __builtin_bswap64(word);
}

// Byte-wise order of an interned name and `name`, whose order key is `key`:
// the keys decide unless they are equal and a name is longer than a key.
inline int CompareNames(const InternedString& a, uint64_t key, std::string_view name) {
  if (a.orderKey != key) return a.orderKey < key ? -1 : 1;
  if (a.length <= 8 && name.size() <= 8) return 0;  // equal keys, no NUL: equal names
  return NameLess::Compare(a.View(), name);
}

inline bool NameBefore(const InternedString& a, const InternedString& b) {
  if (a.orderKey != b.orderKey) return a.orderKey < b.orderKey;
  return NameLess::Compare(a.View(), b.View()) < 0;
}

// A string value too long to be held inside the value itself.
struct StringBlock {
  uint32_t length;
  char text[1];  // length bytes and a NUL

  [[nodiscard]] std::string_view View() const { return {text, length}; }
  [[nodiscard]] static size_t BlockSize(uint32_t length) {
    return offsetof(StringBlock, text) + length + 1;
  }
};

struct BlobBlock {
  uint32_t size;
  uint8_t bytes[4];  // size bytes

  [[nodiscard]] static size_t BlockSize(uint32_t size) {
    return offsetof(BlobBlock, bytes) + (size != 0 ? size : 1);
  }
};

struct EnumCell {
  int32_t value;
  const TypeKey* type;
};

// The header of a collection's or a structure's array: the items follow it,
// 8-byte aligned. A container with no capacity points to the shared empty
// header (never written), so that an empty container costs no block.
struct ArrayHeader {
  uint32_t size;
  uint32_t capacity;
};

// The shared header of every empty container.
[[nodiscard]] ArrayHeader* EmptyArray();

// The bytes of an array block of `capacity` items of `itemBytes` each, header
// included. Computed in 64 bits, so that a large count never wraps the size on
// a 32-bit target; a size the address space cannot hold throws std::bad_alloc.
[[nodiscard]] inline size_t ArrayBlockBytes(uint32_t capacity, size_t itemBytes) {
  const uint64_t bytes = sizeof(ArrayHeader) + uint64_t{capacity} * itemBytes;
  if (bytes > SIZE_MAX) throw std::bad_alloc();
  return static_cast<size_t>(bytes);
}

}  // namespace Tesk::BindingInternal
