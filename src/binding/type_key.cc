#include "binding/type_key.h"

#include "binding/binding_storage.h"

namespace Tesk::BindingInternal {

uint32_t TypeIdOfName(std::string_view readableName) { return BindingStringHash(readableName); }

TypeKey MakeTypeKey(uint32_t id, const char* readableName) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  TypeKey key;
  key.id = id;
  key.keyText[0] = '#';
  for (int digit = 0; digit < 8; ++digit) {
    key.keyText[1 + digit] = kHexDigits[(id >> (28 - 4 * digit)) & 0xF];
  }
  key.keyText[9] = '\0';
  key.readableName = readableName;
  return key;
}

}  // namespace Tesk::BindingInternal
