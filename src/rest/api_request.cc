#include "rest/api_request.h"

#include <cstring>
#include <memory>

#include "binding/host_value_conversion.h"
#include "diagnostics/sdk_allocator.h"
#include "rest/response_stream.h"

namespace Tesk {

namespace {

constexpr std::string_view kParametersNotConverted =
    "Request not sent: Error converting parameters for {method} {url}: {error}";
constexpr std::string_view kErrorResponse = "Error response for {method} {url}: {error}";
constexpr std::string_view kStreamNotRead =
    "Error reading streamed response for {method} {url}: {error}";
constexpr std::string_view kResponseNotConverted =
    "Error converting response for {method} {url}: {error}";
constexpr uint32_t kParametersNotConvertedCode = 400;

RequestFailure Failure(uint32_t errorCode, std::string_view templateText, HttpMethod method,
                       std::string_view url, std::string_view error) {
  return MakeRequestFailure(errorCode, templateText, {HttpMethodName(method), url, error});
}

// Gives the answer back to the host when the request is done with it, however
// it ends: first the stream, if any, then the record.
class ResponseRelease {
 public:
  explicit ResponseRelease(ResponseRecord& response) : response_(response) {}
  ResponseRelease(const ResponseRelease&) = delete;
  ResponseRelease& operator=(const ResponseRelease&) = delete;
  ~ResponseRelease() {
    const bool hasStream = response_.streamRead != nullptr || response_.stream != nullptr;
    if (hasStream && response_.streamRelease != nullptr) response_.streamRelease(response_.stream);
    if (response_.release != nullptr) response_.release(&response_);
  }

 private:
  ResponseRecord& response_;
};

// Releases an argument value the plug-in made, after the host has seen it.
class ArgumentRelease {
 public:
  explicit ArgumentRelease(HostArgument& argument) : argument_(argument) {}
  ArgumentRelease(const ArgumentRelease&) = delete;
  ArgumentRelease& operator=(const ArgumentRelease&) = delete;
  ~ArgumentRelease() { ReleaseHostValue(argument_.value); }

 private:
  HostArgument& argument_;
};

struct FreeText {
  void operator()(char* text) const { Memory::Free(text); }
};

// The result host value as a BindingProperty, or the failure of converting it.
void ConvertResultValue(const ResponseRecord& response, HttpMethod method, std::string_view url,
                        RestInternal::ApiResponseValue& out) {
  std::string error;
  try {
    // A failed conversion writes its message into this record, never into
    // the host's, whose parts only the host's release function may free.
    ResponseRecord conversionResult;
    std::memset(&conversionResult, 0, sizeof(conversionResult));
    HostValueConversion converted = FromHostValue(response.result, "<result>", &conversionResult);
    const std::unique_ptr<char, FreeText> message(conversionResult.errorText);
    if (converted.ok) {
      out.value = std::move(converted.value);
      return;
    }
    error = message != nullptr ? message.get() : "";
  } catch (const std::bad_alloc&) {
    error = RestInternal::kNotEnoughMemory;
  } catch (const std::length_error&) {
    error = RestInternal::kNotEnoughMemory;
  }
  out.failure = Failure(0, kResponseNotConverted, method, url, error);
}

// Sends one request and, when `readValue`, reads the answer's value.
RestInternal::ApiResponseValue Send(const HostRequestTarget& target, HttpMethod method,
                                    std::string_view url, HostArgument* arguments,
                                    uint32_t argumentCount, bool readValue) {
  const std::string urlText(url);
  ApiRequestRecord request;
  std::memset(&request, 0, sizeof(request));
  request.method = static_cast<uint32_t>(method);
  request.url = urlText.c_str();
  request.arguments = arguments;
  request.argumentCount = argumentCount;
  request.pluginHandle = target.pluginHandle;

  ResponseRecord response;
  std::memset(&response, 0, sizeof(response));
  target.host.ApiRequest(&response, &request);
  const ResponseRelease release(response);

  RestInternal::ApiResponseValue out;
  if (response.errorText != nullptr) {
    out.failure = Failure(response.httpStatus, kErrorResponse, method, url, response.errorText);
    return out;
  }
  if (!readValue) return out;
  if (response.streamRead != nullptr) {
    BindingResult read = ReadResponseStream(target.host, response);
    if (read.ok) {
      out.value = std::move(read.value);
    } else {
      out.failure = Failure(0, kStreamNotRead, method, url, read.ErrorText());
    }
    return out;
  }
  ConvertResultValue(response, method, url, out);
  return out;
}

}  // namespace

std::optional<RequestFailure> SendApiRequest(const HostRequestTarget& target, HttpMethod method,
                                             std::string_view url) {
  return Send(target, method, url, nullptr, 0, false).failure;
}

std::optional<RequestFailure> SendApiRequest(const HostRequestTarget& target, HttpMethod method,
                                             std::string_view url,
                                             const std::map<std::string, std::string>& parameters) {
  HostArgument argument;
  std::memset(&argument, 0, sizeof(argument));
  const ArgumentRelease release(argument);
  try {
    BindingProperty structure;
    structure.MakeStructure();
    for (const auto& [name, value] : parameters) structure.MemberRef(name).SetString(value);
    argument.value = ToHostValue(structure, target.registry);
  } catch (const std::bad_alloc&) {
    return Failure(kParametersNotConvertedCode, kParametersNotConverted, method, url,
                   RestInternal::kNotEnoughMemory);
  } catch (const std::length_error&) {
    return Failure(kParametersNotConvertedCode, kParametersNotConverted, method, url,
                   RestInternal::kNotEnoughMemory);
  }
  return Send(target, method, url, &argument, 1, false).failure;
}

namespace RestInternal {

ApiResponseValue SendApiRequestForValue(const HostRequestTarget& target, HttpMethod method,
                                        std::string_view url) {
  return Send(target, method, url, nullptr, 0, true);
}

RequestFailure ResponseConversionFailure(HttpMethod method, std::string_view url,
                                         std::string_view error) {
  return Failure(0, kResponseNotConverted, method, url, error);
}

}  // namespace RestInternal

}  // namespace Tesk
