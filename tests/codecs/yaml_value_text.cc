#include "codecs/yaml_value_text.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace Tesk::Testing {

namespace {

void AppendQuoted(std::string_view text, std::string& out) {
  out += '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  out += '"';
}

// Member names stand bare when they are plain words.
void AppendName(std::string_view name, std::string& out) {
  bool bare = !name.empty();
  for (const char c : name) {
    const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-' || c == '.';
    bare = bare && word;
  }
  if (bare) {
    out += name;
  } else {
    AppendQuoted(name, out);
  }
}

// The shortest text that reads back to the same double, always with a "."
// or an exponent so that it is not taken for an integer.
void AppendFloat(double value, std::string& out) {
  if (std::isnan(value)) {
    out += "nan";
    return;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
    return;
  }
  char text[40];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  out += text;
  if (std::string_view(text).find_first_of(".e") == std::string_view::npos) out += ".0";
}

void Append(const BindingProperty& value, std::string& out) {
  char number[32];
  switch (value.Kind()) {
    case BindingPropertyKind::Empty:
      out += '~';
      return;
    case BindingPropertyKind::Bool:
      out += value.GetBool() ? "true" : "false";
      return;
    case BindingPropertyKind::Signed:
      std::snprintf(number, sizeof number, "%" PRId64, value.GetSigned());
      out += number;
      return;
    case BindingPropertyKind::Unsigned:
      std::snprintf(number, sizeof number, "%" PRIu64 "u", value.GetUnsigned());
      out += number;
      return;
    case BindingPropertyKind::Float:
      AppendFloat(value.GetFloat(), out);
      return;
    case BindingPropertyKind::String:
      AppendQuoted(value.GetString(), out);
      return;
    case BindingPropertyKind::Blob:
      out += "blob(" + std::to_string(value.Size()) + ")";
      return;
    case BindingPropertyKind::Enum:
      out += "enum(" + std::to_string(value.GetEnum().value) + ")";
      return;
    case BindingPropertyKind::Collection: {
      out += '[';
      const char* separator = "";
      for (const BindingProperty& element : value.Elements()) {
        out += separator;
        Append(element, out);
        separator = ", ";
      }
      out += ']';
      return;
    }
    case BindingPropertyKind::Structure: {
      out += '{';
      const char* separator = "";
      for (const auto member : value.Members()) {
        out += separator;
        AppendName(member.name, out);
        out += ": ";
        Append(member.value, out);
        separator = ", ";
      }
      out += '}';
      return;
    }
  }
}

}  // namespace

std::string YamlValueText(const BindingProperty& value) {
  std::string out;
  Append(value, out);
  return out;
}

}  // namespace Tesk::Testing
