// MessagePack to BindingProperty: a reader only (the system never writes
// MessagePack), and the check the request dispatcher uses to guess a body's format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "binding/binding_property.h"

namespace Tesk {

// The deepest nesting of arrays and maps an input may have.
inline constexpr unsigned kMaxMessagePackDepth = 512;

struct MessagePackReadResult {
  // On failure the structure {"error": message}; messages carry byte positions.
  BindingResult result;
  // How far the reader got: the offset after the root value when it is
  // complete. Bytes from here on were not read; the caller decides whether
  // they are an error.
  size_t position = 0;
};

// Reads one value from `bytes` (which may be null when `count` is 0); nothing
// beyond `count` is read and nothing is kept after the call. Empty input gives
// an ok, empty root. Input that ends inside an array or map is not an error:
// the containers keep the items read so far. Keys repeated in one map address
// the same member (later scalars overwrite it, nil leaves it, a later map
// merges into it, a later array overwrites its elements index by index).
// Extension types are refused. Throws only std::bad_alloc, and
// std::length_error for a collection beyond kMaxCollectionSize.
[[nodiscard]] MessagePackReadResult ReadMessagePack(const uint8_t* bytes, size_t count);
[[nodiscard]] inline MessagePackReadResult ReadMessagePack(std::span<const uint8_t> bytes) {
  return ReadMessagePack(bytes.data(), bytes.size());
}
[[nodiscard]] inline MessagePackReadResult ReadMessagePack(std::string_view bytes) {
  return ReadMessagePack(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// True when the input starts with a container header: a fixmap or fixarray
// (0x80-0x9F), or an array or map with a 16- or 32-bit count (0xDC-0xDF).
[[nodiscard]] bool LooksLikeMessagePack(const uint8_t* bytes, size_t count);

}  // namespace Tesk
