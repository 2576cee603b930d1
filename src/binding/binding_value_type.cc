#include "binding/binding_value_type.h"

namespace Tesk {

const char* BindingValueTypeName(BindingValueType type) {
  switch (type) {
    case BindingValueType::None:
      return "";
    case BindingValueType::Bool:
      return "bool";
    case BindingValueType::Int8:
      return "int8";
    case BindingValueType::UInt8:
      return "uint8";
    case BindingValueType::Int16:
      return "int16";
    case BindingValueType::UInt16:
      return "uint16";
    case BindingValueType::Int32:
      return "int32";
    case BindingValueType::UInt32:
      return "uint32";
    case BindingValueType::Int64:
      return "int64";
    case BindingValueType::UInt64:
      return "uint64";
    case BindingValueType::Float:
      return "float";
    case BindingValueType::Double:
      return "double";
    case BindingValueType::String:
      return "string";
    case BindingValueType::Object:
      return "object";
    case BindingValueType::Blob:
      return "blob";
    case BindingValueType::Vector:
      return "vector";
    case BindingValueType::Enum:
      return "enum";
    case BindingValueType::Struct:
      return "struct";
    case BindingValueType::Callback:
      return "callback";
    case BindingValueType::Map:
      return "map";
  }
  return "";
}

}  // namespace Tesk
