// Sending one request through a published function's request callback, as a
// host does, and checking the response record's contract; shared by the
// dispatch fuzz targets.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "binding/binding_registry.h"
#include "binding/builtin_types.h"
#include "rest/request_dispatch.h"
#include "rest/response_record.h"

namespace KtxFuzz {

inline void Require(bool condition, const char* target, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "%s: %s\n", target, what);
  std::abort();
}

// A registry with the SDK's builtin types and one function that `declare`
// registers and returns, published as a host would reach it.
struct PublishedFunction {
  template <class Declare>
  explicit PublishedFunction(Declare declare) {
    registry.Initialize(&Tesk::RegisterBindingBuiltins);
    const Tesk::BindingFunctionInfo* function = declare(registry);
    context.registry = &registry;
    context.function = function;
    context.route = Tesk::CompileFunctionRoute(*function);
  }
  Tesk::BindingRegistry registry;
  Tesk::DispatchContext context;
};

struct DispatchAnswer {
  bool failed = false;
  uint32_t status = 0;
};

// Sends the request to `context`'s function. Every answer is a value or an
// error text, with the dispatcher's releaser, and is released once.
inline DispatchAnswer Dispatch(const char* target, Tesk::DispatchContext& context, uint32_t method,
                               const std::string& url, std::span<const Tesk::HostHeader> headers,
                               const char* contentType, std::string_view body) {
  Tesk::IncomingRequestRecord request{};
  request.method = method;
  request.url = url.c_str();
  request.dispatchContext = &context;
  request.headers = headers.data();
  request.headerCount = static_cast<uint32_t>(headers.size());
  request.contentType = contentType;
  request.body = body.data();
  request.bodyLength = static_cast<uint32_t>(body.size());
  Tesk::ResponseRecord response{};
  Tesk::DispatchRequestEntry(&response, &request);
  DispatchAnswer answer;
  answer.failed = response.failed != 0;
  answer.status = response.httpStatus;
  Require(answer.failed == (response.errorText != nullptr), target,
          "the failure flag and the error text disagree");
  Require(response.release == &Tesk::ReleaseResponseRecord, target,
          "the response has not the dispatcher's releaser");
  response.release(&response);
  return answer;
}

}  // namespace KtxFuzz
