// The packed, pointer-linked description of a plug-in's API that the host
// reads: functions with their arguments, types with their fields or
// enumerators, and events. Texts are NUL-terminated and owned by whoever built
// the description; every list is linked through its records' first word (0
// after the last record) and also given as a pointer to its first record and
// a count.
#pragma once

#include <cstdint>

#include "host-abi/host_call.h"
#include "host-abi/host_requests.h"

namespace Tesk {

#pragma pack(push, 1)

struct ApiArgumentRecord {
  ApiArgumentRecord* next;  // +0
  const char* name;         // +4
  const char* description;  // +8
  uint32_t type;            // +12, value type code, 0 outside 1 to 19
  uint32_t elementType;     // +16
  const char* typeName;     // +20, the record's name for vector, enum, struct, map; else ""
  uint8_t optional;         // +24
};

struct ApiFunctionRecord {
  ApiFunctionRecord* next;       // +0
  uint32_t reserved;             // +4, zero
  void* dispatchContext;         // +8, zero here; the function table's dispatch context
  const char* name;              // +12
  const char* nameSpace;         // +16
  ApiArgumentRecord* arguments;  // +20
  uint32_t argumentCount;        // +24
  uint32_t returnType;           // +28
  uint32_t returnElementType;    // +32
  const char* returnTypeName;    // +36
  const char* description;       // +40
  const char* help;              // +44
  uint8_t threadSafe;            // +48
  const char* asyncTypeName;     // +49, the asynchronous result's type name, or ""
  const char* const* tags;       // +53
  uint32_t tagCount;             // +57
};

struct ApiFieldRecord {
  ApiFieldRecord* next;     // +0
  const char* name;         // +4
  const char* description;  // +8
  uint32_t offset;          // +12
  uint32_t type;            // +16
  uint32_t elementType;     // +20
  const char* typeName;     // +24
  uint8_t optional;         // +28
};

struct ApiEnumeratorRecord {
  ApiEnumeratorRecord* next;  // +0
  const char* name;           // +4
  const char* description;    // +8
  int32_t value;              // +12
};

struct ApiTypeRecord {
  ApiTypeRecord* next;               // +0
  const char* name;                  // +4
  const char* nameSpace;             // +8
  uint32_t size;                     // +12
  const char* description;           // +16
  const char* const* tags;           // +20
  uint32_t tagCount;                 // +24
  ApiFieldRecord* fields;            // +28, set for a type with fields
  ApiEnumeratorRecord* enumerators;  // +32, set otherwise
  uint32_t memberCount;              // +36, of whichever is set
};

struct ApiEventRecord {
  ApiEventRecord* next;     // +0
  const char* name;         // +4
  const char* nameSpace;    // +8
  const char* payloadType;  // +12, the payload type's name
  const char* description;  // +16
  const char* const* tags;  // +20
  uint32_t tagCount;        // +24
};

// The header of the description (and of the function table, whose function
// records are FunctionTableRecord).
struct ApiDescriptionHeader {
  void* functions;         // +0
  uint32_t functionCount;  // +4
  ApiTypeRecord* types;    // +8
  uint32_t typeCount;      // +12
  ApiEventRecord* events;  // +16
  uint32_t eventCount;     // +20
};

// One entry of a function table record's parameter-location list.
struct ApiLocationEntry {
  ApiLocationEntry* next;  // +0
  uint32_t location;       // +4, 1 to 5, anything else 0
};

// One entry of the list of texts at +78 of a function table record.
struct ApiTextListEntry {
  ApiTextListEntry* next;    // +0
  const char* const* texts;  // +4
  uint32_t count;            // +8
};

// A function the host routes requests to: the description's function record
// (with the dispatch context at +8) followed by the route.
struct FunctionTableRecord {
  ApiFunctionRecord function;       // +0, next links FunctionTableRecords
  RequestCallback requestCallback;  // +61
  ApiLocationEntry* locations;      // +65, one entry per parameter
  const char* urlTemplate;          // +69
  uint32_t method;                  // +73, 1 to 8, anything else 0
  uint8_t flag;                     // +77
  ApiTextListEntry* textLists;      // +78
  uint32_t textListCount;           // +82
  const char* customMethod;         // +86
};

#pragma pack(pop)

KTX_RECORD_OFFSET(ApiArgumentRecord, typeName, 20);
KTX_RECORD_SIZE(ApiArgumentRecord, 25);
KTX_RECORD_OFFSET(ApiFunctionRecord, dispatchContext, 8);
KTX_RECORD_OFFSET(ApiFunctionRecord, name, 12);
KTX_RECORD_OFFSET(ApiFunctionRecord, nameSpace, 16);
KTX_RECORD_OFFSET(ApiFunctionRecord, arguments, 20);
KTX_RECORD_OFFSET(ApiFunctionRecord, argumentCount, 24);
KTX_RECORD_OFFSET(ApiFunctionRecord, returnType, 28);
KTX_RECORD_OFFSET(ApiFunctionRecord, returnElementType, 32);
KTX_RECORD_OFFSET(ApiFunctionRecord, returnTypeName, 36);
KTX_RECORD_OFFSET(ApiFunctionRecord, description, 40);
KTX_RECORD_OFFSET(ApiFunctionRecord, help, 44);
KTX_RECORD_OFFSET(ApiFunctionRecord, threadSafe, 48);
KTX_RECORD_OFFSET(ApiFunctionRecord, asyncTypeName, 49);
KTX_RECORD_OFFSET(ApiFunctionRecord, tags, 53);
KTX_RECORD_OFFSET(ApiFunctionRecord, tagCount, 57);
KTX_RECORD_SIZE(ApiFunctionRecord, 61);
KTX_RECORD_OFFSET(ApiFieldRecord, offset, 12);
KTX_RECORD_OFFSET(ApiFieldRecord, typeName, 24);
KTX_RECORD_SIZE(ApiFieldRecord, 29);
KTX_RECORD_OFFSET(ApiEnumeratorRecord, value, 12);
KTX_RECORD_SIZE(ApiEnumeratorRecord, 16);
KTX_RECORD_OFFSET(ApiTypeRecord, size, 12);
KTX_RECORD_OFFSET(ApiTypeRecord, tagCount, 24);
KTX_RECORD_OFFSET(ApiTypeRecord, fields, 28);
KTX_RECORD_OFFSET(ApiTypeRecord, enumerators, 32);
KTX_RECORD_OFFSET(ApiTypeRecord, memberCount, 36);
KTX_RECORD_SIZE(ApiTypeRecord, 40);
KTX_RECORD_OFFSET(ApiEventRecord, payloadType, 12);
KTX_RECORD_OFFSET(ApiEventRecord, tagCount, 24);
KTX_RECORD_SIZE(ApiEventRecord, 28);
KTX_RECORD_OFFSET(ApiDescriptionHeader, events, 16);
KTX_RECORD_SIZE(ApiDescriptionHeader, 24);
KTX_RECORD_SIZE(ApiLocationEntry, 8);
KTX_RECORD_SIZE(ApiTextListEntry, 12);
KTX_RECORD_OFFSET(FunctionTableRecord, requestCallback, 61);
KTX_RECORD_OFFSET(FunctionTableRecord, locations, 65);
KTX_RECORD_OFFSET(FunctionTableRecord, urlTemplate, 69);
KTX_RECORD_OFFSET(FunctionTableRecord, method, 73);
KTX_RECORD_OFFSET(FunctionTableRecord, flag, 77);
KTX_RECORD_OFFSET(FunctionTableRecord, textLists, 78);
KTX_RECORD_OFFSET(FunctionTableRecord, textListCount, 82);
KTX_RECORD_OFFSET(FunctionTableRecord, customMethod, 86);
KTX_RECORD_SIZE(FunctionTableRecord, 90);

}  // namespace Tesk
