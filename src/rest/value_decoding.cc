#include "rest/value_decoding.h"

#include <cstdint>
#include <cstring>

#include "codecs/json.h"
#include "codecs/msgpack_reader.h"
#include "codecs/yaml_reader.h"
#include "diagnostics/format.h"
#include "rest/dispatch_messages.h"

namespace Tesk {
namespace {

std::string_view SkipSpaces(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Replaces a codec's failure by the dispatcher's message around it.
BindingResult Reworded(BindingResult decoded, const char* message, std::string_view label,
                       std::string_view functionName) {
  if (decoded.ok) return decoded;
  const std::string codecMessage = decoded.ErrorText();
  decoded.Fail(Format(message, label, functionName, codecMessage));
  return decoded;
}

std::string_view UpToNul(const char* text, size_t length) {
  if (text == nullptr) return {};
  const void* nul = std::memchr(text, '\0', length);
  return {text,
          nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length};
}

}  // namespace

BindingResult DecodeArgumentValue(std::string_view text, bool structured, std::string_view label,
                                  std::string_view functionName) {
  if (structured) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    if (LooksLikeMessagePack(bytes, text.size())) {
      return Reworded(ReadMessagePack(bytes, text.size()).result,
                      DispatchMessages::kMessagePackValue, label, functionName);
    }
    const std::string_view trimmed = SkipSpaces(text);
    if (!trimmed.empty() && (trimmed.front() == '{' || trimmed.front() == '[')) {
      return Reworded(ParseJson(text), DispatchMessages::kJsonValue, label, functionName);
    }
    if (trimmed.starts_with("---")) {
      return Reworded(ParseYaml(text), DispatchMessages::kYamlValue, label, functionName);
    }
  }
  BindingResult result;
  result.value.SetString(text);
  return result;
}

BindingResult DecodeBody(const char* contentType, const char* body, size_t length) {
  const std::string_view type = contentType != nullptr ? contentType : "";
  if (StartsWithNoCase(type, "application/x-msgpack")) {
    MessagePackReadResult read = ReadMessagePack(reinterpret_cast<const uint8_t*>(body), length);
    if (read.result.ok && read.position != length) {
      read.result.Fail(DispatchMessages::kExtraMessagePack);
    }
    return std::move(read.result);
  }
  if (StartsWithNoCase(type, "application/json") ||
      StartsWithNoCase(type, "application/vnd.api+json")) {
    return ParseJson(UpToNul(body, length));
  }
  if (StartsWithNoCase(type, "application/x-yaml")) return ParseYaml(UpToNul(body, length));
  BindingResult unsupported;
  unsupported.Fail(DispatchMessages::kUnsupportedBody);
  return unsupported;
}

}  // namespace Tesk
