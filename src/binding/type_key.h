// TypeKey: the process-wide identity of one native type, with a 32-bit id that
// the type registry keys types by, and the readable name people see in messages.
#pragma once

#include <concepts>
#include <cstdint>
#include <string_view>
#include <type_traits>

// The compiler's signature of this function, instantiated for a type, is the
// type's readable name ("const char* StaticType::Name() [with T = Tesk::Offer]").
// Outside the SDK's namespace so that the signature reads as shown.
namespace StaticType {

template <class T>
[[nodiscard]] const char* Name() noexcept {
#if defined(_MSC_VER) && !defined(__clang__)
  return __FUNCSIG__;
#else
  return __PRETTY_FUNCTION__;
#endif
}

}  // namespace StaticType

namespace Tesk {

// One per native type for the whole process, created on first use by TypeKeyOf
// and never destroyed before the process ends: pointers to it stay valid.
struct TypeKey {
  uint32_t id = 0;
  // "#" and the id as eight upper-case hexadecimal digits, NUL-terminated.
  char keyText[10] = {};
  // The compiler's signature of StaticType::Name<T>; never null.
  const char* readableName = "";

  [[nodiscard]] std::string_view KeyText() const { return {keyText, 9}; }
};

// Gives a native type a fixed id instead of the one derived from its readable
// name. Specialise it where the type is declared, before any TypeKeyOf<T>:
//   template <> struct TypeKeyFixedId<PluginResourceEvent> {
//     static constexpr uint32_t value = 0xA54F35FD;
//   };
template <class T>
struct TypeKeyFixedId {};

namespace BindingInternal {

template <class T>
concept HasFixedTypeId = requires {
  { TypeKeyFixedId<T>::value } -> std::convertible_to<uint32_t>;
};

// The id of a type without a fixed id: the FNV-1a hash of its readable name,
// the same in every build of the same source. Types of the same name in the
// unnamed namespaces of two files have the same readable name, hence the same
// id: give such types distinct names or fixed ids.
[[nodiscard]] uint32_t TypeIdOfName(std::string_view readableName);
[[nodiscard]] TypeKey MakeTypeKey(uint32_t id, const char* readableName);

template <class T>
const TypeKey& TypeKeyStatic() {
  static const TypeKey key = [] {
    const char* name = StaticType::Name<T>();
    if constexpr (HasFixedTypeId<T>) {
      return MakeTypeKey(static_cast<uint32_t>(TypeKeyFixedId<T>::value), name);
    } else {
      return MakeTypeKey(TypeIdOfName(name), name);
    }
  }();
  return key;
}

}  // namespace BindingInternal

// The key of a native type; `const T` and `T&` share the key of `T`. Thread-safe.
template <class T>
[[nodiscard]] const TypeKey& TypeKeyOf() {
  return BindingInternal::TypeKeyStatic<std::remove_cvref_t<T>>();
}

}  // namespace Tesk
