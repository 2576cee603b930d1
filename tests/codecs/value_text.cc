#include "codecs/value_text.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace Tesk::Testing {
namespace {

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte > 0x7E) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

bool IsPlainWord(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name) {
    const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-' || c == '.';
    if (!word) return false;
  }
  return true;
}

// The shortest text that reads back to the same double, always with a "."
// or an exponent so that it is not taken for an integer.
void AppendFloat(std::string& out, double value) {
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

void Append(std::string& out, const BindingProperty& value, ValueTextStyle style) {
  const bool flow = style == ValueTextStyle::YamlFlow;
  const char* const separator = flow ? ", " : ",";
  char number[64];
  switch (value.Kind()) {
    case BindingPropertyKind::Empty:
      out += flow ? "~" : "null";
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
      AppendFloat(out, value.GetFloat());
      return;
    case BindingPropertyKind::String:
      AppendQuoted(out, value.GetString());
      return;
    case BindingPropertyKind::Blob:
      out += '<';
      for (const uint8_t byte : value.GetBlob()) {
        std::snprintf(number, sizeof number, "%02x", byte);
        out += number;
      }
      out += '>';
      return;
    case BindingPropertyKind::Enum:
      std::snprintf(number, sizeof number, "enum(%" PRId32 ")", value.GetEnum().value);
      out += number;
      return;
    case BindingPropertyKind::Collection: {
      out += '[';
      const char* before = "";
      for (const BindingProperty& element : value.Elements()) {
        out += before;
        before = separator;
        Append(out, element, style);
      }
      out += ']';
      return;
    }
    case BindingPropertyKind::Structure: {
      out += '{';
      const char* before = "";
      for (const auto member : value.Members()) {
        out += before;
        before = separator;
        if (flow && IsPlainWord(member.name)) {
          out += member.name;
        } else {
          AppendQuoted(out, member.name);
        }
        out += flow ? ": " : ":";
        Append(out, member.value, style);
      }
      out += '}';
      return;
    }
  }
}

}  // namespace

std::string ValueText(const BindingProperty& value, ValueTextStyle style) {
  std::string out;
  Append(out, value, style);
  return out;
}

}  // namespace Tesk::Testing
