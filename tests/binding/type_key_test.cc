#include "binding/type_key.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/binding_property.h"

namespace Tesk {
namespace {
struct FixedKeyed {};
struct SmallFixedKeyed {};
struct Hashed {};
struct OtherHashed {};
}  // namespace

template <>
struct TypeKeyFixedId<FixedKeyed> {
  static constexpr uint32_t value = 198158546;
};
template <>
struct TypeKeyFixedId<SmallFixedKeyed> {
  static constexpr uint32_t value = 0x1A;
};

namespace {

TEST(TypeKey, FixedIdsAndKeyText) {
  EXPECT_EQ(TypeKeyOf<FixedKeyed>().id, 198158546u);
  EXPECT_EQ(TypeKeyOf<FixedKeyed>().KeyText(), "#0BCFA8D2");
  EXPECT_STREQ(TypeKeyOf<FixedKeyed>().keyText, "#0BCFA8D2");
  EXPECT_EQ(TypeKeyOf<SmallFixedKeyed>().KeyText(), "#0000001A");
  EXPECT_EQ(TypeKeyOf<Hashed>().KeyText().size(), 9u);
}

TEST(TypeKey, OnePerTypeWithDistinctIds) {
  EXPECT_EQ(&TypeKeyOf<Hashed>(), &TypeKeyOf<Hashed>());
  EXPECT_EQ(&TypeKeyOf<const Hashed&>(), &TypeKeyOf<Hashed>());
  const std::vector<uint32_t> ids = {
      TypeKeyOf<Hashed>().id,         TypeKeyOf<OtherHashed>().id,
      TypeKeyOf<int32_t>().id,        TypeKeyOf<uint32_t>().id,
      TypeKeyOf<std::string>().id,    TypeKeyOf<std::vector<std::string>>().id,
      TypeKeyOf<BindingProperty>().id};
  for (size_t i = 0; i < ids.size(); ++i) {
    for (size_t j = i + 1; j < ids.size(); ++j) EXPECT_NE(ids[i], ids[j]) << i << " " << j;
  }
}

TEST(TypeKey, ReadableNameIsTheSignatureOfStaticTypeName) {
  const std::string name = TypeKeyOf<BindingProperty>().readableName;
  EXPECT_EQ(name, StaticType::Name<BindingProperty>());
  EXPECT_NE(name.find("StaticType::Name"), std::string::npos) << name;
  EXPECT_NE(name.find("Tesk::BindingProperty"), std::string::npos) << name;
}

}  // namespace
}  // namespace Tesk
