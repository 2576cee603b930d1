#include "codecs/binding_text.h"

#include <cinttypes>
#include <cstdio>
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

void Append(std::string& out, const BindingProperty& value) {
  char number[64];
  switch (value.Kind()) {
    case BindingPropertyKind::Empty:
      out += "null";
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
    case BindingPropertyKind::Float: {
      std::snprintf(number, sizeof number, "%.17g", value.GetFloat());
      out += number;
      if (std::string_view(number).find_first_of(".eni") == std::string_view::npos) out += ".0";
      return;
    }
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
      bool first = true;
      for (const BindingProperty& element : value.Elements()) {
        if (!first) out += ',';
        first = false;
        Append(out, element);
      }
      out += ']';
      return;
    }
    case BindingPropertyKind::Structure: {
      out += '{';
      bool first = true;
      for (const auto member : value.Members()) {
        if (!first) out += ',';
        first = false;
        AppendQuoted(out, member.name);
        out += ':';
        Append(out, member.value);
      }
      out += '}';
      return;
    }
  }
}

}  // namespace

std::string BindingText(const BindingProperty& value) {
  std::string out;
  Append(out, value);
  return out;
}

}  // namespace Tesk::Testing
