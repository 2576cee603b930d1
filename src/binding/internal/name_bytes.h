// Byte helpers for member names and short texts, word at a time: finding the
// first NUL, hashing a name for a storage's name table, comparing and copying
// a few bytes without a call into the C library. Every load stays inside the
// text (short texts are read as two overlapping words).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace Tesk::BindingInternal {

[[gnu::always_inline]] inline uint64_t LoadWord(const char* at) {
  uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

[[gnu::always_inline]] inline uint32_t LoadHalf(const char* at) {
  uint32_t half;
  std::memcpy(&half, at, sizeof half);
  return half;
}

[[gnu::always_inline]] inline bool HasZeroByte(uint64_t word) {
  return ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0;
}

[[gnu::always_inline]] inline bool HasZeroByte(uint32_t half) {
  return ((half - 0x01010101u) & ~half & 0x80808080u) != 0;
}

// The length of `text` up to its first NUL.
[[gnu::always_inline]] inline size_t LengthToNul(std::string_view text) {
  const char* at = text.data();
  const size_t size = text.size();
  size_t i = 0;
  if (size >= 8) {
    for (; i + 8 < size; i += 8) {
      if (HasZeroByte(LoadWord(at + i))) break;
    }
    if (i + 8 >= size && !HasZeroByte(LoadWord(at + size - 8))) return size;
  } else if (size >= 4) {
    if (!HasZeroByte(LoadHalf(at)) && !HasZeroByte(LoadHalf(at + size - 4))) return size;
  }
  for (; i < size; ++i) {
    if (at[i] == '\0') return i;
  }
  return size;
}

[[gnu::always_inline]] inline std::string_view CutAtNul(std::string_view text) {
  return {text.data(), LengthToNul(text)};
}

// The hash of a name in a storage's name table (any text without NUL). Only
// that table sees it, so it is chosen for speed: a word at a time.
[[gnu::always_inline]] inline uint32_t NameHash(std::string_view name) {
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
  const char* at = name.data();
  const size_t size = name.size();
  uint64_t hash = size * kMultiplier;
  if (size >= 8) {
    size_t i = 0;
    for (; i + 8 < size; i += 8) hash = (hash ^ LoadWord(at + i)) * kMultiplier;
    hash = (hash ^ LoadWord(at + size - 8)) * kMultiplier;
  } else if (size >= 4) {
    const uint64_t word = (uint64_t{LoadHalf(at)} << 32) | LoadHalf(at + size - 4);
    hash = (hash ^ word) * kMultiplier;
  } else if (size > 0) {
    const uint64_t word = static_cast<unsigned char>(at[0]) |
                          (uint64_t{static_cast<unsigned char>(at[size / 2])} << 8) |
                          (uint64_t{static_cast<unsigned char>(at[size - 1])} << 16);
    hash = (hash ^ word) * kMultiplier;
  }
  hash ^= hash >> 29;
  hash *= 0xBF58476D1CE4E5B9ull;
  return static_cast<uint32_t>(hash >> 32);
}

[[gnu::always_inline]] inline bool SameBytes(const char* a, const char* b, size_t count) {
  if (count >= 8) {
    size_t i = 0;
    for (; i + 8 < count; i += 8) {
      if (LoadWord(a + i) != LoadWord(b + i)) return false;
    }
    return LoadWord(a + count - 8) == LoadWord(b + count - 8);
  }
  if (count >= 4) {
    return LoadHalf(a) == LoadHalf(b) && LoadHalf(a + count - 4) == LoadHalf(b + count - 4);
  }
  for (size_t i = 0; i < count; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// Copies up to 16 bytes: two overlapping words cover the range.
[[gnu::always_inline]] inline void CopyShort(char* to, const char* from, size_t count) {
  if (count >= 8) {
    const uint64_t head = LoadWord(from);
    const uint64_t tail = LoadWord(from + count - 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + count - 8, &tail, 8);
  } else if (count >= 4) {
    const uint32_t head = LoadHalf(from);
    const uint32_t tail = LoadHalf(from + count - 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + count - 4, &tail, 4);
  } else {
    for (size_t i = 0; i < count; ++i) to[i] = from[i];
  }
}

}  // namespace Tesk::BindingInternal
