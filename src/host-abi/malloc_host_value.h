// Releasing a host value that a host built with malloc: its owned texts and
// blobs, its arrays of items and members, and the member names it owns.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "host-abi/host_value.h"

namespace Tesk {

// Frees what `value` owns and leaves it empty. For values a host (or a test
// standing in for one) made itself, whose nesting it bounds: the walk recurses
// once per level.
inline void FreeMallocHostValue(HostValue& value) {
  switch (static_cast<HostValueTag>(value.tag)) {
    case HostValueTag::OwnedString:
      std::free(const_cast<char*>(value.string.text));
      break;
    case HostValueTag::OwnedBlob:
      std::free(const_cast<uint8_t*>(value.blob.bytes));
      break;
    case HostValueTag::Collection:
      for (uint32_t i = 0; i < value.collection.count; ++i) {
        FreeMallocHostValue(value.collection.items[i]);
      }
      std::free(value.collection.items);
      break;
    case HostValueTag::Structure:
      for (uint32_t i = 0; i < value.structure.count; ++i) {
        HostValueMember& member = value.structure.members[i];
        if (member.nameOwned != 0) std::free(const_cast<char*>(member.name));
        FreeMallocHostValue(member.value);
      }
      std::free(value.structure.members);
      break;
    case HostValueTag::Empty:
    case HostValueTag::Bool:
    case HostValueTag::Signed:
    case HostValueTag::Unsigned:
    case HostValueTag::Float:
    case HostValueTag::String:
    case HostValueTag::Blob:
      break;
  }
  value = HostValue{};
}

}  // namespace Tesk
