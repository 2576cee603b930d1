// API requests to the host or another plug-in (CoreInterface function 0): a
// method, a URL and argument values; the answer is a value, an error text, or
// JSON text in a stream.
//
// Failures come back as a RequestFailure, never as an exception:
// - "Request not sent: Error converting parameters for {method} {url}: {error}"
//   with error code 400 when the parameters cannot be made into host values;
// - "Error response for {method} {url}: {error}" with the response's HTTP
//   status as error code when the host answers with an error text;
// - "Error reading streamed response for {method} {url}: {error}" when a
//   streamed result cannot be read or is not JSON;
// - "Error converting response for {method} {url}: {error}" when the result
//   does not convert into the requested type.
// {method} is the method's name, {url} the URL as passed. Memory exhaustion
// while converting parameters or the answer is such a failure with the error
// "Not enough memory"; elsewhere (building the failure itself) std::bad_alloc
// propagates to the caller.
//
// Every call blocks until the host has filled the response record. Whatever
// the outcome, the response's stream is released once through its release
// function and then the record's release function is called, when set.
#pragma once

#include <map>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "binding/binding_native_type.h"
#include "binding/binding_property.h"
#include "binding/conversion.h"
#include "rest/host_request_target.h"
#include "rest/http_method.h"
#include "rest/request_failure.h"

namespace Tesk {

// A request's value, or why there is none.
template <class T>
struct RequestResult {
  T value{};  // default-constructed on failure
  std::optional<RequestFailure> failure;

  [[nodiscard]] bool ok() const { return !failure.has_value(); }
};

// Sends a request without arguments and ignores any result. Empty on success.
[[nodiscard]] std::optional<RequestFailure> SendApiRequest(const HostRequestTarget& target,
                                                           HttpMethod method, std::string_view url);

// Sends `parameters` as one argument, a structure of string members, and
// ignores any result. Empty on success.
[[nodiscard]] std::optional<RequestFailure> SendApiRequest(
    const HostRequestTarget& target, HttpMethod method, std::string_view url,
    const std::map<std::string, std::string>& parameters);

namespace RestInternal {

inline constexpr std::string_view kNotEnoughMemory = "Not enough memory";

struct ApiResponseValue {
  BindingProperty value;
  std::optional<RequestFailure> failure;
};

// Sends a request without arguments and reads its result: the stream's JSON
// when the response has a stream, else the result host value ("<result>").
[[nodiscard]] ApiResponseValue SendApiRequestForValue(const HostRequestTarget& target,
                                                      HttpMethod method, std::string_view url);

// "Error converting response for {method} {url}: {error}".
[[nodiscard]] RequestFailure ResponseConversionFailure(HttpMethod method, std::string_view url,
                                                       std::string_view error);

}  // namespace RestInternal

// Sends a request without arguments and converts its result into T
// ("<result>" names it in conversion messages; the target's registry knows T
// when T is a registered structure or enumeration).
template <BindingNativeType T>
[[nodiscard]] RequestResult<T> SendApiRequestFor(const HostRequestTarget& target, HttpMethod method,
                                                 std::string_view url) {
  RestInternal::ApiResponseValue response =
      RestInternal::SendApiRequestForValue(target, method, url);
  RequestResult<T> result;
  if (response.failure) {
    result.failure = std::move(response.failure);
    return result;
  }
  std::string error;
  try {
    BindingResult converted;
    FromBinding(converted, result.value, response.value, "<result>", target.registry);
    if (converted.ok) return result;
    error = converted.ErrorText();
  } catch (const std::bad_alloc&) {
    error = RestInternal::kNotEnoughMemory;
  } catch (const std::length_error&) {
    error = RestInternal::kNotEnoughMemory;
  }
  result.value = T{};
  result.failure = RestInternal::ResponseConversionFailure(method, url, error);
  return result;
}

}  // namespace Tesk
