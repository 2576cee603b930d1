// NativeTypeBuilder<T>: the typed face of TypeBuilder that features register
// their structures and enumerations with. Members are given as member pointers;
// their type identifiers and converters follow from the member types:
//   auto offer = registry.BeginType<Offer>("TavPersonalizedOffersOffer");
//   offer.AddTags(tags);
//   offer.Field("offerId", &Offer::offerId);
//   offer.Field("items", &Offer::items, {.flags = BindingFieldFlags::OmitEmpty});
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/binding_type_builder.h"
#include "binding/conversion.h"

namespace Tesk {

// What a field takes besides its name and member. Features pass none.
struct BindingFieldOptions {
  std::string_view description{};
  uint32_t flags = 0;  // BindingFieldFlags
  BindingTypeIdentifier helpType{};
  bool optional = false;
};

template <class T>
requires BindingStructureType<T> || BindingEnumType<T>
class NativeTypeBuilder : public TypeBuilder {
 public:
  explicit NativeTypeBuilder(TypeBuilder builder) : TypeBuilder(builder) {}

  // Appends the member `member` of a structure. The record of an enumeration
  // or structure member (or of the elements of a vector member) is looked up
  // now: register member types before the structures that hold them. A
  // structure member without a record fails to convert; an enumeration member
  // without a record converts as a plain signed 32-bit integer.
  template <BindingNativeType M, class C>
  requires BindingStructureType<T> && std::derived_from<T, C>
  void Field(std::string_view name, M C::*member, const BindingFieldOptions& options = {}) {
    const BindingTypeIdentifier type = TypeIdentifierOf<M>(Record().owner);
    AddField(name, options.description, OffsetOf(member), TypeKeyOf<M>(), type, options.helpType,
             options.flags, BindingConverter{&kBindingConverterOps<M>}, options.optional);
  }

  // Adds an enumerator of an enumeration.
  void Enumerator(std::string_view name, T value,
                  std::string_view description = {}) requires BindingEnumType<T> {
    AddEnumerator(name, static_cast<int32_t>(value), description);
  }

 private:
  // The member's byte offset inside T, measured on uninitialised storage: no
  // object of T is constructed and no member is read.
  template <class M, class C>
  static uint32_t OffsetOf(M C::*member) {
    alignas(T) static unsigned char storage[sizeof(T)];
    const T* object = reinterpret_cast<const T*>(storage);
    const C* base = object;
    return static_cast<uint32_t>(reinterpret_cast<const unsigned char*>(&(base->*member)) -
                                 storage);
  }
};

}  // namespace Tesk
