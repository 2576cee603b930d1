// HostValue: the 12-byte tagged plain value in which values cross the host
// boundary, with the member and argument records built from it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host-abi/host_call.h"

namespace Tesk {

enum class HostValueTag : uint32_t {
  Empty = 0,
  Bool = 1,
  Signed = 2,
  Unsigned = 3,
  Float = 4,
  String = 5,       // text not owned
  OwnedString = 6,  // text owned, with its length
  Blob = 7,         // bytes not owned
  OwnedBlob = 8,
  Collection = 9,  // owned array of HostValue
  Structure = 10,  // owned array of HostValueMember
};

#pragma pack(push, 1)
struct HostValueMember;

struct HostValue {
  uint32_t tag;  // +0, a HostValueTag
  union {        // +4, 8 bytes
    uint8_t boolean;
    int64_t signedValue;
    uint64_t unsignedValue;
    double floatValue;
    struct {
      const char* text;
      uint32_t length;
    } string;
    struct {
      const uint8_t* bytes;
      uint32_t length;
    } blob;
    struct {
      HostValue* items;
      uint32_t count;
    } collection;
    struct {
      HostValueMember* members;
      uint32_t count;
    } structure;
    uint8_t raw[8];
  };
};

struct HostValueMember {
  const char* name;   // +0, NUL-terminated
  HostValue value;    // +4
  uint8_t nameOwned;  // +16, 1 when `name` is owned
};

// An argument of a request record: a name (null for a positional argument)
// and its value.
struct HostArgument {
  const char* name;  // +0
  HostValue value;   // +4
};

// A (name, value) pair of NUL-terminated texts: request and response headers.
struct HostHeader {
  const char* name;
  const char* value;
};
#pragma pack(pop)

KTX_RECORD_SIZE(HostValue, 12);
KTX_RECORD_OFFSET(HostValue, string.length, 8);
KTX_RECORD_SIZE(HostValueMember, 17);
KTX_RECORD_OFFSET(HostValueMember, nameOwned, 16);
KTX_RECORD_SIZE(HostArgument, 16);
KTX_RECORD_SIZE(HostHeader, 8);

}  // namespace Tesk
