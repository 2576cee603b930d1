// BindingCallResult: what a call of an exposed function produces, beside its
// value: the HTTP status and response fields a REST handler sets, its response
// headers, and an optional body stream that the host reads instead of a value.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "binding/binding_property.h"
#include "host-abi/host_requests.h"

namespace Tesk {

// A body the host reads in pieces through `read` and frees through `release`.
struct BindingBodyStream {
  void* object = nullptr;
  uint32_t size = 0;  // expected size in bytes, a hint
  StreamReadFunction read = nullptr;
  StreamReleaseFunction release = nullptr;
};

// The response fields a handler may set; the dispatcher copies them to the host
// unchanged.
struct BindingResponseFields {
  uint8_t responseFormatFlag = 0;
  uint32_t responseFormat = 0;  // 1 to 3; anything else reaches the host as 0
  uint32_t httpStatus = 0;      // 0: not set
  std::string text{};
};

class BindingCallResult {
 public:
  BindingCallResult() = default;
  BindingCallResult(const BindingCallResult&) = delete;
  BindingCallResult& operator=(const BindingCallResult&) = delete;
  // Releases a body stream it still owns.
  ~BindingCallResult();

  // Takes ownership of `stream`, releasing one held before.
  void AttachBodyStream(const BindingBodyStream& stream);
  // Releases the body stream, if any, through its release function.
  void ReleaseBodyStream() noexcept;
  // Hands the body stream over; the result no longer owns it.
  [[nodiscard]] BindingBodyStream TakeBodyStream();
  [[nodiscard]] bool HasBodyStream() const { return bodyStream_.object != nullptr; }

  BindingResult result;
  BindingResponseFields response;
  std::map<std::string, std::string> headers;

 private:
  BindingBodyStream bodyStream_{};
};

}  // namespace Tesk
