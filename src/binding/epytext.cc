#include "binding/epytext.h"

#include <algorithm>
#include <string>
#include <vector>

namespace Tesk {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

void AppendLine(std::string& out, std::string_view text) {
  out += text;
  out += kLineEnd;
}

// A description or help text: the escaped text and an empty line.
void AppendParagraph(std::string& out, std::string_view text) {
  out += EpytextEscape(text);
  out += kLineEnd;
  out += kLineEnd;
}

void AppendTags(std::string& out, const std::vector<std::string>& tags) {
  if (tags.empty()) return;
  out += "@tags: ";
  for (size_t index = 0; index < tags.size(); ++index) {
    if (index != 0) out += ',';
    out += tags[index];
  }
  out += kLineEnd;
}

std::string StructEpytext(const BindingTypeInfo& type) {
  std::string out;
  if (!type.description.empty()) AppendParagraph(out, type.description);
  for (const BindingFieldInfo& field : type.fields) {
    AppendLine(out, "@ivar " + field.name + ": " + field.description);
    AppendLine(out, "@type " + field.name + ": " + EpytextTypeText(field.type));
  }
  AppendTags(out, type.tags);
  return out;
}

std::string EnumEpytext(const BindingTypeInfo& type) {
  std::string out;
  if (!type.description.empty()) AppendParagraph(out, type.description);
  // The record keeps its enumerators in name order; a stable sort keeps that
  // order among equal values.
  std::vector<const BindingEnumerator*> byValue;
  byValue.reserve(type.enumerators.size());
  for (const BindingEnumerator& enumerator : type.enumerators) byValue.push_back(&enumerator);
  std::stable_sort(
      byValue.begin(), byValue.end(),
      [](const BindingEnumerator* a, const BindingEnumerator* b) { return a->value < b->value; });
  for (const BindingEnumerator* enumerator : byValue) {
    std::string line =
        "@cvar " + enumerator->name + ": (" + std::to_string(enumerator->value) + ")";
    if (!enumerator->description.empty()) line += " " + enumerator->description;
    AppendLine(out, line);
  }
  AppendTags(out, type.tags);
  AppendLine(out, "@size: " + std::to_string(type.size));
  return out;
}

}  // namespace

std::string EpytextEscape(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::string out;
  out.reserve(text.size());
  for (size_t index = 0; index < text.size(); ++index) {
    const char c = text[index];
    if (c == '-' && index == 0) {
      out += "E{-}";
    } else if (c == '{') {
      out += "E{lb}";
    } else if (c == '}') {
      out += "E{rb}";
    } else {
      out += c;
    }
  }
  return out;
}

std::string EpytextTypeText(const BindingTypeIdentifier& type) {
  using V = BindingValueType;
  switch (type.type) {
    case V::Bool:
    case V::Int8:
    case V::UInt8:
    case V::Int16:
    case V::UInt16:
    case V::Int32:
    case V::UInt32:
    case V::Int64:
    case V::UInt64:
    case V::Float:
    case V::Double:
    case V::String:
    case V::Object:
    case V::Callback:
      return BindingValueTypeName(type.type);
    case V::Blob:
      return "bytearray";
    case V::Vector:
    case V::Map: {
      const BindingTypeIdentifier element{type.elementType, V::None, type.typeRecord};
      return (type.type == V::Vector ? "list[" : "dict[") + EpytextTypeText(element) + "]";
    }
    case V::Enum:
    case V::Struct:
      return "L{" + (type.typeRecord != nullptr ? type.typeRecord->name : std::string()) + "}";
    case V::None:
      break;
  }
  return {};
}

std::string FunctionEpytext(const BindingFunctionInfo& function) {
  std::string out;
  if (!function.description.empty()) AppendParagraph(out, function.description);
  if (!function.helpText.empty()) AppendParagraph(out, function.helpText);
  for (const BindingArgumentInfo& argument : function.arguments) {
    if (!argument.description.empty()) {
      AppendLine(out, "@param " + argument.name + ": " + (argument.optional ? "(optional) " : "") +
                          EpytextEscape(argument.description));
    }
    AppendLine(out, "@type " + argument.name + ": " + EpytextTypeText(argument.type));
  }
  if (function.returns.type != BindingValueType::None) {
    AppendLine(out, "@rtype: " + EpytextTypeText(function.returns));
  }
  AppendTags(out, function.tags);
  if (function.threadSafe) AppendLine(out, "@threadsafe: true");
  if (function.async) AppendLine(out, "@async: " + EpytextTypeText(function.returns));
  return out;
}

std::string TypeEpytext(const BindingTypeInfo& type) {
  return type.isEnum ? EnumEpytext(type) : StructEpytext(type);
}

std::string EventEpytext(const BindingEventInfo& event) {
  std::string out;
  AppendParagraph(out, event.description);
  AppendTags(out, event.tags);
  return out;
}

}  // namespace Tesk
