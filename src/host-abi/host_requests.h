// Request and response records exchanged with the host: outgoing API requests
// (form 1, CoreInterface function 0), outgoing HTTP requests (form 2,
// CoreInterface function 1), and incoming requests for the plug-in's functions.
#pragma once

#include "host-abi/host_value.h"

namespace Tesk {

#pragma pack(push, 1)
struct ResponseRecord;

// Reads up to *size bytes of a streamed response into `buffer`; sets *size to
// the bytes read and *moreData to whether the stream goes on.
using StreamReadFunction = uint8_t(KTX_HOST_CALL*)(void* stream, char* buffer, uint32_t* size,
                                                   uint8_t* moreData);
using StreamReleaseFunction = void(KTX_HOST_CALL*)(void* stream);
// Frees what the side that filled the record owns in it.
using ResponseReleaseFunction = void(KTX_HOST_CALL*)(ResponseRecord* response);

// Form 1: an API request to the host or another plug-in. Zero unless listed.
struct ApiRequestRecord {
  uint32_t method;          // +0, method code
  const char* url;          // +4
  HostArgument* arguments;  // +8
  uint32_t argumentCount;   // +12
  uint8_t reserved[24];     // +16, zero
  uint32_t pluginHandle;    // +40
  uint32_t reserved2;       // +44, zero
};

// The answer to a form 1 request, and what the plug-in fills for an incoming
// request. Zeroed by the caller; filled by the callee, which also sets
// `release` to free what it owns in the record.
struct ResponseRecord {
  HostValue result;                     // +0
  char* errorText;                      // +12, not null means failure
  uint8_t failed;                       // +16
  uint8_t responseFormatFlag;           // +17
  uint32_t responseFormat;              // +18, 0 to 3
  uint32_t httpStatus;                  // +22
  char* text;                           // +26
  HostHeader* headers;                  // +30
  uint32_t headerCount;                 // +34
  StreamReadFunction streamRead;        // +38
  StreamReleaseFunction streamRelease;  // +42
  uint32_t streamSizeHint;              // +46
  uint32_t reserved;                    // +50, zero
  void* stream;                         // +54, its content is the result as JSON text
  ResponseReleaseFunction release;      // +58
};

struct HttpResponseRecord;
using HttpResponseReleaseFunction = void(KTX_HOST_CALL*)(HttpResponseRecord* response);

// Form 2: an HTTP request to a remote web service.
struct HttpRequestRecord {
  uint32_t method;               // +0
  const char* url;               // +4
  const HostHeader* headers;     // +8
  uint32_t headerCount;          // +12
  const char* body;              // +16
  uint32_t bodyLength;           // +20
  uint32_t timeout;              // +24
  uint8_t flag;                  // +28
  uint8_t reserved[3];           // +29, zero
  uint32_t reserved2;            // +32, zero
  uint8_t reserved3;             // +36, zero
  uint8_t reserved4[3];          // +37, zero
  HttpResponseRecord* response;  // +40
  uint8_t one;                   // +44, always 1
  uint8_t reserved5[3];          // +45, zero
};

// The answer to a form 2 request, filled by the host.
struct HttpResponseRecord {
  uint32_t resultCode;                  // +0, 0 success
  uint32_t httpStatus;                  // +4
  HostHeader* headers;                  // +8
  uint32_t headerCount;                 // +12
  char* body;                           // +16
  int32_t bodyLength;                   // +20
  HttpResponseReleaseFunction release;  // +24
};

// An incoming request for one of the plug-in's published functions.
struct IncomingRequestRecord {
  uint32_t method;                // +0
  const char* url;                // +4, path and query
  const HostArgument* arguments;  // +8
  uint32_t argumentCount;         // +12
  void* dispatchContext;          // +16, as published in the function table
  const HostHeader* headers;      // +20
  uint32_t headerCount;           // +24
  const char* contentType;        // +28
  const char* body;               // +32, null when there is no body
  uint32_t bodyLength;            // +36
  uint32_t requestId;             // +40
  const char* customMethod;       // +44, read only for method code 8
};
#pragma pack(pop)

KTX_RECORD_OFFSET(ApiRequestRecord, pluginHandle, 40);
KTX_RECORD_SIZE(ApiRequestRecord, 48);

KTX_RECORD_OFFSET(ResponseRecord, errorText, 12);
KTX_RECORD_OFFSET(ResponseRecord, failed, 16);
KTX_RECORD_OFFSET(ResponseRecord, responseFormatFlag, 17);
KTX_RECORD_OFFSET(ResponseRecord, responseFormat, 18);
KTX_RECORD_OFFSET(ResponseRecord, httpStatus, 22);
KTX_RECORD_OFFSET(ResponseRecord, text, 26);
KTX_RECORD_OFFSET(ResponseRecord, headers, 30);
KTX_RECORD_OFFSET(ResponseRecord, headerCount, 34);
KTX_RECORD_OFFSET(ResponseRecord, streamRead, 38);
KTX_RECORD_OFFSET(ResponseRecord, streamRelease, 42);
KTX_RECORD_OFFSET(ResponseRecord, streamSizeHint, 46);
KTX_RECORD_OFFSET(ResponseRecord, stream, 54);
KTX_RECORD_OFFSET(ResponseRecord, release, 58);
KTX_RECORD_SIZE(ResponseRecord, 62);

KTX_RECORD_OFFSET(HttpRequestRecord, headers, 8);
KTX_RECORD_OFFSET(HttpRequestRecord, body, 16);
KTX_RECORD_OFFSET(HttpRequestRecord, timeout, 24);
KTX_RECORD_OFFSET(HttpRequestRecord, flag, 28);
KTX_RECORD_OFFSET(HttpRequestRecord, reserved2, 32);
KTX_RECORD_OFFSET(HttpRequestRecord, reserved3, 36);
KTX_RECORD_OFFSET(HttpRequestRecord, response, 40);
KTX_RECORD_OFFSET(HttpRequestRecord, one, 44);
KTX_RECORD_SIZE(HttpRequestRecord, 48);

KTX_RECORD_OFFSET(HttpResponseRecord, body, 16);
KTX_RECORD_OFFSET(HttpResponseRecord, bodyLength, 20);
KTX_RECORD_OFFSET(HttpResponseRecord, release, 24);
KTX_RECORD_SIZE(HttpResponseRecord, 28);

KTX_RECORD_OFFSET(IncomingRequestRecord, dispatchContext, 16);
KTX_RECORD_OFFSET(IncomingRequestRecord, contentType, 28);
KTX_RECORD_OFFSET(IncomingRequestRecord, requestId, 40);
KTX_RECORD_OFFSET(IncomingRequestRecord, customMethod, 44);
KTX_RECORD_SIZE(IncomingRequestRecord, 48);

// Host-facing request callback of the function table: fills `response`.
using RequestCallback = void(KTX_HOST_CALL*)(ResponseRecord* response,
                                             const IncomingRequestRecord* request);

}  // namespace Tesk
