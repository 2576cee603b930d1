// What a handler that asks for it learns about the request it serves.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "binding/type_key.h"

namespace Tesk {

class BindingRegistry;

struct BindingRequestContext {
  uint32_t requestId = 0;
  const BindingRegistry* registry = nullptr;
  // System time just before the handler runs, in 100-nanosecond units since
  // 1970-01-01.
  uint64_t timestamp = 0;
  uint32_t method = 0;  // method code
  std::string customMethod{};
  std::string url{};
  std::map<std::string, std::string> headers{};
};

// The two context types an invoker reports when its handler wants the request
// context; any other type (BindingNoRequestContext for all of this SDK's
// handlers) means it does not.
struct BindingRequestContextType {};
struct BindingRequestContextTypeAlternate {};

template <>
struct TypeKeyFixedId<BindingRequestContextType> {
  static constexpr uint32_t value = 0x466F9860;
};
template <>
struct TypeKeyFixedId<BindingRequestContextTypeAlternate> {
  static constexpr uint32_t value = 0x89462EBF;
};

[[nodiscard]] inline bool WantsRequestContext(const TypeKey& contextType) {
  return contextType.id == TypeKeyOf<BindingRequestContextType>().id ||
         contextType.id == TypeKeyOf<BindingRequestContextTypeAlternate>().id;
}

}  // namespace Tesk
