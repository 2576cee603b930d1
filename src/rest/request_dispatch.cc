#include "rest/request_dispatch.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "binding/binding_call_result.h"
#include "binding/binding_request_context.h"
#include "binding/host_value_conversion.h"
#include "diagnostics/format.h"
#include "rest/argument_placement.h"
#include "rest/dispatch_messages.h"
#include "rest/response_record.h"
#include "rest/value_decoding.h"

namespace Tesk {
namespace {

using Candidates = std::vector<std::pair<std::string, std::string>>;

// A name given twice keeps its last value, at the place of its first.
void AddCandidate(Candidates& candidates, std::string name, std::string value) {
  for (auto& [existing, existingValue] : candidates) {
    if (existing == name) {
      existingValue = std::move(value);
      return;
    }
  }
  candidates.emplace_back(std::move(name), std::move(value));
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

// Headers named like a parameter (in lower case) that may come from a header.
Candidates HeaderCandidates(const BindingFunctionInfo& function,
                            const IncomingRequestRecord& request) {
  Candidates candidates;
  if (request.headers == nullptr) return candidates;
  for (size_t index = 0; index < function.arguments.size(); ++index) {
    const BindingArgumentLocation location = ParameterLocation(function, index);
    if (location != BindingArgumentLocation::Anywhere &&
        location != BindingArgumentLocation::Header) {
      continue;
    }
    const std::string& name = function.arguments[index].name;
    const std::string wanted = LowerCase(name);
    const char* found = nullptr;
    for (uint32_t h = 0; h < request.headerCount; ++h) {
      if (wanted == TextOrEmpty(request.headers[h].name)) found = request.headers[h].value;
    }
    if (found != nullptr) AddCandidate(candidates, name, found);
  }
  return candidates;
}

bool HasParameter(const BindingFunctionInfo& function, std::string_view name) {
  for (const BindingArgumentInfo& parameter : function.arguments) {
    if (parameter.name == name) return true;
  }
  return false;
}

// The query piece a cache-buster adds ("?_=1"): a URL that is right without it
// is answered the same with it, unless the function has a parameter "_".
constexpr std::string_view kCacheBusterName = "_";

// The pieces of the query between "&"s; empty pieces ("?a&&b", "?a&") are skipped.
Candidates QueryCandidates(const BindingFunctionInfo& function, std::string_view url) {
  Candidates candidates;
  const size_t question = url.find('?');
  if (question == std::string_view::npos) return candidates;
  std::string_view query = url.substr(question + 1);
  const bool skipCacheBuster = !HasParameter(function, kCacheBusterName);
  while (true) {
    const size_t amp = query.find('&');
    const std::string_view piece = query.substr(0, amp);
    const size_t equals = piece.find('=');
    std::string name = PercentDecode(piece.substr(0, equals));
    if (!piece.empty() && !(skipCacheBuster && name == kCacheBusterName)) {
      AddCandidate(candidates, std::move(name),
                   equals == std::string_view::npos ? std::string()
                                                    : PercentDecode(piece.substr(equals + 1)));
    }
    if (amp == std::string_view::npos) break;
    query = query.substr(amp + 1);
  }
  return candidates;
}

// The path values in placeholder order, each name once.
Candidates PathCandidates(const CompiledRoute& route, const RouteMatch& match) {
  Candidates candidates;
  for (const UrlPlaceholder& placeholder : route.placeholders) {
    const auto found = match.pathParameters.find(placeholder.name);
    if (found != match.pathParameters.end()) {
      AddCandidate(candidates, found->first, found->second);
    }
  }
  return candidates;
}

void PlaceHostArguments(BindingResult& result, const BindingFunctionInfo& function,
                        std::vector<BindingProperty>& arguments,
                        const IncomingRequestRecord& request, size_t pathCount) {
  if (request.arguments == nullptr) return;
  for (uint32_t position = 0; position < request.argumentCount && result.ok; ++position) {
    const HostArgument& supplied = request.arguments[position];
    size_t index = 0;
    std::string name;
    if (supplied.name != nullptr) {
      name = supplied.name;
      while (index < function.arguments.size() && function.arguments[index].name != name) ++index;
    } else {
      index = position + pathCount;
      name = std::to_string(index);
    }
    if (index >= function.arguments.size()) {
      result.Fail(Format(DispatchMessages::kUnknownArgument, name, function.name));
      return;
    }
    ResponseRecord conversionError{};
    HostValueConversion converted =
        FromHostValue(supplied.value, function.arguments[index].name, &conversionError);
    if (!converted.ok) {
      result.Fail(TextOrEmpty(conversionError.errorText));
      ReleaseResponseRecord(&conversionError);
      return;
    }
    arguments[index] = std::move(converted.value);
  }
}

// A failure here replaces an earlier one, status included.
void PlaceBody(BindingCallResult& call, const BindingFunctionInfo& function,
               std::vector<BindingProperty>& arguments, const IncomingRequestRecord& request) {
  if (request.body == nullptr) return;
  for (size_t index = 0; index < function.arguments.size(); ++index) {
    if (ParameterLocation(function, index) != BindingArgumentLocation::Body) continue;
    DecodedValue body = DecodeBody(request.contentType, request.body, request.bodyLength,
                                   function.arguments[index].name, function.name);
    if (!body.result.ok) {
      call.result = std::move(body.result);
      call.response.httpStatus = body.httpStatus;
    } else {
      arguments[index] = std::move(body.result.value);
    }
    return;
  }
}

BindingRequestContext MakeRequestContext(const DispatchContext& context,
                                         const IncomingRequestRecord& request, HttpMethod method) {
  BindingRequestContext requestContext;
  requestContext.requestId = request.requestId;
  requestContext.registry = context.registry;
  requestContext.method = static_cast<uint32_t>(method);
  if (method == HttpMethod::Custom) requestContext.customMethod = TextOrEmpty(request.customMethod);
  requestContext.url = TextOrEmpty(request.url);
  for (uint32_t h = 0; request.headers != nullptr && h < request.headerCount; ++h) {
    requestContext.headers[TextOrEmpty(request.headers[h].name)] =
        TextOrEmpty(request.headers[h].value);
  }
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  requestContext.timestamp = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10000000>>>(
          sinceEpoch)
          .count());
  return requestContext;
}

// Releases the call token however the call ends.
class CallToken {
 public:
  CallToken(BindingInvoker& invoker, void* token) : invoker_(invoker), token_(token) {}
  CallToken(const CallToken&) = delete;
  CallToken& operator=(const CallToken&) = delete;
  ~CallToken() { invoker_.Release(token_); }
  [[nodiscard]] void* Get() const { return token_; }

