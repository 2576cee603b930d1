// The native structures of introspection help in the "Full" format, and the
// help formats. They are registered as builtin types of every registry, so a
// help answer travels as an ordinary BindingProperty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Tesk {

// The format a client asks help in. Other values are accepted and yield
// nothing.
enum class BindingHelpFormat : int32_t {
  Full = 1,     // these structures
  Epytext = 2,  // documentation text in the epytext markup
};

// The type of a value as texts: "vector" or "map" with the element's type in
// `elementType`, the registered name of an enumeration or structure, or the
// printed name of any other value type.
struct BindingFullTypeIdentifier {
  std::string type{};
  std::string elementType{};
};

struct BindingFullArgumentHelp {
  std::string name{};
  std::string description{};
  BindingFullTypeIdentifier type{};
  bool optional = false;
};

struct BindingFullFunctionHelp {
  std::string name{};
  std::string nameSpace{};
  std::vector<BindingFullArgumentHelp> arguments{};
  BindingFullTypeIdentifier returns{};
  std::string description{};
  std::string help{};
  bool threadSafe = false;
  // The asynchronous result's type name; "" for a synchronous function.
  std::string async{};
  std::vector<std::string> tags{};
};

struct BindingFullEnumValueHelp {
  std::string name{};
  std::string description{};
  int32_t value = 0;
};

struct BindingFullFieldHelp {
  std::string name{};
  std::string description{};
  uint32_t offset = 0;
  BindingFullTypeIdentifier type{};
  bool optional = false;
};

// A structure fills `fields`, an enumeration `values`.
struct BindingFullTypeHelp {
  std::string name{};
  std::string nameSpace{};
  uint32_t size = 0;
  std::string description{};
  std::vector<std::string> tags{};
  std::vector<BindingFullFieldHelp> fields{};
  std::vector<BindingFullEnumValueHelp> values{};
};

struct BindingFullEventHelp {
  std::string name{};
  std::string nameSpace{};
  BindingFullTypeIdentifier type{};
  std::string description{};
  std::vector<std::string> tags{};
};

struct BindingFullApiHelp {
  std::vector<BindingFullFunctionHelp> functions{};
  std::vector<BindingFullTypeHelp> types{};
  std::vector<BindingFullEventHelp> events{};
};

}  // namespace Tesk
