// TypedInvoker: runs a native handler for the request dispatcher. A handler
// takes no argument or one native argument (a string, a registered structure,
// any convertible type) and returns a bool, a native value, or a
// HandlerResponse of a native value when it also sets an HTTP status, headers
// or an error:
//   registry-declared route:  [](const OfferIds& ids) -> HandlerResponse<std::vector<UIOffer>>
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#include "binding/binding_call_result.h"
#include "binding/binding_function_info.h"
#include "binding/binding_registry.h"
#include "binding/binding_request_context.h"
#include "binding/conversion.h"

namespace Tesk {

// What a REST handler returns: its value, or an error text with success false;
// the response fields and headers go to the host either way.
template <BindingNativeType T>
struct HandlerResponse {
  T value{};
  bool success = true;
  std::string error{};
  BindingResponseFields status{};
  std::map<std::string, std::string> headers{};

  [[nodiscard]] static HandlerResponse Ok(T value) {
    HandlerResponse response;
    response.value = std::move(value);
    return response;
  }
  [[nodiscard]] static HandlerResponse Error(uint32_t httpStatus, std::string message) {
    HandlerResponse response;
    response.success = false;
    response.error = std::move(message);
    response.status.httpStatus = httpStatus;
    return response;
  }
};

namespace BindingInternal {

template <class R>
struct HandlerResultTraits {
  using Value = R;
  static constexpr bool kIsResponse = false;
};
template <class T>
struct HandlerResultTraits<HandlerResponse<T>> {
  using Value = T;
  static constexpr bool kIsResponse = true;
};

template <class Argument, class Result>
struct HandlerFunction {
  using type = std::function<Result(const Argument&)>;
};
template <class Result>
struct HandlerFunction<void, Result> {
  using type = std::function<Result()>;
};

// The token of handlers without an argument: never dereferenced or freed.
inline char kNoArgumentToken = 0;

}  // namespace BindingInternal

// The native value type a handler's result stands for.
template <class Result>
using HandlerValueType = typename BindingInternal::HandlerResultTraits<Result>::Value;

template <class Argument, class Result>
requires(std::is_void_v<Argument> || BindingNativeType<Argument>) &&
    BindingNativeType<HandlerValueType<Result>> class TypedInvoker final : public BindingInvoker {
 public:
  using Handler = typename BindingInternal::HandlerFunction<Argument, Result>::type;

  // `function` (the record the invoker belongs to) may be null; then the
  // argument's label is empty and records are looked up by native type.
  TypedInvoker(const BindingFunctionInfo* function, const BindingRegistry* registry,
               Handler handler)
      : function_(function), registry_(registry), handler_(std::move(handler)) {}

  void* Start(BindingCallResult& result, std::span<const BindingProperty> arguments,
              uint32_t /*requestId*/) override {
    if constexpr (std::is_void_v<Argument>) {
      return &BindingInternal::kNoArgumentToken;
    } else {
      auto argument = std::make_unique<Argument>();
      const BindingProperty& input = arguments.empty() ? EmptyBindingProperty() : arguments[0];
      const BindingArgumentInfo* parameter = function_ != nullptr && !function_->arguments.empty()
                                                 ? &function_->arguments[0]
                                                 : nullptr;
      const std::string_view label = parameter != nullptr ? parameter->name : std::string_view{};
      const BindingTypeInfo* record = parameter != nullptr
                                          ? parameter->type.typeRecord
                                          : BindingInternal::DefaultRecordOf<Argument>(registry_);
      if constexpr (BindingStructureType<Argument>) {
        FromBindingRequired(result.result, *argument, input, label, record, registry_);
      } else {
        FromBinding(result.result, *argument, input, label, record, registry_);
      }
      return argument.release();
    }
  }

  [[nodiscard]] const TypeKey& ContextType() const override {
    return TypeKeyOf<BindingNoRequestContext>();
  }

  void Finish(BindingCallResult& result, const BindingRequestContext* /*context*/, void* token,
              uint32_t /*requestId*/) override {
    Result returned = Call(token);
    if constexpr (BindingInternal::HandlerResultTraits<Result>::kIsResponse) {
      if (returned.success) {
        StoreValue(result, returned.value);
      } else {
        result.result.Fail(returned.error);
        result.ReleaseBodyStream();
      }
      result.response = std::move(returned.status);
      for (auto& [name, value] : returned.headers) result.headers[name] = std::move(value);
    } else if constexpr (std::is_same_v<Result, bool>) {
      result.result.value.SetBool(returned);
      result.result.ok = true;
    } else {
      StoreValue(result, returned);
    }
  }

  void Release(void* token) noexcept override {
    if constexpr (!std::is_void_v<Argument>) delete static_cast<Argument*>(token);
  }

 private:
  using Value = HandlerValueType<Result>;

  Result Call(void* token) {
    if constexpr (std::is_void_v<Argument>) {
      return handler_();
    } else {
      return handler_(*static_cast<const Argument*>(token));
    }
  }

  void StoreValue(BindingCallResult& result, const Value& value) const {
    const BindingTypeInfo* record = function_ != nullptr ? function_->returns.typeRecord : nullptr;
    if (record == nullptr) record = BindingInternal::DefaultRecordOf<Value>(registry_);
    ToBinding(result.result, value, record, registry_);
  }

  const BindingFunctionInfo* function_;
  const BindingRegistry* registry_;
  Handler handler_;
};

}  // namespace Tesk