 private:
  BindingInvoker& invoker_;
  void* token_;
};

void Invoke(const DispatchContext& context, BindingCallResult& call,
            const std::vector<BindingProperty>& arguments, const IncomingRequestRecord& request,
            HttpMethod method, ResponseRecord* response) {
  BindingInvoker& invoker = *context.function->invoker;
  const CallToken token(invoker, invoker.Start(call, arguments, request.requestId));
  if (call.result.ok) {
    if (WantsRequestContext(invoker.ContextType())) {
      const BindingRequestContext requestContext = MakeRequestContext(context, request, method);
      invoker.Finish(call, &requestContext, token.Get(), request.requestId);
    } else {
      invoker.Finish(call, nullptr, token.Get(), request.requestId);
    }
  }
  FillResponseRecord(response, call, context.registry);
}

// Answers a request whose handling threw, whatever the record holds by then.
void AnswerThrown(ResponseRecord* response, const char* what) noexcept {
  try {
    ReleaseResponseRecord(response);
    response->release = &ReleaseResponseRecord;
    SetResponseError(response, Format(DispatchMessages::kRequestFailed, what), 500);
  } catch (...) {
    response->failed = 1;
    response->httpStatus = 500;
  }
}

}  // namespace

CompiledRoute CompileFunctionRoute(const BindingFunctionInfo& function) {
  const std::string& templateText =
      function.route.urlTemplate.empty() ? function.name : function.route.urlTemplate;
  return CompileRoute(templateText, HttpMethodFromCode(function.route.method),
                      function.route.customMethod, &function);
}

void HandleRequest(const DispatchContext& context, ResponseRecord* response,
                   const IncomingRequestRecord* request) {
  ResetResponseRecord(response);
  const BindingFunctionInfo* function = context.function;
  const HttpMethod method = HttpMethodFromCode(request->method);
  RouteMatch match(method, method == HttpMethod::Custom ? TextOrEmpty(request->customMethod) : "",
                   TextOrEmpty(request->url));
  std::vector<CompiledRoute> compiled;
  const CompiledRoute* route = context.route ? &*context.route : nullptr;
  if (function != nullptr && route == nullptr) {
    compiled.push_back(CompileFunctionRoute(*function));
    route = &compiled.back();
  }
  if (route == nullptr || !MatchRoute(std::span<const CompiledRoute>(route, 1), match)) {
    SetResponseError(response, DispatchMessages::kInvalidFunction, 404);
    return;
  }

  BindingCallResult call;
  BindingResult& result = call.result;
  std::vector<BindingProperty> arguments(function->arguments.size());
  for (size_t index = 0; index < arguments.size(); ++index) {
    const BindingArgumentInfo& parameter = function->arguments[index];
    if (parameter.type.type == BindingValueType::Bool && !parameter.optional) {
      arguments[index].SetBool(false);
    }
  }
  // Headers, then path values, then the query; the first failure stops placement.
  const Candidates path = PathCandidates(*route, match);
  PlacementBudget budget;
  const auto place = [&](const Candidates& candidates, BindingArgumentLocation source) {
    for (const auto& [name, value] : candidates) {
      if (!result.ok) return;
      // Stored strings end at a NUL: the handler would see another value.
      if (name.find('\0') != std::string::npos || value.find('\0') != std::string::npos) {
        DecodedValue refused = RefuseNulCharacter(name, function->name);
        result = std::move(refused.result);
        call.response.httpStatus = refused.httpStatus;
        return;
      }
      PlaceArgument(call, *function, arguments, name, value, source, budget);
    }
  };
  place(HeaderCandidates(*function, *request), BindingArgumentLocation::Header);
  place(path, BindingArgumentLocation::Path);
  place(QueryCandidates(*function, match.url), BindingArgumentLocation::Query);
  if (result.ok) PlaceHostArguments(result, *function, arguments, *request, path.size());
  PlaceBody(call, *function, arguments, *request);

  if (!result.ok) {
    FillResponseRecord(response, call, context.registry);
    return;
  }
  if (function->invoker == nullptr) {
    SetResponseError(response, DispatchMessages::kInvalidFunction, 404);
    return;
  }
  Invoke(context, call, arguments, *request, method, response);
}

void KTX_HOST_CALL DispatchRequestEntry(ResponseRecord* response,
                                        const IncomingRequestRecord* request) {
  if (response == nullptr || request == nullptr) return;
  try {
    auto* context = static_cast<DispatchContext*>(request->dispatchContext);
    if (context == nullptr) {
      ResetResponseRecord(response);
      SetResponseError(response, DispatchMessages::kInvalidFunction, 404);
      return;
    }
    HandleRequest(*context, response, request);
  } catch (const std::exception& error) {
    AnswerThrown(response, error.what());
  } catch (...) {
    AnswerThrown(response, "unknown exception");
  }
}

}  // namespace Tesk
