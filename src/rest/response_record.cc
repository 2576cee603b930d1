#include "rest/response_record.h"

#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "binding/host_value_conversion.h"
#include "diagnostics/format.h"
#include "diagnostics/sdk_allocator.h"
#include "rest/dispatch_messages.h"

namespace Tesk {
namespace {

char* CopyText(std::string_view text) {
  char* copy = static_cast<char*>(Memory::Allocate(text.size() + 1));
  if (copy == nullptr) throw std::bad_alloc();
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

void CopyHeaders(ResponseRecord* response, const std::map<std::string, std::string>& headers) {
  if (headers.empty()) return;
  auto* pairs = static_cast<HostHeader*>(Memory::Allocate(sizeof(HostHeader) * headers.size()));
  if (pairs == nullptr) throw std::bad_alloc();
  std::memset(pairs, 0, sizeof(HostHeader) * headers.size());
  // Counted as filled so that a failure part-way frees what was made.
  response->headers = pairs;
  for (const auto& [name, value] : headers) {
    HostHeader& pair = pairs[response->headerCount++];
    pair.name = CopyText(name);
    pair.value = CopyText(value);
  }
}

}  // namespace

void ResetResponseRecord(ResponseRecord* response) {
  if (response->release != nullptr) response->release(response);
  std::memset(static_cast<void*>(response), 0, sizeof(ResponseRecord));
  response->release = &ReleaseResponseRecord;
}

void SetResponseError(ResponseRecord* response, std::string_view message, uint32_t httpStatus) {
  ReleaseHostValue(response->result);
  if (response->failed != 0) Memory::Free(response->errorText);
  response->errorText = CopyText(message);
  response->failed = 1;
  response->httpStatus = httpStatus;
}

void FillResponseRecord(ResponseRecord* response, BindingCallResult& call,
                        const BindingRegistry* registry) {
  uint32_t status = call.response.httpStatus;
  if (!call.result.ok) {
    SetResponseError(response, call.result.ErrorText(), status);
  } else {
    try {
      response->result = ToHostValue(call.result.value, registry);
    } catch (const std::bad_alloc&) {
      SetResponseError(response, Format(DispatchMessages::kRequestFailed, "out of memory"), 400);
      status = 400;
    }
  }
  response->responseFormatFlag = call.response.responseFormatFlag;
  const uint32_t format = call.response.responseFormat;
  response->responseFormat = format >= 1 && format <= 3 ? format : 0;
  response->httpStatus = status;
  if (!call.response.text.empty()) response->text = CopyText(call.response.text);
  CopyHeaders(response, call.headers);
  if (call.HasBodyStream()) {
    const BindingBodyStream stream = call.TakeBodyStream();
    response->stream = stream.object;
    response->streamSizeHint = stream.size;
    response->streamRead = stream.read;
    response->streamRelease = stream.release;
  }
}

void KTX_HOST_CALL ReleaseResponseRecord(ResponseRecord* response) {
  if (response == nullptr) return;
  ReleaseHostValue(response->result);
  if (response->failed != 0) Memory::Free(response->errorText);
  Memory::Free(response->text);
  for (uint32_t i = 0; response->headers != nullptr && i < response->headerCount; ++i) {
    Memory::Free(const_cast<char*>(response->headers[i].name));
    Memory::Free(const_cast<char*>(response->headers[i].value));
  }
  Memory::Free(response->headers);
  std::memset(static_cast<void*>(response), 0, sizeof(ResponseRecord));
}

}  // namespace Tesk
