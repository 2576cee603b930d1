// The calling convention of every plain function exchanged with the host.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define KTX_HOST_CALL __cdecl
#else
#define KTX_HOST_CALL
#endif

// Checks a record's layout on the 32-bit targets, where it is the host's ABI.
#define KTX_RECORD_OFFSET(Record, field, offset) \
  static_assert(sizeof(void*) != 4 || offsetof(Record, field) == (offset), #Record "::" #field)
#define KTX_RECORD_SIZE(Record, size) \
  static_assert(sizeof(void*) != 4 || sizeof(Record) == (size), "sizeof " #Record)
